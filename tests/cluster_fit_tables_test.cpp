// The order of the cluster fit's partition lists (which partitions each list
// holds is checked against a brute-force search in cluster_fit_search_test).
#include <tuple>
#include <vector>

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

// Every count: the shape groups in the order 1011, 1101, 0111, 1110, each of
// as many passes of four as the stage's table gives, every partition with the
// cluster its shape leaves out empty; and the order inside each list as the
// encoder has it (a fingerprint of the codes: any reordering changes which of
// two equal-error partitions is kept).
TEST(ClusterFitLists, FourLevelGroupsAndOrderOfEveryCount) {
  // Passes of four partitions per shape group, by count.
  const std::vector<int> passes[17][4] = {
      {}, {}, {}, {}, {},
      {{1}, {1}, {1}, {1}},                               // 5
      {{1, 1, 1}, {1, 1, 1}, {1, 1}, {1, 1}},             // 6
      {{2, 1}, {2, 1}, {2, 1}, {2, 1}},                   // 7
      {{3, 1, 1}, {3, 1, 1}, {3, 1, 1}, {3, 1}},          // 8
      {{4, 2, 1}, {4, 2, 1}, {4, 2, 1}, {4, 2, 1}},       // 9
      {{6, 2, 1}, {6, 2, 1}, {6, 2, 1}, {6, 2, 1}},       // 10
      {{8, 2, 1}, {8, 2, 1}, {8, 2, 1}, {8, 2, 1}},       // 11
      {{10, 2, 1}, {10, 2, 1}, {10, 2, 1}, {10, 2, 1}},   // 12
      {{12, 3, 1}, {12, 3, 1}, {12, 3, 1}, {12, 3, 1}},   // 13
      {{15, 3, 2}, {15, 3, 2}, {15, 3, 1}, {15, 3, 1}},   // 14
      {{18, 3, 1}, {18, 3, 1}, {18, 3, 1}, {18, 3, 1}},   // 15
      {{21, 3, 2}, {21, 3, 2}, {21, 3, 2}, {21, 3, 1}}};  // 16
  const uint64_t fingerprints[17] = {0, 0, 0, 0, 0,
      0xe41293ddf56947fb, 0x37fcab4bf98a6ecb, 0xbc4357c5afcb79ef,
      0x867fc2b01bc5aa1b, 0x083e9cec840ddd29, 0x6d38cdf6e58de241,
      0x546fc2c213f9fd49, 0x6ebb9626e1269141, 0x9422390399f4d4e7,
      0x25932b252b5f616b, 0xc9692bc9655fce8b, 0x10e48579af8ee6fb};
  for (int n = 5; n <= 16; ++n) {
    SCOPED_TRACE(n);
    const Partition_List& list = cluster_fit_lists(uint32_t(n)).four_levels;
    uint32_t first = 0;
    for (int shape = 0; shape < 4; ++shape) {
      uint32_t size = 0;
      for (int pass_count : passes[n][shape]) size += 4 * uint32_t(pass_count);
      for (uint32_t i = first; i < first + size && i < list.count; ++i) {
        const auto [i1, i2, i3] = code_of(list, i);
        const bool left_out_empty = shape == 0 ? i1 == i2 : shape == 1 ? i2 == i3
                                  : shape == 2 ? i1 == 0 : i3 == n;
        EXPECT_TRUE(left_out_empty) << "shape group " << shape << " entry " << i;
      }
      first += size;
    }
    EXPECT_EQ(list.count, first);
    uint64_t fingerprint = 14695981039346656037ull;  // FNV-1a of the code bytes
    for (uint32_t i = 0; i < 3 * list.count; ++i)
      fingerprint = (fingerprint ^ list.codes[i]) * 1099511628211ull;
    EXPECT_EQ(fingerprint, fingerprints[n]) << std::hex << fingerprint;
  }
}

}  // namespace
