// The partition lists of the cluster fit: the order of a list, and that the
// lists of one count hold every partition with at least two clusters in use
// exactly once.
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

using Code = std::tuple<int, int, int>;

Code code_of(const Partition_List& list, uint32_t i) {
  return {list.codes[3 * i], list.codes[3 * i + 1], list.codes[3 * i + 2]};
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

}  // namespace
