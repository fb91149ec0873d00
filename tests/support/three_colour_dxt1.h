// DXT1 blocks in three-colour form, as another encoder may write them, for
// the tests and the benchmark of the conversion to DXT5: the endpoints are
// the darkest and the brightest pixel with colour 0 not above colour 1, and
// each pixel takes the nearest of them, their midpoint and black.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "HAP/DXT_Frame.h"

// A BGRA picture of whole blocks, rows tightly packed.
inline std::vector<uint8_t> three_colour_dxt1(const uint8_t* bgra, int width, int height) {
  const auto pack = [](const uint8_t* bgr) {
    return uint16_t((bgr[2] * 31 + 127) / 255 << 11 | (bgr[1] * 63 + 127) / 255 << 5 | (bgr[0] * 31 + 127) / 255);
  };
  std::vector<uint8_t> out;
  for (int by = 0; by < height / 4; ++by)
    for (int bx = 0; bx < width / 4; ++bx) {
      const uint8_t* px[16];
      for (int i = 0; i < 16; ++i) px[i] = &bgra[(size_t(4 * by + i / 4) * width + 4 * bx + i % 4) * 4];
      const auto luma = [](const uint8_t* p) { return p[0] + 2 * p[1] + p[2]; };
      const auto [dark, bright] = std::minmax_element(px, px + 16, [&](auto a, auto b) { return luma(a) < luma(b); });
      const uint16_t c0 = std::min(pack(*dark), pack(*bright)), c1 = std::max(pack(*dark), pack(*bright));
      uint8_t block[8] = {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0xE4, 0, 0, 0};
      uint8_t palette[48];  // entries 0 to 3 at pixels 0 to 3
      decode_colour_block(block, true, palette);
      uint32_t word = 0;
      for (int i = 0; i < 16; ++i) {
        int best = 0, best_error = 1 << 30;
        for (int e = 0; e < 4; ++e) {
          int error = 0;
          for (int c = 0; c < 3; ++c) {
            const int d = palette[3 * e + c] - px[i][2 - c];
            error += d * d;
          }
          if (error < best_error) best = e, best_error = error;
        }
        word |= uint32_t(best) << (2 * i);
      }
      for (int k = 0; k < 4; ++k) block[4 + k] = uint8_t(word >> (8 * k));
      out.insert(out.end(), block, block + 8);
    }
  return out;
}
