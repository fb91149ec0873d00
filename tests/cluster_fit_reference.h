// One-candidate-at-a-time references of the cluster-fit stages, in the
// arithmetic of each form (scalar, AVX, AVX+FMA): the partition sums of stage
// A, the splits of stage B and the least-squares partitions of stages C to F,
// each list taken in the form's own order with the strictly-smaller rule. The
// kernels must equal them bit for bit.
#pragma once
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/simd_test_support.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

// How a form snaps to the grid: the scalar kernels half away from zero, the
// AVX kernels half to even, the FMA kernels by truncating a fused v*s + 0.5
// (with products fused into sums as well).
enum class Rounding { Away, Even, Fused };

struct Outcome : Fit {
  bool tie = false;  // some grid product fell exactly on a half
};

inline float fused_or_not(Rounding r, float x, float y, float z) {  // x * y + z
  return r == Rounding::Fused ? std::fma(x, y, z) : x * y + z;
}

// v (clamped to 0..1 when clamp) on the grid of channel l in the form's rounding.
inline float snap_to_grid(Outcome& out, float v, int l, Rounding rounding, bool clamp = true) {
  if (clamp) v = std::max(std::min(v, 1.0f), 0.0f);
  const float level = v * grid_levels[l];
  out.tie = out.tie || on_half_level(v, l);
  switch (rounding) {
    case Rounding::Away:
      return std::round(level) * grid_step[l];
    case Rounding::Even:
      return std::nearbyint(level) * grid_step[l];
    default:
      return std::trunc(std::fma(v, grid_levels[l], 0.5f)) * grid_step[l];
  }
}

inline void keep_if_smaller(Outcome& out, const float (&a)[3], const float (&b)[3], float error,
                            const uint8_t* bounds) {
  if (!(error < out.best.error)) return;
  out.best = {{a[0], a[1], a[2], 0.0f}, {b[0], b[1], b[2], 0.0f}, error};
  out.code = {bounds[0], bounds[1], bounds[2]};
}

// How a side's three records are added: whole + (middle parts), or the whole
// and its two-thirds part first (16-colour stage E of the vector forms).
enum class Side_Grouping { Usual, Start_Two_Thirds, End_Two_Thirds };

// Offers partition (i1, i2, i3) of n colours to out, computed from its bounds
// alone with the formulas of the given rounding; 16 colours take the tabled
// 1 / determinant, 81 / D.
inline void offer(Outcome& out, const Cluster_Partition_Sums& sums, uint32_t n,
                  const uint8_t* bounds, Rounding rounding,
                  Side_Grouping grouping = Side_Grouping::Usual) {
  const uint32_t i1 = bounds[0], i2 = bounds[1], i3 = bounds[2];
  const float* whole0 = float_at(sums.data, cluster_run_offset(n, 0, i1));
  const float* third1 = float_at(sums.data, cluster_run_offset(n, i1, i2) + 16);
  const float* third2 = float_at(sums.data, cluster_run_offset(n, i2, i3) + 16);
  const float* whole3 = float_at(sums.data, cluster_run_offset(n, i3, n));
  const float x = *float_at(sums.data, cluster_middle_weight_offset(n, i1, i3));
  float alpha[4], beta[4];
  for (int l = 0; l < 4; ++l) {
    alpha[l] = grouping == Side_Grouping::Start_Two_Thirds ? (whole0[l] + third1[4 + l]) + third2[l]
                                                           : (third1[4 + l] + third2[l]) + whole0[l];
    beta[l] = grouping == Side_Grouping::End_Two_Thirds ? (whole3[l] + third2[4 + l]) + third1[l]
                                                        : (third1[l] + third2[4 + l]) + whole3[l];
  }
  const float aa = alpha[3], bb = beta[3];
  float r = 1.0f / fused_or_not(rounding, -x, x, aa * bb);
  if (n == 16) {
    const int n0 = int(i1), n2 = int(i2 - i1), n3 = int(i3 - i2), n1 = 16 - int(i3);
    const long long d =
        (9ll * n0 + 4 * n2 + n3) * (9ll * n1 + n2 + 4 * n3) - 4ll * (n2 + n3) * (n2 + n3);
    r = float(81.0 / double(d));
  }
  float a[3], b[3], error = 0.0f;
  for (int l = 0; l < 3; ++l) {
    a[l] = snap_to_grid(out, fused_or_not(rounding, -x, beta[l], bb * alpha[l]) * r, l, rounding);
    b[l] = snap_to_grid(out, fused_or_not(rounding, -x, alpha[l], aa * beta[l]) * r, l, rounding);
    float t = (a[l] * b[l]) * x;
    t = fused_or_not(rounding, -a[l], alpha[l], t);
    t = fused_or_not(rounding, -b[l], beta[l], t);
    const float u = fused_or_not(rounding, a[l] * a[l], aa, (b[l] * b[l]) * bb);
    const float e = fused_or_not(rounding, 2.0f, t, u);
    error = l == 0 ? e : error + e;
  }
  keep_if_smaller(out, a, b, error, bounds);
}

// The partitions of a list in list order; grouping_of(i) gives candidate i's.
template <class Grouping_Of>
Outcome reference(const Outcome& start, const Cluster_Partition_Sums& sums, uint32_t n,
                  const Partition_List& list, Rounding rounding, Grouping_Of grouping_of) {
  Outcome out = start;
  for (uint32_t i = 0; i < list.count; ++i)
    offer(out, sums, n, list.codes + 3 * i, rounding, grouping_of(i));
  return out;
}

inline Outcome reference(const Outcome& start, const Cluster_Partition_Sums& sums, uint32_t n,
                         const Partition_List& list, Rounding rounding) {
  return reference(start, sums, n, list, rounding, [](uint32_t) { return Side_Grouping::Usual; });
}

// ---- Stage B ---------------------------------------------------------------------

// The splits k of n colours in the form's order: 1 .. n - 1, and for 16
// colours 1, 15, 2 .. 14 in the scalar form, 2 .. 14, 1, 15 in the vector forms.
inline std::vector<uint32_t> split_order(uint32_t n, Rounding rounding) {
  std::vector<uint32_t> order;
  if (n == 16 && rounding == Rounding::Away) order = {1, 15};
  for (uint32_t k = n == 16 ? 2 : 1; k < (n == 16 ? 15 : n); ++k) order.push_back(k);
  if (n == 16 && rounding != Rounding::Away) order.insert(order.end(), {1, 15});
  return order;
}

// Each split puts the first k colours at the snapped mean of their sums P and
// the others at that of Q; means divide by the weight lane, or for 16 colours
// multiply by 1 / k (a side of one colour is taken as it is).
inline Outcome split_reference(const Outcome& start, const Cluster_Partition_Sums& sums, uint32_t n,
                               Rounding rounding) {
  Outcome out = start;
  const bool vector = rounding != Rounding::Away;
  for (uint32_t k : split_order(n, rounding)) {
    const float* P = float_at(sums.data, cluster_run_offset(n, 0, k));
    const float* Q = float_at(sums.data, cluster_run_offset(n, k, n));
    float a[3], b[3], error = 0.0f;
    for (int l = 0; l < 3; ++l) {
      float mean_a = n < 16 ? P[l] / P[3] : k == 1 ? P[l] : P[l] * (1.0f / float(k));
      float mean_b = n < 16 ? Q[l] / Q[3] : k == 15 ? Q[l] : Q[l] * (1.0f / float(16 - k));
      if (!vector) {
        // The scalar form limits means from above only (k = 1 and 15 not at all).
        if (n < 16 || k != 1) mean_a = std::min(mean_a, 1.0f);
        if (n < 16 || k != 15) mean_b = std::min(mean_b, 1.0f);
      }
      a[l] = snap_to_grid(out, mean_a, l, rounding, vector);
      b[l] = snap_to_grid(out, mean_b, l, rounding, vector);
      float e;
      if (!vector) {
        e = ((a[l] * a[l]) * P[3] + (b[l] * b[l]) * Q[3] - (2.0f * a[l]) * P[l]) -
            (2.0f * b[l]) * Q[l];
      } else if (rounding == Rounding::Fused && n < 16) {
        const float t = std::fma(-b[l], Q[l], std::fma(-a[l], P[l], 0.0f));
        e = std::fma(2.0f, t, std::fma(a[l], P[3] * a[l], (Q[3] * b[l]) * b[l]));
      } else {
        // AVX, and the 16-colour FMA form, which fuses the end side's product only.
        const float t = rounding == Rounding::Fused ? std::fma(-Q[l], b[l], -(P[l] * a[l]))
                                                    : -(P[l] * a[l]) - Q[l] * b[l];
        e = (t + t) + ((P[3] * a[l]) * a[l] + (Q[3] * b[l]) * b[l]);
      }
      error = l == 0 ? e : error + e;
    }
    const uint8_t bounds[3] = {uint8_t(k), uint8_t(k), uint8_t(k)};
    keep_if_smaller(out, a, b, error, bounds);
  }
  return out;
}

// ---- Stage A ---------------------------------------------------------------------

// The partition sums of n weighted colours as the form builds them: the scalar
// form adds every field of a run left to right from its colours' records; the
// AVX form scales each longer run's sum (from 4 colours) and, for 4 to 6
// colours, splits a few runs (and cross weights) in two halves.
inline Cluster_Partition_Sums sums_reference(const Weighted_Colours& block, bool avx) {
  const uint32_t n = block.n;
  const float scale[2][4] = {
      {std::bit_cast<float>(0x3EAAAAABu), std::bit_cast<float>(0x3EAAAAABu),
       std::bit_cast<float>(0x3EAAAAABu), std::bit_cast<float>(0x3DE38E39u)},
      {std::bit_cast<float>(0x3F2AAAABu), std::bit_cast<float>(0x3F2AAAABu),
       std::bit_cast<float>(0x3F2AAAABu), std::bit_cast<float>(0x3EE38E39u)}};
  const float two_ninths = std::bit_cast<float>(0x3E638E39u);
  struct Split {
    uint32_t n, first, end, middle;
  };
  const Split sum_splits[] = {{5, 0, 4, 2}, {5, 1, 5, 3}, {6, 0, 4, 2}};
  const Split cross_splits[] = {{4, 0, 4, 2}, {5, 0, 4, 2}, {5, 0, 5, 3}, {5, 1, 5, 3},
                                {6, 0, 6, 3}, {6, 1, 6, 4}};
  const auto middle_of = [&](const auto& splits, uint32_t first, uint32_t end) {
    for (const Split& s : splits)
      if (avx && s.n == n && s.first == first && s.end == end) return s.middle;
    return end - 1;
  };
  Cluster_Partition_Sums sums{};
  float* cross = sums.data + cluster_middle_weights_offset(n) / 4;
  const auto record = [&](uint32_t first, uint32_t end) {
    return sums.data + 12 * cluster_run_index(n, first, end);
  };
  for (uint32_t k = 0; k < n; ++k) {
    const float* x = block.weighted + 4 * k;
    for (int l = 0; l < 4; ++l) {
      record(k, k + 1)[l] = x[l];
      record(k, k + 1)[4 + l] = x[l] * scale[0][l];
      record(k, k + 1)[8 + l] = x[l] * scale[1][l];
    }
    if (n < 16) cross[cluster_middle_weight_index(n, k, k + 1)] = x[3] * two_ninths;
  }
  for (uint32_t length = 2; length <= n; ++length)
    for (uint32_t first = 0; first + length <= n; ++first) {
      const uint32_t end = first + length;
      if (length < n) {
        const uint32_t middle = middle_of(sum_splits, first, end);
        float* r = record(first, end);
        for (int f = 0; f < 12; ++f) {
          r[f] = record(first, middle)[f] + record(middle, end)[f];
          if (avx && n >= 4 && f >= 4) r[f] = r[f % 4] * scale[f / 4 - 1][f % 4];
        }
      }
      if (n < 16) {
        const uint32_t middle = middle_of(cross_splits, first, end);
        cross[cluster_middle_weight_index(n, first, end)] =
            cross[cluster_middle_weight_index(n, first, middle)] +
            cross[cluster_middle_weight_index(n, middle, end)];
      }
    }
  if (n == 16)
    for (uint32_t length = 0; length <= 16; ++length) cross[length] = float(length) * two_ninths;
  return sums;
}

// n distinct colours so dark that every endpoint any stage solves snaps to
// black: every candidate's error is zero, so each stage keeps the first
// candidate it takes (and none replaces an incoming zero).
inline Weighted_Colours near_black_colours(uint32_t n) {
  Weighted_Colours set;
  set.n = n;
  for (uint32_t k = 0; k < n; ++k) {
    const float level[4] = {float(k % 4), float(k / 4), float((k * 3) % 5), 4.0f};
    for (int l = 0; l < 3; ++l) set.weighted[4 * k + l] = level[l] * 0.0002f;
    set.weighted[4 * k + 3] = 1.0f;
  }
  return set;
}
