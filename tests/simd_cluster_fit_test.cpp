// The AVX and AVX+FMA cluster-fit stages against the scalar stages of their
// slots, on random blocks of every colour count and through the frame encoder.
// AVX stages match exactly unless some candidate's grid level lands on k + 0.5
// (AVX rounds half to even) or the stage associates its products differently
// (stage B, the 16-colour stage E); FMA stages end within a tiny tolerance of
// the scalar error with endpoints on the grid.
#include <gtest/gtest.h>

#include <string>

#include "tests/simd_test_support.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

bool any_half_level(const float* v) {
  return on_half_level(v[0], 0) || on_half_level(v[1], 1) || on_half_level(v[2], 2);
}

// True when some partition of the block (every split and every partition into
// up to four clusters), solved as the scalar stages solve it, has a channel
// whose level lands exactly on a half.
bool block_has_half_level(uint32_t n, const Cluster_Partition_Sums& sums) {
  for (uint32_t i1 = 0; i1 <= n; ++i1)
    for (uint32_t i2 = i1; i2 <= n; ++i2)
      for (uint32_t i3 = i2; i3 <= n; ++i3) {
        if ((i1 > 0) + (i2 > i1) + (i3 > i2) + (n > i3) < 2) continue;  // one cluster
        const float* w0 = float_at(sums.data, cluster_run_offset(n, 0, i1));
        const float* m1 = float_at(sums.data, cluster_run_offset(n, i1, i2));
        const float* m2 = float_at(sums.data, cluster_run_offset(n, i2, i3));
        const float* w3 = float_at(sums.data, cluster_run_offset(n, i3, n));
        const float cross = *float_at(sums.data, cluster_middle_weight_offset(n, i1, i3));
        float x[4], y[4];
        for (int l = 0; l < 4; ++l) {
          x[l] = w0[l] + (m2[4 + l] + m1[8 + l]);
          y[l] = w3[l] + (m1[4 + l] + m2[8 + l]);
        }
        float f = 1.0f / (x[3] * y[3] - cross * cross);
        if (n == 16) {
          const int n0 = int(i1), n2 = int(i2 - i1), n3 = int(i3 - i2), n1 = 16 - int(i3);
          const long long d =
              (9ll * n0 + 4 * n2 + n3) * (9ll * n1 + n2 + 4 * n3) - 4ll * (n2 + n3) * (n2 + n3);
          f = float(81.0 / double(d));
        }
        float a[3], b[3];
        for (int l = 0; l < 3; ++l) {
          a[l] = (y[3] * x[l] - cross * y[l]) * f;
          b[l] = (x[3] * y[l] - cross * x[l]) * f;
        }
        if (any_half_level(a) || any_half_level(b)) return true;
        // The split between the two endpoints at i1, as stage B means it.
        if (i1 == i2 && i2 == i3 && i1 > 0 && i1 < n) {
          float p[3], q[3];
          for (int l = 0; l < 3; ++l) {
            p[l] = n == 16 ? (i1 == 1 ? w0[l] : w0[l] * (1.0f / float(i1))) : w0[l] / w0[3];
            q[l] = n == 16 ? (i1 == 15 ? w3[l] : w3[l] * (1.0f / float(16 - i1))) : w3[l] / w3[3];
          }
          if (any_half_level(p) || any_half_level(q)) return true;
        }
      }
  return false;
}

// ---- The stages of a count, scalar and vector ---------------------------------

enum Stage { Stage_B, Stage_C, Stage_D, Stage_E, Stage_F };
constexpr Stage all_stages[] = {Stage_B, Stage_C, Stage_D, Stage_E, Stage_F};

// Runs one stage of the head on the block's (scalar) sums.
void run_stage(const Dxt_Kernel_Head& head, Stage stage, uint32_t n,
               const Cluster_Partition_Sums& sums, Fit& s) {
  const size_t slot = n - 2;
  if (stage == Stage_B)
    return (n == 16 ? head.cluster_fit_n16_mean_pairs : head.cluster_fit_mean_pairs[slot])(
        &s.best, &s.code, &sums);
  const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
  const Partition_List lists_by_stage[] = {lists.three_levels, lists.four_levels, lists.records,
                                           lists.final};
  const Partition_List& list = lists_by_stage[stage - Stage_C];
  if (n == 16) {
    const Cluster_Fit_N16_Stage_Fn kernels[] = {
        head.cluster_fit_n16_three_levels, head.cluster_fit_n16_four_levels,
        head.cluster_fit_n16_records, head.cluster_fit_n16_final};
    return kernels[stage - Stage_C](&s.best, &s.code, &sums, reciprocal_determinant_table(),
                                    list.entries, list.codes);
  }
  const Cluster_Fit_Stage_Fn kernels[] = {
      head.cluster_fit_three_levels[slot], head.cluster_fit_four_levels[slot],
      head.cluster_fit_records[slot], head.cluster_fit_final[slot]};
  kernels[stage - Stage_C](&s.best, &s.code, &sums, list.entries, list.codes);
}

bool stage_exists(Stage stage, uint32_t n) {
  return stage == Stage_B   ? n >= 3
         : stage == Stage_F ? final_counts[n] > 0
                            : stage == Stage_E || n >= 5;
}

// The stages this family replaces, by count.
bool vector_stage(Stage stage, uint32_t n, bool fma) {
  if (n == 16) return true;
  if (stage == Stage_F) return n == 7 || n == 8 || n == 10 || n == 11 || n == 15 || (n == 2 && fma);
  return stage == Stage_B ? n >= 3 : stage == Stage_C && n >= 5;
}

// The scalar head, with the vector stages over it under mask (none when 0).
Dxt_Kernel_Head head_with(uint32_t mask) {
  Dxt_Encoder_Context context{};
  install_cluster_fit_kernels(&context);
  if (mask != 0) install_cluster_fit_vector_kernels(&context, mask);
  return context.head;
}
constexpr uint32_t Avx_Mask = Simd_Flag_Enable | Simd_Flag_Avx, Fma_Mask = Avx_Mask | Simd_Flag_Fma;

bool on_grid(const float* v) {
  for (int l = 0; l < 3; ++l) {
    const float x = v[l] * grid_levels[l];
    if (v[l] < 0.0f || v[l] > 1.0f || std::fabs(x - std::round(x)) > 1e-4f) return false;
  }
  return v[3] == 0.0f;
}

Cluster_Partition_Sums sums_of(const Weighted_Colours& block) {
  Cluster_Partition_Sums sums;
  head_with(0).cluster_partition_sums[block.n - 2](block.weighted, &sums);
  return sums;
}

class Cluster_Fit_Vector : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    REQUIRE_CPU(cpu_has_avx() && (!fma_ || cpu_has_fma()));
    vector_ = head_with(fma_ ? Fma_Mask : Avx_Mask);
  }
  const bool fma_ = GetParam();
  const Dxt_Kernel_Head scalar_ = head_with(0);
  Dxt_Kernel_Head vector_{};
};

// Each vector stage from the state the scalar stages before it leave, against
// the scalar stage from the same state.
TEST_P(Cluster_Fit_Vector, StagesMatchScalarOnRandomBlocks) {
  std::mt19937 rng(fma_ ? 71 : 17);
  int compared = 0, other_choice = 0;
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 300; ++trial) {
      const Cluster_Partition_Sums sums = sums_of(random_colours(rng, n));
      const bool half = block_has_half_level(n, sums);
      Fit before;
      for (Stage stage : all_stages) {
        if (!stage_exists(stage, n)) continue;
        const Fit incoming = before;
        Fit expected = before, got = before;
        run_stage(scalar_, stage, n, sums, expected);
        run_stage(vector_, stage, n, sums, got);
        before = expected;
        if (!vector_stage(stage, n, fma_)) continue;
        ++compared;
        SCOPED_TRACE("n " + std::to_string(n) + " stage " + std::to_string(int(stage)));
        ASSERT_LE(got.best.error, incoming.best.error);
        ASSERT_TRUE(got.best.error == FLT_MAX || (on_grid(got.best.a) && on_grid(got.best.b)));
        const testing::AssertionResult same = same_fit(expected, got);
        if (same) continue;
        const bool associated_apart = stage == Stage_B || (n == 16 && stage == Stage_E);
        if (!fma_ && !associated_apart) {
          ASSERT_TRUE(half) << "differs without a half level" << same.message();
          continue;
        }
        // Last-bit differences: the errors agree closely, and another
        // partition or endpoint is chosen only on a near tie.
        Fit chosen = got;
        chosen.best.error = expected.best.error;
        if (!same_fit(expected, chosen)) ++other_choice;
        ASSERT_TRUE(half || std::fabs(got.best.error - expected.best.error) <=
                                2e-5f * std::max(1.0f, std::fabs(expected.best.error)))
            << same.message();
      }
    }
  // Differences stay rare.
  EXPECT_LT(other_choice, compared / 100) << other_choice << " of " << compared;
}

// A stage whose best candidate only equals the stored error leaves the record.
TEST_P(Cluster_Fit_Vector, EqualErrorKeepsTheRecord) {
  std::mt19937 rng(5);
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 20; ++trial) {
      const Cluster_Partition_Sums sums = sums_of(random_colours(rng, n));
      for (Stage stage : all_stages) {
        if (!vector_stage(stage, n, fma_)) continue;
        Fit first, again;
        run_stage(vector_, stage, n, sums, first);
        // The same error held by a record with other contents.
        again.best.error = first.best.error;
        again.code = {7, 7, 7};
        const Fit kept = again;
        run_stage(vector_, stage, n, sums, again);
        ASSERT_TRUE(same_fit(kept, again)) << "n " << n << " stage " << int(stage);
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Cluster_Fit_Vector, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AvxFma" : "Avx"; });

// ---- Stage A and installation ----------------------------------------------------

// The vector stage-A table as its association rules build it: each run the
// run one shorter plus its last colour, except the pairs of sub-runs listed
// for 4 to 6 colours; scaled fields the stored sum times the scale (for 3
// colours the sum of the scaled fields); cross weights 2/9 of the weight,
// built the same way; for 16 colours n 2/9 by run length.
std::vector<float> vector_sums_model(const Weighted_Colours& block) {
  const uint32_t n = block.n, runs = n * (n + 1) / 2;
  const float third[4] = {1.0f / 3, 1.0f / 3, 1.0f / 3, 1.0f / 9},
              two_thirds[4] = {2.0f / 3, 2.0f / 3, 2.0f / 3, 4.0f / 9}, cross_scale = 2.0f / 9;
  std::vector<float> t(12 * runs + (n == 16 ? 17 : runs + 1), 0.0f);
  const auto entry = [&](uint32_t i, uint32_t j) { return i == 0 ? j + 1 : i * n - i * (i - 1) / 2 + (j - i); };
  const auto run = [&](uint32_t i, uint32_t j) { return &t[12 * entry(i, j)]; };
  const auto cross = [&](uint32_t i, uint32_t j) -> float& { return t[12 * runs + 1 + i * n - i * (i - 1) / 2 + (j - i)]; };
  // Runs summed as two stored halves: {i, j, first of the second half}.
  struct Pair { uint32_t n, i, j, m; bool sum, cross; };
  const Pair pairs[] = {{4, 0, 3, 2, false, true}, {5, 0, 3, 2, true, true}, {5, 1, 4, 3, true, true},
                        {5, 0, 4, 3, false, true}, {6, 0, 3, 2, true, false}, {6, 0, 5, 3, false, true},
                        {6, 1, 5, 4, false, true}};
  const auto split = [&](uint32_t i, uint32_t j, bool of_sum) {
    for (const Pair& p : pairs)
      if (p.n == n && p.i == i && p.j == j && (of_sum ? p.sum : p.cross)) return p.m;
    return j;  // the run one shorter plus colour j
  };
  // Shorter runs first, so that both halves of a run are there.
  for (uint32_t length = 0; length < n; ++length)
    for (uint32_t i = 0, j = length; j < n; ++i, ++j) {
      const float* x = &block.weighted[4 * j];
      const uint32_t m = split(i, j, true);
      const bool whole = i == 0 && j == n - 1;
      if (!whole) {
        float* r = run(i, j);
        for (int l = 0; l < 4; ++l) {
          r[l] = i == j ? x[l] : run(i, m - 1)[l] + (m == j ? x[l] : run(m, j)[l]);
          r[4 + l] = n == 3 && i < j ? run(i, j - 1)[4 + l] + run(j, j)[4 + l] : r[l] * third[l];
          r[8 + l] = n == 3 && i < j ? run(i, j - 1)[8 + l] + run(j, j)[8 + l] : r[l] * two_thirds[l];
        }
      }
      if (n == 16) continue;
      const uint32_t c = split(i, j, false);
      cross(i, j) = i == j ? x[3] * cross_scale : cross(i, c - 1) + cross(c, j);
    }
  if (n == 16)
    for (uint32_t k = 0; k <= 16; ++k) t[12 * runs + k] = float(k) * cross_scale;
  return t;
}

TEST(ClusterFitVectorSums, FollowTheirAssociationBitForBit) {
  REQUIRE_CPU(cpu_has_avx());
  const Dxt_Kernel_Head vector = head_with(Avx_Mask);
  std::mt19937 rng(3);
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 200; ++trial) {
      const Weighted_Colours block = random_colours(rng, n);
      const std::vector<float> expected = vector_sums_model(block);
      ASSERT_EQ(expected.size() * 4, cluster_partition_sums_bytes(n));
      Cluster_Partition_Sums got;
      std::memset(&got, 0xFF, sizeof got);
      vector.cluster_partition_sums[n - 2](block.weighted, &got);
      for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(std::bit_cast<uint32_t>(expected[i]), std::bit_cast<uint32_t>(got.data[i]))
            << "n " << n << " float " << i;
    }
}

TEST(ClusterFitVectorInstall, FillsOnlyWithItsBits) {
  const Dxt_Kernel_Head scalar = head_with(0);
  // Without AVX or without the enable bit nothing changes.
  for (uint32_t mask : {Simd_Flag_Enable | Simd_Flag_Fma, Simd_Flag_Avx | Simd_Flag_Fma}) {
    const Dxt_Kernel_Head h = head_with(mask);
    EXPECT_EQ(std::memcmp(&h, &scalar, sizeof scalar), 0) << mask;
  }
  // Without the scalar cluster fit (other texture codes) nothing is filled.
  Dxt_Encoder_Context empty{};
  install_cluster_fit_vector_kernels(&empty, Fma_Mask);
  EXPECT_EQ(empty.head.cluster_fit_n16_records, nullptr);
  // Stage F of two colours has an FMA form only; stage D below 16 colours
  // belongs to the sweep family.
  EXPECT_EQ(head_with(Avx_Mask).cluster_fit_final[0], scalar.cluster_fit_final[0]);
  EXPECT_EQ(head_with(Fma_Mask).cluster_fit_final[0], &dxt_cluster_fit_block_n_avx_fma<2>);
  EXPECT_EQ(head_with(Avx_Mask).cluster_fit_four_levels[7], scalar.cluster_fit_four_levels[7]);
}

}  // namespace
