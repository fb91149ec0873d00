// Least-squares scoring of cluster-fit candidates.
//
// A candidate's a-side sums X (sum of alpha w c, lane 3 sum of alpha^2 w), its
// b-side sums Y and its cross weight C (sum of alpha beta w) give the two
// endpoints by the 2x2 normal equations; they are clamped to [0, 1], snapped to
// the 5:6:5 grid, and scored with the error expanded around them. Every form of
// the entry (general, compact, split) funnels into the same arithmetic so that
// all stages rank candidates on one scale.
//
// Candidates are scored four at a time, one per lane of a 128-bit vector. Each
// lane performs exactly the operations of a lone candidate, in the same order
// and precision, so batching changes no result; the lanes are then offered to
// the best in list order, which keeps the first of equal errors.
#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <type_traits>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

// One candidate per lane; SSE2 is part of every x86-64, and its arithmetic
// rounds each lane exactly as the scalar unit would.
constexpr int Lanes = 4;
using Lane_Floats = __m128;

constexpr float grid[3] = {31.0f, 63.0f, 31.0f};
constexpr float grid_step[3] = {std::bit_cast<float>(0x3D042108u),
                                std::bit_cast<float>(0x3C820821u),
                                std::bit_cast<float>(0x3D042108u)};

// Table offsets are in bytes, multiples of 4.
const float* at_byte_offset(const float* base, uint64_t byte_offset) {
  return reinterpret_cast<const float*>(reinterpret_cast<const char*>(base) + byte_offset);
}

// Run records are 48 bytes from a 32-byte aligned base, and entries point at
// their whole (byte 0) or third (byte 16) fields, so record reads are aligned.
static_assert(alignof(Cluster_Partition_Sums) % 16 == 0);
const float* sums_at(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return at_byte_offset(sums->data, byte_offset);
}

// Offsets of one candidate: whole of cluster 0, third of cluster 1, third of
// cluster 2, whole of cluster 3, middle weight, and (16 colours) the
// reciprocal determinant.
struct Candidate_Offsets {
  uint64_t whole0, third1, third2, whole3, middle, reciprocal;
};

// Snapped endpoints and error of each lane.
struct Scored_Lanes {
  Lane_Floats a[3], b[3], error;
};

// Offers lanes 0 .. count - 1 in order; a lane replaces the best only on a
// strictly smaller error.
[[gnu::noinline]] void offer_lanes(Cluster_Fit_Best* best, Partition_Code* code,
                                   const Scored_Lanes& s, int count, const uint8_t* codes) {
  for (int j = 0; j < count; ++j, codes += 3) {
    if (!(best->error > s.error[j])) continue;
    for (int l = 0; l < 3; ++l) {
      best->a[l] = s.a[l][j];
      best->b[l] = s.b[l][j];
    }
    best->a[3] = 0.0f;
    best->b[3] = 0.0f;
    best->error = s.error[j];
    code->i1 = codes[0];
    code->i2 = codes[1];
    code->i3 = codes[2];
  }
}

// The best error only falls, so a batch none of whose lanes is below it as it
// stands changes nothing: most batches stop at this test.
[[gnu::always_inline]] inline void keep_better(Cluster_Fit_Best* best, Partition_Code* code,
                                               const Scored_Lanes& s, int count,
                                               const uint8_t* codes) {
  if (_mm_movemask_ps(_mm_cmpgt_ps(_mm_set1_ps(best->error), s.error)) != 0)
    offer_lanes(best, code, s, count, codes);
}

// Halves away from zero, as roundf, for the non-negative values met here, without
// a library call in the innermost loop: the whole part, plus 1 where the rest
// reaches one half.
Lane_Floats round_non_negative(Lane_Floats x) {
  const Lane_Floats whole = _mm_cvtepi32_ps(_mm_cvttps_epi32(x));
  const Lane_Floats up = _mm_cmpge_ps(x - whole, _mm_set1_ps(0.5f));
  return whole + _mm_and_ps(up, _mm_set1_ps(1.0f));
}

Lane_Floats snap(Lane_Floats v, int channel) {
  return round_non_negative(v * _mm_set1_ps(grid[channel])) * _mm_set1_ps(grid_step[channel]);
}

// Endpoints and errors of a batch from its sums X (x), Y (y), the cross
// weights C and the reciprocal determinants d, one candidate per lane.
[[gnu::always_inline]] inline Scored_Lanes score(const Lane_Floats (&x)[4],
                                                 const Lane_Floats (&y)[4], Lane_Floats C,
                                                 Lane_Floats d) {
  const Lane_Floats A = x[3], B = y[3];
  Scored_Lanes s;
#pragma GCC unroll 3
  for (int l = 0; l < 3; ++l) {
    Lane_Floats va = (B * x[l] - C * y[l]) * d;
    Lane_Floats vb = (A * y[l] - C * x[l]) * d;
    // v > 0 ? v : 0, then 1 > v ? v : 1, so that a NaN ends as 0: maxps and
    // minps return their second operand unless the first is greater
    // (respectively smaller).
    va = _mm_min_ps(_mm_max_ps(va, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    vb = _mm_min_ps(_mm_max_ps(vb, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    const Lane_Floats a = snap(va, l), b = snap(vb, l);
    const Lane_Floats e =
        (a * a * A + b * b * B) + _mm_set1_ps(2.0f) * ((a * b * C - a * x[l]) - b * y[l]);
    s.a[l] = a;
    s.b[l] = b;
    s.error = l == 0 ? e : s.error + e;
  }
  return s;
}

// Scores candidates 0 .. count - 1 of a list in order, Lanes at a time;
// offsets_of(i) gives the offsets of candidate i, codes hold 3 bytes each.
template <typename Offsets_Of>
void evaluate_list(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
                   const float* reciprocals, const uint8_t* codes, uint32_t count,
                   Offsets_Of offsets_of) {
  for (uint32_t first = 0; first < count; first += Lanes, codes += 3 * Lanes) {
    const int active = int(std::min<uint32_t>(Lanes, count - first));
    Lane_Floats x[Lanes], y[Lanes];
    float middle[Lanes], reciprocal[Lanes] = {};
#pragma GCC unroll 4
    for (int j = 0; j < Lanes; ++j) {
      // Spare lanes repeat the first candidate and are never offered.
      const Candidate_Offsets o = offsets_of(first + uint32_t(j < active ? j : 0));
      const float* third1 = sums_at(sums, o.third1);
      const float* third2 = sums_at(sums, o.third2);
      x[j] = (_mm_load_ps(third2) + _mm_load_ps(third1 + 4)) + _mm_load_ps(sums_at(sums, o.whole0));
      y[j] = (_mm_load_ps(third1) + _mm_load_ps(third2 + 4)) + _mm_load_ps(sums_at(sums, o.whole3));
      middle[j] = *sums_at(sums, o.middle);
      if (reciprocals) reciprocal[j] = *at_byte_offset(reciprocals, o.reciprocal);
    }
    const Lane_Floats C = _mm_setr_ps(middle[0], middle[1], middle[2], middle[3]);
    // Rows of candidates to rows of values: x[l] is value l of every candidate.
    _MM_TRANSPOSE4_PS(x[0], x[1], x[2], x[3]);
    _MM_TRANSPOSE4_PS(y[0], y[1], y[2], y[3]);
    const Lane_Floats d =
        reciprocals ? _mm_setr_ps(reciprocal[0], reciprocal[1], reciprocal[2], reciprocal[3])
                    : _mm_set1_ps(1.0f) / (x[3] * y[3] - C * C);
    keep_better(best, code, score(x, y, C, d), active, codes);
  }
}

// General entries, with the reciprocal offset last for 16 colours.
void evaluate_general(Cluster_Fit_Best* best, Partition_Code* code,
                      const Cluster_Partition_Sums* sums, const float* reciprocals,
                      const uint64_t* entries, const uint8_t* codes, uint32_t count) {
  const uint32_t stride = reciprocals ? 6 : 5;
  evaluate_list(best, code, sums, reciprocals, codes, count, [&](uint32_t i) {
    const uint64_t* e = entries + size_t(stride) * i;
    return Candidate_Offsets{e[0], e[1], e[2], e[3], e[4], reciprocals ? e[5] : 0};
  });
}

// Compact entries hold only the clusters of the shape; the others read the
// empty record (whole at 0, third at 16). Shape is a uint8_t, or a constant
// of one so that the cluster walk folds away for the shapes the lists use.
template <typename Shape>
void evaluate_compact(Cluster_Fit_Best* best, Partition_Code* code,
                      const Cluster_Partition_Sums* sums, const float* reciprocals,
                      const uint64_t* entries, const uint8_t* codes, Shape shape, uint32_t count) {
  const uint32_t clusters = shape_clusters(shape);
  const uint32_t stride = clusters + (reciprocals ? 2 : 1);
  evaluate_list(best, code, sums, reciprocals, codes, count, [&](uint32_t i) {
    const uint64_t* e = entries + size_t(stride) * i;
    uint64_t cluster[4] = {0, 16, 16, 0};
    uint32_t next = 0;
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
      if (shape & (1 << k)) cluster[k] = e[next++];
    return Candidate_Offsets{cluster[0], cluster[1],  cluster[2],
                             cluster[3], e[clusters], reciprocals ? e[clusters + 1] : 0};
  });
}

// The compact walk with the shape as a constant when it is one of Shapes
// (those the lists use), with the shape as it is otherwise.
template <Cluster_Shape... Shapes>
void evaluate_compact_any(Cluster_Fit_Best* best, Partition_Code* code,
                          const Cluster_Partition_Sums* sums, const float* reciprocals,
                          const uint64_t* entries, const uint8_t* codes, uint8_t shape,
                          uint32_t count) {
  const auto run = [&](auto shape_value) {
    evaluate_compact(best, code, sums, reciprocals, entries, codes, shape_value, count);
  };
  const bool constant =
      ((shape == Shapes && (run(std::integral_constant<uint8_t, Shapes>{}), true)) || ...);
  if (!constant) run(shape);
}

// A split between the two endpoints: P = whole of [0, k), Q = whole of [k, n),
// and the means to snap (already clamped or not by the caller), channels in
// lanes 0..2.
struct Split {
  Lane_Floats P, Q, mean_a, mean_b;
  uint32_t k;
};

void evaluate_splits(Cluster_Fit_Best* best, Partition_Code* code, const Split* splits,
                     uint32_t count) {
  for (uint32_t first = 0; first < count; first += Lanes, splits += Lanes) {
    const int active = int(std::min<uint32_t>(Lanes, count - first));
    Lane_Floats P[Lanes], Q[Lanes], mean_a[Lanes], mean_b[Lanes];
    uint8_t codes[3 * Lanes];
    for (int j = 0; j < Lanes; ++j) {
      // Spare lanes repeat the first split and are never offered.
      const Split& split = splits[j < active ? j : 0];
      P[j] = split.P;
      Q[j] = split.Q;
      mean_a[j] = split.mean_a;
      mean_b[j] = split.mean_b;
      std::fill_n(codes + 3 * j, 3, uint8_t(split.k));
    }
    _MM_TRANSPOSE4_PS(P[0], P[1], P[2], P[3]);
    _MM_TRANSPOSE4_PS(Q[0], Q[1], Q[2], Q[3]);
    _MM_TRANSPOSE4_PS(mean_a[0], mean_a[1], mean_a[2], mean_a[3]);
    _MM_TRANSPOSE4_PS(mean_b[0], mean_b[1], mean_b[2], mean_b[3]);
    Scored_Lanes s;
    for (int l = 0; l < 3; ++l) {
      const Lane_Floats a = snap(mean_a[l], l), b = snap(mean_b[l], l);
      const Lane_Floats e =
          a * a * P[3] + b * b * Q[3] - _mm_set1_ps(2.0f) * a * P[l] - _mm_set1_ps(2.0f) * b * Q[l];
      s.a[l] = a;
      s.b[l] = b;
      s.error = l == 0 ? e : s.error + e;
    }
    keep_better(best, code, s, active, codes);
  }
}

// 1 > v ? v : 1 in every lane (minps returns its second operand unless the
// first is smaller).
Lane_Floats clamp_above(Lane_Floats v) { return _mm_min_ps(v, _mm_set1_ps(1.0f)); }

}  // namespace

void cluster_fit_general_entries(Cluster_Fit_Best* best, Partition_Code* code,
                                 const Cluster_Partition_Sums* sums, const uint64_t* entries,
                                 const uint8_t* codes, uint32_t count) {
  evaluate_general(best, code, sums, nullptr, entries, codes, count);
}

void dxt_cluster_fit_block(Cluster_Fit_Best* best, Partition_Code* code,
                           const Cluster_Partition_Sums* sums, const uint64_t* entries,
                           const uint8_t* codes) {
  evaluate_general(best, code, sums, nullptr, entries, codes, 2);
}

void dxt_solve_least_squares(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums, const uint64_t* entries,
                             const uint8_t* codes) {
  evaluate_general(best, code, sums, nullptr, entries, codes, 1);
}

void dxt_cluster_fit_block_alt(Cluster_Fit_Best* best, Partition_Code* code,
                               const Cluster_Partition_Sums* sums,
                               const float* reciprocal_determinant_table, const uint64_t* entries,
                               const uint8_t* codes) {
  evaluate_general(best, code, sums, reciprocal_determinant_table, entries, codes, 2);
}

void cluster_fit_eval_partition(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums,
                                const float* reciprocal_determinant_table, const uint64_t* entries,
                                const uint8_t* codes, uint8_t shape, uint32_t pairs) {
  if (!(shape & 0b0110)) {
    // Refused once for every pair, as the pairs would be one by one.
    for (uint32_t pair = 0; pair < pairs; ++pair) std::printf("ERREUR : ALPHAX need part 1 et 2\n");
    return;
  }
  evaluate_compact_any<Shape_0011, Shape_0101, Shape_0110, Shape_1010, Shape_1100, Shape_1011,
                       Shape_1101, Shape_0111, Shape_1110, Shape_1111>(
      best, code, sums, reciprocal_determinant_table, entries, codes, shape, 2 * pairs);
}

void cluster_fit_eval_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                            const Cluster_Partition_Sums* sums,
                            const float* reciprocal_determinant_table, const uint64_t* entries,
                            const uint8_t* codes, uint8_t shape, uint32_t passes) {
  cluster_fit_eval_partition(best, code, sums, reciprocal_determinant_table, entries, codes, shape,
                             2 * passes);
}

void cluster_fit_block_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums,
                             const float* reciprocal_determinant_table, const uint64_t* entries,
                             const uint8_t* codes, uint32_t passes) {
  evaluate_general(best, code, sums, reciprocal_determinant_table, entries, codes, 4 * passes);
}

void cluster_scan_partitions(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums, const uint64_t* split_pairs,
                             uint32_t n) {
  Split splits[15];
  const uint32_t count = n > 1 ? std::min(n, 16u) - 1 : 0;
  for (uint32_t k = 1; k <= count; ++k, split_pairs += 2) {
    Split& s = splits[k - 1];
    s.P = _mm_loadu_ps(sums_at(sums, split_pairs[0]));
    s.Q = _mm_loadu_ps(sums_at(sums, split_pairs[1]));
    s.k = k;
    // Each channel divided by the weight, lane by lane.
    s.mean_a = clamp_above(s.P / _mm_set1_ps(s.P[3]));
    s.mean_b = clamp_above(s.Q / _mm_set1_ps(s.Q[3]));
  }
  evaluate_splits(best, code, splits, count);
}

void cluster_fit_mean_pairs_n16(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums) {
  Split splits[15];
  for (uint32_t i = 0; i < 15; ++i) {
    const uint32_t k = i == 0 ? 1 : i == 1 ? 15 : i;
    Split& s = splits[i];
    s.P = _mm_loadu_ps(sums_at(sums, cluster_run_offset(16, 0, k)));
    s.Q = _mm_loadu_ps(sums_at(sums, cluster_run_offset(16, k, 16)));
    s.k = k;
    const float to_mean_a = 1.0f / float(k), to_mean_b = 1.0f / float(16 - k);
    s.mean_a = k == 1 ? s.P : clamp_above(s.P * _mm_set1_ps(to_mean_a));
    s.mean_b = k == 15 ? s.Q : clamp_above(s.Q * _mm_set1_ps(to_mean_b));
  }
  evaluate_splits(best, code, splits, 15);
}
