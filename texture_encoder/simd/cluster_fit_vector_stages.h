// The cluster-fit stage walks shared by the AVX and the AVX+FMA twins. Only
// the few steps where the two levels round differently come from the Level
// policy of the including file, all lane by lane:
//   snap(x, levels, fraction)     clamp to [0, 1], level on the grid, times the fraction
//   diff_of_products(p, x, y, c)  p x - y c
//   determinant(a2, b2, ab)       a2 b2 - ab ab
//   partition_error(q0, q1, x, y, ab, a2, b2), mean_pair_error(a, b, x, y, wa, wb),
//   mean_pair_error_n16(...)      one channel's error terms
// Included only by the *_avx.cpp and *_avx_fma.cpp files: everything here sits
// in an unnamed namespace, so that each file keeps the copy built with its own
// instruction set.
//
// Eight candidates per step, one per lane (stages C to F walk their list's
// plan, cluster_plan_walk.h; stage B transposes its splits), so that each
// vector holds one channel of all eight. Every lane performs exactly the
// operations of a lone candidate, so the layout changes no result.
#pragma once
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>

#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/simd/cluster_plan_walk.h"

namespace {

constexpr int Step = 8;

// Grid levels of R, G, B and the single-precision 1/31 and 1/63 that turn a
// level back into an endpoint.
constexpr float channel_levels[3] = {31.0f, 63.0f, 31.0f};
constexpr float channel_fractions[3] = {std::bit_cast<float>(0x3D042108u),
                                        std::bit_cast<float>(0x3C820821u),
                                        std::bit_cast<float>(0x3D042108u)};

inline __m256 clamp_unit(__m256 x) {
  return _mm256_min_ps(_mm256_max_ps(x, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

// ---- Least-squares partitions (stages C to F) ------------------------------------

// Solves, snaps and scores eight candidates from their transposed sides, cross
// weights and 1 / determinants (tabled for 16 colours, else divided here).
template <class Level>
struct Solve_Partitions {
  [[gnu::always_inline]] Lane_Scores operator()(const __m256 (&x)[4], const __m256 (&y)[4],
                                                __m256 cross, const float* reciprocals) const {
    const __m256 alpha2 = x[3], beta2 = y[3];
    const __m256 factor =
        reciprocals ? _mm256_loadu_ps(reciprocals)
                    : _mm256_div_ps(_mm256_set1_ps(1.0f), Level::determinant(alpha2, beta2, cross));
    Lane_Scores s;
#pragma GCC unroll 3
    for (int l = 0; l < 3; ++l) {
      const __m256 levels = _mm256_set1_ps(channel_levels[l]);
      const __m256 fraction = _mm256_set1_ps(channel_fractions[l]);
      const __m256 raw_start =
          _mm256_mul_ps(Level::diff_of_products(beta2, x[l], y[l], cross), factor);
      const __m256 raw_end =
          _mm256_mul_ps(Level::diff_of_products(alpha2, y[l], x[l], cross), factor);
      s.start[l] = Level::snap(raw_start, levels, fraction);
      s.end[l] = Level::snap(raw_end, levels, fraction);
      const __m256 e =
          Level::partition_error(s.start[l], s.end[l], x[l], y[l], cross, alpha2, beta2);
      s.error = l == 0 ? e : _mm256_add_ps(s.error, e);
    }
    return s;
  }
};

// Every candidate of the stage's list of N colours, in order.
template <class Level>
void evaluate_list(Cluster_Fit_Best* best, Partition_Code* code,
                   const Cluster_Partition_Sums* sums, const Partition_List& list,
                   const uint8_t* codes) {
  walk_plan(best, code, sums, list.plan, codes, Solve_Partitions<Level>{});
}

// ---- Splits between the two endpoints (stage B) -----------------------------------

// The whole records of both sides of each split and the means to snap, in
// split order, with each split's k.
struct Split_Trials {
  __m128 a_side[15], b_side[15], a_mean[15], b_mean[15];
  uint8_t k[15];
  uint32_t count;
};

template <class Level, bool Sixteen>
void evaluate_splits(Cluster_Fit_Best* best, Partition_Code* code, const Split_Trials& t) {
  for (uint32_t first = 0; first < t.count; first += Step) {
    const int active = int(std::min<uint32_t>(Step, t.count - first));
    __m128 rows[4][Step];
    uint8_t codes[3 * Step];
#pragma GCC unroll 8
    for (int j = 0; j < Step; ++j) {
      const uint32_t i = first + uint32_t(j < active ? j : 0);
      rows[0][j] = t.a_side[i];
      rows[1][j] = t.b_side[i];
      rows[2][j] = t.a_mean[i];
      rows[3][j] = t.b_mean[i];
      std::fill_n(codes + 3 * j, 3, t.k[i]);
    }
    __m256 x[4], y[4], mean_x[4], mean_y[4];
    transpose_rows(rows[0], x);
    transpose_rows(rows[1], y);
    transpose_rows(rows[2], mean_x);
    transpose_rows(rows[3], mean_y);
    Lane_Scores s;
#pragma GCC unroll 3
    for (int l = 0; l < 3; ++l) {
      const __m256 levels = _mm256_set1_ps(channel_levels[l]);
      const __m256 fraction = _mm256_set1_ps(channel_fractions[l]);
      s.start[l] = Level::snap(mean_x[l], levels, fraction);
      s.end[l] = Level::snap(mean_y[l], levels, fraction);
      const __m256 e =
          Sixteen ? Level::mean_pair_error_n16(s.start[l], s.end[l], x[l], y[l], x[3], y[3])
                  : Level::mean_pair_error(s.start[l], s.end[l], x[l], y[l], x[3], y[3]);
      s.error = l == 0 ? e : _mm256_add_ps(s.error, e);
    }
    offer_lanes(best, code, s, active, codes);
  }
}

// Splits k = 1 .. N - 1: means are the sums divided by their weight lane.
template <class Level, uint32_t N>
void mean_pairs(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums) {
  Split_Trials t;
  t.count = N - 1;
  for (uint32_t k = 1; k < N; ++k) {
    const uint32_t i = k - 1;
    t.a_side[i] = record(sums, cluster_run_offset(N, 0, k));
    t.b_side[i] = record(sums, cluster_run_offset(N, k, N));
    t.a_mean[i] = _mm_div_ps(t.a_side[i], _mm_permute_ps(t.a_side[i], 0xFF));
    t.b_mean[i] = _mm_div_ps(t.b_side[i], _mm_permute_ps(t.b_side[i], 0xFF));
    t.k[i] = uint8_t(k);
  }
  evaluate_splits<Level, false>(best, code, t);
}

// Sixteen colours: splits 2..14, 1, 15; means by the reciprocal of the side
// length, a side of one colour taken as it is.
template <class Level>
void mean_pairs_n16(Cluster_Fit_Best* best, Partition_Code* code,
                    const Cluster_Partition_Sums* sums) {
  Split_Trials t;
  t.count = 15;
  for (uint32_t i = 0; i < 15; ++i) {
    const uint32_t k = i < 13 ? i + 2 : i == 13 ? 1 : 15;
    t.a_side[i] = record(sums, cluster_run_offset(16, 0, k));
    t.b_side[i] = record(sums, cluster_run_offset(16, k, 16));
    t.a_mean[i] = k == 1 ? t.a_side[i] : _mm_mul_ps(t.a_side[i], _mm_set1_ps(1.0f / float(k)));
    t.b_mean[i] =
        k == 15 ? t.b_side[i] : _mm_mul_ps(t.b_side[i], _mm_set1_ps(1.0f / float(16 - k)));
    t.k[i] = uint8_t(k);
  }
  evaluate_splits<Level, true>(best, code, t);
}

}  // namespace

// Defines the exported kernels of one level (suffix avx or avx_fma) from the
// walks above, with Level the including file's policy.
#define HAP_CLUSTER_FIT_VECTOR_LEVEL(suffix, Level)                                          \
  template <uint32_t N>                                                                      \
  void cluster_fit_mean_pairs_n_##suffix(Cluster_Fit_Best* best, Partition_Code* code,       \
                                         const Cluster_Partition_Sums* sums) {               \
    mean_pairs<Level, N>(best, code, sums);                                                  \
  }                                                                                          \
  template <uint32_t N>                                                                      \
  void cluster_fit_three_levels_n_##suffix(Cluster_Fit_Best* best, Partition_Code* code,     \
                                           const Cluster_Partition_Sums* sums,               \
                                           const uint64_t*, const uint8_t* codes) {          \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(N).three_levels, codes);        \
  }                                                                                          \
  template <uint32_t N>                                                                      \
  void dxt_cluster_fit_block_n_##suffix(Cluster_Fit_Best* best, Partition_Code* code,        \
                                        const Cluster_Partition_Sums* sums, const uint64_t*, \
                                        const uint8_t* codes) {                              \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(N).final, codes);               \
  }                                                                                          \
  void dxt_solve_least_squares_n10_##suffix(Cluster_Fit_Best* best, Partition_Code* code,    \
                                            const Cluster_Partition_Sums* sums,              \
                                            const uint64_t*, const uint8_t* codes) {         \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(10).final, codes);              \
  }                                                                                          \
  void cluster_fit_mean_pairs_n16_##suffix(Cluster_Fit_Best* best, Partition_Code* code,     \
                                           const Cluster_Partition_Sums* sums) {             \
    mean_pairs_n16<Level>(best, code, sums);                                                 \
  }                                                                                          \
  void cluster_fit_three_levels_n16_##suffix(                                                \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float*, const uint64_t*, const uint8_t* codes) {                                 \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(16).three_levels, codes);       \
  }                                                                                          \
  void cluster_fit_four_levels_n16_##suffix(                                                 \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float*, const uint64_t*, const uint8_t* codes) {                                 \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(16).four_levels, codes);        \
  }                                                                                          \
  void cluster_fit_records_n16_##suffix(                                                     \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float*, const uint64_t*, const uint8_t* codes) {                                 \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(16).records, codes);            \
  }                                                                                          \
  void dxt_cluster_fit_block_alt_n16_##suffix(                                               \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float*, const uint64_t*, const uint8_t* codes) {                                 \
    evaluate_list<Level>(best, code, sums, cluster_fit_lists(16).final, codes);              \
  }                                                                                          \
  HAP_CFV_INSTANTIATE_COUNTS(suffix)

#define HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, n) \
  template Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n_##suffix<n>;
#define HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, n) \
  template Cluster_Fit_Stage_Kernel cluster_fit_three_levels_n_##suffix<n>;
#define HAP_CFV_INSTANTIATE_COUNTS(suffix)     \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 3)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 4)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 5)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 6)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 7)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 8)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 9)    \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 10)   \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 11)   \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 12)   \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 13)   \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 14)   \
  HAP_CFV_INSTANTIATE_MEAN_PAIRS(suffix, 15)   \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 5)  \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 6)  \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 7)  \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 8)  \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 9)  \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 10) \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 11) \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 12) \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 13) \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 14) \
  HAP_CFV_INSTANTIATE_THREE_LEVELS(suffix, 15)

// Stage F of the counts that have a two-entry list.
#define HAP_CFV_INSTANTIATE_FINAL(suffix, n) \
  template Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n_##suffix<n>;
