// YCoCg-DXT5 textures (codes 4 and 5) through set-up and the frame driver:
// decoded quality on the test images, what every block must satisfy, the
// HAPQA texture pair, row order and thread counts.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_support.h"
#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/frame_driver.h"
#include "texture_encoder/ycocg_block.h"

namespace {

const char* const kImages[] = {"astronaut_512x512.bgra", "astronaut_alpha_512x512.bgra",
                               "chelsea_451x300.bgra", "coffee_600x400.bgra"};

const Test_Image& image(const std::string& name) {
  static std::map<std::string, Test_Image> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, load_test_image(name)).first;
  return it->second;
}

std::vector<uint8_t> encode_frame(const Test_Image& img, uint32_t code, int quality,
                                  uint32_t threads, uint32_t pix_fmt = Pix_Fmt_Bgra8) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(setup_dxt_encoder(&context, uint16_t(img.width), uint16_t(img.height), code,
                              uint8_t(quality), 0, pix_fmt, Pad_Mode_Edge, threads, 0),
            0u);
  std::vector<uint8_t> out(
      dxt_texture_size(uint16_t(img.width), uint16_t(img.height), code, Pad_Mode_Edge));
  std::vector<uint8_t> rows = img.bgra;
  if (pix_fmt == Pix_Fmt_Bgra8_Bottom_Up) {
    const size_t pitch = size_t(img.width) * 4;
    for (int y = 0; y < img.height; ++y)
      std::memcpy(&rows[(img.height - 1 - y) * pitch], &img.bgra[y * pitch], pitch);
  }
  const uint8_t* planes[4] = {rows.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(img.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, out.data(), planes, strides);
  return out;
}

// Frames are encoded once per (image, code, quality), on all processors.
const std::vector<uint8_t>& texture(const std::string& name, uint32_t code, int quality) {
  static std::map<std::tuple<std::string, uint32_t, int>, std::vector<uint8_t>> cache;
  const auto key = std::make_tuple(name, code, quality);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, encode_frame(image(name), code, quality, 0)).first;
  return it->second;
}

double decoded_psnr(const std::string& name, int quality) {
  const Test_Image& img = image(name);
  const std::vector<uint8_t> decoded =
      decode_texture(Tex::YcocgDxt5, texture(name, Texture_Code_Ycocg_Dxt5, quality).data(),
                     img.width, img.height);
  return psnr_bgra(decoded.data(), img.bgra.data(), size_t(img.width) * img.height, false);
}

}  // namespace

TEST(YcocgSetup, UnknownQualityIsRefused) {
  for (uint32_t code : {4u, 5u}) {
    for (int quality : {0, 4}) {
      Dxt_Encoder_Context context{};
      testing::internal::CaptureStdout();
      EXPECT_EQ(setup_dxt_encoder(&context, 64, 64, code, uint8_t(quality), 0, Pix_Fmt_Bgra8,
                                  Pad_Mode_Edge, 1, 0),
                1u);
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                "DxtEnc DXT5 ycocg unknown quality : " + std::to_string(quality) + "\n");
    }
  }
}

TEST(YcocgFrame, DecodedQualityFloors) {
  // Measured PSNR (dB over B, G, R) less 0.05 dB. Alpha is not coded.
  struct Floor {
    const char* name;
    double q[3];
  };
  const Floor floors[] = {
      {"astronaut_512x512.bgra", {39.47, 39.59, 39.82}},
      {"astronaut_alpha_512x512.bgra", {39.47, 39.59, 39.82}},
      {"chelsea_451x300.bgra", {42.83, 42.79, 43.00}},
      {"coffee_600x400.bgra", {38.88, 38.98, 39.31}},
  };
  for (const Floor& f : floors) {
    double psnr[3];
    for (int q = 1; q <= 3; ++q) {
      psnr[q - 1] = decoded_psnr(f.name, q);
      EXPECT_GE(psnr[q - 1], f.q[q - 1]) << f.name << " quality " << q;
    }
    EXPECT_GE(psnr[2], psnr[0]) << f.name;
    // Quality 2 judges its chroma candidates by code / 31 and code / 63,
    // not by the decoder's bit replication, and its luma range before
    // rounding; on smooth pictures (chelsea) that leaves it a few hundredths
    // of a dB behind quality 1.
    EXPECT_GE(psnr[1], psnr[0] - 0.05) << f.name;
  }
}

TEST(YcocgFrame, EveryBlockKeepsTheLayoutRules) {
  // The chroma scale is written as scale - 1 in both endpoints and is the one
  // the block's chroma box calls for; the high Co code is colour0's; the Y
  // half is in 8-value mode unless it is the single-value form.
  for (const char* name : kImages) {
    const Test_Image& img = image(name);
    const int across = (img.width + 3) / 4;
    for (int q = 1; q <= 3; ++q) {
      const std::vector<uint8_t>& tex = texture(name, Texture_Code_Ycocg_Dxt5, q);
      int faults = 0;
      for (int by = 0; by < img.height / 4; ++by) {
        for (int bx = 0; bx < img.width / 4; ++bx) {
          const uint8_t* b = &tex[16 * (by * across + bx)];
          const uint16_t c0 = uint16_t(b[8] | b[9] << 8), c1 = uint16_t(b[10] | b[11] << 8);
          uint64_t y_indices = 0;
          std::memcpy(&y_indices, b + 2, 6);

          Ycocg_Block block;
          uint64_t black = 0;
          ycocg_load_block(&block, &img.bgra[(size_t(by) * 4 * img.width + bx * 4) * 4],
                           int64_t(img.width) * 4, &black);
          if (black) continue;  // the fixed blocks are tested on their own
          const uint32_t scale = choose_cocg_scale(block.cocg.cocg_box);
          const bool single_y = b[1] == 0 && y_indices == 0;
          faults += (c0 & 31) != (c1 & 31) || (c0 & 31) != int(scale - 1);
          faults += (c0 >> 11) < (c1 >> 11);
          faults += !(b[0] > b[1] || single_y);
        }
      }
      EXPECT_EQ(faults, 0) << name << " quality " << q;
    }
  }
}

TEST(YcocgFrame, HapqaIsHapqThenTheAlphaTexture) {
  const Test_Image& img = image("astronaut_alpha_512x512.bgra");
  const std::vector<uint8_t> alpha = encode_frame(img, Texture_Code_Rgtc1_Alpha, 1, 0);
  for (int q = 1; q <= 3; ++q) {
    std::vector<uint8_t> expected =
        texture("astronaut_alpha_512x512.bgra", Texture_Code_Ycocg_Dxt5, q);
    expected.insert(expected.end(), alpha.begin(), alpha.end());
    EXPECT_EQ(encode_frame(img, Texture_Code_Ycocg_Dxt5_Rgtc1, q, 0), expected) << q;
  }
}

TEST(YcocgFrame, SameOutputForEveryThreadCountAndRowOrder) {
  // chelsea's width leaves a padded block column.
  const Test_Image& img = image("chelsea_451x300.bgra");
  for (int q = 1; q <= 3; ++q) {
    const std::vector<uint8_t> one = encode_frame(img, Texture_Code_Ycocg_Dxt5_Rgtc1, q, 1);
    for (uint32_t threads : {2u, 3u, 7u, 64u}) {
      EXPECT_EQ(encode_frame(img, Texture_Code_Ycocg_Dxt5_Rgtc1, q, threads), one)
          << q << " " << threads;
    }
    EXPECT_EQ(encode_frame(img, Texture_Code_Ycocg_Dxt5_Rgtc1, q, 2, Pix_Fmt_Bgra8_Bottom_Up), one)
        << q;
  }
}
