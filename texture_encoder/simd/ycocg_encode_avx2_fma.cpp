// YCoCg-DXT5 halves with fused multiply-adds: the quality-1 luma and chroma
// encoders, the flat-chroma encoder, and the quality-2/3 luma encoder that
// keeps the better of the raw and the inset range.
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

void ycocg_encode_y_alpha_avx2_fma(uint8_t* out8, Ycocg_Block* block) {
  encode_y_alpha_q1<true>(out8, block);
}

void ycocg_encode_cocg_avx2_fma(uint8_t* out8, Cocg_Block* block) {
  encode_cocg_q1<true>(out8, block);
}

void ycocg_encode_cocg_flat_avx2_fma(uint8_t* out8, Cocg_Block* block) {
  const Quantized_Cocg q = quantize_cocg_box<true>(block->cocg_box);
  const float co = block->co[0], cg = block->cg[0];
  float d[4];
  for (int k = 0; k < 4; ++k) {
    const float dc = co - q.co[k], dg = cg - q.cg[k];
    d[k] = dc * dc + dg * dg;
  }
  ycocg::write_colour_half(out8, q.colour0, q.colour1,
                           cocg_index_of(d[0], d[1], d[2], d[3]) * 0x55555555u);
}

namespace {

// The eight palette values of the range (lo, hi), upper end first.
struct Y_Palette {
  float value[8];
  Y_Palette(float lo, float hi) {
    constexpr float seventh = 1.0f / 7.0f;
    value[0] = hi;
    value[1] = lo;
    value[2] = std::fma(6.0f, hi, lo) * seventh;
    value[3] = std::fma(6.0f, lo, hi) * seventh;
    for (int k = 5; k >= 2; --k) value[9 - k] = (float(k) * hi + float(7 - k) * lo) * seventh;
  }
};

// Sum over the 16 values of the smallest squared distance to the palette:
// s_j = (e_(4+j) + e_j) + (e_(12+j) + e_(8+j)), then (s1 + s3) + (s0 + s2).
float y_palette_error(const float y[16], const Y_Palette& p) {
  __m256 smallest[2];
  for (int h = 0; h < 2; ++h) {
    const __m256 v = _mm256_load_ps(y + 8 * h);
    __m256 best = _mm256_set1_ps(INFINITY);
    for (float level : p.value) {
      const __m256 d = _mm256_sub_ps(v, splat(level));
      best = _mm256_min_ps(best, _mm256_mul_ps(d, d));
    }
    smallest[h] = best;
  }
  const __m128 s = _mm_add_ps(
      _mm_add_ps(_mm256_extractf128_ps(smallest[0], 1), _mm256_castps256_ps128(smallest[0])),
      _mm_add_ps(_mm256_extractf128_ps(smallest[1], 1), _mm256_castps256_ps128(smallest[1])));
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, s);
  return (lanes[1] + lanes[3]) + (lanes[0] + lanes[2]);
}

}  // namespace

void ycocg_encode_y_alpha_hq_avx2_fma(uint8_t* out8, Ycocg_Block* block) {
  float lo = block->y_min, hi = block->y_max;
  const float inset = std::fma(hi - lo, 1.0f / 32.0f, -half_code);
  const float inset_lo = std::fmax(std::fmin(lo + inset, 1.0f), 0.0f);
  const float inset_hi = std::fmax(std::fmin(hi - inset, 1.0f), 0.0f);
  const Y_Palette raw(lo, hi), inset_pair(inset_lo, inset_hi);
  const bool take_inset = y_palette_error(block->y, inset_pair) <= y_palette_error(block->y, raw);
  const Y_Palette& p = take_inset ? inset_pair : raw;
  if (take_inset) {
    lo = inset_lo;
    hi = inset_hi;
  }
  // Thresholds: every palette value but the upper end, plus half a step, in
  // ascending order.
  const float half = (hi - lo) * (1.0f / 14.0f);
  const float thresholds[7] = {p.value[1] + half, p.value[3] + half, p.value[7] + half,
                               p.value[6] + half, p.value[5] + half, p.value[4] + half,
                               p.value[2] + half};
  write_y_half(out8, block->y, byte_code<true>(hi), byte_code<true>(lo), thresholds);
}
