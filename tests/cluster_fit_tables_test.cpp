// The partition lists and the partition-sum layout of the cluster fit: sizes,
// offsets of known entries, and that the lists of one count hold every
// partition with at least two clusters in use exactly once.
#include <bit>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

using Code = std::tuple<int, int, int>;

std::vector<uint64_t> entry(const Partition_List& list, uint32_t i) {
  return {list.entries + size_t(i) * list.stride, list.entries + size_t(i + 1) * list.stride};
}

Code code_of(const Partition_List& list, uint32_t i) {
  return {list.codes[3 * i], list.codes[3 * i + 1], list.codes[3 * i + 2]};
}

TEST(ClusterPartitionSums, SizesAndIndicesFollowTheLayout) {
  // The sums of sixteen colours, the largest, fit the buffer.
  for (uint32_t n = 3; n <= 16; ++n) {
    EXPECT_LT(cluster_partition_sums_bytes(n - 1), cluster_partition_sums_bytes(n));
  }
  EXPECT_EQ(cluster_partition_sums_bytes(16), 6596u);
  EXPECT_LE(cluster_partition_sums_bytes(16), sizeof(Cluster_Partition_Sums));
  // Four colours: records [0..0] [0..1] [0..2] [1..1] [1..2] [1..3] [2..2] [2..3] [3..3].
  EXPECT_EQ(cluster_run_index(4, 0, 3), 3u);
  EXPECT_EQ(cluster_run_index(4, 1, 2), 4u);
  EXPECT_EQ(cluster_run_index(4, 3, 4), 9u);
  EXPECT_EQ(cluster_middle_weight_index(4, 0, 4), 4u);
  EXPECT_EQ(cluster_middle_weight_index(4, 1, 2), 5u);
  EXPECT_EQ(cluster_middle_weight_index(4, 3, 4), 10u);
}

TEST(ClusterPartitionSums, TwoColoursAndSixteenColours) {
  Cluster_Partition_Sums sums;
  std::fill(std::begin(sums.data), std::end(sums.data), -1.0f);
  const float two[8] = {0.5f, 0.25f, 1.0f, 1.0f, 0.3f, 0.6f, 0.9f, 3.0f};
  cluster_partition_sums_n<2>(two, &sums);
  const float two_ninths = std::bit_cast<float>(0x3E638E39u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(sums.data[i], 0.0f);
  EXPECT_EQ(sums.data[12], 0.5f);
  EXPECT_EQ(sums.data[12 + 4], 0.5f * std::bit_cast<float>(0x3EAAAAABu));
  EXPECT_EQ(sums.data[12 + 11], 1.0f * std::bit_cast<float>(0x3EE38E39u));
  EXPECT_EQ(sums.data[24 + 3], 3.0f);
  EXPECT_EQ(sums.data[36], 0.0f);
  EXPECT_EQ(sums.data[37], 1.0f * two_ninths);
  EXPECT_EQ(sums.data[38], 1.0f * two_ninths + 3.0f * two_ninths);
  EXPECT_EQ(sums.data[39], 3.0f * two_ninths);

  float sixteen[64];
  for (int k = 0; k < 16; ++k) {
    for (int l = 0; l < 3; ++l) sixteen[4 * k + l] = float((k * 7 + l * 3) % 16) / 15.0f;
    sixteen[4 * k + 3] = 1.0f;
  }
  cluster_partition_sums_n<16>(sixteen, &sums);
  EXPECT_EQ(sums.data[6528 / 4 + 9], 2.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(sums.data[6528 / 4 + 16]), 0x40638E39u);
  for (uint32_t first = 0; first < 16; ++first)
    for (uint32_t end = first + 1; end <= 16 && end - first < 16; ++end)
      EXPECT_EQ(sums.data[12 * cluster_run_index(16, first, end) + 3], float(end - first));
}

TEST(ClusterFitLists, EntriesOfKnownPartitions) {
  const Cluster_Fit_Lists& two = cluster_fit_lists(2);
  const std::vector<std::vector<uint64_t>> records = {
      {0, 16, 64, 96, 148}, {48, 16, 112, 0, 156}, {0, 64, 16, 96, 148}, {48, 112, 16, 0, 156}};
  const std::vector<Code> record_codes = {{0, 0, 1}, {1, 1, 2}, {0, 1, 1}, {1, 2, 2}};
  ASSERT_EQ(two.records.count, 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(entry(two.records, i), records[i]);
    EXPECT_EQ(code_of(two.records, i), record_codes[i]);
  }
  EXPECT_EQ(entry(two.final, 0), (std::vector<uint64_t>{0, 64, 112, 0, 152}));
  EXPECT_EQ(entry(two.final, 1), (std::vector<uint64_t>{48, 16, 16, 96, 144}));
  EXPECT_EQ(code_of(two.final, 1), Code(1, 1, 1));

  const Cluster_Fit_Lists& five = cluster_fit_lists(5);
  EXPECT_EQ(entry(five.three_levels, 0), (std::vector<uint64_t>{64, 384, 724}));
  EXPECT_EQ(code_of(five.three_levels, 0), Code(0, 0, 1));
  EXPECT_EQ(entry(five.three_levels, 12), (std::vector<uint64_t>{48, 400, 756}));
  EXPECT_EQ(code_of(five.three_levels, 12), Code(1, 1, 5));
  EXPECT_EQ(entry(cluster_fit_lists(15).final, 0),
            (std::vector<uint64_t>{528, 5296, 5488, 5664, 6208}));

  // Sixteen colours: (5, 6, 15) has cluster sizes 5, 1, 9, 1 and 1 / det = 1/28.
  const Cluster_Fit_Lists& sixteen = cluster_fit_lists(16);
  ASSERT_EQ(sixteen.final.stride, 6u);
  EXPECT_EQ(code_of(sixteen.final, 0), Code(5, 6, 15));
  const float* reciprocals = reciprocal_determinant_table();
  EXPECT_EQ(std::bit_cast<uint32_t>(reciprocals[sixteen.final.entries[5] / 4]), 0x3D124925u);
  EXPECT_EQ(sixteen.final.entries[4], 6528u + 4 * 10);
  EXPECT_EQ(code_of(sixteen.three_levels, 0), Code(0, 0, 1));
  EXPECT_FLOAT_EQ(reciprocals[sixteen.three_levels.entries[3] / 4], 0.6f);
  EXPECT_EQ(code_of(sixteen.four_levels, 0), Code(1, 1, 2));
  EXPECT_EQ(code_of(sixteen.records, 20), Code(1, 2, 3));
  EXPECT_EQ(code_of(sixteen.records, 475), Code(3, 4, 15));
}

// Equal errors keep the earlier partition, so the order of a list is part of
// the result. Stage D of nine colours: four groups (empty level 1, 2, 0, 3)
// over one list of pairs (a, b): a = 1 to 4 each with the run b = a + 1 to
// a + 4, then (1, 6) (1, 7) (2, 7) (2, 8) (5, 6) (5, 7) (6, 7) (6, 8), then
// (1, 8) (3, 8) (5, 8) (7, 8).
TEST(ClusterFitLists, NineColourFourLevelOrder) {
  std::vector<std::pair<int, int>> pairs;
  for (int a = 1; a <= 4; ++a)
    for (int b = a + 1; b <= a + 4; ++b) pairs.emplace_back(a, b);
  for (auto [a, b] : {std::pair{1, 6}, {1, 7}, {2, 7}, {2, 8}, {5, 6}, {5, 7}, {6, 7}, {6, 8},
                      {1, 8}, {3, 8}, {5, 8}, {7, 8}})
    pairs.emplace_back(a, b);
  std::vector<Code> expected;
  for (int group = 0; group < 4; ++group)
    for (auto [a, b] : pairs)
      expected.push_back(group == 0 ? Code(a, a, b) : group == 1 ? Code(a, b, b)
                         : group == 2 ? Code(0, a, b) : Code(a, b, 9));
  const Partition_List& list = cluster_fit_lists(9).four_levels;
  ASSERT_EQ(list.count, expected.size());
  for (uint32_t i = 0; i < list.count; ++i) EXPECT_EQ(code_of(list, i), expected[i]) << i;
}

TEST(ClusterFitLists, EveryPartitionOnceWithTheStageCountsOfTheTable) {
  // B, C, D, E, F per count.
  const uint32_t counts[17][5] = {
      {},           {},           {0, 0, 0, 4, 2},     {2, 0, 0, 12, 2},     {3, 0, 0, 28, 0},
      {4, 20, 16, 12, 0},        {5, 20, 40, 16, 0},  {6, 20, 48, 40, 2},   {7, 20, 76, 56, 2},
      {8, 40, 112, 56, 0},       {9, 40, 144, 88, 1}, {10, 40, 176, 132, 2}, {11, 40, 208, 192, 0},
      {12, 60, 256, 228, 0},     {13, 60, 312, 292, 0}, {14, 60, 352, 384, 2},
      {15, 60, 412, 476, 2}};
  for (uint32_t n = 2; n <= 16; ++n) {
    SCOPED_TRACE(n);
    const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
    std::map<Code, int> seen;
    // Stage B of 16 colours has no list: its splits are (k, k, k), k = 1..15.
    const uint32_t splits = n == 16 ? 15 : lists.mean_pairs.count;
    EXPECT_EQ(splits, counts[n][0]);
    for (uint32_t k = 1; k <= splits; ++k) ++seen[{k, k, k}];
    const Partition_List* stages[4] = {&lists.three_levels, &lists.four_levels, &lists.records,
                                       &lists.final};
    for (int s = 0; s < 4; ++s) {
      EXPECT_EQ(stages[s]->count, counts[n][s + 1]) << "stage " << s;
      for (uint32_t i = 0; i < stages[s]->count; ++i) ++seen[code_of(*stages[s], i)];
    }
    uint32_t partitions = 0;
    for (uint32_t i1 = 0; i1 <= n; ++i1)
      for (uint32_t i2 = i1; i2 <= n; ++i2)
        for (uint32_t i3 = i2; i3 <= n; ++i3) {
          const int used = (i1 > 0) + (i2 > i1) + (i3 > i2) + (n > i3);
          const Code code{i1, i2, i3};
          if (used < 2) {
            EXPECT_EQ(seen.count(code), 0u);
            continue;
          }
          ++partitions;
          const bool repeated = (n == 6 && code == Code(2, 3, 5)) || (n == 14 && code == Code(10, 11, 13));
          EXPECT_EQ(seen[code], repeated ? 2 : 1) << i1 << "," << i2 << "," << i3;
        }
    EXPECT_EQ(partitions, (n + 3) * (n + 2) * (n + 1) / 6 - 4);
    EXPECT_EQ(seen.size(), partitions);
  }
}

// Every offset of every entry must address the clusters its code names.
TEST(ClusterFitLists, OffsetsAgreeWithTheCodes) {
  for (uint32_t n = 2; n <= 16; ++n) {
    SCOPED_TRACE(n);
    const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
    auto expected = [n](Code c, uint8_t shape) {
      const uint32_t cuts[5] = {0, uint32_t(std::get<0>(c)), uint32_t(std::get<1>(c)),
                                uint32_t(std::get<2>(c)), n};
      std::vector<uint64_t> offsets;
      for (int k = 0; k < 4; ++k)
        if (shape & (1 << k))
          offsets.push_back(cluster_run_offset(n, cuts[k], cuts[k + 1]) + ((k == 1 || k == 2) ? 16 : 0));
      offsets.push_back(cluster_middle_weight_offset(n, cuts[1], cuts[3]));
      return offsets;
    };
    auto check = [&](const Partition_List& list, uint32_t first, uint32_t count, uint8_t shape) {
      for (uint32_t i = first; i < first + count; ++i) {
        std::vector<uint64_t> e = entry(list, i);
        if (n == 16) e.pop_back();
        EXPECT_EQ(e, expected(code_of(list, i), shape)) << "entry " << i;
      }
    };
    check(lists.records, 0, lists.records.count, Shape_1111);
    check(lists.final, 0, lists.final.count, Shape_1111);
    for (int g = 0; g < 5 && n >= 5; ++g)
      check(lists.three_levels, g * three_level_group_size(n), three_level_group_size(n),
            three_level_shapes[g]);
    for (uint32_t g = 0, first = 0; g < 4 && n >= 5; first += four_level_group_sizes[n][g++])
      check(lists.four_levels, first, four_level_group_sizes[n][g], four_level_shapes[g]);
  }
}

}  // namespace
