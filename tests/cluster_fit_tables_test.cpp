// The order of the cluster fit's partition lists (which partitions each list
// holds is checked against a brute-force search in cluster_fit_search_test).
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

}  // namespace
