// AVX+FMA twins of the cluster-fit stages B, C and F and of the 16-colour set:
// grid levels are trunc(x * grid + 0.5) with one rounding (halves up), and the
// products named below are fused into the sums that take them.
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/cluster_fit_vector_stages.h"

namespace {

struct Fma_Level {
  static __m256 snap(__m256 x, __m256 levels, __m256 fraction) {
    // Truncated as a conversion to integer and back would, in one instruction:
    // the clamped levels lie far inside the integer range.
    const __m256 level =
        _mm256_round_ps(_mm256_fmadd_ps(clamp_unit(x), levels, _mm256_set1_ps(0.5f)),
                        _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    return _mm256_mul_ps(level, fraction);
  }
  // p x rounded, then y c subtracted in one rounding.
  static __m256 diff_of_products(__m256 p, __m256 x, __m256 y, __m256 c) {
    return _mm256_fnmadd_ps(y, c, _mm256_mul_ps(p, x));
  }
  static __m256 determinant(__m256 alpha2, __m256 beta2, __m256 cross) {
    return diff_of_products(beta2, alpha2, cross, cross);
  }
  static __m256 partition_error(__m256 q0, __m256 q1, __m256 x, __m256 y, __m256 cross,
                                __m256 alpha2, __m256 beta2) {
    const __m256 t = _mm256_fnmadd_ps(
        q1, y, _mm256_fnmadd_ps(q0, x, _mm256_mul_ps(_mm256_mul_ps(q0, q1), cross)));
    const __m256 q =
        _mm256_fmadd_ps(alpha2, _mm256_mul_ps(q0, q0), _mm256_mul_ps(beta2, _mm256_mul_ps(q1, q1)));
    return _mm256_fmadd_ps(t, _mm256_set1_ps(2.0f), q);
  }
  static __m256 mean_pair_error(__m256 a, __m256 b, __m256 x, __m256 y, __m256 wa, __m256 wb) {
    const __m256 l = _mm256_fnmadd_ps(b, y, _mm256_fnmadd_ps(a, x, _mm256_setzero_ps()));
    const __m256 p =
        _mm256_fmadd_ps(a, _mm256_mul_ps(wa, a), _mm256_mul_ps(_mm256_mul_ps(wb, b), b));
    return _mm256_fmadd_ps(_mm256_set1_ps(2.0f), l, p);
  }
  // Sixteen colours fuse only the end side's product into the subtraction.
  static __m256 mean_pair_error_n16(__m256 a, __m256 b, __m256 x, __m256 y, __m256 wa, __m256 wb) {
    const __m256 l =
        _mm256_fnmadd_ps(y, b, _mm256_xor_ps(_mm256_mul_ps(x, a), _mm256_set1_ps(-0.0f)));
    const __m256 p = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(wb, b), b),
                                   _mm256_mul_ps(_mm256_mul_ps(wa, a), a));
    return _mm256_add_ps(_mm256_add_ps(l, l), p);
  }
};

}  // namespace

HAP_CLUSTER_FIT_VECTOR_LEVEL(avx_fma, Fma_Level)
HAP_CFV_INSTANTIATE_FINAL(avx_fma, 2)
HAP_CFV_INSTANTIATE_FINAL(avx_fma, 7)
HAP_CFV_INSTANTIATE_FINAL(avx_fma, 8)
HAP_CFV_INSTANTIATE_FINAL(avx_fma, 11)
HAP_CFV_INSTANTIATE_FINAL(avx_fma, 15)
