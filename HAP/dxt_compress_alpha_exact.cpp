// Scalar building blocks of the alpha block encoder that keeps 0 and 255
// exact, and the encoder over them.
#include <cassert>
#include <cstdlib>

#include "HAP/DXT_compress.h"
#include "HAP/alpha_exact_encoder.h"

void build_alpha_palette_8(uint8_t luma0, uint8_t luma1, uint8_t palette[8]) {
  assert(luma0 > luma1 && "luma0 > luma1");
  palette[0] = luma0;
  palette[1] = luma1;
  for (int k = 2; k < 8; ++k) {
    const int val = ((8 - k) * luma0 + (k - 1) * luma1) / 7;
    assert(val < 255 && "val < 255");
    palette[k] = uint8_t(val);
  }
}

void build_alpha_palette_6(uint8_t luma0, uint8_t luma1, uint8_t palette[8]) {
  assert(luma0 <= luma1 && "luma0 <= luma1");
  palette[0] = luma0;
  palette[1] = luma1;
  for (int k = 2; k < 6; ++k) {
    const int val = ((6 - k) * luma0 + (k - 1) * luma1) / 5;
    assert(val <= 255 && "val <= 255");
    palette[k] = uint8_t(val);
  }
  palette[6] = 0;
  palette[7] = 255;
}

uint16_t match_alpha_palette(const uint8_t values[16], const uint8_t palette[8],
                             uint8_t indices[16]) {
  uint16_t error = 0;
  for (int p = 0; p < 16; ++p) {
    int best = 256;
    for (int k = 0; k < 8 && best != 0; ++k) {
      const int d = std::abs(int(values[p]) - int(palette[k]));
      if (d < best) {
        best = d;
        indices[p] = uint8_t(k);
      }
    }
    error = uint16_t(error + best);
  }
  return error;
}

void pack_alpha_block_msb(uint8_t luma0, uint8_t luma1, const uint8_t indices[16], uint8_t out[8]) {
  uint64_t bits = 0;
  for (int p = 0; p < 16; ++p) bits |= uint64_t(indices[p] & 7) << (3 * (15 - p));
  write_msb_alpha_block(luma0, luma1, bits, out);
}

void compress_alpha_block_exact(const uint8_t values[16], uint8_t out[8]) {
  using Kernels = Alpha_Exact_Kernels<build_alpha_palette_8, build_alpha_palette_6,
                                      match_alpha_palette, pack_alpha_block_msb>;
  encode_alpha_block_exact<Kernels>(values, out);
}
