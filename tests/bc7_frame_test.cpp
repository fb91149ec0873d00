// HAPR textures through the engine: set-up at each quality, whole frames with
// partial edge blocks, solid blocks, thread counts, decoded quality.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/frame_driver.h"

namespace {

struct Frame {
  int width, height;
  std::vector<uint8_t> bgra;
};

Frame load(const char* name) {
  Test_Image image = load_test_image(name);
  return {image.width, image.height, std::move(image.bgra)};
}

// The top-left part of a picture.
Frame crop(const Frame& f, int width, int height) {
  Frame out{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
  for (int y = 0; y < height; ++y)
    std::memcpy(&out.bgra[size_t(y) * width * 4], &f.bgra[size_t(y) * f.width * 4], size_t(width) * 4);
  return out;
}

// Encodes a BGRA frame as BC7; a blank result means set-up failed.
std::vector<uint8_t> encode(const Frame& f, int quality, int threads, bool no_alpha,
                            uint8_t fill = 0) {
  Dxt_Encoder_Context context{};
  context.source_has_no_alpha = no_alpha;
  if (setup_dxt_encoder(&context, uint16_t(f.width), uint16_t(f.height), Texture_Code_Bc7,
                        uint8_t(quality), 0, Pix_Fmt_Bgra8, Pad_Mode_Edge, uint32_t(threads),
                        0xF8) != 0)
    return {};
  std::vector<uint8_t> out(size_t((f.width + 3) / 4) * ((f.height + 3) / 4) * 16, fill);
  const uint8_t* planes[4] = {f.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(f.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, out.data(), planes, strides);
  return out;
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& texture, const Frame& f) {
  return decode_texture(Tex::Bc7, texture.data(), f.width, f.height);
}

double psnr(const std::vector<uint8_t>& texture, const Frame& f, bool with_alpha) {
  const std::vector<uint8_t> decoded = decode(texture, f);
  return psnr_bgra(decoded.data(), f.bgra.data(), size_t(f.width) * f.height, with_alpha);
}

TEST(Bc7Frame, InvalidQuality) {
  const Frame f{8, 8, std::vector<uint8_t>(256, 7)};
  for (int quality : {0, 4}) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(encode(f, quality, 1, false).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "BC7 invalid quality : " + std::to_string(quality) + "\n");
  }
}

TEST(Bc7Frame, SolidBlocksDecodeExactly) {
  // 256 solid blocks, one per value, each channel walking through the values
  // in a different order.
  Frame f{64, 64, std::vector<uint8_t>(64 * 64 * 4)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const int v = (y / 4) * 16 + x / 4;
      uint8_t* p = &f.bgra[(size_t(y) * 64 + x) * 4];
      p[0] = uint8_t(v), p[1] = uint8_t(255 - v), p[2] = uint8_t(v * 7), p[3] = uint8_t(v * 13);
    }
  for (int quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> texture = encode(f, quality, 1, false);
    ASSERT_FALSE(texture.empty());
    EXPECT_EQ(decode(texture, f), f.bgra) << "quality " << quality;
    for (size_t b = 0; b < texture.size(); b += 16) EXPECT_EQ(texture[b], 0x20);
  }
  // Value 128: endpoints 63 and 66, every colour index 1.
  const Frame grey{4, 4, std::vector<uint8_t>(64, 128)};
  const std::vector<uint8_t> block = encode(grey, 1, 1, false);
  EXPECT_EQ((block[1] | block[2] << 8) & 0x3FFF, 63 | 66 << 7);
  const uint8_t indices[4] = {0xAC, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(&block[8], indices, 4), 0);
}

TEST(Bc7Frame, OpaqueSourcesDecodeOpaque) {
  Frame f = crop(load("chelsea_451x300.bgra"), 151, 62);  // partial blocks both ways
  // A 24-bit source: whatever the fourth byte holds, the texture is opaque.
  for (size_t i = 3; i < f.bgra.size(); i += 4) f.bgra[i] = uint8_t(i * 31);
  for (int quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> texture = encode(f, quality, 2, true);
    const std::vector<uint8_t> decoded = decode(texture, f);
    for (size_t i = 3; i < decoded.size(); i += 4) ASSERT_EQ(decoded[i], 255) << quality;
    // Opaque blocks use modes 6 and 1; mode 5 only for solid blocks.
    for (size_t b = 0; b < texture.size(); b += 16) {
      const uint8_t mode_bits = texture[b];
      EXPECT_TRUE((mode_bits & 0x7F) == 0x40 || (mode_bits & 3) == 2 || mode_bits == 0x20) << b;
    }
  }
}

TEST(Bc7Frame, EveryBlockWrittenAndThreadCountsAgree) {
  const Frame f = crop(load("astronaut_alpha_512x512.bgra"), 254, 130);
  for (int quality = 1; quality <= 3; ++quality) {
    const std::vector<uint8_t> reference = encode(f, quality, 1, false, 0x00);
    ASSERT_FALSE(reference.empty());
    // Stale bytes in the output never survive, and slicing changes nothing.
    EXPECT_EQ(encode(f, quality, 1, false, 0xA5), reference);
    for (int threads : {2, 3, 8, 0}) EXPECT_EQ(encode(f, quality, threads, false, 0xFF), reference);
  }
}

// Decoded PSNR (dB) per picture and quality, a little under the values
// measured when the encoder was written.
struct Floor {
  const char* name;
  bool alpha;
  double q1, q2, q3;
};

TEST(Bc7Frame, DecodedQualityFloors) {
  const Floor floors[] = {
      {"astronaut_512x512.bgra", false, 42.6, 43.4, 43.8},
      {"coffee_600x400.bgra", false, 41.4, 42.2, 42.6},
      {"chelsea_451x300.bgra", false, 45.6, 46.1, 46.3},
      {"astronaut_alpha_512x512.bgra", true, 42.5, 43.0, 43.2},
  };
  for (const Floor& floor : floors) {
    const Frame f = load(floor.name);
    double measured[4];
    for (int quality = 1; quality <= 3; ++quality)
      measured[quality] = psnr(encode(f, quality, 0, !floor.alpha), f, floor.alpha);
    EXPECT_GE(measured[1], floor.q1) << floor.name;
    EXPECT_GE(measured[2], floor.q2) << floor.name;
    EXPECT_GE(measured[3], floor.q3) << floor.name;
    EXPECT_GE(measured[2], measured[1]) << floor.name;
    EXPECT_GE(measured[3], measured[1]) << floor.name;
  }
}

}  // namespace
