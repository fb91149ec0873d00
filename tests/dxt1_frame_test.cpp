// DXT1 and DXT5 textures of whole frames: decoded quality per quality level,
// no transparent pixel ever, and DXT5 built from the DXT1 colour block and the
// RGTC1 alpha block.
#include <cstdio>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"

namespace {

std::vector<uint8_t> encode(const Test_Image& image, uint32_t code, uint8_t quality) {
  Encode_Request request;
  request.texture_code = code;
  request.quality = quality;
  request.threads = 0;  // every processor
  auto texture = encode_frame(image, request);
  EXPECT_TRUE(texture.has_value());
  return texture.value_or(std::vector<uint8_t>{});
}

size_t block_count(const Test_Image& image) {
  return size_t((image.width + 3) / 4) * size_t((image.height + 3) / 4);
}

void expect_opaque(const std::vector<uint8_t>& dxt1_blocks, size_t stride, size_t offset) {
  for (size_t at = offset; at + 8 <= dxt1_blocks.size(); at += stride) {
    uint8_t pixels[64];
    decode_dxt1_block(dxt1_blocks.data() + at, pixels);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(pixels[4 * i + 3], 255) << "block at byte " << at;
  }
}

// Decoded PSNR floors (dB), frozen from the encoder's results less 0.05 dB.
struct Floor {
  const char* image;
  double quality[3];
};
const Floor dxt1_floors[] = {
    {"astronaut_512x512.bgra", {34.83, 35.37, 35.42}},
    {"coffee_600x400.bgra", {35.02, 35.58, 35.65}},
    {"chelsea_451x300.bgra", {37.97, 38.59, 38.69}},
};

TEST(Dxt1Frame, DecodedQualityPerLevel) {
  for (const Floor& floor : dxt1_floors) {
    SCOPED_TRACE(floor.image);
    const Test_Image image = load_test_image(floor.image);
    double psnr[3];
    for (uint8_t quality = 1; quality <= 3; ++quality) {
      const auto texture = encode(image, Texture_Code_Dxt1, quality);
      ASSERT_EQ(texture.size(), block_count(image) * 8);
      expect_opaque(texture, 8, 0);
      const auto decoded = decode_texture(Tex::Dxt1, texture.data(), image.width, image.height);
      psnr[quality - 1] = psnr_bgra(decoded.data(), image.bgra.data(),
                                    size_t(image.width) * image.height, false);
      std::printf("%s quality %d: %.3f dB\n", floor.image, quality, psnr[quality - 1]);
      EXPECT_GE(psnr[quality - 1], floor.quality[quality - 1]);
    }
    EXPECT_GE(psnr[1], psnr[0]);
    EXPECT_GE(psnr[2], psnr[0]);
  }
}

TEST(Dxt5Frame, ColourHalvesAreDxt1AndAlphaHalvesAreRgtc1) {
  const Test_Image image = load_test_image("astronaut_alpha_512x512.bgra");
  const size_t blocks = block_count(image);
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    SCOPED_TRACE(int(quality));
    const auto dxt5 = encode(image, Texture_Code_Dxt5, quality);
    const auto dxt1 = encode(image, Texture_Code_Dxt1, quality);
    ASSERT_EQ(dxt5.size(), blocks * 16);
    ASSERT_EQ(dxt1.size(), blocks * 8);
    for (size_t b = 0; b < blocks; ++b)
      ASSERT_EQ(std::memcmp(dxt5.data() + 16 * b + 8, dxt1.data() + 8 * b, 8), 0) << "block " << b;
    if (quality >= 2) {
      const auto rgtc1 = encode(image, Texture_Code_Rgtc1_Alpha, quality);
      for (size_t b = 0; b < blocks; ++b)
        ASSERT_EQ(std::memcmp(dxt5.data() + 16 * b, rgtc1.data() + 8 * b, 8), 0) << "block " << b;
    }
    const auto decoded = decode_texture(Tex::Dxt5, dxt5.data(), image.width, image.height);
    const double psnr = psnr_bgra(decoded.data(), image.bgra.data(),
                                  size_t(image.width) * image.height, true);
    std::printf("DXT5 quality %d: %.3f dB\n", quality, psnr);
    const double floors[3] = {36.07, 36.62, 36.67};
    EXPECT_GE(psnr, floors[quality - 1]);
  }
}

// Blocks of 1 to 16 distinct colours, some nearly grey, some saturated: the
// cluster fit meets every count, and no block may decode to transparent black.
TEST(Dxt1Frame, FewColourBlocksNeverDecodeTransparent) {
  std::mt19937 rng(99);
  Test_Image image;
  image.width = 64;
  image.height = 64;
  image.bgra.resize(64 * 64 * 4);
  for (int by = 0; by < 16; ++by)
    for (int bx = 0; bx < 16; ++bx) {
      const int colours = 1 + (by * 16 + bx) % 16;
      const int spread = 1 + int(rng() % 256);
      uint8_t palette[16][3];
      for (auto& c : palette)
        for (auto& v : c) v = uint8_t(std::min<int>(255, int(rng() % spread) + (spread < 8 ? 120 : 0)));
      for (int i = 0; i < 16; ++i) {
        const int pick = i < colours ? i : int(rng() % colours);
        uint8_t* p = &image.bgra[4 * ((by * 4 + i / 4) * 64 + bx * 4 + i % 4)];
        p[0] = palette[pick][2];
        p[1] = palette[pick][1];
        p[2] = palette[pick][0];
        p[3] = 255;
      }
    }
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    SCOPED_TRACE(int(quality));
    expect_opaque(encode(image, Texture_Code_Dxt1, quality), 8, 0);
    expect_opaque(encode(image, Texture_Code_Dxt5, quality), 16, 8);
  }
}

}  // namespace
