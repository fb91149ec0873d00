// The alpha block encoder that keeps fully transparent and fully opaque
// values exact, written once over its building blocks: blocks of few distinct
// values get hand-placed endpoints, others the better of the six-value
// palette (which holds 0 and 255 as entries of their own) and the eight-value
// palette stretched to the block's extremes.
//
// Kernels is an Alpha_Exact_Kernels of one instruction-set level's building
// blocks. Internal linkage: each level's file compiles its own copy.
#pragma once
#include <cassert>
#include <cstdint>
#include <cstring>

namespace {

// The building blocks, with the signatures of build_alpha_palette_8,
// build_alpha_palette_6, match_alpha_palette and pack_alpha_block_msb.
template <auto Build_Palette_8, auto Build_Palette_6, auto Match, auto Pack>
struct Alpha_Exact_Kernels {
  static constexpr auto build_palette_8 = Build_Palette_8;
  static constexpr auto build_palette_6 = Build_Palette_6;
  static constexpr auto match = Match;
  static constexpr auto pack = Pack;
};

// The block of the packers: luma0, luma1, then the 48-bit index word from
// its most significant byte down.
inline void write_msb_alpha_block(uint8_t luma0, uint8_t luma1, uint64_t word, uint8_t out[8]) {
  out[0] = luma0;
  out[1] = luma1;
  for (int i = 0; i < 6; ++i) out[2 + i] = uint8_t(word >> (40 - 8 * i));
}

template <class Kernels>
void write_two_value_block(uint8_t luma0, uint8_t luma1, const uint8_t values[16],
                           const uint8_t index_of[256], uint8_t out[8]) {
  uint8_t indices[16];
  for (int p = 0; p < 16; ++p) indices[p] = index_of[values[p]];
  Kernels::pack(luma0, luma1, indices, out);
}

// At most two distinct values strictly between 0 and 255 (low <= high; high 0
// when there is a single one): endpoints on those values, 0 and 255 on the
// fixed entries of the six-value palette.
template <class Kernels>
void encode_few_values(const uint8_t values[16], uint8_t low, uint8_t high, bool has_black,
                       bool has_white, uint8_t out[8]) {
  uint8_t index_of[256] = {};
  if (!has_black && !has_white) {
    index_of[high] = 1;
    index_of[low] = 0;
    write_two_value_block<Kernels>(low, high, values, index_of, out);
  } else if (high == 0) {
    index_of[0] = 0;
    index_of[low] = 1;
    index_of[255] = 7;
    write_two_value_block<Kernels>(0, low, values, index_of, out);
  } else {
    assert(low <= high && "luma0 <= luma1");
    index_of[low] = 0;
    index_of[high] = 1;
    index_of[0] = 6;
    index_of[255] = 7;
    write_two_value_block<Kernels>(low, high, values, index_of, out);
  }
}

template <class Kernels>
void encode_alpha_block_exact(const uint8_t values[16], uint8_t out[8]) {
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
    write_two_value_block<Kernels>(0, 255, values, index_of, out);
    return;
  }
  if (distinct <= 2) {
    encode_few_values<Kernels>(values, min_val_not_black, max_value_not_white, has_black,
                               has_white, out);
    return;
  }
  assert(min_val_not_black <= max_value_not_white && "min_val_not_black <= max_value_not_white");
  uint8_t palette_6[8], indices_6[16];
  Kernels::build_palette_6(min_val_not_black, max_value_not_white, palette_6);
  const uint16_t error_6 = Kernels::match(values, palette_6, indices_6);
  if (error_6 == 0) {
    Kernels::pack(min_val_not_black, max_value_not_white, indices_6, out);
    return;
  }
  assert(min_val_not_black != max_value_not_white && "min_val_not_black != max_value_not_white");
  const uint8_t min_val_mode_1 = has_black ? 0 : min_val_not_black;
  const uint8_t max_val_mode_1 = has_white ? 255 : max_value_not_white;
  assert(min_val_mode_1 != max_val_mode_1 && "min_val_mode_1 != max_val_mode_1");
  uint8_t palette_8[8], indices_8[16];
  Kernels::build_palette_8(max_val_mode_1, min_val_mode_1, palette_8);
  const uint16_t error_8 = Kernels::match(values, palette_8, indices_8);
  if (error_8 <= error_6)
    Kernels::pack(max_val_mode_1, min_val_mode_1, indices_8, out);
  else
    Kernels::pack(min_val_not_black, max_value_not_white, indices_6, out);
}

}  // namespace
