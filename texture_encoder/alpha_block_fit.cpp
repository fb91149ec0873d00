// Full fit of a single-channel block: two candidate palettes, one pass each.
#include <algorithm>
#include <cstring>

#include "texture_encoder/alpha_block.h"

void rgtc1_block_min_max(const uint8_t* values16, uint64_t* min, uint64_t* max) {
  uint8_t lo = 255, hi = 0;
  for (int i = 0; i < 16; ++i) {
    const uint8_t v = values16[i];
    if (v != 0) lo = std::min(lo, v);
    if (v != 255) hi = std::max(hi, v);
  }
  *min = lo;
  *max = hi;
}

int64_t rgtc1_fit_indices(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                          int64_t* error) {
  int32_t total = 0;
  for (int i = 0; i < 16; ++i) {
    int32_t best = 1 << 30;
    uint8_t best_index = 0;
    for (int k = 0; k < 8; ++k) {
      const int32_t d = int32_t(values16[i]) - palette8[k];
      if (d * d < best) {
        best = d * d;
        best_index = uint8_t(k);
      }
    }
    indices16[i] = best_index;
    total += best;
  }
  *error = total;
  return total;
}

void widen_alpha_range(uint32_t* lo, uint32_t* hi, uint32_t span) {
  const int64_t wanted = span;
  if (int64_t(*hi) - int64_t(*lo) < wanted)
    *hi = uint32_t(std::min<int64_t>(int64_t(*lo) + wanted, 255));
  if (int64_t(*hi) - int64_t(*lo) < wanted)
    *lo = uint32_t(std::max<int64_t>(int64_t(*hi) - wanted, 0));
}

void write_constant_alpha_block(uint8_t* out8, uint8_t value) {
  std::memset(out8, 0, 8);
  out8[0] = value;
}

void encode_alpha_block_hq(const Dxt_Kernel_Head* head, const uint8_t* values16, uint32_t min,
                           uint32_t max, uint8_t* out8) {
  uint64_t min6 = 0, max6 = 0;
  head->rgtc1_block_min_max(values16, &min6, &max6);
  uint32_t lo6 = uint32_t(min6), hi6 = uint32_t(max6);
  widen_alpha_range(&lo6, &hi6, 5);
  uint32_t lo8 = min, hi8 = max;
  widen_alpha_range(&lo8, &hi8, 7);

  const uint8_t six[8] = {uint8_t(lo6),
                          uint8_t(hi6),
                          uint8_t((4 * lo6 + hi6) / 5),
                          uint8_t((3 * lo6 + 2 * hi6) / 5),
                          uint8_t((2 * lo6 + 3 * hi6) / 5),
                          uint8_t((lo6 + 4 * hi6) / 5),
                          0,
                          255};
  uint8_t eight[8] = {uint8_t(lo8), uint8_t(hi8)};
  for (uint32_t k = 2; k < 8; ++k) eight[k] = uint8_t(((8 - k) * lo8 + (k - 1) * hi8) / 7);

  uint8_t indices6[16], indices8[16];
  int64_t error6 = 0, error8 = 0;
  head->rgtc1_fit_indices(values16, six, indices6, &error6);
  head->rgtc1_fit_indices(values16, eight, indices8, &error8);

  // Widening leaves lo < hi in both, so the 8-value form writes hi8 first and
  // the 6-value form keeps lo6 first.
  if (error8 < error6) {
    alpha_pack_block_8(uint8_t(lo8), uint8_t(hi8), indices8, out8);
  } else {
    alpha_pack_block_6(uint8_t(lo6), uint8_t(hi6), indices6, out8);
  }
}

void encode_rgtc1_block(const Dxt_Kernel_Head* head, const uint8_t* values16, uint64_t min,
                        uint64_t max, uint8_t* out8) {
  if (min == max) {
    write_constant_alpha_block(out8, uint8_t(min));
  } else {
    encode_alpha_block_hq(head, values16, uint32_t(min), uint32_t(max), out8);
  }
}
