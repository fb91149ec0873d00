// Alpha block encoder that keeps fully transparent and fully opaque values
// exact: blocks of few distinct values get hand-placed endpoints, others the
// better of the six-value palette (which holds 0 and 255 as entries of their
// own) and the eight-value palette stretched to the block's extremes.
#include <cassert>
#include <cstdlib>

#include "HAP/DXT_compress.h"

namespace {

void write_two_value_block(uint8_t luma0, uint8_t luma1, const uint8_t values[16],
                           const uint8_t index_of[256], uint8_t out[8]) {
  uint8_t indices[16];
  for (int p = 0; p < 16; ++p) indices[p] = index_of[values[p]];
  pack_alpha_block_msb(luma0, luma1, indices, out);
}

// At most two distinct values strictly between 0 and 255 (low <= high; high 0
// when there is a single one): endpoints on those values, 0 and 255 on the
// fixed entries of the six-value palette.
void encode_few_values(const uint8_t values[16], uint8_t low, uint8_t high, bool has_black,
                       bool has_white, uint8_t out[8]) {
  uint8_t index_of[256] = {};
  if (!has_black && !has_white) {
    index_of[high] = 1;
    index_of[low] = 0;
    write_two_value_block(low, high, values, index_of, out);
  } else if (high == 0) {
    index_of[0] = 0;
    index_of[low] = 1;
    index_of[255] = 7;
    write_two_value_block(0, low, values, index_of, out);
  } else {
    assert(low <= high && "luma0 <= luma1");
    index_of[low] = 0;
    index_of[high] = 1;
    index_of[0] = 6;
    index_of[255] = 7;
    write_two_value_block(low, high, values, index_of, out);
  }
}

}  // namespace

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
  out[0] = luma0;
  out[1] = luma1;
  for (int i = 0; i < 6; ++i) out[2 + i] = uint8_t(bits >> (40 - 8 * i));
}

void compress_alpha_block_exact(const uint8_t values[16], uint8_t out[8]) {
  uint8_t histogram[256] = {};
  for (int p = 0; p < 16; ++p) ++histogram[values[p]];
  std::memset(out, 0, 8);
  if (histogram[0] == 16) return;
  if (histogram[255] == 16) {
    out[0] = 255;
    return;
  }
  const bool has_black = histogram[0] != 0, has_white = histogram[255] != 0;
  uint8_t min_val_not_black = 0, max_value_not_white = 0;
  int distinct = 0;
  for (int v = 1; v < 255; ++v) {
    if (!histogram[v]) continue;
    if (distinct++ == 0)
      min_val_not_black = uint8_t(v);
    else
      max_value_not_white = uint8_t(v);
  }
  if (distinct == 0) {  // only 0 and 255
    uint8_t index_of[256] = {};
    index_of[255] = 1;
    write_two_value_block(0, 255, values, index_of, out);
    return;
  }
  if (distinct <= 2) {
    encode_few_values(values, min_val_not_black, max_value_not_white, has_black, has_white, out);
    return;
  }
  assert(min_val_not_black <= max_value_not_white && "min_val_not_black <= max_value_not_white");
  uint8_t palette_6[8], indices_6[16];
  build_alpha_palette_6(min_val_not_black, max_value_not_white, palette_6);
  const uint16_t error_6 = match_alpha_palette(values, palette_6, indices_6);
  if (error_6 == 0) {
    pack_alpha_block_msb(min_val_not_black, max_value_not_white, indices_6, out);
    return;
  }
  assert(min_val_not_black != max_value_not_white && "min_val_not_black != max_value_not_white");
  const uint8_t min_val_mode_1 = has_black ? 0 : min_val_not_black;
  const uint8_t max_val_mode_1 = has_white ? 255 : max_value_not_white;
  assert(min_val_mode_1 != max_val_mode_1 && "min_val_mode_1 != max_val_mode_1");
  uint8_t palette_8[8], indices_8[16];
  build_alpha_palette_8(max_val_mode_1, min_val_mode_1, palette_8);
  const uint16_t error_8 = match_alpha_palette(values, palette_8, indices_8);
  if (error_8 <= error_6)
    pack_alpha_block_msb(max_val_mode_1, min_val_mode_1, indices_8, out);
  else
    pack_alpha_block_msb(min_val_not_black, max_value_not_white, indices_6, out);
}
