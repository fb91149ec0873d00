// The partition sweeps of the cluster fit on 256-bit vectors, written once for
// both instruction-set levels: Fma = false is the plain AVX arithmetic (every
// product and sum rounded, grid values rounded half-to-even), Fma = true fuses
// products into sums and snaps by truncating a fused v * scale + 0.5.
//
// A step scores eight candidates of a list, one per lane (their sums are
// transposed to one vector per channel), so one division serves all eight;
// each lane does exactly the operations of a lone candidate. Only the first of
// the step's smallest errors is offered to the best, which gives the same
// result as offering each candidate in list order on a strictly smaller error.
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

namespace {

// Byte offsets of one candidate into its count's sums: whole of cluster 0,
// third of clusters 1 and 2 (their two-thirds lie 16 bytes on), whole of
// cluster 3, and the middle weight of clusters 1 and 2 together.
struct Sweep_Offsets {
  uint64_t whole0, third1, third2, whole3, middle;
};

// The general offsets of partition (i1, i2, i3) of n colours, as the tables
// hold them; empty clusters read the all-zero record.
constexpr Sweep_Offsets sweep_offsets_of(uint32_t n, uint32_t i1, uint32_t i2, uint32_t i3) {
  return {cluster_run_offset(n, 0, i1), cluster_run_offset(n, i1, i2) + 16,
          cluster_run_offset(n, i2, i3) + 16, cluster_run_offset(n, i3, n),
          cluster_middle_weight_offset(n, i1, i3)};
}

inline const float* sweep_sums_at(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return reinterpret_cast<const float*>(reinterpret_cast<const char*>(sums->data) + byte_offset);
}

// A-side sums (lane 3: sum of a^2 w) of one candidate: the middle clusters
// first, the outer one last.
inline __m128 sweep_alpha(const Cluster_Partition_Sums* sums, const Sweep_Offsets& o) {
  return _mm_add_ps(_mm_add_ps(_mm_load_ps(sweep_sums_at(sums, o.third1 + 16)),
                               _mm_load_ps(sweep_sums_at(sums, o.third2))),
                    _mm_load_ps(sweep_sums_at(sums, o.whole0)));
}

// B-side sums (lane 3: sum of b^2 w).
inline __m128 sweep_beta(const Cluster_Partition_Sums* sums, const Sweep_Offsets& o) {
  return _mm_add_ps(_mm_add_ps(_mm_load_ps(sweep_sums_at(sums, o.third1)),
                               _mm_load_ps(sweep_sums_at(sums, o.third2 + 16))),
                    _mm_load_ps(sweep_sums_at(sums, o.whole3)));
}

// Snapped endpoints (R, G, B) and errors of eight candidates, one per lane.
struct Scored_Lanes {
  __m256 a[3], b[3], error;
};

// v in [0, 1] to the nearest level of a grid of `levels` steps.
template <bool Fma>
[[gnu::always_inline]] inline __m256 sweep_snap(__m256 v, float levels, uint32_t step_bits) {
  // The nearest floats to 1/31 and 1/63: 31 and 63 steps give exactly 1.0.
  const __m256 scale = _mm256_set1_ps(levels),
               step = _mm256_castsi256_ps(_mm256_set1_epi32(int(step_bits)));
  if constexpr (Fma) {
    const __m256 level = _mm256_fmadd_ps(v, scale, _mm256_set1_ps(0.5f));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvttps_epi32(level)), step);
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
[[gnu::always_inline]] inline Scored_Lanes sweep_score(const __m256 (&alpha)[4],
                                                       const __m256 (&beta)[4], __m256 cross) {
  constexpr float levels[3] = {31.0f, 63.0f, 31.0f};
  constexpr uint32_t step_bits[3] = {0x3D042108u, 0x3C820821u, 0x3D042108u};
  const __m256 aa = alpha[3], bb = beta[3];
  const __m256 det = Fma ? _mm256_fnmadd_ps(cross, cross, _mm256_mul_ps(aa, bb))
                         : _mm256_sub_ps(_mm256_mul_ps(aa, bb), _mm256_mul_ps(cross, cross));
  // A true division: a reciprocal estimate would move endpoints across grid steps.
  const __m256 r = _mm256_div_ps(_mm256_set1_ps(1.0f), det);
  Scored_Lanes s;
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
    s.a[l] = a;
    s.b[l] = b;
    s.error = l == 0 ? e : _mm256_add_ps(s.error, e);  // (red + green) + blue
  }
  return s;
}

// Eight rows of four floats (one per candidate) to four channel vectors.
[[gnu::always_inline]] inline void sweep_transpose(const __m128 (&rows)[8], __m256 (&columns)[4]) {
  const __m256 r0 = _mm256_set_m128(rows[4], rows[0]), r1 = _mm256_set_m128(rows[5], rows[1]);
  const __m256 r2 = _mm256_set_m128(rows[6], rows[2]), r3 = _mm256_set_m128(rows[7], rows[3]);
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
  const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
  columns[0] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  columns[1] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  columns[2] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  columns[3] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Scores the candidates o[0 .. active - 1] (in list order, codes 3 bytes each;
// spare lanes repeat candidate 0 and are never offered) and writes the first
// of the smallest errors to the best if it is strictly smaller, with its
// endpoints (fourth lane 0) and code.
template <bool Fma, typename Offsets_Of>
[[gnu::always_inline]] inline void sweep_step(Cluster_Fit_Best* best, Partition_Code* code,
                                              const Cluster_Partition_Sums* sums,
                                              Offsets_Of offsets_of, int active,
                                              const uint8_t* codes) {
  __m128 alpha_rows[8], beta_rows[8];
  float middle[8];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) {
    const Sweep_Offsets o = offsets_of(j < active ? j : 0);
    alpha_rows[j] = sweep_alpha(sums, o);
    beta_rows[j] = sweep_beta(sums, o);
    middle[j] = *sweep_sums_at(sums, o.middle);
  }
  __m256 alpha[4], beta[4];
  sweep_transpose(alpha_rows, alpha);
  sweep_transpose(beta_rows, beta);
  const Scored_Lanes s =
      sweep_score<Fma>(alpha, beta,
                       _mm256_setr_ps(middle[0], middle[1], middle[2], middle[3], middle[4],
                                      middle[5], middle[6], middle[7]));
  // The best only falls, so a step with no error below it changes nothing:
  // most steps end at this test.
  const __m256 below = _mm256_cmp_ps(s.error, _mm256_set1_ps(best->error), _CMP_LT_OQ);
  if ((_mm256_movemask_ps(below) & ((1 << active) - 1)) == 0) return;
  alignas(32) float lanes[7][8];
  _mm256_store_ps(lanes[6], s.error);
  int winner = 0;
  for (int k = 1; k < active; ++k)
    if (lanes[6][winner] > lanes[6][k]) winner = k;
  for (int l = 0; l < 3; ++l) {
    _mm256_store_ps(lanes[l], s.a[l]);
    _mm256_store_ps(lanes[3 + l], s.b[l]);
  }
  _mm_store_ps(best->a, _mm_setr_ps(lanes[0][winner], lanes[1][winner], lanes[2][winner], 0.0f));
  _mm_store_ps(best->b, _mm_setr_ps(lanes[3][winner], lanes[4][winner], lanes[5][winner], 0.0f));
  best->error = lanes[6][winner];
  code->i1 = codes[3 * winner];
  code->i2 = codes[3 * winner + 1];
  code->i3 = codes[3 * winner + 2];
}

// Candidates 0 .. count - 1 of a list, eight per step; offsets_of(i) gives
// candidate i's offsets.
template <bool Fma, typename Offsets_Of>
inline void sweep_list(Cluster_Fit_Best* best, Partition_Code* code,
                       const Cluster_Partition_Sums* sums, const uint8_t* codes, uint32_t count,
                       Offsets_Of offsets_of) {
  for (uint32_t first = 0; first < count; first += 8, codes += 24) {
    const int active = count - first < 8 ? int(count - first) : 8;
    sweep_step<Fma>(
        best, code, sums, [&](int j) { return offsets_of(first + uint32_t(j)); }, active, codes);
  }
}

// One shape group of a compact list: entries hold only the shape's clusters,
// in cluster order, then the middle weight.
template <bool Fma, Cluster_Shape Shape>
inline void sweep_compact_group(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums, const uint64_t* entries,
                                const uint8_t* codes, uint32_t count) {
  constexpr uint32_t stride = shape_clusters(Shape) + 1;
  sweep_list<Fma>(best, code, sums, codes, count, [entries](uint32_t i) {
    const uint64_t* e = entries + size_t(stride) * i;
    // Entry place of cluster k: the clusters of the shape below it.
    constexpr auto place = [](int k) { return std::popcount(uint32_t(Shape) & ((1u << k) - 1)); };
    const auto cluster = [e, place](int k, uint64_t empty) {
      return Shape & (1 << k) ? e[place(k)] : empty;
    };
    return Sweep_Offsets{cluster(0, 0), cluster(1, 16), cluster(2, 16), cluster(3, 0),
                         e[stride - 1]};
  });
}

// Stage D: the four three-cluster shape groups of N colours in list order.
template <uint32_t N, bool Fma>
inline void sweep_four_levels(Cluster_Fit_Best* best, Partition_Code* code,
                              const Cluster_Partition_Sums* sums, const uint64_t* entries,
                              const uint8_t* codes) {
  constexpr auto& sizes = four_level_group_sizes[N];
  [&]<size_t... G>(std::index_sequence<G...>) {
    ((sweep_compact_group<Fma, four_level_shapes[G]>(best, code, sums, entries, codes, sizes[G]),
      entries += 4 * sizes[G], codes += 3 * sizes[G]),
     ...);
  }(std::make_index_sequence<4>{});
}

// Stage E: the general record list of N colours.
template <uint32_t N, bool Fma>
inline void sweep_records(Cluster_Fit_Best* best, Partition_Code* code,
                          const Cluster_Partition_Sums* sums, const uint64_t* entries,
                          const uint8_t* codes) {
  static_assert(record_counts[N] % 4 == 0);
  sweep_list<Fma>(best, code, sums, codes, record_counts[N], [entries](uint32_t i) {
    const uint64_t* e = entries + 5 * size_t(i);
    return Sweep_Offsets{e[0], e[1], e[2], e[3], e[4]};
  });
}

// Stage F of two or three colours: its two partitions are fixed by the count.
template <uint32_t N, bool Fma>
inline void sweep_last_pair(Cluster_Fit_Best* best, Partition_Code* code,
                            const Cluster_Partition_Sums* sums, const uint8_t* codes) {
  static_assert(N == 2 || N == 3);
  // Static, so that the capture-less lambda below may name them.
  static constexpr Sweep_Offsets p =
      N == 2 ? sweep_offsets_of(2, 0, 1, 2) : sweep_offsets_of(3, 1, 3, 3);
  static constexpr Sweep_Offsets q =
      N == 2 ? sweep_offsets_of(2, 1, 1, 1) : sweep_offsets_of(3, 2, 3, 3);
  sweep_step<Fma>(
      best, code, sums, [](int j) { return j == 1 ? q : p; }, 2, codes);
}

}  // namespace

// Defines the stage-D and stage-E kernels of one instruction-set level
// (cluster_sweep_vector.h) and instantiates them for their counts.
#define HAP_SWEEP_SIGNATURE                                                        \
  Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums, \
      const uint64_t* entries, const uint8_t* codes
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
    sweep_four_levels<N, fma>(best, code, sums, entries, codes);                             \
  }                                                                                          \
  template <uint32_t N>                                                                      \
  void cluster_fit_records_n_##level(HAP_SWEEP_SIGNATURE) {                                  \
    sweep_records<N, fma>(best, code, sums, entries, codes);                                 \
  }                                                                                          \
  HAP_SWEEP_COUNTS_5_TO_15(cluster_fit_four_levels_n_##level)                                \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 2)                                    \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 3)                                    \
  HAP_SWEEP_INSTANTIATE(cluster_fit_records_n_##level, 4)                                    \
  HAP_SWEEP_COUNTS_5_TO_15(cluster_fit_records_n_##level)
