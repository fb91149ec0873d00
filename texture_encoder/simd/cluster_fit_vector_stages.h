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
// Eight candidates per step, one per lane: the records of a step are gathered
// and transposed so that each vector holds one channel of all eight. Every
// lane performs exactly the operations of a lone candidate, so the layout
// changes no result. Within a step the first smallest error is compared once
// with the best, which equals offering the candidates one by one in list
// order under the strictly-smaller rule.
#pragma once
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>

#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/dxt_encoder_context.h"

namespace {

constexpr int Step = 8;

inline const float* float_at(const float* base, uint64_t byte_offset) {
  return reinterpret_cast<const float*>(reinterpret_cast<const char*>(base) + byte_offset);
}

// Run records are 48 bytes from a 32-byte aligned base and entries point at a
// record's whole or third field, so every record load is aligned.
inline __m128 record(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return _mm_load_ps(float_at(sums->data, byte_offset));
}

// Grid levels of R, G, B and the single-precision 1/31 and 1/63 that turn a
// level back into an endpoint.
constexpr float channel_levels[3] = {31.0f, 63.0f, 31.0f};
constexpr float channel_fractions[3] = {std::bit_cast<float>(0x3D042108u),
                                        std::bit_cast<float>(0x3C820821u),
                                        std::bit_cast<float>(0x3D042108u)};

inline __m256 clamp_unit(__m256 x) {
  return _mm256_min_ps(_mm256_max_ps(x, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

// Eight four-float records to four vectors of eight: out[c] lane j = in[j][c].
inline void transpose_records(const __m128 (&in)[Step], __m256 (&out)[4]) {
  __m256 r[4];
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j)
    r[j] = _mm256_insertf128_ps(_mm256_castps128_ps256(in[j]), in[j + 4], 1);
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  out[0] = _mm256_shuffle_ps(t0, t2, 0x44);
  out[1] = _mm256_shuffle_ps(t0, t2, 0xEE);
  out[2] = _mm256_shuffle_ps(t1, t3, 0x44);
  out[3] = _mm256_shuffle_ps(t1, t3, 0xEE);
}

// Snapped endpoints (R, G, B) and errors of the eight candidates of a step.
struct Step_Result {
  __m256 start[3], end[3], error;
};

// Offers the first smallest of the active candidates when it is strictly
// below the best; codes hold three bytes per candidate.
inline void offer_step(Cluster_Fit_Best* best, Partition_Code* code, const Step_Result& s,
                       int active, const uint8_t* codes) {
  const int active_lanes = (1 << active) - 1;
  if (!(_mm256_movemask_ps(_mm256_cmp_ps(_mm256_set1_ps(best->error), s.error, _CMP_GT_OQ)) &
        active_lanes))
    return;
  alignas(32) float errors[Step];
  _mm256_store_ps(errors, s.error);
  int w = 0;
  for (int j = 1; j < active; ++j)
    if (errors[w] > errors[j]) w = j;
  alignas(32) float lanes[Step];
  for (int l = 0; l < 3; ++l) {
    _mm256_store_ps(lanes, s.start[l]);
    best->a[l] = lanes[w];
    _mm256_store_ps(lanes, s.end[l]);
    best->b[l] = lanes[w];
  }
  best->a[3] = 0.0f;
  best->b[3] = 0.0f;
  best->error = errors[w];
  code->i1 = codes[3 * w];
  code->i2 = codes[3 * w + 1];
  code->i3 = codes[3 * w + 2];
}

// ---- Least-squares partitions (stages C to F) ------------------------------------

// How the three records of a side are added: the usual whole + (middle parts),
// or, in two sections of the 16-colour stage E, the whole and one middle part
// first.
enum class Grouping { Usual, Start_With_Two_Thirds, End_With_Two_Thirds };

struct Partition_Offsets {
  uint64_t whole0, third1, third2, whole3, middle, reciprocal;
};

// x + y where both are present; a cluster a shape leaves out would only add
// the empty record's zeros, which changes no sum of these non-negative values.
template <bool X, bool Y>
[[gnu::always_inline]] inline __m128 add_present(__m128 x, __m128 y) {
  if constexpr (X && Y)
    return _mm_add_ps(x, y);
  else if constexpr (X)
    return x;
  else if constexpr (Y)
    return y;
  else
    return _mm_setzero_ps();
}

// A = whole0 + (two thirds of 1 + third of 2), B = whole3 + (third of 1 + two
// thirds of 2), over the clusters of Shape; lane 3 carries alpha^2 and beta^2.
template <Grouping G, uint8_t Shape>
[[gnu::always_inline]] inline void partition_sides(const Cluster_Partition_Sums* sums,
                                                   const Partition_Offsets& o, __m128& a_side,
                                                   __m128& b_side) {
  constexpr bool has0 = Shape & 1, has1 = Shape & 2, has2 = Shape & 4, has3 = Shape & 8;
  const __m128 whole0 = has0 ? record(sums, o.whole0) : __m128{};
  const __m128 whole3 = has3 ? record(sums, o.whole3) : __m128{};
  const __m128 third1 = has1 ? record(sums, o.third1) : __m128{};
  const __m128 two_thirds1 = has1 ? record(sums, o.third1 + 16) : __m128{};
  const __m128 third2 = has2 ? record(sums, o.third2) : __m128{};
  const __m128 two_thirds2 = has2 ? record(sums, o.third2 + 16) : __m128{};
  if constexpr (G == Grouping::Start_With_Two_Thirds)
    a_side = _mm_add_ps(_mm_add_ps(whole0, two_thirds1), third2);
  else
    a_side = add_present < has0,
    has1 || has2 > (whole0, add_present<has2, has1>(third2, two_thirds1));
  if constexpr (G == Grouping::End_With_Two_Thirds)
    b_side = _mm_add_ps(_mm_add_ps(whole3, two_thirds2), third1);
  else
    b_side = add_present < has3,
    has1 || has2 > (whole3, add_present<has1, has2>(third1, two_thirds2));
}

// Solves, snaps and scores eight candidates from their transposed sides, cross
// weights and 1 / determinants.
template <class Level>
[[gnu::always_inline]] inline Step_Result solve_step(const __m256 (&x)[4], const __m256 (&y)[4],
                                                     __m256 cross, __m256 factor) {
  const __m256 alpha2 = x[3], beta2 = y[3];
  Step_Result s;
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
    const __m256 e = Level::partition_error(s.start[l], s.end[l], x[l], y[l], cross, alpha2, beta2);
    s.error = l == 0 ? e : _mm256_add_ps(s.error, e);
  }
  return s;
}

// Candidates 0 .. count - 1 of a list, eight per step; offsets_of(i) gives the
// record offsets of candidate i. Spare places of the last step repeat the
// step's first candidate and are never offered.
template <class Level, Grouping G, uint8_t Shape, class Offsets_Of>
void evaluate_partitions(Cluster_Fit_Best* best, Partition_Code* code,
                         const Cluster_Partition_Sums* sums, const float* reciprocals,
                         const uint8_t* codes, uint32_t count, Offsets_Of offsets_of) {
  for (uint32_t first = 0; first < count; first += Step, codes += 3 * Step) {
    const int active = int(std::min<uint32_t>(Step, count - first));
    __m128 a_side[Step], b_side[Step];
    alignas(32) float cross[Step], factor[Step];
#pragma GCC unroll 8
    for (int j = 0; j < Step; ++j) {
      const Partition_Offsets o = offsets_of(first + uint32_t(j < active ? j : 0));
      partition_sides<G, Shape>(sums, o, a_side[j], b_side[j]);
      cross[j] = *float_at(sums->data, o.middle);
      if (reciprocals) factor[j] = *float_at(reciprocals, o.reciprocal);
    }
    __m256 x[4], y[4];
    transpose_records(a_side, x);
    transpose_records(b_side, y);
    const __m256 c = _mm256_load_ps(cross);
    const __m256 f = reciprocals
                         ? _mm256_load_ps(factor)
                         : _mm256_div_ps(_mm256_set1_ps(1.0f), Level::determinant(x[3], y[3], c));
    offer_step(best, code, solve_step<Level>(x, y, c, f), active, codes);
  }
}

// General entries: whole 0, third 1, third 2, whole 3, middle weight, and for
// 16 colours the reciprocal offset.
template <class Level, Grouping G = Grouping::Usual>
void evaluate_general(Cluster_Fit_Best* best, Partition_Code* code,
                      const Cluster_Partition_Sums* sums, const float* reciprocals,
                      const uint64_t* entries, const uint8_t* codes, uint32_t count) {
  const uint32_t stride = reciprocals ? 6 : 5;
  evaluate_partitions<Level, G, Shape_1111>(
      best, code, sums, reciprocals, codes, count, [&](uint32_t i) {
        const uint64_t* e = entries + size_t(stride) * i;
        return Partition_Offsets{e[0], e[1], e[2], e[3], e[4], reciprocals ? e[5] : 0};
      });
}

// Compact entries of one shape (a constant): the clusters in use, then the
// middle weight (and the reciprocal); the others read the empty record.
template <class Level, uint8_t Shape>
void evaluate_compact(Cluster_Fit_Best* best, Partition_Code* code,
                      const Cluster_Partition_Sums* sums, const float* reciprocals,
                      const uint64_t* entries, const uint8_t* codes, uint32_t count) {
  constexpr uint32_t clusters = shape_clusters(Shape);
  const uint32_t stride = clusters + (reciprocals ? 2 : 1);
  evaluate_partitions<Level, Grouping::Usual, Shape>(
      best, code, sums, reciprocals, codes, count, [&](uint32_t i) {
        const uint64_t* e = entries + size_t(stride) * i;
        uint64_t cluster[4] = {0, 16, 16, 0};
        uint32_t next = 0;
#pragma GCC unroll 4
        for (uint32_t k = 0; k < 4; ++k)
          if (Shape & (1u << k)) cluster[k] = e[next++];
        return Partition_Offsets{cluster[0], cluster[1],  cluster[2],
                                 cluster[3], e[clusters], reciprocals ? e[clusters + 1] : 0};
      });
}

// Shape groups of a compact list in order, with the group sizes of the count.
template <class Level, uint8_t... Shapes>
void walk_shape_groups(Cluster_Fit_Best* best, Partition_Code* code,
                       const Cluster_Partition_Sums* sums, const float* reciprocals,
                       const uint64_t* entries, const uint8_t* codes,
                       const uint32_t (&sizes)[sizeof...(Shapes)]) {
  size_t g = 0;
  const auto group = [&](auto shape) {
    evaluate_compact<Level, decltype(shape)::value>(best, code, sums, reciprocals, entries, codes,
                                                    sizes[g]);
    entries += size_t(sizes[g]) * (shape_clusters(shape) + (reciprocals ? 2 : 1));
    codes += 3 * size_t(sizes[g]);
    ++g;
  };
  (group(std::integral_constant<uint8_t, Shapes>{}), ...);
}

template <class Level, uint32_t N>
void three_levels(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
                  const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {
  constexpr uint32_t s = three_level_group_size(N);
  walk_shape_groups<Level, Shape_0011, Shape_0101, Shape_0110, Shape_1010, Shape_1100>(
      best, code, sums, reciprocals, entries, codes, {s, s, s, s, s});
}

template <class Level>
void four_levels_n16(Cluster_Fit_Best* best, Partition_Code* code,
                     const Cluster_Partition_Sums* sums, const float* reciprocals,
                     const uint64_t* entries, const uint8_t* codes) {
  const auto& sizes = four_level_group_sizes[16];
  walk_shape_groups<Level, Shape_1011, Shape_1101, Shape_0111, Shape_1110>(
      best, code, sums, reciprocals, entries, codes, {sizes[0], sizes[1], sizes[2], sizes[3]});
}

// The 16-colour stage-E list in its five sections; the second groups the
// start side as (whole + two thirds) + third, the third the end side likewise.
template <class Level>
void records_n16(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
                 const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {
  const auto section = [&]<Grouping G>(uint32_t count) {
    evaluate_general<Level, G>(best, code, sums, reciprocals, entries, codes, count);
    entries += 6 * size_t(count);
    codes += 3 * size_t(count);
  };
  section.template operator()<Grouping::Usual>(20);
  section.template operator()<Grouping::Start_With_Two_Thirds>(316);
  section.template operator()<Grouping::End_With_Two_Thirds>(36);
  section.template operator()<Grouping::Usual>(92);
  section.template operator()<Grouping::Usual>(12);
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
    transpose_records(rows[0], x);
    transpose_records(rows[1], y);
    transpose_records(rows[2], mean_x);
    transpose_records(rows[3], mean_y);
    Step_Result s;
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
    offer_step(best, code, s, active, codes);
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
                                           const uint64_t* entries, const uint8_t* codes) {  \
    three_levels<Level, N>(best, code, sums, nullptr, entries, codes);                       \
  }                                                                                          \
  template <uint32_t N>                                                                      \
  void dxt_cluster_fit_block_n_##suffix(Cluster_Fit_Best* best, Partition_Code* code,        \
                                        const Cluster_Partition_Sums* sums,                  \
                                        const uint64_t* entries, const uint8_t* codes) {     \
    evaluate_general<Level>(best, code, sums, nullptr, entries, codes, 2);                   \
  }                                                                                          \
  void dxt_solve_least_squares_n10_##suffix(Cluster_Fit_Best* best, Partition_Code* code,    \
                                            const Cluster_Partition_Sums* sums,              \
                                            const uint64_t* entries, const uint8_t* codes) { \
    evaluate_general<Level>(best, code, sums, nullptr, entries, codes, 1);                   \
  }                                                                                          \
  void cluster_fit_mean_pairs_n16_##suffix(Cluster_Fit_Best* best, Partition_Code* code,     \
                                           const Cluster_Partition_Sums* sums) {             \
    mean_pairs_n16<Level>(best, code, sums);                                                 \
  }                                                                                          \
  void cluster_fit_three_levels_n16_##suffix(                                                \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {             \
    three_levels<Level, 16>(best, code, sums, reciprocals, entries, codes);                  \
  }                                                                                          \
  void cluster_fit_four_levels_n16_##suffix(                                                 \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {             \
    four_levels_n16<Level>(best, code, sums, reciprocals, entries, codes);                   \
  }                                                                                          \
  void cluster_fit_records_n16_##suffix(                                                     \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {             \
    records_n16<Level>(best, code, sums, reciprocals, entries, codes);                       \
  }                                                                                          \
  void dxt_cluster_fit_block_alt_n16_##suffix(                                               \
      Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,      \
      const float* reciprocals, const uint64_t* entries, const uint8_t* codes) {             \
    evaluate_general<Level>(best, code, sums, reciprocals, entries, codes, 2);               \
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
