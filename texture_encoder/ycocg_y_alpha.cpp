// Luma half of a YCoCg-DXT5 block: a DXT5 alpha block over Y in 0..1, always
// in the 8-value mode (upper end first).
#include <xmmintrin.h>

#include <cstring>

#include "texture_encoder/alpha_block.h"
#include "texture_encoder/ycocg_block.h"

namespace {

// Sum over the 16 values, in order, of the smallest squared distance to the
// 8-level palette spanned by a and b. Four values at a time, each lane doing
// what the scalar code does: std::min(best, d) is d < best ? d : best, which
// is minps(d, best).
float y_palette_error(const float y[16], float a, float b) {
  constexpr float seventh = 1.0f / 7.0f;
  const float levels[8] = {a,
                           b,
                           (6.0f * a + b) * seventh,
                           (5.0f * a + 2.0f * b) * seventh,
                           (4.0f * a + 3.0f * b) * seventh,
                           (3.0f * a + 4.0f * b) * seventh,
                           (2.0f * a + 5.0f * b) * seventh,
                           (a + 6.0f * b) * seventh};
  alignas(16) float smallest[16];
  for (int i = 0; i < 16; i += 4) {
    const __m128 v = _mm_loadu_ps(y + i);
    __m128 d = v - _mm_set1_ps(levels[0]);
    __m128 best = d * d;
    for (int k = 1; k < 8; ++k) {
      d = v - _mm_set1_ps(levels[k]);
      best = _mm_min_ps(d * d, best);
    }
    _mm_store_ps(smallest + i, best);
  }
  float error = 0.0f;
  for (float s : smallest) error += s;
  return error;
}

// The endpoint word of the block's stored range, then its 16 indices.
void write_y_half(uint8_t* out8, const Ycocg_Block& block, uint16_t endpoints) {
  uint64_t word = endpoints;
  alpha_indices_float(block.y, block.y_min, block.y_max, &word);
  std::memcpy(out8, &word, 8);
}

}  // namespace

void ycocg_encode_y_alpha(uint8_t* out8, Ycocg_Block* block) {
  const uint16_t endpoints = alpha_inset_pack(&block->y_min, &block->y_max);
  write_y_half(out8, *block, endpoints);
}

void ycocg_encode_y_alpha_hq(uint8_t* out8, Ycocg_Block* block) {
  float lo = block->y_min, hi = block->y_max;
  alpha_inset_range(&lo, &hi);
  if (!(y_palette_error(block->y, lo, hi) >
        y_palette_error(block->y, block->y_min, block->y_max))) {
    block->y_min = lo;
    block->y_max = hi;
  }
  write_y_half(out8, *block, alpha_endpoint_word(block->y_min, block->y_max));
}
