// Frame helpers shared by the texture engine tests: set up a context and
// encode a BGRA frame, and the picture edits the tests compare against
// (crop, vertical flip, hand padding).
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
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
};

// Encodes a tightly packed BGRA frame (rows in the order the pixel format
// says); nothing when set-up refuses the request.
inline std::optional<std::vector<uint8_t>> encode_frame(const Test_Image& image,
                                                        const Encode_Request& request) {
  Dxt_Encoder_Context context{};
  context.source_has_no_alpha = request.source_has_no_alpha;
  std::fflush(stdout);
  const uint32_t result = setup_dxt_encoder(
      &context, uint16_t(image.width), uint16_t(image.height), request.texture_code,
      request.quality, 0, request.pix_fmt, request.pad_mode, request.threads, request.mask);
  if (result != 0) return std::nullopt;
  std::vector<uint8_t> texture(dxt_texture_size(uint16_t(image.width), uint16_t(image.height),
                                                request.texture_code, request.pad_mode));
  const uint8_t* planes[4] = {image.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(image.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, texture.data(), planes, strides);
  return texture;
}

inline Test_Image crop(const Test_Image& image, int width, int height) {
  Test_Image out;
  out.width = width;
  out.height = height;
  out.bgra.resize(size_t(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&out.bgra[size_t(y) * width * 4], &image.bgra[size_t(y) * image.width * 4],
                size_t(width) * 4);
  }
  return out;
}

inline Test_Image flip_rows(const Test_Image& image) {
  Test_Image out = image;
  const size_t row = size_t(image.width) * 4;
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(&out.bgra[y * row], &image.bgra[(image.height - 1 - y) * row], row);
  }
  return out;
}

// The frame grown to whole blocks the way a pad mode completes partial
// blocks: mode 0 repeats the last column and then the last row, mode 1 adds
// opaque black, mode 2 zeros.
inline Test_Image pad_by_hand(const Test_Image& image, uint32_t pad_mode) {
  Test_Image out;
  out.width = (image.width + 3) / 4 * 4;
  out.height = (image.height + 3) / 4 * 4;
  const uint8_t black[4] = {0, 0, 0, 255};
  const uint8_t zero[4] = {0, 0, 0, 0};
  out.bgra.resize(size_t(out.width) * out.height * 4);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint8_t* pixel;
      if (x < image.width && y < image.height) {
        pixel = &image.bgra[(size_t(y) * image.width + x) * 4];
      } else if (pad_mode == Pad_Mode_Edge) {
        const int sx = std::min(x, image.width - 1), sy = std::min(y, image.height - 1);
        pixel = &image.bgra[(size_t(sy) * image.width + sx) * 4];
      } else {
        pixel = pad_mode == Pad_Mode_Black ? black : zero;
      }
      std::memcpy(&out.bgra[(size_t(y) * out.width + x) * 4], pixel, 4);
    }
  }
  return out;
}
