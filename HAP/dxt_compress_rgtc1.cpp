// RGTC1 block rows of one byte per 4-byte pixel, with the texture engine's
// min/max encoder or, when asked and the processor has it, its SSE4.1 twin.
#include "HAP/DXT_compress.h"
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/simd_features.h"

namespace {

void drive_rows(uint16_t first_block_row, const uint8_t* source, uint16_t width, uint16_t height,
                uint16_t row_count, uint16_t stride, uint8_t* destination, int value_byte,
                bool top_down, uint8_t vector) {
  check_block_rows(source, destination, first_block_row, row_count / 4u, width, height, stride);
  const bool use_vector = vector && cpu_has_sse41();
  for (uint32_t r = first_block_row; r < first_block_row + row_count / 4u; ++r) {
    uint8_t* out = destination + size_t(r) * (width / 4) * 8;
    for (uint32_t x = 0; x < width; x += 4, out += 8) {
      uint8_t raw[64], values[16];
      gather_block_pixels(source, stride, height, r, x, top_down, raw);
      if (use_vector) {
        compress_rgtc1_block_sse41(raw, value_byte, out);
        continue;
      }
      for (int p = 0; p < 16; ++p) values[p] = raw[4 * p + value_byte];
      compress_alpha_block_fast(values, out);
    }
  }
}

}  // namespace

void compress_alpha_block_fast(const uint8_t values[16], uint8_t out[8]) {
  uint8_t mn = values[0], mx = values[0];
  for (int p = 1; p < 16; ++p) {
    mn = values[p] < mn ? values[p] : mn;
    mx = values[p] > mx ? values[p] : mx;
  }
  if (mn == mx)
    write_constant_alpha_block(out, mx);
  else
    encode_alpha_block_fast(out, values, mn, mx);
}

void compress_rgtc1_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                              uint16_t height, uint16_t row_count, uint16_t stride,
                              uint8_t* destination, uint8_t vector) {
  drive_rows(first_block_row, source, width, height, row_count, stride, destination, 0, true,
             vector);
}

void compress_rgtc1_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                              uint16_t height, uint16_t row_count, uint16_t stride,
                              uint8_t* destination, uint8_t vector, uint8_t orientation) {
  drive_rows(first_block_row, source, width, height, row_count, stride, destination, 3,
             orientation == 1, vector);
}
