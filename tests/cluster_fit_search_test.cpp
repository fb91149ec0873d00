// The cluster-fit search against a double-precision brute force over every
// partition, its compact entries against the general ones, and its behaviour
// at the edges of its input.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tests/texture_test_frames.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

struct Colours {
  uint32_t n = 0;
  float weighted[64] = {};  // (w r, w g, w b, w)
};

// The palette weights (alpha, beta) of colour k in partition (i1, i2, i3).
std::pair<double, double> weights_of(uint32_t k, int i1, int i2, int i3) {
  const int level = int(k) < i1 ? 0 : int(k) < i2 ? 1 : int(k) < i3 ? 2 : 3;
  return {(3 - level) / 3.0, level / 3.0};
}

// Error of endpoints a, b for partition (i1, i2, i3), without the block constant.
double partition_error(const Colours& c, const double a[3], const double b[3], int i1, int i2,
                       int i3) {
  double error = 0.0;
  for (uint32_t k = 0; k < c.n; ++k) {
    const auto [alpha, beta] = weights_of(k, i1, i2, i3);
    const double w = c.weighted[4 * k + 3];
    for (int l = 0; l < 3; ++l) {
      const double colour = c.weighted[4 * k + l] / w, palette = alpha * a[l] + beta * b[l];
      error += w * ((palette - colour) * (palette - colour) - colour * colour);
    }
  }
  return error;
}

// Least-squares endpoints of a partition, clamped and snapped, and their error.
double solve_partition(const Colours& c, int i1, int i2, int i3) {
  double x[4] = {}, y[4] = {}, cross = 0.0;
  for (uint32_t k = 0; k < c.n; ++k) {
    const auto [alpha, beta] = weights_of(k, i1, i2, i3);
    const double w = c.weighted[4 * k + 3];
    for (int l = 0; l < 3; ++l) {
      x[l] += alpha * c.weighted[4 * k + l];
      y[l] += beta * c.weighted[4 * k + l];
    }
    x[3] += alpha * alpha * w;
    y[3] += beta * beta * w;
    cross += alpha * beta * w;
  }
  const double det = x[3] * y[3] - cross * cross;
  double a[3], b[3];
  for (int l = 0; l < 3; ++l) {
    const double levels = l == 1 ? 63.0 : 31.0;
    a[l] = std::round(std::clamp((y[3] * x[l] - cross * y[l]) / det, 0.0, 1.0) * levels) / levels;
    b[l] = std::round(std::clamp((x[3] * y[l] - cross * x[l]) / det, 0.0, 1.0) * levels) / levels;
  }
  return partition_error(c, a, b, i1, i2, i3);
}

double brute_force_minimum(const Colours& c) {
  double best = INFINITY;
  const int n = int(c.n);
  for (int i1 = 0; i1 <= n; ++i1)
    for (int i2 = i1; i2 <= n; ++i2)
      for (int i3 = i2; i3 <= n; ++i3)
        if ((i1 > 0) + (i2 > i1) + (i3 > i2) + (n > i3) >= 2)
          best = std::min(best, solve_partition(c, i1, i2, i3));
  return best;
}

Colours random_colours(std::mt19937& rng, uint32_t n) {
  Colours c;
  c.n = n;
  // Occurrence counts summing to 16; 16 colours all count once, weight 1.
  uint32_t counts[16];
  std::fill(counts, counts + n, 1u);
  for (uint32_t extra = 16 - n; extra > 0; --extra) ++counts[rng() % n];
  // Colours of a gathered block are distinct 8-bit triples; draw them around a
  // random line so that some blocks are nearly collinear, others spread.
  std::uniform_int_distribution<int> byte(0, 255);
  const int spread = 8 + byte(rng) % 120;
  for (uint32_t k = 0; k < n; ++k) {
    const float w = std::sqrt(float(counts[k]));
    for (int l = 0; l < 3; ++l) {
      const int centre = (byte(rng) * int(k + 1)) / int(n);
      const int value = std::clamp(centre + byte(rng) % spread - spread / 2, 0, 255);
      c.weighted[4 * k + l] = w * (float(value) / 255.0f);
    }
    c.weighted[4 * k + 3] = w;
  }
  return c;
}

class ClusterFitSearch : public ::testing::Test {
 protected:
  void SetUp() override { install_cluster_fit_kernels(&context_); }

  uint32_t search(const Colours& c, uint64_t n) {
    best_ = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
    code_ = {0, 0, 1};
    return cluster_fit_run_stages(context_.head, n, c.weighted, &sums_, &best_, &code_);
  }

  Dxt_Encoder_Context context_{};
  Cluster_Partition_Sums sums_;
  Cluster_Fit_Best best_;
  Partition_Code code_;
};

TEST_F(ClusterFitSearch, FindsTheBruteForceMinimumForEveryCount) {
  std::mt19937 rng(1234);
  for (uint32_t n = 2; n <= 16; ++n) {
    for (int trial = 0; trial < 40; ++trial) {
      SCOPED_TRACE(testing::Message() << "n " << n << " trial " << trial);
      const Colours c = random_colours(rng, n);
      ASSERT_EQ(search(c, n), 0u);
      const double minimum = brute_force_minimum(c);
      const double tolerance = 2e-5 * (1.0 + std::fabs(minimum));
      EXPECT_NEAR(best_.error, minimum, tolerance);
      // The stored endpoints and code describe the stored error.
      const double a[3] = {best_.a[0], best_.a[1], best_.a[2]};
      const double b[3] = {best_.b[0], best_.b[1], best_.b[2]};
      EXPECT_NEAR(partition_error(c, a, b, code_.i1, code_.i2, code_.i3), best_.error, tolerance);
      ASSERT_TRUE(code_.i1 <= code_.i2 && code_.i2 <= code_.i3 && code_.i3 <= n);
      for (int l = 0; l < 3; ++l) {
        const float levels = l == 1 ? 63.0f : 31.0f;
        EXPECT_NEAR(best_.a[l] * levels, std::round(best_.a[l] * levels), 1e-4);
        EXPECT_NEAR(best_.b[l] * levels, std::round(best_.b[l] * levels), 1e-4);
      }
    }
  }
}

TEST_F(ClusterFitSearch, TwoColoursAndEqualErrors) {
  Colours c;
  c.n = 2;
  const float colours[8] = {1, 0, 0, 1, 0, 0, 1, 1};
  std::copy(colours, colours + 8, c.weighted);
  // The whole search ends on the two colours as endpoints.
  ASSERT_EQ(search(c, 2), 0u);
  EXPECT_EQ(code_.i1, 1);
  EXPECT_EQ(code_.i2, 1);
  EXPECT_EQ(code_.i3, 1);
  EXPECT_FLOAT_EQ(best_.error, -2.0f);
  EXPECT_EQ(best_.a[0], 1.0f);
  EXPECT_EQ(best_.b[2], 1.0f);

  // Both colours equally far from every level pair: the candidates of stage E
  // (1, 1, 2) and (0, 1, 1) tie, and the earlier stays.
  best_ = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
  code_ = {0, 0, 1};
  cluster_partition_sums_n<2>(c.weighted, &sums_);
  const Cluster_Fit_Lists& lists = cluster_fit_lists(2);
  context_.head.cluster_fit_records[0](&best_, &code_, &sums_, lists.records.entries,
                                       lists.records.codes);
  EXPECT_EQ(code_.i1, 1);
  EXPECT_EQ(code_.i2, 1);
  EXPECT_EQ(code_.i3, 2);
  EXPECT_FLOAT_EQ(best_.error, -16.0f / 9.0f);
  // A later candidate with the same error as the best does not replace it.
  dxt_cluster_fit_block(&best_, &code_, &sums_, lists.records.entries + 10,
                        lists.records.codes + 6);
  EXPECT_EQ(code_.i3, 2);
}

// Sixteen colours: the two-cluster splits are tried in the order 1, 15, 2,
// ..., 14. Run sums such that every split scores -16 (a red start, a blue
// end, each exactly on its run's mean) but the first, whose start is off the
// grid: of the tied splits 15 comes first.
TEST_F(ClusterFitSearch, SixteenColourSplitsTryFifteenSecond) {
  std::fill(std::begin(sums_.data), std::end(sums_.data), 0.0f);
  for (uint32_t k = 1; k < 16; ++k) {
    const float head[4] = {k == 1 ? 0.5f : float(k), 0, 0, float(k)};
    const float tail[4] = {0, 0, float(16 - k), float(16 - k)};
    std::copy(head, head + 4, sums_.data + cluster_run_offset(16, 0, k) / 4);
    std::copy(tail, tail + 4, sums_.data + cluster_run_offset(16, k, 16) / 4);
  }
  best_ = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
  code_ = {0, 0, 1};
  cluster_fit_mean_pairs_n16(&best_, &code_, &sums_);
  EXPECT_EQ(best_.error, -16.0f);
  EXPECT_EQ((std::array<int, 3>{code_.i1, code_.i2, code_.i3}), (std::array<int, 3>{15, 15, 15}));
}

// A compact entry holds only the clusters of its shape; scored two at a time
// it must keep exactly what the general entries of the same partitions keep.
// A shape with no middle cluster is refused; one with a middle cluster alone,
// which no list holds, is scored like the others (its one partition twice).
TEST_F(ClusterFitSearch, CompactPairsScoreAsTheirGeneralEntries) {
  constexpr uint32_t n = 9;
  const Cluster_Fit_Best start = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
  std::mt19937 rng(4321);
  for (int trial = 0; trial < 30; ++trial) {
    cluster_partition_sums_n<n>(random_colours(rng, n).weighted, &sums_);
    // Shapes with at least one middle cluster.
    for (uint8_t shape = 1; shape < 16; ++shape) {
      if (!(shape & 0b0110)) continue;
      std::vector<uint64_t> compact, general;
      std::vector<uint8_t> codes;
      for (uint32_t i1 = 0; i1 <= n; ++i1)
        for (uint32_t i2 = i1; i2 <= n; ++i2)
          for (uint32_t i3 = i2; i3 <= n; ++i3) {
            if ((i1 > 0) + 2 * (i2 > i1) + 4 * (i3 > i2) + 8 * (n > i3) != shape) continue;
            const uint64_t clusters[4] = {cluster_run_offset(n, 0, i1),
                                          cluster_run_offset(n, i1, i2) + 16,
                                          cluster_run_offset(n, i2, i3) + 16,
                                          cluster_run_offset(n, i3, n)};
            const uint64_t middle = cluster_middle_weight_offset(n, i1, i3);
            general.insert(general.end(), clusters, clusters + 4);
            general.push_back(middle);
            for (int k = 0; k < 4; ++k)
              if (shape & (1 << k)) compact.push_back(clusters[k]);
            compact.push_back(middle);
            codes.insert(codes.end(), {uint8_t(i1), uint8_t(i2), uint8_t(i3)});
          }
      const size_t stride = compact.size() / (codes.size() / 3);
      if (codes.size() / 3 % 2) {  // an odd last partition is scored twice
        const auto repeat_last = [](auto& v, size_t n) {
          const std::vector tail(v.end() - ptrdiff_t(n), v.end());
          v.insert(v.end(), tail.begin(), tail.end());
        };
        repeat_last(compact, stride);
        repeat_last(general, 5);
        repeat_last(codes, 3);
      }
      Cluster_Fit_Best general_best = start;
      Partition_Code general_code = {0, 0, 1};
      best_ = start;
      code_ = {0, 0, 1};
      for (size_t pair = 0; pair + 1 < codes.size() / 3; pair += 2) {
        SCOPED_TRACE(testing::Message() << "trial " << trial << " shape " << int(shape) << " pair "
                                        << pair);
        cluster_fit_eval_partition(&best_, &code_, &sums_, nullptr, &compact[pair * stride],
                                   &codes[3 * pair], shape);
        dxt_cluster_fit_block(&general_best, &general_code, &sums_, &general[5 * pair],
                              &codes[3 * pair]);
        ASSERT_EQ(best_.error, general_best.error);
        ASSERT_EQ((std::array<int, 3>{code_.i1, code_.i2, code_.i3}),
                  (std::array<int, 3>{general_code.i1, general_code.i2, general_code.i3}));
        for (int l = 0; l < 3; ++l) {
          ASSERT_EQ(best_.a[l], general_best.a[l]);
          ASSERT_EQ(best_.b[l], general_best.b[l]);
        }
      }
    }
  }
  const Cluster_Fit_Best held = best_;
  const uint64_t outer_only[6] = {};
  const uint8_t outer_codes[6] = {3, 3, 3, 4, 4, 4};
  EXPECT_EQ(printed_by([&] {
              cluster_fit_eval_partition(&best_, &code_, &sums_, nullptr, outer_only, outer_codes,
                                         0b1001);
            }),
            "ERREUR : ALPHAX need part 1 et 2\n");
  EXPECT_EQ(best_.error, held.error);
}

TEST_F(ClusterFitSearch, CountsOutsideTheTablesAreRefused) {
  for (uint64_t n : {0ull, 1ull, 17ull, 255ull}) {
    EXPECT_EQ(printed_by([&] { EXPECT_EQ(search(Colours{}, n), 1u); }),
              "ERROR : non code pour count : " + std::to_string(n) + "\n");
    EXPECT_EQ(best_.error, 3.4028235e38f);
    EXPECT_EQ(code_.i3, 1);
  }
}

}  // namespace
