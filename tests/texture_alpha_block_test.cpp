// Single-channel blocks (RGTC1 textures, DXT5 alpha): decoded error within
// what the chosen 6- or 8-value palette allows on random blocks, decoded
// quality on the test images, and the block writers read back by a decoder.
// The pinned digests hold the exact bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/pixel_formats.h"

namespace {

using Block8 = std::array<uint8_t, 8>;

Dxt_Kernel_Head scalar_head() {
  Dxt_Kernel_Head head{};
  head.rgtc1_block_min_max = rgtc1_block_min_max;
  head.rgtc1_fit_indices = rgtc1_fit_indices;
  head.extract_plane_alpha = to_alpha_template_alpha_fmt1;
  head.extract_plane_luma = to_alpha_template_luma_fmt1;
  return head;
}

Block8 full_fit(const uint8_t* values) {
  uint64_t min = 255, max = 0;
  for (int i = 0; i < 16; ++i) {
    min = std::min<uint64_t>(min, values[i]);
    max = std::max<uint64_t>(max, values[i]);
  }
  const Dxt_Kernel_Head head = scalar_head();
  Block8 out{};
  encode_rgtc1_block(&head, values, min, max, out.data());
  return out;
}

struct Palette_Forms {
  int six = 0, eight = 0;
};

// Every value decodes within half a palette step (plus rounding) of itself;
// 0 and 255 are exact in the 6-value form.
void expect_within_palette_bound(const uint8_t* block8, const uint8_t* values16,
                                 Palette_Forms* forms) {
  uint8_t decoded[16];
  decode_rgtc1_block(block8, decoded);
  const int e0 = block8[0], e1 = block8[1];
  const bool eight = e0 > e1;
  ++(eight ? forms->eight : forms->six);
  for (int i = 0; i < 16; ++i) {
    const int v = values16[i];
    const int error = std::abs(decoded[i] - v);
    if (eight) {
      ASSERT_LE(error, (e0 - e1) / 14 + 1) << "value " << v << " e0 " << e0 << " e1 " << e1;
    } else if (v == 0 || v == 255) {
      ASSERT_EQ(error, 0) << "value " << v;
    } else {
      ASSERT_LE(error, (e1 - e0) / 10 + 1) << "value " << v << " e0 " << e0 << " e1 " << e1;
    }
  }
}

}  // namespace

TEST(AlphaBlock, RandomBlocksDecodeWithinThePaletteBound) {
  std::mt19937 random(1234);
  Palette_Forms full_forms, quick_forms;
  for (int trial = 0; trial < 20000; ++trial) {
    uint8_t values[16];
    const int lo = int(random() % 256), span = int(random() % (257 - lo));
    for (uint8_t& v : values) v = uint8_t(lo + (span ? random() % span : 0));
    if (trial % 3 == 0) values[random() % 16] = 0;
    if (trial % 5 == 0) values[random() % 16] = 255;
    const Block8 block = full_fit(values);
    expect_within_palette_bound(block.data(), values, &full_forms);
    if (HasFatalFailure()) return;

    uint8_t min = 255, max = 0;
    for (uint8_t v : values) min = std::min(min, v), max = std::max(max, v);
    if (min == max) continue;
    Block8 quick{};
    encode_alpha_block_fast(quick.data(), values, min, max);
    expect_within_palette_bound(quick.data(), values, &quick_forms);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(full_forms.six, 100);
  EXPECT_GT(full_forms.eight, 100);
  EXPECT_EQ(quick_forms.six, 0);
}

TEST(AlphaBlock, TestImagesKeepTheirChannel) {
  // Decoded PSNR floors (dB) of the coded channel, measured less 0.05 dB.
  const std::tuple<const char*, uint32_t, double> cases[] = {
      {"astronaut_alpha_512x512.bgra", Texture_Code_Rgtc1_Alpha, 78.50},
      {"coffee_600x400.bgra", Texture_Code_Rgtc1_Luma, 43.06},
      {"chelsea_451x300.bgra", Texture_Code_Rgtc1_Luma, 46.02}};
  for (const auto& [file, code, floor] : cases) {
    const Test_Image image = load_test_image(file);
    const std::vector<uint8_t> texture = encode_texture(image, code, 1, 0);
    ASSERT_EQ(texture.size(), size_t((image.width + 3) / 4) * ((image.height + 3) / 4) * 8);
    // The channel coded: alpha, or luma, as grey (which the decoder writes back).
    Test_Image channel = image;
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
      const uint8_t* p = &image.bgra[i];
      const uint8_t luma = uint8_t((p[0] + p[1] + p[2]) / 3);
      std::fill_n(&channel.bgra[i], 3, code == Texture_Code_Rgtc1_Alpha ? p[3] : luma);
      channel.bgra[i + 3] = 255;
    }
    EXPECT_GT(decoded_psnr(Tex::Rgtc1, texture, channel, false), floor) << file;
  }
}

TEST(AlphaBlock, EqualErrorsKeepTheSixValuePalette) {
  auto index_of = [](const Block8& block, int pixel) {
    uint64_t bits = 0;
    for (int b = 7; b >= 2; --b) bits = bits << 8 | block[b];
    return int(bits >> (3 * pixel) & 7);
  };
  // Eight 0s and eight 255s: both palettes are exact. The six-value ends widen
  // from (255, 0) to 250..255; 0 and 255 sit on its fixed entries 6 and 7, and
  // 255 also on entry 1, the lower index.
  uint8_t values[16];
  for (int i = 0; i < 16; ++i) values[i] = i % 2 ? 255 : 0;
  Block8 block = full_fit(values);
  EXPECT_EQ(block[0], 250);
  EXPECT_EQ(block[1], 255);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(index_of(block, i), i % 2 ? 1 : 6) << i;
  // 100 and 101: the six-value range widens to 100..105, the eight-value one
  // to 100..107, and both hold 100 and 101.
  for (int i = 0; i < 16; ++i) values[i] = uint8_t(100 + i / 8);
  block = full_fit(values);
  EXPECT_EQ(block[0], 100);
  EXPECT_EQ(block[1], 105);
  uint8_t decoded[16];
  decode_rgtc1_block(block.data(), decoded);
  EXPECT_TRUE(std::equal(values, values + 16, decoded));
}

// ---- Block writers ----------------------------------------------------------

namespace {

// Value k of a palette as the encoder searches it: first, second, then the
// inner values from first towards second; the 6-value one ends with 0, 255.
// Inner values are rounded to nearest, as the reference decoder rounds them.
int searched_value(bool six, int first, int second, int k) {
  if (k < 2) return k == 0 ? first : second;
  if (!six) return ((8 - k) * first + (k - 1) * second + 3) / 7;
  if (k >= 6) return k == 6 ? 0 : 255;
  return ((6 - k) * first + (k - 1) * second + 2) / 5;
}

}  // namespace

TEST(AlphaPack, SixAndEightValueFormsDecodeToTheSearchedPalette) {
  std::mt19937 random(77);
  const int ends[] = {0, 1, 254, 255};
  for (int trial = 0; trial < 4000; ++trial) {
    // Either order, equal endpoints, and the ends of the range.
    int first = int(random() % 256), second = int(random() % 256);
    if (trial % 7 == 0) second = first;
    if (trial % 11 == 0) first = ends[random() % 4];
    uint8_t indices[16];
    for (uint8_t& k : indices) k = uint8_t(random() % 8);

    for (const bool six : {true, false}) {
      Block8 block{};
      (six ? alpha_pack_block_6 : alpha_pack_block_8)(uint8_t(first), uint8_t(second), indices,
                                                      block.data());
      // The decoder's palette is the searched one: 6 values when e0 <= e1.
      if (first != second) {
        ASSERT_EQ(block[0] <= block[1], six) << first << " " << second;
      }
      uint8_t decoded[16];
      decode_rgtc1_block(block.data(), decoded);
      for (int i = 0; i < 16; ++i)
        ASSERT_EQ(decoded[i], searched_value(six, first, second, indices[i]))
            << (six ? "6" : "8") << "-value, endpoints " << first << " " << second
            << ", index " << int(indices[i]);
    }
  }
}

TEST(AlphaPack, IndicesGoWhereTheFloatIndexRulePutsThem) {
  // alpha_indices_float writes pixel i's index at bit 16 + 3i of the block
  // word; packed from the same endpoints and indices, the bytes must agree.
  std::mt19937 random(78);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 500; ++trial) {
    float values[16];
    for (float& v : values) v = unit(random);
    const auto [lo, hi] = std::minmax_element(values, values + 16);
    uint64_t word = random() & 0xFFFF;
    alpha_indices_float(values, *lo, *hi, &word);
    uint8_t indices[16];
    for (int i = 0; i < 16; ++i) indices[i] = uint8_t((word >> (16 + 3 * i)) & 7);
    Block8 block{};
    alpha_pack_block(uint8_t(word), uint8_t(word >> 8), indices, block.data());
    for (int b = 0; b < 8; ++b) ASSERT_EQ(block[b], uint8_t(word >> (8 * b))) << trial << " " << b;
  }
}
