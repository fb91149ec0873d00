// The vector partition sweeps of the cluster fit (stages D, E and the stage F
// of two and three colours) against a one-candidate-at-a-time reference that
// follows each form's rounding, and against the scalar kernels of their slots
// (whole frames are in the cluster-fit test).
#include <gtest/gtest.h>

#include "tests/cluster_fit_reference.h"
#include "tests/simd_test_support.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

Outcome run(Cluster_Fit_Stage_Fn kernel, const Outcome& start, const Cluster_Partition_Sums& sums,
            const Partition_List& list) {
  Outcome out = start;
  kernel(&out.best, &out.code, &sums, list.entries, list.codes);
  return out;
}

// The stages of this family by slot, with the list each walks.
using Slot = decltype(&Dxt_Kernel_Head::cluster_fit_records);
constexpr Slot Four_Levels = &Dxt_Kernel_Head::cluster_fit_four_levels,
               Records = &Dxt_Kernel_Head::cluster_fit_records,
               Final = &Dxt_Kernel_Head::cluster_fit_final;

class ClusterSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_CPU(cpu_has_avx());
    for (Dxt_Encoder_Context* c : {&scalar_, &avx_, &fma_}) {
      c->texture_code = Texture_Code_Dxt1;
      c->quality = 3;
      install_cluster_fit_kernels(c);
    }
    install_cluster_sweep_vector_kernels(&avx_, Simd_Flag_Enable | Simd_Flag_Avx);
    if (has_fma_)
      install_cluster_sweep_vector_kernels(&fma_, Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Fma);
  }

  // Stage A, then (when warm) the scalar stages B and C so that the best held
  // comes from earlier stages as in a real block.
  Outcome prepare(const Weighted_Colours& block, bool warm) {
    scalar_.head.cluster_partition_sums[block.n - 2](block.weighted, &sums_);
    Outcome start;
    if (!warm || block.n < 3) return start;
    const Dxt_Kernel_Head& h = scalar_.head;
    const Partition_List& three = cluster_fit_lists(block.n).three_levels;
    h.cluster_fit_mean_pairs[block.n - 2](&start.best, &start.code, &sums_);
    if (block.n >= 5)
      h.cluster_fit_three_levels[block.n - 2](&start.best, &start.code, &sums_, three.entries,
                                              three.codes);
    return start;
  }

  Cluster_Fit_Stage_Fn kernel(const Dxt_Encoder_Context& c, Slot slot, uint32_t n) const {
    return (c.head.*slot)[n - 2];
  }

  // One stage of one block in every form; returns whether a grid tie occurred.
  bool check_stage(uint32_t n, const Outcome& start, const Partition_List& list, Slot slot) {
    const Outcome scalar = run(kernel(scalar_, slot, n), start, sums_, list);
    EXPECT_TRUE(same_fit(reference(start, sums_, n, list, Rounding::Away), scalar)) << "scalar";
    const Outcome even = reference(start, sums_, n, list, Rounding::Even);
    const Outcome avx = run(kernel(avx_, slot, n), start, sums_, list);
    EXPECT_TRUE(same_fit(even, avx)) << "AVX vs reference";
    if (!even.tie) {
      EXPECT_TRUE(same_fit(scalar, avx)) << "AVX vs scalar";
    }
    if (has_fma_) {
      // Two colours keep the AVX stage F here: its FMA form is another family's.
      const Cluster_Fit_Stage_Fn fused_kernel = kernel(fma_, slot, n);
      const Rounding rounding =
          fused_kernel == kernel(avx_, slot, n) ? Rounding::Even : Rounding::Fused;
      const Outcome fused = run(fused_kernel, start, sums_, list);
      EXPECT_TRUE(same_fit(reference(start, sums_, n, list, rounding), fused)) << "FMA";
      // Off an exact half the fused form differs from the scalar in last bits only.
      if (!even.tie) {
        EXPECT_NEAR(fused.best.error, scalar.best.error, 2e-6 * (1.0 + std::fabs(scalar.best.error)));
      }
    }
    return even.tie;
  }

  Dxt_Encoder_Context scalar_{}, avx_{}, fma_{};
  const bool has_fma_ = cpu_has_fma();
  Cluster_Partition_Sums sums_;
};

}  // namespace

TEST_F(ClusterSweep, EveryCountAndStageMatchesItsReference) {
  std::mt19937 rng(20261206);
  int ties = 0;
  for (uint32_t n = 2; n <= 15; ++n) {
    const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
    for (int trial = 0; trial < 202; ++trial) {
      SCOPED_TRACE(testing::Message() << "n " << n << " trial " << trial);
      // The last two blocks tie every candidate at zero, so that the first
      // one each stage takes stays.
      const Weighted_Colours block = trial < 200 ? random_colours(rng, n) : near_black_colours(n);
      const Outcome start = prepare(block, trial % 2 == 1);
      if (n >= 5) ties += check_stage(n, start, lists.four_levels, Four_Levels);
      ties += check_stage(n, start, lists.records, Records);
      if (n <= 3) ties += check_stage(n, start, lists.final, Final);
      if (HasFailure()) return;
    }
  }
  RecordProperty("grid_ties", ties);
}

// Two colours of weight 1, partition (1, 1, 1) puts A exactly on colour 0:
// red on 14.5 snaps to the even 14 in the AVX form and to 15 in the scalar
// one; black and white end on the colours.
TEST_F(ClusterSweep, StageFOfTwoColours) {
  const Partition_List& last = cluster_fit_lists(2).final;
  const float red = float_on_half_level(14.0f);
  ASSERT_EQ(red * 31.0f, 14.5f);
  Weighted_Colours block;
  block.n = 2;
  const float half_red[8] = {red, 0, 0, 1, 0, 0, 1, 1};
  std::copy_n(half_red, 8, block.weighted);
  Outcome start = prepare(block, false);
  const Outcome scalar = run(kernel(scalar_, Final, 2), start, sums_, last);
  const Outcome avx = run(dxt_cluster_fit_block_n2_avx, start, sums_, last);
  ASSERT_EQ(avx.code.i1, 1);
  ASSERT_EQ(scalar.code.i1, 1);
  EXPECT_EQ(avx.best.a[0], 14.0f * grid_step[0]);
  EXPECT_EQ(scalar.best.a[0], 15.0f * grid_step[0]);
  EXPECT_EQ(avx.best.b[2], 1.0f);

  const float black_white[8] = {0, 0, 0, 1, 2, 2, 2, 2};
  std::copy_n(black_white, 8, block.weighted);
  start = prepare(block, false);
  Outcome out = run(kernel(avx_, Records, 2), start, sums_, cluster_fit_lists(2).records);
  out = run(dxt_cluster_fit_block_n2_avx, out, sums_, last);
  Outcome want;
  want.best = {{0, 0, 0, 0}, {1, 1, 1, 0}, out.best.error};
  want.code = {1, 1, 1};
  EXPECT_TRUE(same_fit(want, out));
}

TEST_F(ClusterSweep, EqualErrorsKeepTheFirstAndTheBestHeld) {
  // Red and blue, weight 1: the middle two of the four two-colour records tie
  // at -16/9 and the first of them stays.
  Weighted_Colours block;
  block.n = 2;
  const float red_blue[8] = {1, 0, 0, 1, 0, 0, 1, 1};
  std::copy_n(red_blue, 8, block.weighted);
  const Outcome start = prepare(block, false);
  const Partition_List& records = cluster_fit_lists(2).records;
  Outcome want;
  want.best = {{1, 0, 0, 0}, {0, 0, 1, 0}, -1.7777778f};
  want.code = {1, 1, 2};
  for (const Cluster_Fit_Stage_Fn twin : runnable<Cluster_Fit_Stage_Fn>(
           {{kernel(avx_, Records, 2), true}, {kernel(fma_, Records, 2), has_fma_}})) {
    Outcome out = run(twin, start, sums_, records);
    EXPECT_TRUE(same_fit(want, out));
    // Run again over its own result: an equal error writes nothing.
    std::fill_n(out.best.a, 4, 0.5f);
    out.code = {7, 7, 7};
    EXPECT_TRUE(same_fit(out, run(twin, out, sums_, records)));
  }
}
