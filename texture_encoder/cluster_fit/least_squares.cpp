// Least-squares scoring of cluster-fit candidates.
//
// A candidate's a-side sums X (sum of alpha w c, lane 3 sum of alpha^2 w), its
// b-side sums Y and its cross weight C (sum of alpha beta w) give the two
// endpoints by the 2x2 normal equations; they are clamped to [0, 1], snapped to
// the 5:6:5 grid, and scored with the error expanded around them. Every form of
// the entry (general, compact, split) funnels into the same arithmetic so that
// all stages rank candidates on one scale.
#include <bit>
#include <cstdio>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

constexpr float grid[3] = {31.0f, 63.0f, 31.0f};
constexpr float grid_step[3] = {std::bit_cast<float>(0x3D042108u), std::bit_cast<float>(0x3C820821u),
                                std::bit_cast<float>(0x3D042108u)};

const float* sums_at(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return sums->data + byte_offset / 4;
}

// Offsets of one candidate: whole of cluster 0, third of cluster 1, third of
// cluster 2, whole of cluster 3, middle weight.
struct Candidate_Offsets {
  uint64_t whole0, third1, third2, whole3, middle;
};

void store(Cluster_Fit_Best* best, Partition_Code* code, const float a[3], const float b[3],
           float error, const uint8_t* code3) {
  for (int l = 0; l < 3; ++l) {
    best->a[l] = a[l];
    best->b[l] = b[l];
  }
  best->a[3] = 0.0f;
  best->b[3] = 0.0f;
  best->error = error;
  code->i1 = code3[0];
  code->i2 = code3[1];
  code->i3 = code3[2];
}

// Halves away from zero, as roundf, for the non-negative values met here, without
// a library call in the innermost loop.
float round_non_negative(float x) {
  const float whole = float(int(x));
  return whole + float(x - whole >= 0.5f);
}

float snap(float v, int channel) { return round_non_negative(v * grid[channel]) * grid_step[channel]; }

// Scores one candidate; reciprocal is null to divide by the determinant.
void evaluate(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
              const Candidate_Offsets& o, const float* reciprocal, const uint8_t* code3) {
  const float* whole0 = sums_at(sums, o.whole0);
  const float* third1 = sums_at(sums, o.third1);
  const float* third2 = sums_at(sums, o.third2);
  const float* whole3 = sums_at(sums, o.whole3);
  float x[4], y[4];
  for (int l = 0; l < 4; ++l) {
    x[l] = (third2[l] + third1[4 + l]) + whole0[l];
    y[l] = (third1[l] + third2[4 + l]) + whole3[l];
  }
  const float A = x[3], B = y[3], C = *sums_at(sums, o.middle);
  const float d = reciprocal ? *reciprocal : 1.0f / (A * B - C * C);

  float a[3], b[3], error = 0.0f;
  for (int l = 0; l < 3; ++l) {
    float va = (B * x[l] - C * y[l]) * d;
    float vb = (A * y[l] - C * x[l]) * d;
    // Written so that a NaN ends as 0.
    va = va > 0.0f ? va : 0.0f;
    va = 1.0f > va ? va : 1.0f;
    vb = vb > 0.0f ? vb : 0.0f;
    vb = 1.0f > vb ? vb : 1.0f;
    a[l] = snap(va, l);
    b[l] = snap(vb, l);
    const float e = (a[l] * a[l] * A + b[l] * b[l] * B) +
                    2.0f * ((a[l] * b[l] * C - a[l] * x[l]) - b[l] * y[l]);
    error = l == 0 ? e : error + e;
  }
  if (best->error > error) store(best, code, a, b, error, code3);
}

Candidate_Offsets general_offsets(const uint64_t* entry) {
  return {entry[0], entry[1], entry[2], entry[3], entry[4]};
}

// Compact entries hold only the clusters of the shape; the others read the
// empty record (whole at 0, third at 16).
Candidate_Offsets compact_offsets(const uint64_t* entry, uint8_t shape) {
  uint64_t cluster[4] = {0, 16, 16, 0};
  int next = 0;
  for (int k = 0; k < 4; ++k)
    if (shape & (1 << k)) cluster[k] = entry[next++];
  return {cluster[0], cluster[1], cluster[2], cluster[3], entry[next]};
}

const float* reciprocal_at(const float* table, uint64_t byte_offset) {
  return table + byte_offset / 4;
}

// Splits between the two endpoints: means (already clamped or not by the
// caller) of P = whole of [0, k) and Q = whole of [k, n).
void evaluate_split(Cluster_Fit_Best* best, Partition_Code* code, const float* P, const float* Q,
                    const float mean_a[3], const float mean_b[3], uint32_t k) {
  float a[3], b[3], error = 0.0f;
  for (int l = 0; l < 3; ++l) {
    a[l] = snap(mean_a[l], l);
    b[l] = snap(mean_b[l], l);
    const float e = a[l] * a[l] * P[3] + b[l] * b[l] * Q[3] - 2.0f * a[l] * P[l] - 2.0f * b[l] * Q[l];
    error = l == 0 ? e : error + e;
  }
  const uint8_t code3[3] = {uint8_t(k), uint8_t(k), uint8_t(k)};
  if (best->error > error) store(best, code, a, b, error, code3);
}

float clamp_above(float v) { return 1.0f > v ? v : 1.0f; }

}  // namespace

void dxt_cluster_fit_block(Cluster_Fit_Best* best, Partition_Code* code,
                           const Cluster_Partition_Sums* sums, const uint64_t* entries,
                           const uint8_t* codes) {
  evaluate(best, code, sums, general_offsets(entries), nullptr, codes);
  evaluate(best, code, sums, general_offsets(entries + 5), nullptr, codes + 3);
}

void dxt_solve_least_squares(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums, const uint64_t* entries,
                             const uint8_t* codes) {
  evaluate(best, code, sums, general_offsets(entries), nullptr, codes);
}

void dxt_cluster_fit_block_alt(Cluster_Fit_Best* best, Partition_Code* code,
                               const Cluster_Partition_Sums* sums,
                               const float* reciprocal_determinant_table,
                               const uint64_t* entries, const uint8_t* codes) {
  for (int i = 0; i < 2; ++i) {
    const uint64_t* entry = entries + 6 * i;
    evaluate(best, code, sums, general_offsets(entry),
             reciprocal_at(reciprocal_determinant_table, entry[5]), codes + 3 * i);
  }
}

void cluster_fit_eval_partition(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums,
                                const float* reciprocal_determinant_table,
                                const uint64_t* entries, const uint8_t* codes, uint8_t shape) {
  if ((shape & 0b0110) == 0) {
    std::printf("ERREUR : ALPHAX need part 1 et 2\n");
    return;
  }
  const uint32_t clusters = shape_clusters(shape);
  const bool sixteen = reciprocal_determinant_table != nullptr;
  const uint32_t stride = clusters + (sixteen ? 2 : 1);
  for (int i = 0; i < 2; ++i) {
    const uint64_t* entry = entries + stride * i;
    const float* reciprocal =
        sixteen ? reciprocal_at(reciprocal_determinant_table, entry[clusters + 1]) : nullptr;
    evaluate(best, code, sums, compact_offsets(entry, shape), reciprocal, codes + 3 * i);
  }
}

void cluster_fit_eval_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                            const Cluster_Partition_Sums* sums,
                            const float* reciprocal_determinant_table, const uint64_t* entries,
                            const uint8_t* codes, uint8_t shape, uint32_t passes) {
  const uint32_t stride = shape_clusters(shape) + (reciprocal_determinant_table ? 2 : 1);
  for (uint32_t pass = 0; pass < passes; ++pass, entries += 4 * stride, codes += 12) {
    cluster_fit_eval_partition(best, code, sums, reciprocal_determinant_table, entries, codes,
                               shape);
    cluster_fit_eval_partition(best, code, sums, reciprocal_determinant_table,
                               entries + 2 * stride, codes + 6, shape);
  }
}

void cluster_fit_block_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums,
                             const float* reciprocal_determinant_table, const uint64_t* entries,
                             const uint8_t* codes, uint32_t passes) {
  for (uint32_t pass = 0; pass < passes; ++pass, entries += 24, codes += 12) {
    dxt_cluster_fit_block_alt(best, code, sums, reciprocal_determinant_table, entries, codes);
    dxt_cluster_fit_block_alt(best, code, sums, reciprocal_determinant_table, entries + 12,
                              codes + 6);
  }
}

void cluster_scan_partitions(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums, const uint64_t* split_pairs,
                             uint32_t n) {
  for (uint32_t k = 1; k < n; ++k, split_pairs += 2) {
    const float* P = sums_at(sums, split_pairs[0]);
    const float* Q = sums_at(sums, split_pairs[1]);
    float mean_a[3], mean_b[3];
    for (int l = 0; l < 3; ++l) {
      mean_a[l] = clamp_above(P[l] / P[3]);
      mean_b[l] = clamp_above(Q[l] / Q[3]);
    }
    evaluate_split(best, code, P, Q, mean_a, mean_b, k);
  }
}

void cluster_fit_mean_split_n16(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums, uint32_t k) {
  const float* P = sums_at(sums, cluster_run_offset(16, 0, k));
  const float* Q = sums_at(sums, cluster_run_offset(16, k, 16));
  const float to_mean_a = 1.0f / float(k), to_mean_b = 1.0f / float(16 - k);
  float mean_a[3], mean_b[3];
  for (int l = 0; l < 3; ++l) {
    mean_a[l] = k == 1 ? P[l] : clamp_above(P[l] * to_mean_a);
    mean_b[l] = k == 15 ? Q[l] : clamp_above(Q[l] * to_mean_b);
  }
  evaluate_split(best, code, P, Q, mean_a, mean_b, k);
}
