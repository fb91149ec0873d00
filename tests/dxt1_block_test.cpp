// The cluster set-up of DXT colour blocks: merging colours, the principal
// axis's power iteration and its degenerate cases, and counts outside the
// search. The pinned texture digests hold the blocks' bytes.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"

namespace {

TEST(ClusterSetup, GatherMergesColoursRegardlessOfAlpha) {
  uint8_t bgra[64];
  for (int i = 0; i < 16; ++i) {
    const uint8_t v = uint8_t(i * 16);
    bgra[4 * i] = v;
    bgra[4 * i + 1] = uint8_t(255 - v);
    bgra[4 * i + 2] = uint8_t(i % 2 ? 3 : 7);
    bgra[4 * i + 3] = uint8_t(i);
  }
  Cs_Gathered_Block block;
  cs_gather_block(&block, bgra, nullptr, nullptr, 16, 0, 0);
  ASSERT_EQ(block.count, 16u);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(block.map[i], i);
    EXPECT_EQ(block.counts[i], 1u);
  }
  EXPECT_FLOAT_EQ(block.colours[1][0], 3.0f / 255.0f);
  EXPECT_FLOAT_EQ(block.colours[1][2], 16.0f / 255.0f);
  // Two colours that differ only in alpha, in a checker pattern.
  for (int i = 0; i < 16; ++i) {
    const bool odd = (i + i / 4) % 2;
    bgra[4 * i] = bgra[4 * i + 1] = bgra[4 * i + 2] = odd ? 9 : 250;
    bgra[4 * i + 3] = uint8_t(i * 10);
  }
  cs_gather_block(&block, bgra, nullptr, nullptr, 16, 0, 0);
  ASSERT_EQ(block.count, 2u);
  EXPECT_EQ(block.counts[0], 8u);
  EXPECT_EQ(block.map[4], 1u);
  EXPECT_EQ(block.map[5], 0u);
  EXPECT_EQ(printed_by([&] { cs_template<7>(&block, bgra, nullptr, nullptr, 16, 0, 0); }),
            "ERROR : cs_template : pix fmt non gere : 7\n");
}

TEST(ClusterSetup, DegenerateAxesStayDefined) {
  // Same R + G + B for both colours: the power iteration has nothing to follow.
  alignas(32) float colours[16][4] = {{10 / 255.0f, 0, 5 / 255.0f, 0}, {0, 10 / 255.0f, 5 / 255.0f, 0}};
  const float weights[16] = {1.0f, 1.0f};
  float axis[3], keys[2];
  cs_principal_axis_n<2>(axis, colours, weights);
  EXPECT_EQ(axis[0], 1.0f);
  EXPECT_EQ(axis[1], 0.0f);
  EXPECT_EQ(axis[2], 0.0f);
  cs_project_on_axis_n<2>(keys, colours, axis);
  EXPECT_TRUE(std::isfinite(keys[0]) && std::isfinite(keys[1]));
  EXPECT_GT(keys[0], keys[1]);
  // A plane of colours with equal sums, green varying most.
  alignas(32) float plane[16][4];
  for (int i = 0; i < 16; ++i) {
    plane[i][0] = float(i % 4) / 255.0f;
    plane[i][1] = float(40 - i % 4 - 2 * i) / 255.0f;
    plane[i][2] = float(2 * i) / 255.0f;
  }
  cs_principal_axis_n<16>(axis, plane, weights);
  for (float a : axis) EXPECT_TRUE(std::isfinite(a));
  EXPECT_EQ(axis[1], 1.0f);
  // An ordinary block follows its main direction.
  alignas(32) float line[16][4];
  for (int i = 0; i < 5; ++i) {
    line[i][0] = float(i) / 4.0f;
    line[i][1] = float(i) / 8.0f;
    line[i][2] = 0.25f;
  }
  const float five[16] = {1, 2, 1, 1, 3};
  cs_principal_axis_n<5>(axis, line, five);
  EXPECT_FLOAT_EQ(axis[0], 1.0f);
  EXPECT_FLOAT_EQ(axis[1], 0.5f);
  EXPECT_NEAR(axis[2], 0.0f, 1e-6f);
}

// Four steps of power iteration from (1, 1, 1), each divided by the largest
// component (the largest signed value, not magnitude). These colours keep the
// iteration far from settled: three or five steps give other axes, and the
// component of largest magnitude is negative.
TEST(ClusterSetup, AxisIsFourPowerStepsFromOnes) {
  // Binary fractions, so that mean and covariance carry no rounding.
  alignas(32) float colours[16][4] = {
      {1.0f, 0.0f, 0.75f}, {1.0f, 0.5f, 0.0f}, {0.0f, 1.0f, 0.5f}, {1.0f, 0.25f, 0.0f}};
  const float weights[16] = {1.0f, 1.0f, 1.0f, 1.0f};
  using Axis = std::array<double, 3>;
  auto power_steps = [&](int steps) {
    Axis mean{};
    for (int i = 0; i < 4; ++i)
      for (int c = 0; c < 3; ++c) mean[c] += colours[i][c] / 4.0;
    double covariance[3][3] = {};
    for (int i = 0; i < 4; ++i)
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
          covariance[r][c] += (colours[i][r] - mean[r]) * (colours[i][c] - mean[c]);
    Axis v = {1.0, 1.0, 1.0};
    for (int step = 0; step < steps; ++step) {
      Axis next{};
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) next[r] += covariance[r][c] * v[c];
      const double largest = *std::max_element(next.begin(), next.end());
      for (int c = 0; c < 3; ++c) v[c] = next[c] / largest;
    }
    return v;
  };
  auto distance = [](const Axis& a, const Axis& b) {
    return std::max({std::fabs(a[0] - b[0]), std::fabs(a[1] - b[1]), std::fabs(a[2] - b[2])});
  };
  const Axis want = power_steps(4);
  ASSERT_GT(distance(want, power_steps(3)), 0.5);
  ASSERT_GT(distance(want, power_steps(5)), 0.5);
  ASSERT_LT(want[1], -1.0);

  float axis[3];
  cs_principal_axis_n<4>(axis, colours, weights);
  EXPECT_LT(distance(want, {axis[0], axis[1], axis[2]}), 1e-5);
}

TEST(ClusterFitBlock, CountsOutsideTheSearchWriteABlackBlock) {
  // Empty slots: any kernel called before the count check would crash.
  const Dxt_Encoder_Context context{};
  Cs_Gathered_Block block{};
  for (uint64_t n : {0ull, 1ull, 17ull, 1000ull}) {
    std::vector<uint8_t> out(8, 0xCD);
    EXPECT_EQ(printed_by([&] { cluster_fit_by_count(context.head, &block, out.data(), n); }),
              "ERROR : non code pour count : " + std::to_string(n) + "\n");
    EXPECT_EQ(out, std::vector<uint8_t>(8, 0));
  }
}

}  // namespace
