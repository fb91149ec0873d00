// Frame helpers shared by the texture engine tests: set up a context and
// encode a BGRA frame, capture what a call prints, measure a decoded texture,
// and the picture edits the tests compare against (crop, hand padding).
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/frame_driver.h"

struct Encode_Request {
  uint32_t texture_code = Texture_Code_Rgtc1_Alpha;
  uint8_t quality = 1;
  uint32_t pix_fmt = Pix_Fmt_Bgra8;
  uint32_t pad_mode = Pad_Mode_Edge;
  uint32_t threads = 1;
  uint32_t mask = 0;
  uint8_t source_has_no_alpha = 0;
  uint8_t fill = 0;  // what the output holds before the driver writes it
};

// Everything `call` prints on stdout.
template <class Call>
std::string printed_by(Call&& call) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  call();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Encodes a tightly packed BGRA frame (rows in the order the pixel format
// says); nothing when set-up refuses the request.
inline std::optional<std::vector<uint8_t>> encode_frame(const Test_Image& image,
                                                        const Encode_Request& request) {
  Dxt_Encoder_Context context{};
  context.source_has_no_alpha = request.source_has_no_alpha;
  const uint32_t result = setup_dxt_encoder(
      &context, uint16_t(image.width), uint16_t(image.height), request.texture_code,
      request.quality, 0, request.pix_fmt, request.pad_mode, request.threads, request.mask);
  if (result != 0) return std::nullopt;
  std::vector<uint8_t> texture(dxt_texture_size(uint16_t(image.width), uint16_t(image.height),
                                                request.texture_code, request.pad_mode),
                               request.fill);
  const uint8_t* planes[4] = {image.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(image.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, texture.data(), planes, strides);
  return texture;
}

// The texture of a top-down frame, empty when set-up refuses.
inline std::vector<uint8_t> encode_texture(const Test_Image& image, uint32_t code,
                                           uint8_t quality, uint32_t threads = 1) {
  Encode_Request request;
  request.texture_code = code;
  request.quality = quality;
  request.threads = threads;
  return encode_frame(image, request).value_or(std::vector<uint8_t>{});
}

// PSNR of a texture decoded against its source, over B, G, R (and A).
inline double decoded_psnr(Tex kind, const std::vector<uint8_t>& texture,
                           const Test_Image& image, bool with_alpha) {
  if (texture.empty()) return 0.0;
  const std::vector<uint8_t> decoded =
      decode_texture(kind, texture.data(), image.width, image.height);
  return psnr_bgra(decoded.data(), image.bgra.data(), size_t(image.width) * image.height,
                   with_alpha);
}

// A 4x4 frame of one colour.
inline Test_Image solid_image(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  Test_Image image{4, 4, {}};
  for (int i = 0; i < 16; ++i) image.bgra.insert(image.bgra.end(), {b, g, r, a});
  return image;
}

// The width x height part of the image from column x0 and row y0.
inline Test_Image crop(const Test_Image& image, int width, int height, int x0 = 0, int y0 = 0) {
  Test_Image out{width, height, std::vector<uint8_t>(size_t(width) * height * 4)};
  for (int y = 0; y < height; ++y) {
    std::memcpy(&out.bgra[size_t(y) * width * 4],
                &image.bgra[(size_t(y0 + y) * image.width + x0) * 4], size_t(width) * 4);
  }
  return out;
}

// The frame grown to whole blocks the way a pad mode completes partial
// blocks: mode 0 repeats the last column and then the last row, mode 1 adds
// opaque black, mode 2 zeros.
inline Test_Image pad_by_hand(const Test_Image& image, uint32_t pad_mode) {
  Test_Image out{(image.width + 3) / 4 * 4, (image.height + 3) / 4 * 4, {}};
  const uint8_t black[4] = {0, 0, 0, 255}, zero[4] = {0, 0, 0, 0};
  out.bgra.resize(size_t(out.width) * out.height * 4);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* pixel = pad_mode == Pad_Mode_Black ? black : zero;
      if ((x < image.width && y < image.height) || pad_mode == Pad_Mode_Edge) {
        const int sx = std::min(x, image.width - 1), sy = std::min(y, image.height - 1);
        pixel = &image.bgra[(size_t(sy) * image.width + sx) * 4];
      }
      std::memcpy(&out.bgra[(size_t(y) * out.width + x) * 4], pixel, 4);
    }
  }
  return out;
}
