// The 8-value single-channel palette on values in 0..1 (the Y half of a
// YCoCg-DXT5 block): range inset, endpoint bytes and threshold indices.
#include <algorithm>
#include <cmath>

#include "texture_encoder/alpha_block.h"

void alpha_inset_range(float* lo, float* hi) {
  const float d = (*hi - *lo) * 0.03125f - 0.0019607844f;
  *lo = std::clamp(*lo + d, 0.0f, 1.0f);
  *hi = std::clamp(*hi - d, 0.0f, 1.0f);
}

uint16_t alpha_endpoint_word(float lo, float hi) {
  const uint32_t e0 = uint32_t(std::round(hi * 255.0f));
  const uint32_t e1 = uint32_t(std::round(lo * 255.0f));
  return uint16_t(e0 | e1 << 8);
}

uint16_t alpha_inset_pack(float* lo, float* hi) {
  alpha_inset_range(lo, hi);
  return alpha_endpoint_word(*lo, *hi);
}

void alpha_indices_float(const float* values16, float lo, float hi, uint64_t* block) {
  const float h = (hi - lo) / 14.0f;
  float thresholds[7];
  thresholds[0] = lo + h;
  for (int j = 1; j < 7; ++j) {
    thresholds[j] = (float(7 - j) * lo + float(j) * hi) * 0.14285715f + h;
  }
  uint64_t indices = 0;
  for (int i = 0; i < 16; ++i) {
    uint32_t c = 0;
    for (float t : thresholds) c += t >= values16[i] ? 1 : 0;
    uint32_t s = (c + 1) & 7;
    if (s < 2) s ^= 1;
    indices |= uint64_t(s) << (16 + 3 * i);
  }
  *block = (*block & 0xFFFFFFFFull) | indices;
}
