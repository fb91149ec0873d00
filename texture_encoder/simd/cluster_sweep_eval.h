// The partition sweeps of the cluster fit on 256-bit vectors, written once for
// both instruction-set levels: Fma = false is the plain AVX arithmetic (every
// product and sum rounded, grid values rounded half-to-even), Fma = true fuses
// products into sums and snaps by truncating a fused v * scale + 0.5.
//
// A step scores eight candidates of a list, one per lane (cluster_plan_walk.h
// puts one channel of all eight in each vector), so one division serves all
// eight; each lane does exactly the operations of a lone candidate.
//
// Include only from files compiled for AVX (and FMA when Fma is used). The
// anonymous namespace keeps the two levels' copies apart at link time.
#pragma once
#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <utility>

#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/simd/cluster_plan_walk.h"

namespace {

// v in [0, 1] to the nearest level of a grid of `levels` steps.
template <bool Fma>
[[gnu::always_inline]] inline __m256 sweep_snap(__m256 v, float levels, uint32_t step_bits) {
  // The nearest floats to 1/31 and 1/63: 31 and 63 steps give exactly 1.0.
  const __m256 scale = _mm256_set1_ps(levels),
               step = _mm256_castsi256_ps(_mm256_set1_epi32(int(step_bits)));
  if constexpr (Fma) {
    // Truncated as a conversion to integer and back would, in one instruction:
    // the clamped levels lie far inside the integer range.
    const __m256 level = _mm256_fmadd_ps(v, scale, _mm256_set1_ps(0.5f));
    return _mm256_mul_ps(_mm256_round_ps(level, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC), step);
  } else {
    const __m256 level =
        _mm256_round_ps(_mm256_mul_ps(v, scale), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return _mm256_mul_ps(level, step);
  }
}

[[gnu::always_inline]] inline __m256 sweep_clamp(__m256 v) {
  return _mm256_max_ps(_mm256_min_ps(v, _mm256_set1_ps(1.0f)), _mm256_setzero_ps());
}

// Least-squares endpoints of eight candidates from their sums alpha and beta
// (channel-major: alpha[l] holds channel l of every candidate, l = 3 the
// squared weights) and middle weights, clamped, snapped and scored; the error
// leaves out the block constant sum(w |c|^2).
template <bool Fma>
[[gnu::always_inline]] inline Lane_Scores sweep_score(const __m256 (&alpha)[4],
                                                       const __m256 (&beta)[4], __m256 cross) {
  constexpr float levels[3] = {31.0f, 63.0f, 31.0f};
  constexpr uint32_t step_bits[3] = {0x3D042108u, 0x3C820821u, 0x3D042108u};
  const __m256 aa = alpha[3], bb = beta[3];
  const __m256 det = Fma ? _mm256_fnmadd_ps(cross, cross, _mm256_mul_ps(aa, bb))
                         : _mm256_sub_ps(_mm256_mul_ps(aa, bb), _mm256_mul_ps(cross, cross));
  // A true division: a reciprocal estimate would move endpoints across grid steps.
  const __m256 r = _mm256_div_ps(_mm256_set1_ps(1.0f), det);
  Lane_Scores s;
#pragma GCC unroll 3
  for (int l = 0; l < 3; ++l) {
    __m256 numerator_a, numerator_b;
    if constexpr (Fma) {
      numerator_a = _mm256_fnmadd_ps(cross, beta[l], _mm256_mul_ps(bb, alpha[l]));
      numerator_b = _mm256_fnmadd_ps(cross, alpha[l], _mm256_mul_ps(aa, beta[l]));
    } else {
      numerator_a = _mm256_sub_ps(_mm256_mul_ps(bb, alpha[l]), _mm256_mul_ps(cross, beta[l]));
      numerator_b = _mm256_sub_ps(_mm256_mul_ps(aa, beta[l]), _mm256_mul_ps(cross, alpha[l]));
    }
    const __m256 a =
        sweep_snap<Fma>(sweep_clamp(_mm256_mul_ps(numerator_a, r)), levels[l], step_bits[l]);
    const __m256 b =
        sweep_snap<Fma>(sweep_clamp(_mm256_mul_ps(numerator_b, r)), levels[l], step_bits[l]);
    __m256 t = _mm256_mul_ps(_mm256_mul_ps(a, b), cross), e;
    if constexpr (Fma) {
      t = _mm256_fnmadd_ps(a, alpha[l], t);
      t = _mm256_fnmadd_ps(b, beta[l], t);
      const __m256 u =
          _mm256_fmadd_ps(_mm256_mul_ps(a, a), aa, _mm256_mul_ps(_mm256_mul_ps(b, b), bb));
      e = _mm256_fmadd_ps(_mm256_set1_ps(2.0f), t, u);
    } else {
      t = _mm256_sub_ps(t, _mm256_mul_ps(a, alpha[l]));
      const __m256 u = _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(b, b), bb),
                                     _mm256_mul_ps(_mm256_mul_ps(a, a), aa));
      t = _mm256_sub_ps(t, _mm256_mul_ps(b, beta[l]));
      e = _mm256_add_ps(_mm256_add_ps(t, t), u);
    }
    s.start[l] = a;
    s.end[l] = b;
    s.error = l == 0 ? e : _mm256_add_ps(s.error, e);  // (red + green) + blue
  }
  return s;
}

// The arithmetic of the level for the plan walk; the sweeps' counts divide
// their own determinants.
template <bool Fma>
struct Sweep_Solve {
  [[gnu::always_inline]] Lane_Scores operator()(const __m256 (&alpha)[4], const __m256 (&beta)[4],
                                                __m256 cross, const float*) const {
    return sweep_score<Fma>(alpha, beta, cross);
  }
};

// Every candidate of the stage's list of N colours, in order.
template <bool Fma>
inline void sweep_list(Cluster_Fit_Best* best, Partition_Code* code,
                       const Cluster_Partition_Sums* sums, const Partition_List& list,
                       const uint8_t* codes) {
  walk_plan(best, code, sums, list.plan, codes, Sweep_Solve<Fma>{});
}

}  // namespace

// Defines the stage-D and stage-E kernels of one instruction-set level
// (cluster_sweep_vector.h) and instantiates them for their counts.
#define HAP_SWEEP_SIGNATURE                                                        \
  Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums, \
      const uint64_t*, const uint8_t* codes
#define HAP_SWEEP_INSTANTIATE(kernel, n) template Cluster_Fit_Stage_Kernel kernel<n>;
#define HAP_SWEEP_COUNTS_5_TO_15(kernel)                                                     \
  HAP_SWEEP_INSTANTIATE(kernel, 5) HAP_SWEEP_INSTANTIATE(kernel, 6)                          \
  HAP_SWEEP_INSTANTIATE(kernel, 7) HAP_SWEEP_INSTANTIATE(kernel, 8)                          \
  HAP_SWEEP_INSTANTIATE(kernel, 9) HAP_SWEEP_INSTANTIATE(kernel, 10)                         \
  HAP_SWEEP_INSTANTIATE(kernel, 11) HAP_SWEEP_INSTANTIATE(kernel, 12)                        \
  HAP_SWEEP_INSTANTIATE(kernel, 13) HAP_SWEEP_INSTANTIATE(kernel, 14)                        \
  HAP_SWEEP_INSTANTIATE(kernel, 15)
#define HAP_CLUSTER_SWEEP_KERNELS(level, fma)                                                \
  template <uint32_t N>                                                                      \
  void cluster_fit_four_levels_n_##level(HAP_SWEEP_SIGNATURE) {                              \
    sweep_list<fma>(best, code, sums, cluster_fit_lists(N).four_levels, codes);             \
  }                                                                                          \
  template <uint32_t N>                                                                      \
  void cluster_fit_records_n_##level(HAP_SWEEP_SIGNATURE) {                                  \
    sweep_list<fma>(best, code, sums, cluster_fit_lists(N).records, codes);                 \
  }                                                                                          \
  HAP_SWEEP_COUNTS_5_TO_15(cluster_fit_four_levels_n_##level)                                \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 2)                                    \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 3)                                    \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 4)                                    \
  HAP_SWEEP_COUNTS_5_TO_15(cluster_fit_records_n_##level)
