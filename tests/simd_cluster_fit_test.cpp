// The cluster-fit stages A, B, C and F and the 16-colour set, scalar, AVX and
// AVX+FMA, each against a one-candidate-at-a-time reference in its own
// arithmetic and order (cluster_fit_reference.h), on random blocks of every
// colour count and on blocks whose candidates all tie. The pinned texture
// digests hold each form's bytes on whole frames.
#include <gtest/gtest.h>

#include <string>

#include "tests/cluster_fit_reference.h"
#include "tests/simd_test_support.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

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

// The reference of one stage in a form: the stage's list (stage B its splits)
// in the form's order and arithmetic.
Outcome stage_reference(Stage stage, uint32_t n, const Cluster_Partition_Sums& sums,
                        const Outcome& start, Rounding rounding) {
  if (stage == Stage_B) return split_reference(start, sums, n, rounding);
  const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
  const Partition_List* by_stage[] = {&lists.three_levels, &lists.four_levels, &lists.records,
                                      &lists.final};
  // The vector forms add two sections of the 16-colour stage E in their own grouping.
  const bool regrouped = n == 16 && stage == Stage_E && rounding != Rounding::Away;
  return reference(start, sums, n, *by_stage[stage - Stage_C], rounding, [&](uint32_t i) {
    return !regrouped || i < 20 || i >= 372 ? Side_Grouping::Usual
           : i < 336                        ? Side_Grouping::Start_Two_Thirds
                                            : Side_Grouping::End_Two_Thirds;
  });
}

// Every stage of a block in the scalar form and in this family's form, from
// a cold record and from the record the scalar stages before it leave, each
// against its reference bit for bit.
void check_block(const Dxt_Kernel_Head& scalar, const Dxt_Kernel_Head& vector, bool fma,
                 uint32_t n, const Cluster_Partition_Sums& sums) {
  Outcome warm;
  for (Stage stage : all_stages) {
    if (!stage_exists(stage, n)) continue;
    SCOPED_TRACE("n " + std::to_string(n) + " stage " + std::to_string(int(stage)));
    for (const Outcome& start : {Outcome{}, warm}) {
      Outcome got = start;
      run_stage(scalar, stage, n, sums, got);
      ASSERT_TRUE(same_fit(stage_reference(stage, n, sums, start, Rounding::Away), got))
          << "scalar";
      if (vector_stage(stage, n, fma)) {
        got = start;
        run_stage(vector, stage, n, sums, got);
        const Rounding form = fma ? Rounding::Fused : Rounding::Even;
        ASSERT_TRUE(same_fit(stage_reference(stage, n, sums, start, form), got)) << "vector";
      }
    }
    run_stage(scalar, stage, n, sums, warm);
  }
}

TEST_P(Cluster_Fit_Vector, StagesMatchTheirFormsReference) {
  std::mt19937 rng(fma_ ? 71 : 17);
  for (uint32_t n = 2; n <= 16; ++n) {
    // Sixteen colours hold the most candidates and the regrouped sections.
    for (int trial = 0; trial < (n == 16 ? 600 : 60); ++trial) {
      check_block(scalar_, vector_, fma_, n, sums_of(random_colours(rng, n)));
      if (HasFatalFailure()) return;
    }
    // Every candidate ties at zero: each stage keeps the first it takes.
    check_block(scalar_, vector_, fma_, n, sums_of(near_black_colours(n)));
    if (HasFatalFailure()) return;
  }
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

// Each form's table bit for bit, with its own association of the runs.
TEST(ClusterFitVectorSums, MatchTheirFormsReference) {
  REQUIRE_CPU(cpu_has_avx());
  const Dxt_Kernel_Head vector = head_with(Avx_Mask);
  std::mt19937 rng(3);
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 100; ++trial) {
      const Weighted_Colours block = random_colours(rng, n);
      for (const bool avx : {false, true}) {
        Cluster_Partition_Sums got;
        std::memset(&got, 0xFF, sizeof got);
        (avx ? vector : head_with(0)).cluster_partition_sums[n - 2](block.weighted, &got);
        const Cluster_Partition_Sums want = sums_reference(block, avx);
        ASSERT_EQ(std::memcmp(&want, &got, cluster_partition_sums_bytes(n)), 0)
            << "n " << n << (avx ? " AVX" : " scalar");
      }
    }
}

}  // namespace
