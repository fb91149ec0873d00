// Quick 8-value fit of a single-channel block: each value's index comes from
// three comparisons against multiples of the range, no palette search.
#include "texture_encoder/alpha_block.h"

void encode_alpha_block_fast(uint8_t* out8, const uint8_t* values16, uint32_t min, uint32_t max) {
  const int32_t d = int32_t(max) - int32_t(min);
  int32_t bias = d < 8 ? d - 1 : d / 2 + 2;
  bias -= 7 * int32_t(min);

  uint8_t indices[16];
  for (int i = 0; i < 16; ++i) {
    int32_t t = 7 * int32_t(values16[i]) + bias;
    int32_t s = 0;
    if (t >= 4 * d) {
      s = 4;
      t -= 4 * d;
    }
    if (t >= 2 * d) {
      s += 2;
      t -= 2 * d;
    }
    if (t >= d) s += 1;
    uint32_t index = uint32_t(-s) & 7;
    if (index < 2) index ^= 1;
    indices[i] = uint8_t(index);
  }
  alpha_pack_block(uint8_t(max), uint8_t(min), indices, out8);
}
