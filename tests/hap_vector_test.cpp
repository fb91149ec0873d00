// The SSE4.1 kernels of the frame utilities against their scalar twins: the
// fast RGTC1 block and the vector flag of the RGTC1 row drivers, the exact
// alpha encoder and its building blocks, the YCoCg conversion, the pair
// encoder and the path flag and pair mode of the YCoCg-DXT5 row encoder. Same
// bytes (or bits) on many random blocks and on the test images.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "HAP/DXT_compress.h"
#include "HAP/ycocg_vector.h"
#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/alpha_block.h"
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

// One 4x4 block of B, G, R, A pixels, of a kind that stresses one rule of
// the YCoCg-DXT5 steps: random bytes, a few colours, one flat colour, black
// (alpha set, so only R, G, B decide), black with one channel lit, channels at
// 0 or 255, near black, near white, grey levels, coarse levels whose chroma
// lands on palette points and midpoints (equal distances, covariance exactly
// 0), and colours close to grey (the largest chroma scale).
void random_ycocg_block(std::mt19937& rng, uint8_t* rows, size_t stride) {
  const int kind = int(rng() % 10);
  uint8_t colours[4][3];
  for (auto& colour : colours)
    for (auto& c : colour) {
      const uint8_t v = uint8_t(rng());
      c = kind == 4 ? uint8_t(v % 2 ? 255 : 0)
          : kind == 5 ? uint8_t(v % 3)
          : kind == 6 ? uint8_t(255 - v % 3)
          : kind == 8 ? uint8_t(std::min(255, 32 * (v % 9)))
          : kind == 9 ? uint8_t(120 + 4 * (v % 5))
                      : v;
    }
  const int distinct = kind == 2 ? 1 : 1 + int(rng() % 4);
  const int lit = kind == 3 ? int(rng() % 48) : -1;
  for (int p = 0; p < 16; ++p) {
    uint8_t* pixel = rows + (p / 4) * stride + 4 * (p % 4);
    const uint8_t* colour = colours[rng() % distinct];
    for (int c = 0; c < 3; ++c) {
      pixel[c] = kind == 0 ? uint8_t(rng()) : kind == 3 ? 0 : colour[c];
      if (kind == 7) pixel[c] = colour[0];  // grey
      if (p * 3 + c == lit && lit % 2) pixel[c] = 1;
    }
    pixel[3] = uint8_t(rng());
  }
}

// How many of the Y thresholds between lo and hi are at or above v, read back
// from the index the scalar rule gives v.
int thresholds_at_or_above(float v, float lo, float hi) {
  float values[16];
  std::fill(values, values + 16, v);
  uint64_t word = 0;
  alpha_indices_float(values, lo, hi, &word);
  const int index = int(word >> 16 & 7);
  return index == 0 ? 0 : index == 1 ? 7 : index - 1;
}

// The count-th highest Y threshold: the largest float that still has count
// thresholds at or above it, found by halving the range of float bit patterns.
float y_threshold(int count, float lo, float hi) {
  uint32_t below = 0, above = std::bit_cast<uint32_t>(2.0f);
  while (above - below > 1) {
    const uint32_t middle = below + (above - below) / 2;
    const bool reached = thresholds_at_or_above(std::bit_cast<float>(middle), lo, hi) >= count;
    (reached ? below : above) = middle;
  }
  return std::bit_cast<float>(below);
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

TEST(YcocgVector, PairEncodingGivesTheScalarBytesOnRandomBlocks) {
  REQUIRE_SSE41();
  std::mt19937 rng(104);
  // About 31000 blocks. Odd block counts leave a last block alone; 4 pixels
  // wide has no pair.
  struct Frame_Case {
    uint16_t blocks_wide, blocks_high, block_stride;
    uint8_t orientation;
  };
  const Frame_Case cases[] = {{41, 1200, 16, 1}, {40, 300, 24, 0}, {3, 200, 16, 0},
                              {1, 50, 16, 1},   {2, 50, 32, 1}};
  for (const Frame_Case& c : cases) {
    const uint16_t w = uint16_t(4 * c.blocks_wide), h = uint16_t(4 * c.blocks_high);
    const size_t stride = size_t(w) * 4 + 8;  // rows padded past the picture
    Bytes bgra(stride * h);
    for (int r = 0; r < c.blocks_high; ++r)
      for (int x = 0; x < c.blocks_wide; ++x)
        random_ycocg_block(rng, &bgra[4 * r * stride + 16 * x], stride);
    // A band of block rows in the middle, so the rows outside stay unwritten.
    const uint16_t first = uint16_t(c.blocks_high / 5), rows = uint16_t(4 * (c.blocks_high / 2));
    const size_t size = size_t(c.blocks_wide) * c.blocks_high * c.block_stride;
    Bytes reference(size, 0xAA), pair(size, 0xAA);
    compress_ycocg_dxt5_rows_bgra(first, bgra.data(), w, h, rows, uint16_t(stride),
                                  reference.data(), 0, c.block_stride, c.orientation, 0);
    compress_ycocg_dxt5_rows_bgra(first, bgra.data(), w, h, rows, uint16_t(stride), pair.data(),
                                  1, c.block_stride, c.orientation, 2);
    ASSERT_EQ(reference, pair) << c.blocks_wide << " " << c.orientation;
  }
}

TEST(YcocgVector, PairKernelGivesTheScalarBytesOnLumaThresholds) {
  REQUIRE_SSE41();
  // Besides its range, each block holds every luma threshold of its inset
  // range and the float just above it, so a threshold one rounding off, or a
  // tie counted the other way, changes an index.
  std::mt19937 rng(9104);
  const auto grid = [&] { return float(rng() % 1021) / 1020.0f; };
  for (int t = 0; t < 2000; ++t) {
    Ycocg_Block blocks[2];
    for (Ycocg_Block& block : blocks) {
      float a = grid(), b = t % 5 ? grid() : a;
      if (a > b) std::swap(a, b);
      float lo = a, hi = b;
      alpha_inset_range(&lo, &hi);
      block.y[0] = block.y_min = a;
      block.y[1] = block.y_max = b;
      for (int k = 1; k <= 7; ++k) {
        const float threshold = y_threshold(k, lo, hi);
        block.y[2 * k] = threshold;
        block.y[2 * k + 1] = std::nextafter(threshold, 2.0f);
      }
      Cocg_Block& cocg = block.cocg;
      for (int p = 0; p < 16; ++p) {
        cocg.co[p] = grid();
        cocg.cg[p] = t % 3 ? grid() : cocg.co[p];  // on the diagonal
      }
      cocg.cocg_box[0] = *std::min_element(cocg.co, cocg.co + 16);
      cocg.cocg_box[1] = *std::min_element(cocg.cg, cocg.cg + 16);
      cocg.cocg_box[2] = *std::max_element(cocg.co, cocg.co + 16);
      cocg.cocg_box[3] = *std::max_element(cocg.cg, cocg.cg + 16);
    }
    uint8_t pair[2][16], scalar[2][16];
    uint8_t* const out[2] = {pair[0], pair[1]};
    ycocg_encode_block_pair_sse41(blocks, out);
    for (int b = 0; b < 2; ++b) {
      Ycocg_Block copy = blocks[b];
      ycocg_encode_y_alpha(scalar[b], &copy);
      ycocg_encode_cocg(scalar[b] + 8, &copy.cocg);
      ASSERT_EQ(Bytes(scalar[b], scalar[b] + 16), Bytes(pair[b], pair[b] + 16)) << t << " " << b;
    }
  }
}
