// Builds every partition list of the cluster fit once, from the order rules of
// each stage. The lists are what ties scalar and vector stage kernels together:
// both walk the same entries in the same order, so they settle exact ties alike.
#include "texture_encoder/cluster_fit/partition_tables.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <tuple>
#include <vector>

namespace {

struct Bounds {
  uint8_t i1, i2, i3;
};
using Pair = std::pair<uint8_t, uint8_t>;
using Pairs = std::vector<Pair>;

struct Plan_Storage {
  std::vector<Lane_Section> sections;
  std::vector<uint16_t> bases, offsets;
  std::vector<float> reciprocals;
};

struct List_Storage {
  std::vector<uint64_t> entries;
  std::vector<uint8_t> codes;
  uint32_t count = 0;
  uint32_t stride = 0;
  Plan_Storage plan;

  Partition_List view() const {
    const Lane_Plan lanes{plan.sections.data(), uint32_t(plan.sections.size()), plan.bases.data(),
                          plan.offsets.data(),
                          plan.reciprocals.empty() ? nullptr : plan.reciprocals.data()};
    return {entries.data(), codes.data(), count, stride, lanes};
  }
  void add_code(Bounds p) {
    codes.insert(codes.end(), {p.i1, p.i2, p.i3});
    ++count;
  }
  // Zero entries after the last one, so that readers of whole groups stay inside.
  void close(uint32_t padding_entries) {
    entries.resize(entries.size() + size_t(padding_entries) * stride, 0);
    codes.resize(codes.size() + size_t(padding_entries) * 3, 0);
  }
};

// The 16-colour reciprocal determinants, one per (start, 2/3-level, 1/3-level)
// cluster sizes; the end cluster holds the rest.
struct Reciprocal_Table {
  std::vector<float> values;
  std::map<std::tuple<int, int, int>, uint32_t> index;

  uint64_t offset_of(Bounds p) {
    const int n0 = p.i1, n2 = p.i2 - p.i1, n3 = p.i3 - p.i2, n1 = 16 - p.i3;
    const auto key = std::make_tuple(n0, n2, n3);
    auto found = index.find(key);
    if (found == index.end()) {
      // 81 (A B - C^2) with A = n0 + 4 n2 / 9 + n3 / 9, B = n1 + n2 / 9 + 4 n3 / 9,
      // C = 2 (n2 + n3) / 9, all integers once scaled by 9.
      const long long d =
          (9ll * n0 + 4 * n2 + n3) * (9ll * n1 + n2 + 4 * n3) - 4ll * (n2 + n3) * (n2 + n3);
      values.push_back(static_cast<float>(81.0 / double(d)));
      found = index.emplace(key, uint32_t(values.size() - 1)).first;
    }
    return 4ull * found->second;
  }
};

Reciprocal_Table& reciprocals() {
  static Reciprocal_Table table;
  return table;
}

uint64_t cluster_offset(uint32_t n, const uint32_t cuts[5], int k) {
  const bool middle = k == 1 || k == 2;
  return cluster_run_offset(n, cuts[k], cuts[k + 1]) + (middle ? 16 : 0);
}

void add_general(List_Storage& list, uint32_t n, Bounds p) {
  const uint32_t cuts[5] = {0, p.i1, p.i2, p.i3, n};
  for (int k = 0; k < 4; ++k) list.entries.push_back(cluster_offset(n, cuts, k));
  list.entries.push_back(cluster_middle_weight_offset(n, p.i1, p.i3));
  if (n == 16) list.entries.push_back(reciprocals().offset_of(p));
  list.add_code(p);
}

void add_compact(List_Storage& list, uint32_t n, Bounds p, uint8_t shape) {
  const uint32_t cuts[5] = {0, p.i1, p.i2, p.i3, n};
  for (int k = 0; k < 4; ++k)
    if (shape & (1 << k)) list.entries.push_back(cluster_offset(n, cuts, k));
  list.entries.push_back(cluster_middle_weight_offset(n, p.i1, p.i3));
  if (n == 16) list.entries.push_back(reciprocals().offset_of(p));
  list.add_code(p);
}

// ---- Stage B ------------------------------------------------------------------

void build_mean_pairs(List_Storage& list, uint32_t n) {
  list.stride = 2;
  if (n < 3 || n > 15) return;
  for (uint32_t k = 1; k < n; ++k) {
    list.entries.push_back(cluster_run_offset(n, 0, k));
    list.entries.push_back(cluster_run_offset(n, k, n));
    list.add_code({uint8_t(k), uint8_t(k), uint8_t(k)});
  }
}

// ---- Stage C: five two-cluster shapes, splits 1..S each -------------------------

void build_three_levels(List_Storage& list, uint32_t n) {
  list.stride = compact_entry_stride(2, n);
  if (n < 5) return;
  const uint32_t group = three_level_group_size(n);
  for (Cluster_Shape shape : three_level_shapes) {
    for (uint32_t s = 1; s <= group; ++s) {
      const uint8_t a = uint8_t(s), c = uint8_t(n);
      Bounds p{};
      switch (shape) {
        case Shape_0011: p = {0, 0, a}; break;
        case Shape_0101: p = {0, a, a}; break;
        case Shape_0110: p = {0, a, c}; break;
        case Shape_1010: p = {a, a, c}; break;
        default: p = {a, c, c}; break;  // Shape_1100
      }
      add_compact(list, n, p, shape);
    }
  }
  list.close(group);
}

// ---- Stage D: four three-cluster shapes from one list of pairs ------------------

struct Four_Level_Rows {
  Pairs second;
  std::array<Pairs, 4> tails;  // per shape group
};

Four_Level_Rows four_level_rows(uint32_t n) {
  auto same = [](Pairs tail) { return std::array<Pairs, 4>{tail, tail, tail, tail}; };
  switch (n) {
    case 5: return {{{1, 2}, {1, 3}, {2, 3}, {2, 4}}, {}};
    case 6: return {{{2, 3}, {2, 4}, {3, 4}, {3, 5}},
                    {Pairs{{0, 5}, {5, 6}, {2, 5}, {4, 5}}, Pairs{{0, 5}, {5, 6}, {2, 5}, {4, 5}},
                     Pairs{}, Pairs{}}};
    case 7: return {{{3, 4}, {3, 5}, {4, 5}, {4, 6}}, {}};
    case 8: return {{{1, 6}, {1, 7}, {4, 5}, {4, 6}},
                    {Pairs{{0, 7}, {7, 8}, {2, 7}, {4, 7}}, Pairs{{0, 7}, {7, 8}, {2, 7}, {4, 7}},
                     Pairs{{7, 8}, {2, 7}, {4, 7}, {6, 7}}, Pairs{}}};
    case 9: return {{{1, 6}, {1, 7}, {2, 7}, {2, 8}, {5, 6}, {5, 7}, {6, 7}, {6, 8}},
                    same({{1, 8}, {3, 8}, {5, 8}, {7, 8}})};
    case 10: return {{{2, 7}, {2, 8}, {3, 8}, {3, 9}, {6, 7}, {6, 8}, {7, 8}, {7, 9}},
                     {Pairs{{0, 9}, {9, 10}, {2, 9}, {4, 9}}, Pairs{{0, 9}, {9, 10}, {2, 9}, {4, 9}},
                      Pairs{{9, 10}, {2, 9}, {4, 9}, {6, 9}}, Pairs{{2, 9}, {4, 9}, {6, 9}, {8, 9}}}};
    case 11: return {{{3, 8}, {3, 9}, {4, 9}, {4, 10}, {7, 8}, {7, 9}, {8, 9}, {8, 10}},
                     same({{1, 10}, {3, 10}, {5, 10}, {7, 10}})};
    case 12: return {{{1, 10}, {1, 11}, {4, 9}, {4, 10}, {5, 10}, {5, 11}, {8, 9}, {8, 10}},
                     {Pairs{{0, 11}, {11, 12}, {2, 11}, {4, 11}},
                      Pairs{{0, 11}, {11, 12}, {2, 11}, {4, 11}},
                      Pairs{{11, 12}, {2, 11}, {4, 11}, {6, 11}},
                      Pairs{{2, 11}, {4, 11}, {6, 11}, {8, 11}}}};
    case 13: return {{{1, 10}, {1, 11}, {2, 11}, {2, 12}, {5, 10}, {5, 11}, {6, 11}, {6, 12},
                      {9, 10}, {9, 11}, {10, 11}, {10, 12}},
                     same({{1, 12}, {3, 12}, {5, 12}, {7, 12}})};
    case 14: {
      const Pairs outer{{0, 13}, {13, 14}, {2, 13}, {4, 13}, {6, 13}, {8, 13}, {10, 13}, {12, 13}};
      return {{{2, 11}, {2, 12}, {3, 12}, {3, 13}, {6, 11}, {6, 12}, {7, 12}, {7, 13},
               {10, 11}, {10, 12}, {11, 12}, {11, 13}},
              {outer, outer, Pairs{{13, 14}, {2, 13}, {4, 13}, {6, 13}},
               Pairs{{2, 13}, {4, 13}, {6, 13}, {8, 13}}}};
    }
    case 15: return {{{3, 12}, {3, 13}, {4, 13}, {4, 14}, {7, 12}, {7, 13}, {8, 13}, {8, 14},
                      {11, 12}, {11, 13}, {12, 13}, {12, 14}},
                     same({{1, 14}, {3, 14}, {5, 14}, {7, 14}})};
    default: {  // 16
      const Pairs outer{{0, 15}, {15, 16}, {2, 15}, {4, 15}, {6, 15}, {8, 15}, {10, 15}, {12, 15}};
      return {{{1, 14}, {1, 15}, {4, 13}, {4, 14}, {5, 14}, {5, 15}, {8, 13}, {8, 14},
               {9, 14}, {9, 15}, {12, 13}, {12, 14}},
              {outer, outer,
               Pairs{{15, 16}, {2, 15}, {4, 15}, {6, 15}, {8, 15}, {10, 15}, {12, 15}, {14, 15}},
               Pairs{{2, 15}, {4, 15}, {6, 15}, {8, 15}}}};
    }
  }
}

void build_four_levels(List_Storage& list, uint32_t n) {
  list.stride = compact_entry_stride(3, n);
  if (n < 5) return;
  const Four_Level_Rows rows = four_level_rows(n);
  // Main section: for each a, b in whole runs of four that end at or below n - 1.
  Pairs main;
  for (uint32_t a = 1; a + 1 < n; ++a)
    for (uint32_t runs = (n - 1 - a) / 4, b = a + 1; runs > 0; --runs)
      for (int k = 0; k < 4; ++k, ++b) main.emplace_back(uint8_t(a), uint8_t(b));
  for (int g = 0; g < 4; ++g) {
    Pairs pairs = main;
    pairs.insert(pairs.end(), rows.second.begin(), rows.second.end());
    pairs.insert(pairs.end(), rows.tails[g].begin(), rows.tails[g].end());
    for (auto [a, b] : pairs) {
      const uint8_t c = uint8_t(n);
      const Bounds p = g == 0 ? Bounds{a, a, b}
                     : g == 1 ? Bounds{a, b, b}
                     : g == 2 ? Bounds{0, a, b}
                              : Bounds{a, b, c};
      add_compact(list, n, p, four_level_shapes[g]);
    }
  }
  list.close(4);
}

// ---- Stage F ------------------------------------------------------------------

std::vector<Bounds> final_partitions(uint32_t n) {
  switch (n) {
    case 2: return {{0, 1, 2}, {1, 1, 1}};
    case 3: return {{1, 3, 3}, {2, 3, 3}};
    case 7: return {{3, 4, 5}, {3, 4, 6}};
    case 8: return {{1, 2, 7}, {3, 4, 7}};
    case 10: return {{5, 6, 9}};
    case 11: return {{9, 11, 11}, {10, 11, 11}};
    case 15: return {{11, 12, 13}, {11, 12, 14}};
    case 16: return {{5, 6, 15}, {7, 8, 15}};
    default: return {};
  }
}

void build_final(List_Storage& list, uint32_t n) {
  list.stride = general_entry_stride(n);
  for (Bounds p : final_partitions(n)) add_general(list, n, p);
  list.close(2 - list.count % 2);
}

// ---- Stage E ------------------------------------------------------------------

// Partitions with an empty cluster in the records of 2..15 colours, with their
// places in the list; the places left over take the four-cluster partitions.
struct Record_Extras {
  std::vector<std::pair<uint16_t, uint16_t>> places;  // inclusive ranges
  std::vector<Bounds> bounds;
};

Record_Extras record_extras(uint32_t n) {
  switch (n) {
    case 2: return {{{0, 3}}, {{0, 0, 1}, {1, 1, 2}, {0, 1, 1}, {1, 2, 2}}};
    case 3: return {{{0, 11}},
                    {{0, 0, 1}, {0, 0, 2}, {0, 1, 1}, {0, 2, 2}, {0, 1, 3}, {0, 2, 3},
                     {1, 1, 3}, {2, 2, 3}, {1, 1, 2}, {1, 2, 2}, {0, 1, 2}, {1, 2, 3}}};
    case 4: return {{{0, 24}, {26, 27}},
                    {{0, 0, 1}, {0, 0, 2}, {0, 1, 1}, {0, 2, 2}, {0, 1, 4}, {0, 2, 4}, {1, 1, 4},
                     {2, 2, 4}, {1, 4, 4}, {2, 4, 4}, {1, 1, 2}, {1, 1, 3}, {1, 2, 2}, {1, 3, 3},
                     {0, 1, 2}, {0, 1, 3}, {1, 2, 4}, {1, 3, 4}, {0, 0, 3}, {3, 3, 4}, {0, 3, 3},
                     {3, 4, 4}, {0, 3, 4}, {0, 2, 3}, {2, 2, 3}, {2, 3, 3}, {2, 3, 4}}};
    case 5: return {{{0, 7}},
                    {{1, 1, 4}, {3, 3, 4}, {1, 4, 4}, {3, 4, 4}, {0, 1, 4}, {0, 3, 4},
                     {1, 4, 5}, {3, 4, 5}}};
    case 6: return {{{0, 4}}, {{0, 5, 6}, {0, 2, 5}, {2, 5, 6}, {4, 5, 6}, {0, 4, 5}}};
    case 7: return {{{0, 19}, {38, 39}},
                    {{0, 0, 5}, {0, 0, 6}, {0, 5, 5}, {0, 6, 6}, {0, 5, 7}, {0, 6, 7}, {5, 5, 7},
                     {6, 6, 7}, {5, 7, 7}, {6, 7, 7}, {1, 1, 6}, {3, 3, 6}, {1, 6, 6}, {3, 6, 6},
                     {0, 1, 6}, {0, 3, 6}, {5, 5, 6}, {5, 6, 6}, {0, 5, 6}, {5, 6, 7}, {1, 6, 7},
                     {3, 6, 7}}};
    case 8: return {{{0, 19}, {32, 32}, {36, 37}},
                    {{0, 0, 5}, {0, 0, 6}, {0, 5, 5}, {0, 6, 6}, {0, 5, 8}, {0, 6, 8}, {5, 5, 8},
                     {6, 6, 8}, {5, 8, 8}, {6, 8, 8}, {5, 5, 6}, {5, 5, 7}, {5, 6, 6}, {5, 7, 7},
                     {0, 5, 6}, {0, 5, 7}, {5, 6, 8}, {5, 7, 8}, {2, 7, 8}, {4, 7, 8}, {6, 6, 7},
                     {6, 7, 7}, {6, 7, 8}}};
    case 10: return {{{0, 3}, {48, 48}},
                     {{6, 6, 9}, {8, 8, 9}, {6, 9, 9}, {8, 9, 9}, {0, 8, 9}}};
    case 11: return {{{0, 11}},
                     {{0, 0, 9}, {0, 0, 10}, {0, 9, 9}, {0, 10, 10}, {0, 9, 11}, {0, 10, 11},
                      {9, 9, 11}, {10, 10, 11}, {9, 9, 10}, {9, 10, 10}, {0, 9, 10}, {9, 10, 11}}};
    case 12: return {{{0, 23}, {120, 120}, {136, 137}},
                     {{0, 0, 9}, {0, 0, 10}, {0, 9, 9}, {0, 10, 10}, {0, 9, 12}, {0, 10, 12},
                      {9, 9, 12}, {10, 10, 12}, {9, 12, 12}, {10, 12, 12}, {9, 9, 10}, {9, 9, 11},
                      {9, 10, 10}, {9, 11, 11}, {0, 9, 10}, {0, 9, 11}, {9, 10, 12}, {9, 11, 12},
                      {6, 6, 11}, {8, 8, 11}, {6, 11, 11}, {8, 11, 11}, {0, 8, 11}, {0, 10, 11},
                      {10, 10, 11}, {10, 11, 11}, {10, 11, 12}}};
    case 13: return {{{0, 7}},
                     {{9, 9, 12}, {11, 11, 12}, {9, 12, 12}, {11, 12, 12}, {0, 9, 12},
                      {0, 11, 12}, {9, 12, 13}, {11, 12, 13}}};
    case 14: return {{{0, 3}, {196, 196}},
                     {{0, 8, 13}, {0, 10, 13}, {10, 13, 14}, {12, 13, 14}, {0, 12, 13}}};
    case 15: return {{{0, 19}, {382, 383}},
                     {{0, 0, 13}, {0, 0, 14}, {0, 13, 13}, {0, 14, 14}, {0, 13, 15}, {0, 14, 15},
                      {13, 13, 15}, {14, 14, 15}, {13, 15, 15}, {14, 15, 15}, {9, 9, 14},
                      {11, 11, 14}, {9, 14, 14}, {11, 14, 14}, {0, 9, 14}, {0, 11, 14},
                      {13, 13, 14}, {13, 14, 14}, {0, 13, 14}, {13, 14, 15}, {9, 14, 15},
                      {11, 14, 15}}};
    default: return {};  // 9
  }
}

bool same_bounds(Bounds x, Bounds y) { return x.i1 == y.i1 && x.i2 == y.i2 && x.i3 == y.i3; }

// Four-cluster partitions of n colours outside stage F. For each first two
// boundaries the third runs over b+1..n-1: whole runs of four come first; of
// the one to three left over, an odd one out (the last colour alone in cluster
// 3) joins the singles, ordered by second then first boundary, and the others
// come last as pairs, in ascending order.
std::vector<Bounds> four_cluster_partitions(uint32_t n) {
  const std::vector<Bounds> final = final_partitions(n);
  std::vector<Bounds> runs, singles, pairs;
  for (uint32_t a = 1; a < n; ++a)
    for (uint32_t b = a + 1; b < n; ++b) {
      const uint32_t whole_runs = (n - 1 - b) / 4;
      const uint32_t left_over = (n - 1 - b) % 4;
      for (uint32_t c = b + 1; c < n; ++c) {
        const Bounds p{uint8_t(a), uint8_t(b), uint8_t(c)};
        bool in_final = false;
        for (Bounds f : final) in_final = in_final || same_bounds(f, p);
        if (in_final) continue;
        if ((c - (b + 1)) / 4 < whole_runs)
          runs.push_back(p);
        else if (c == n - 1 && left_over % 2 == 1)
          singles.push_back(p);
        else
          pairs.push_back(p);
      }
    }
  std::stable_sort(singles.begin(), singles.end(),
                   [](Bounds x, Bounds y) { return x.i2 < y.i2; });
  runs.insert(runs.end(), singles.begin(), singles.end());
  runs.insert(runs.end(), pairs.begin(), pairs.end());
  return runs;
}

std::vector<Bounds> record_partitions(uint32_t n) {
  std::vector<Bounds> list(record_counts[n]);
  std::vector<bool> taken(list.size(), false);
  const Record_Extras extras = record_extras(n);
  size_t next_extra = 0;
  for (auto [first, last] : extras.places)
    for (uint32_t place = first; place <= last; ++place) {
      list[place] = extras.bounds[next_extra++];
      taken[place] = true;
    }
  // 6 and 14 colours: the last place repeats the one before it.
  const bool repeat = n == 6 || n == 14;
  const size_t open_places = list.size() - (repeat ? 1 : 0);
  const std::vector<Bounds> four = four_cluster_partitions(n);
  size_t next_four = 0;
  for (size_t place = 0; place < open_places; ++place)
    if (!taken[place] && next_four < four.size()) list[place] = four[next_four++];
  if (repeat) list.back() = list[list.size() - 2];
  return list;
}

// The sixteen-colour record list, section by section.
std::vector<Bounds> record_partitions_n16() {
  std::vector<Bounds> list = {
      {0, 0, 13},   {0, 0, 14},   {0, 13, 13},  {0, 14, 14},  {0, 13, 16},
      {0, 14, 16},  {13, 13, 16}, {14, 14, 16}, {13, 16, 16}, {14, 16, 16},
      {13, 13, 14}, {13, 13, 15}, {13, 14, 14}, {13, 15, 15}, {0, 13, 14},
      {0, 13, 15},  {13, 14, 16}, {13, 15, 16}, {10, 15, 16}, {12, 15, 16}};
  for (uint8_t a = 1; a < 16; ++a)
    for (uint8_t b = a + 1; b < 16; ++b)
      for (uint8_t c = b + 1; c + 3 <= 15; c += 4)
        for (uint8_t k = 0; k < 4; ++k) list.push_back({a, b, uint8_t(c + k)});
  for (uint8_t b : {10, 12})
    for (uint8_t a = 1; a <= 8; ++a) list.push_back({a, b, 15});
  list.push_back({14, 14, 15});
  for (uint8_t a = 1; a <= 11; ++a) list.push_back({a, 14, 15});
  for (uint8_t b : {6, 8})
    for (uint8_t a = 1; a <= 4; ++a) list.push_back({a, b, 15});
  list.push_back({14, 15, 15});
  list.push_back({14, 15, 16});
  for (uint8_t a = 1; a < 16; ++a)
    for (uint8_t b : {4, 5, 8, 9, 12, 13}) {
      if (b <= a) continue;
      const uint8_t c = b % 4 == 0 ? 13 : 14;
      list.push_back({a, b, c});
      list.push_back({a, b, uint8_t(c + 1)});
    }
  const Bounds last[] = {{9, 12, 15}, {10, 12, 15}, {12, 14, 15}, {13, 14, 15},
                         {1, 4, 15},  {2, 4, 15},   {5, 8, 15},   {6, 8, 15},
                         {9, 10, 15}, {11, 12, 15}, {1, 2, 15},   {3, 4, 15}};
  list.insert(list.end(), std::begin(last), std::end(last));
  return list;
}

void build_records(List_Storage& list, uint32_t n) {
  list.stride = general_entry_stride(n);
  for (Bounds p : n == 16 ? record_partitions_n16() : record_partitions(n)) add_general(list, n, p);
  list.close(4);
}

// ---- Plans of the vector stages ---------------------------------------------------

// The lane indices of one candidate's terms under both orders of the runs.
struct Term_Places {
  uint32_t by_start, by_end;
  bool empty;
};

// Kind and base of one term over a group of four: absent when every run is
// empty, shared when all four are one run, a run of four when they are
// neighbours in one of the orders; false when none fits.
bool classify(const Term_Places (&t)[4], bool may_be_absent, uint8_t& load, uint16_t& base) {
  bool absent = may_be_absent, shared = true, by_start = true, by_end = true;
  for (int k = 0; k < 4; ++k) {
    absent = absent && t[k].empty;
    shared = shared && t[k].by_start == t[0].by_start;
    by_start = by_start && t[k].by_start == t[0].by_start + uint32_t(k);
    by_end = by_end && t[k].by_end == t[0].by_end + uint32_t(k);
  }
  load = absent ? Lane_Absent : shared ? Lane_Shared : Lane_Run;
  base = uint16_t(by_start || shared ? t[0].by_start : t[0].by_end);
  return absent || shared || by_start || by_end;
}

Lane_Grouping grouping_of(uint32_t n, bool records, uint32_t candidate) {
  if (n != 16 || !records) return Grouping_Usual;
  if (candidate >= 20 && candidate < 336) return Grouping_Start_Two_Thirds;
  if (candidate >= 336 && candidate < 372) return Grouping_End_Two_Thirds;
  return Grouping_Usual;
}

void build_plan(List_Storage& list, uint32_t n, bool records) {
  Plan_Storage& plan = list.plan;
  const auto bounds = [&](uint32_t i) {
    const uint8_t* c = &list.codes[3 * size_t(i)];
    return std::array<uint32_t, 5>{0, c[0], c[1], c[2], n};
  };
  for (uint32_t i = 0; i < list.count; ++i) {
    const auto cut = bounds(i);
    for (int k = 0; k < 4; ++k)
      plan.offsets.push_back(uint16_t(cluster_run_offset(n, cut[k], cut[k + 1]) +
                                      (k == 1 || k == 2 ? 16 : 0)));
    plan.offsets.push_back(uint16_t(cluster_middle_weight_offset(n, cut[1], cut[3])));
    if (n == 16) {
      const Bounds p{uint8_t(cut[1]), uint8_t(cut[2]), uint8_t(cut[3])};
      plan.reciprocals.push_back(reciprocals().values[reciprocals().offset_of(p) / 4]);
    }
  }
  if (n == 16) plan.reciprocals.resize(plan.reciprocals.size() + 8, 0.0f);
  for (uint32_t first = 0; first < list.count; first += 4) {
    Lane_Section group{first, std::min(4u, list.count - first), {},
                       uint8_t(grouping_of(n, records, first)), false};
    uint16_t base[5] = {};
    if (group.count < 4) {
      group.gathered = true;
    } else {
      Term_Places terms[5][4];
      for (uint32_t k = 0; k < 4; ++k) {
        const auto cut = bounds(first + k);
        // Runs are kept by end for the last end only: elsewhere no two are neighbours.
        const auto run = [&](uint32_t i, uint32_t j, uint32_t by_start, uint32_t by_end) {
          return Term_Places{by_start + i * 17 + j, j == n ? by_end + j * 17 + i : 0x10000 + 2 * k,
                             i == j};
        };
        terms[0][k] = {lane_prefix_whole + cut[1], 0x10000 + 2 * k, cut[1] == 0};
        terms[1][k] = run(cut[1], cut[2], lane_third_by_start, lane_third_by_end);
        terms[2][k] = run(cut[2], cut[3], lane_third_by_start, lane_third_by_end);
        terms[3][k] = {lane_suffix_whole + cut[3], 0x10000 + 2 * k, cut[3] == n};
        terms[4][k] = run(cut[1], cut[3], lane_cross_by_start, lane_cross_by_end);
      }
      for (int t = 0; t < 5; ++t)
        group.gathered = group.gathered || !classify(terms[t], t < 4, group.loads[t], base[t]);
    }
    plan.bases.insert(plan.bases.end(), base, base + 5);
    Lane_Section* last = plan.sections.empty() ? nullptr : &plan.sections.back();
    const bool same_kind =
        last && last->gathered == group.gathered && last->grouping == group.grouping &&
        (group.gathered || std::equal(group.loads, group.loads + 5, last->loads));
    if (same_kind)
      last->count += group.count;
    else
      plan.sections.push_back(group);
  }
}

struct All_Lists {
  std::array<std::array<List_Storage, 5>, 17> storage;
  std::array<Cluster_Fit_Lists, 17> views{};

  All_Lists() {
    for (uint32_t n = 2; n <= 16; ++n) {
      auto& s = storage[n];
      build_mean_pairs(s[0], n);
      build_three_levels(s[1], n);
      build_four_levels(s[2], n);
      build_records(s[3], n);
      build_final(s[4], n);
      for (int stage = 1; stage < 5; ++stage) build_plan(s[stage], n, stage == 3);
      views[n] = {s[0].view(), s[1].view(), s[2].view(), s[3].view(), s[4].view()};
    }
  }
};

const All_Lists& all_lists() {
  static const All_Lists lists;
  return lists;
}

}  // namespace

const Cluster_Fit_Lists& cluster_fit_lists(uint32_t n) { return all_lists().views[n]; }

const float* reciprocal_determinant_table() {
  all_lists();
  return reciprocals().values.data();
}
