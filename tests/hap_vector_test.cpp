// The SSE4.1 kernels of the frame utilities against their scalar twins: the
// fast RGTC1 block and the vector flag of the RGTC1 row drivers, the exact
// alpha encoder and its building blocks, the YCoCg conversion and the path
// flag and pair mode of the YCoCg-DXT5 row encoder. Same bytes (or bits) on
// many random blocks and on the test images.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "HAP/DXT_compress.h"
#include "HAP/ycocg_vector.h"
#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/ycocg_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

#define REQUIRE_SSE41() \
  if (!cpu_has_sse41()) GTEST_SKIP() << "no SSE4.1 on this processor"

// 16 values drawn from a few choices, so blocks with 1 to 16 distinct values,
// narrow and wide ranges, 0 and 255 all come up.
void random_values(std::mt19937& rng, uint8_t out[16]) {
  uint8_t choices[8];
  const int kinds = 1 + int(rng() % 8), base = int(rng() % 256), spread = 1 + int(rng() % 256);
  for (auto& c : choices) {
    const uint32_t pick = rng() % 8;
    c = pick == 0 ? 0 : pick == 1 ? 255 : uint8_t((base + int(rng() % spread)) % 256);
  }
  for (int p = 0; p < 16; ++p) out[p] = choices[rng() % kinds];
}

// The test images cut to a width that is a multiple of 4 but not of 8, so the
// row encoders meet pairs and a last single block.
std::vector<Test_Image> test_images() {
  return {crop(load_test_image("astronaut_alpha_512x512.bgra"), 508, 64),
          crop(load_test_image("chelsea_451x300.bgra"), 444, 300),
          crop(load_test_image("coffee_600x400.bgra"), 596, 120)};
}

}  // namespace

TEST(AlphaVector, FastBlockMatchesScalar) {
  REQUIRE_SSE41();
  std::mt19937 rng(21);
  for (int t = 0; t < 200000; ++t) {
    uint8_t values[16], pixels[64], scalar[8], vector[8];
    random_values(rng, values);
    const int value_byte = t % 2 ? 3 : 0;
    for (int i = 0; i < 64; ++i) pixels[i] = uint8_t(rng());
    for (int p = 0; p < 16; ++p) pixels[4 * p + value_byte] = values[p];
    compress_alpha_block_fast(values, scalar);
    compress_rgtc1_block_sse41(pixels, value_byte, vector);
    ASSERT_EQ(Bytes(scalar, scalar + 8), Bytes(vector, vector + 8)) << t;
  }
}

TEST(AlphaVector, Rgtc1RowsVectorFlagGivesTheSameBytes) {
  REQUIRE_SSE41();
  for (const Test_Image& im : test_images()) {
    const uint16_t w = uint16_t(im.width), h = uint16_t(im.height), stride = uint16_t(w * 4);
    const size_t size = size_t(w / 4) * (h / 4) * 8;
    Bytes scalar(size), vector(size), argb_scalar(size), argb_vector(size);
    compress_rgtc1_rows_bgra(0, im.bgra.data(), w, h, h, stride, scalar.data(), 0, 0);
    compress_rgtc1_rows_bgra(0, im.bgra.data(), w, h, h, stride, vector.data(), 1, 0);
    compress_rgtc1_rows_argb(0, im.bgra.data(), w, h, h, stride, argb_scalar.data(), 0);
    compress_rgtc1_rows_argb(0, im.bgra.data(), w, h, h, stride, argb_vector.data(), 1);
    EXPECT_EQ(scalar, vector) << im.width;
    EXPECT_EQ(argb_scalar, argb_vector) << im.width;
  }
}

TEST(AlphaVector, ExactEncoderAndBuildingBlocksMatchScalar) {
  REQUIRE_SSE41();
  // Every endpoint pair of both palettes.
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      uint8_t scalar[8], vector[8];
      if (a > b) {
        build_alpha_palette_8(uint8_t(a), uint8_t(b), scalar);
        build_alpha_palette_8_sse41(uint8_t(a), uint8_t(b), vector);
      } else {
        build_alpha_palette_6(uint8_t(a), uint8_t(b), scalar);
        build_alpha_palette_6_sse41(uint8_t(a), uint8_t(b), vector);
      }
      ASSERT_EQ(Bytes(scalar, scalar + 8), Bytes(vector, vector + 8)) << a << " " << b;
    }
  std::mt19937 rng(5);
  for (int t = 0; t < 100000; ++t) {
    uint8_t values[16], palette[8], scalar_indices[16], vector_indices[16];
    random_values(rng, values);
    for (auto& p : palette) p = uint8_t(rng() % 4 ? rng() : values[rng() % 16]);  // ties come up
    ASSERT_EQ(match_alpha_palette(values, palette, scalar_indices),
              match_alpha_palette_sse41(values, palette, vector_indices)) << t;
    ASSERT_EQ(Bytes(scalar_indices, scalar_indices + 16), Bytes(vector_indices, vector_indices + 16)) << t;

    uint8_t scalar[8], vector[8];
    for (auto& i : scalar_indices) i = uint8_t(rng());  // the packers keep the low three bits
    pack_alpha_block_msb(values[0], values[1], scalar_indices, scalar);
    pack_alpha_block_msb_sse41(values[0], values[1], scalar_indices, vector);
    ASSERT_EQ(Bytes(scalar, scalar + 8), Bytes(vector, vector + 8)) << t;
    compress_alpha_block_exact(values, scalar);
    compress_alpha_block_exact_sse41(values, vector);
    ASSERT_EQ(Bytes(scalar, scalar + 8), Bytes(vector, vector + 8)) << t;
  }
}

TEST(YcocgVector, ConversionMatchesScalarToTheBit) {
  REQUIRE_SSE41();
  std::mt19937 rng(8);
  for (int t = 0; t < 20000; ++t) {
    // Pixels near black, near white, in between, and all-black blocks.
    uint8_t pair[2][64], bgra[2][64];
    const int mode = t % 4;
    for (int b = 0; b < 2; ++b)
      for (int i = 0; i < 64; ++i) {
        const uint8_t v = uint8_t(rng());
        pair[b][i] = mode == 0 ? 0 : mode == 1 ? uint8_t(v % 3) : mode == 2 ? uint8_t(255 - v % 3) : v;
      }
    if (t % 7 == 0) pair[1][4 * (t % 16) + (t / 7) % 4] = 1;  // one channel of one pixel lit
    const uint32_t layout = t % 2 ? Dxt_Layout_BGRA : Dxt_Layout_ARGB;
    for (int b = 0; b < 2; ++b)
      for (int p = 0; p < 16; ++p)
        for (int c = 0; c < 4; ++c) bgra[b][4 * p + c] = pair[b][4 * p + (layout == Dxt_Layout_BGRA ? c : 3 - c)];
    Ycocg_Block scalar[2], single, vector[2];
    bool single_black = false, vector_black[2];
    ycocg_load_block_sse41(pair[0], layout, &single, &single_black);
    ycocg_load_block_pair_sse41(pair, layout, vector, vector_black);
    for (int b = 0; b < 2; ++b) {
      uint64_t black = 0;
      ycocg_load_block(&scalar[b], bgra[b], 16, &black);
      bool any_colour = false;
      for (int p = 0; p < 16; ++p) any_colour |= (bgra[b][4 * p] | bgra[b][4 * p + 1] | bgra[b][4 * p + 2]) != 0;
      ASSERT_EQ(!any_colour, vector_black[b]) << t;
      const auto floats_of = [](const Ycocg_Block& k) {
        std::vector<float> f(std::begin(k.y), std::end(k.y));
        f.insert(f.end(), {k.y_min, k.y_max});
        f.insert(f.end(), std::begin(k.cocg.co), std::end(k.cocg.co));
        f.insert(f.end(), std::begin(k.cocg.cg), std::end(k.cocg.cg));
        f.insert(f.end(), std::begin(k.cocg.cocg_box), std::end(k.cocg.cocg_box));
        return f;
      };
      const std::vector<float> expected = floats_of(scalar[b]), got = floats_of(vector[b]);
      ASSERT_EQ(0, std::memcmp(expected.data(), got.data(), expected.size() * 4)) << t << " " << b;
      if (b == 0) {
        ASSERT_EQ(0, std::memcmp(expected.data(), floats_of(single).data(), expected.size() * 4)) << t;
      }
    }
    ASSERT_EQ(vector_black[0], single_black);
  }
}

TEST(YcocgVector, PathFlagAndPairModeGiveTheSameBytes) {
  REQUIRE_SSE41();
  std::vector<Test_Image> images = test_images();
  // Black blocks beside lit ones, inside pairs and as the last single block.
  Test_Image dark = crop(load_test_image("astronaut_512x512.bgra"), 36, 16);
  for (size_t i = 0; i < dark.bgra.size(); i += 4)
    if ((i / 4 % 36) / 4 % 3 != 1) std::memset(&dark.bgra[i], 0, 3);
  images.push_back(dark);
  for (const Test_Image& im : images) {
    const uint16_t w = uint16_t(im.width), h = uint16_t(im.height), stride = uint16_t(w * 4);
    const size_t size = size_t(w / 4) * (h / 4) * 16;
    Bytes reference(size);
    compress_ycocg_dxt5_rows_bgra(0, im.bgra.data(), w, h, h, stride, reference.data(), 0, 16, 1, 0);
    for (uint32_t pair_mode : {0u, 2u}) {
      Bytes bgra(size), argb(size);
      compress_ycocg_dxt5_rows_bgra(0, im.bgra.data(), w, h, h, stride, bgra.data(), 1, 16, 1, pair_mode);
      Bytes reversed(im.bgra.size());
      for (size_t i = 0; i < reversed.size(); ++i) reversed[i] = im.bgra[(i & ~size_t(3)) + 3 - i % 4];
      compress_ycocg_dxt5_rows_argb(0, reversed.data(), w, h, h, stride, argb.data(), 1, 16, pair_mode);
      EXPECT_EQ(reference, bgra) << im.width << " " << pair_mode;
      EXPECT_EQ(reference, argb) << im.width << " " << pair_mode;
    }
  }
}
