// HAPR textures through the engine: solid blocks, sources without alpha, an
// alpha just below opaque, and decoded quality per preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/texture_test_frames.h"

namespace {

std::vector<uint8_t> encode_bc7(const Test_Image& image, uint8_t quality, uint32_t threads,
                                bool no_alpha) {
  Encode_Request request;
  request.texture_code = Texture_Code_Bc7;
  request.quality = quality;
  request.threads = threads;
  request.mask = 0xF8;
  request.source_has_no_alpha = no_alpha;
  return encode_frame(image, request).value_or(std::vector<uint8_t>{});
}

TEST(Bc7Frame, SolidBlocksDecodeExactly) {
  // 256 solid blocks, one per value, each channel walking through the values
  // in a different order.
  Test_Image f{64, 64, std::vector<uint8_t>(64 * 64 * 4)};
  for (int i = 0; i < 64 * 64; ++i) {
    const int v = (i / 256) * 16 + (i % 64) / 4;
    uint8_t* p = &f.bgra[size_t(i) * 4];
    p[0] = uint8_t(v), p[1] = uint8_t(255 - v), p[2] = uint8_t(v * 7), p[3] = uint8_t(v * 13);
  }
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> texture = encode_bc7(f, quality, 1, false);
    ASSERT_FALSE(texture.empty());
    EXPECT_EQ(decode_texture(Tex::Bc7, texture.data(), 64, 64), f.bgra) << int(quality);
    for (size_t b = 0; b < texture.size(); b += 16) EXPECT_EQ(texture[b], 0x20);
  }
}

TEST(Bc7Frame, OpaqueSourcesDecodeOpaque) {
  Test_Image f = crop(load_test_image("chelsea_451x300.bgra"), 151, 62);  // partial blocks
  // A 24-bit source: whatever the fourth byte holds, the texture is opaque.
  for (size_t i = 3; i < f.bgra.size(); i += 4) f.bgra[i] = uint8_t(i * 31);
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> texture = encode_bc7(f, quality, 2, true);
    ASSERT_FALSE(texture.empty());
    const std::vector<uint8_t> decoded =
        decode_texture(Tex::Bc7, texture.data(), f.width, f.height);
    for (size_t i = 3; i < decoded.size(); i += 4) ASSERT_EQ(decoded[i], 255) << int(quality);
    // Opaque blocks use modes 6 and 1; mode 5 only for solid blocks.
    for (size_t b = 0; b < texture.size(); b += 16) {
      const uint8_t mode_bits = texture[b];
      EXPECT_TRUE((mode_bits & 0x7F) == 0x40 || (mode_bits & 3) == 2 || mode_bits == 0x20) << b;
    }
  }
}

TEST(Bc7Frame, AlphaJustBelowOpaqueDecodesBelowOpaque) {
  // A picture whose every alpha is 254: no block is solid, and none may be
  // taken for opaque, though the fit may round single pixels up to 255.
  Test_Image f = crop(load_test_image("coffee_600x400.bgra"), 64, 32);
  for (size_t i = 3; i < f.bgra.size(); i += 4) f.bgra[i] = 254;
  for (uint8_t quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> texture = encode_bc7(f, quality, 1, false);
    ASSERT_FALSE(texture.empty());
    const std::vector<uint8_t> decoded = decode_texture(Tex::Bc7, texture.data(), 64, 32);
    for (int b = 0; b < 16 * 8; ++b) {
      int lowest = 255;
      for (int k = 0; k < 16; ++k)
        lowest = std::min<int>(lowest, decoded[(size_t((b / 16) * 4 + k / 4) * 64 + (b % 16) * 4 + k % 4) * 4 + 3]);
      EXPECT_TRUE(lowest == 253 || lowest == 254) << "quality " << int(quality) << " block " << b << ": " << lowest;
    }
  }
}

TEST(Bc7Frame, DecodedQualityFloors) {
  // Decoded PSNR (dB) per picture and quality, a little under the values
  // measured when the encoder was written.
  const struct {
    const char* name;
    bool alpha;
    double floor[4];
  } pictures[] = {
      {"astronaut_512x512.bgra", false, {0, 42.6, 43.4, 43.8}},
      {"coffee_600x400.bgra", false, {0, 41.4, 42.2, 42.6}},
      {"chelsea_451x300.bgra", false, {0, 45.6, 46.1, 46.3}},
      {"astronaut_alpha_512x512.bgra", true, {0, 42.5, 43.0, 43.2}},
  };
  for (const auto& p : pictures) {
    const Test_Image f = load_test_image(p.name);
    double measured[4];
    for (uint8_t q = 1; q <= 3; ++q) {
      measured[q] = decoded_psnr(Tex::Bc7, encode_bc7(f, q, 0, !p.alpha), f, p.alpha);
      EXPECT_GE(measured[q], p.floor[q]) << p.name << " quality " << int(q);
    }
    EXPECT_GE(measured[2], measured[1]) << p.name;
    EXPECT_GE(measured[3], measured[1]) << p.name;
  }
}

}  // namespace
