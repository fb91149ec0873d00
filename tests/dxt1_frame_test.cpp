// DXT1 and DXT5 textures of whole frames: decoded quality per quality level
// and no transparent pixel ever. The pinned digests hold their bytes.
#include <array>

#include <gtest/gtest.h>

#include "tests/texture_test_frames.h"

namespace {

size_t block_count(const Test_Image& image) {
  return size_t((image.width + 3) / 4) * size_t((image.height + 3) / 4);
}

void expect_opaque(const std::vector<uint8_t>& blocks, size_t stride, size_t offset) {
  ASSERT_FALSE(blocks.empty());
  for (size_t at = offset; at + 8 <= blocks.size(); at += stride) {
    uint8_t pixels[64];
    decode_dxt1_block(blocks.data() + at, pixels);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(pixels[4 * i + 3], 255) << "block at byte " << at;
  }
}

TEST(Dxt1Frame, DecodedQualityPerLevel) {
  // Decoded PSNR floors (dB), frozen from the encoder's results less 0.05 dB.
  const std::pair<const char*, std::array<double, 3>> floors[] = {
      {"astronaut_512x512.bgra", {34.83, 35.37, 35.42}},
      {"coffee_600x400.bgra", {35.02, 35.58, 35.65}},
      {"chelsea_451x300.bgra", {37.97, 38.59, 38.69}},
  };
  for (const auto& [name, floor] : floors) {
    SCOPED_TRACE(name);
    const Test_Image image = load_test_image(name);
    double psnr[4];
    for (uint8_t quality = 1; quality <= 3; ++quality) {
      const auto texture = encode_texture(image, Texture_Code_Dxt1, quality, 0);
      ASSERT_EQ(texture.size(), block_count(image) * 8);
      expect_opaque(texture, 8, 0);
      psnr[quality] = decoded_psnr(Tex::Dxt1, texture, image, false);
      EXPECT_GE(psnr[quality], floor[quality - 1]) << int(quality);
    }
    EXPECT_GE(psnr[2], psnr[1]);
    EXPECT_GE(psnr[3], psnr[1]);
  }
}

TEST(Dxt5Frame, DecodedQualityWithAlpha) {
  const Test_Image image = load_test_image("astronaut_alpha_512x512.bgra");
  const double floors[4] = {0, 36.07, 36.62, 36.67};
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    const auto dxt5 = encode_texture(image, Texture_Code_Dxt5, quality, 0);
    ASSERT_EQ(dxt5.size(), block_count(image) * 16);
    EXPECT_GE(decoded_psnr(Tex::Dxt5, dxt5, image, true), floors[quality]) << int(quality);
  }
}

}  // namespace
