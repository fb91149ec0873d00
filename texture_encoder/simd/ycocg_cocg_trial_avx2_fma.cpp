// Flat-chroma endpoint trials of quality 2: the six high endpoints (a1 + d,
// b1 + d), d = 0..5, in eight lanes (the last two repeat d = 5), judged by
// pixel 0; the lowest lane of the smallest error wins, so the smallest step
// wins a tie, as in the scalar trial's strict in-order replacement.
#include <bit>

#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

namespace {

template <int Scale>
void endpoint_trial(Cocg_Block* block, float* best_error, const Cocg_Candidate* candidate,
                    float* best_distances, Cocg_Candidate* best) {
  const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 5, 5);
  const __m256i high_co_codes = _mm256_min_epi32(
      _mm256_add_epi32(_mm256_set1_epi32(candidate->a1), steps), _mm256_set1_epi32(31));
  const __m256i high_cg_codes = _mm256_min_epi32(
      _mm256_add_epi32(_mm256_set1_epi32(candidate->b1), steps), _mm256_set1_epi32(63));
  const __m256 high_co = decode_search_codes<Scale>(high_co_codes, 1.0f / 31.0f);
  const __m256 high_cg = decode_search_codes<Scale>(high_cg_codes, 1.0f / 63.0f);
  const __m256 low_co = splat(decode_search_code<Scale>(candidate->a0, 1.0f / 31.0f));
  const __m256 low_cg = splat(decode_search_code<Scale>(candidate->b0, 1.0f / 63.0f));
  const __m256 span_co = _mm256_sub_ps(low_co, high_co), span_cg = _mm256_sub_ps(low_cg, high_cg);
  const __m256 third = splat(ycocg::one_third), two_thirds = splat(ycocg::two_thirds);

  const __m256 co = splat(block->co[0]), cg = splat(block->cg[0]);
  const __m256 d[4] = {cocg_distances(co, cg, high_co, high_cg),
                       cocg_distances(co, cg, low_co, low_cg),
                       cocg_distances(co, cg, _mm256_fmadd_ps(span_co, third, high_co),
                                      _mm256_fmadd_ps(span_cg, third, high_cg)),
                       cocg_distances(co, cg, _mm256_fmadd_ps(span_co, two_thirds, high_co),
                                      _mm256_fmadd_ps(span_cg, two_thirds, high_cg))};
  const __m256 nearest = _mm256_min_ps(_mm256_min_ps(d[0], d[1]), _mm256_min_ps(d[2], d[3]));
  const __m256 error = _mm256_mul_ps(nearest, nearest);
  const float smallest = horizontal_extreme<true>(error, error);
  if (!(smallest < *best_error)) return;

  const int lane = std::countr_zero(
      unsigned(_mm256_movemask_ps(_mm256_cmp_ps(error, splat(smallest), _CMP_EQ_OQ))));
  *best_error = smallest;
  alignas(32) float lanes[8];
  for (int k = 0; k < 4; ++k) {
    _mm256_store_ps(lanes, d[k]);
    best_distances[k] = lanes[lane];
  }
  alignas(32) int32_t codes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(codes), high_co_codes);
  const int32_t a1 = codes[lane];
  _mm256_store_si256(reinterpret_cast<__m256i*>(codes), high_cg_codes);
  *best = {candidate->a0, candidate->b0, a1, codes[lane]};
}

}  // namespace

const Cocg_Endpoint_Trial_Fn cocg_endpoint_trial_s0_q2_avx2_fma = endpoint_trial<1>;
const Cocg_Endpoint_Trial_Fn cocg_endpoint_trial_s1_q2_avx2_fma = endpoint_trial<2>;
const Cocg_Endpoint_Trial_Fn cocg_endpoint_trial_s2_q2_avx2_fma = endpoint_trial<4>;
