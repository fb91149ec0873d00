// The search for a four-colour colour half showing given pixels exactly.
// Channels are independent once each distinct colour has its palette entry,
// so an assignment of entries that every channel can show gives the half.
#include "HAP/dxt_exact_colour_half.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <utility>
#include <vector>

#include "HAP/DXT_Frame.h"

namespace {

// A set of up to four channel values as one number: the distinct values in
// increasing order, one a byte from the lowest. Only the first value can be 0,
// so no two sets give the same number.
uint32_t value_set(const uint8_t* values, int count) {
  std::array<uint8_t, 4> sorted;
  sorted.fill(values[0]);
  std::copy(values, values + count, sorted.begin());
  std::sort(sorted.begin(), sorted.end());
  uint32_t set = sorted[0];
  for (int j = 1, shift = 8; j < 4; ++j)
    if (sorted[j] != sorted[j - 1]) set |= uint32_t(sorted[j]) << shift, shift += 8;
  return set;
}

// One channel of a DXT5 colour half: for every pair of endpoint levels (pair =
// level 0 x levels + level 1) the four values it shows, read with the block
// decoder itself so that no rounding can differ; for every 8-bit value the
// pairs showing it, so that a search visits only those; and every set of
// values some pair shows together, which turns most blocks down at once.
struct Channel_Palettes {
  uint32_t shift, levels;  // the channel's place in a 5:6:5 colour, and 32 or 64
  std::vector<std::array<uint8_t, 4>> values;
  std::array<std::vector<uint16_t>, 256> pairs_showing;
  std::vector<uint32_t> value_sets;  // sorted
};

Channel_Palettes build_channel_palettes(int channel) {
  static constexpr uint32_t shifts[3] = {11, 5, 0};
  Channel_Palettes c{shifts[channel], channel == 1 ? 64u : 32u, {}, {}, {}};
  c.values.resize(c.levels * c.levels);
  for (uint32_t pair = 0; pair < c.values.size(); ++pair) {
    const uint32_t c0 = pair / c.levels << c.shift, c1 = pair % c.levels << c.shift;
    // Indices 0, 1, 2, 3 on pixels 0 to 3: the palette in order.
    const uint8_t block[8] = {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0xE4, 0, 0, 0};
    uint8_t rgb[48];
    decode_colour_block(block, false, rgb);
    std::array<uint8_t, 4>& palette = c.values[pair];
    for (int e = 0; e < 4; ++e) palette[e] = rgb[3 * e + channel];
    for (const uint8_t value : palette) {
      std::vector<uint16_t>& pairs = c.pairs_showing[value];
      if (pairs.empty() || pairs.back() != pair) pairs.push_back(uint16_t(pair));
    }
    for (uint32_t entries = 1; entries < 16; ++entries) {
      uint8_t chosen[4];
      int count = 0;
      for (int e = 0; e < 4; ++e)
        if (entries >> e & 1) chosen[count++] = palette[e];
      c.value_sets.push_back(value_set(chosen, count));
    }
  }
  std::sort(c.value_sets.begin(), c.value_sets.end());
  c.value_sets.erase(std::unique(c.value_sets.begin(), c.value_sets.end()), c.value_sets.end());
  return c;
}

const Channel_Palettes& channel_palettes(int channel) {
  static const Channel_Palettes all[3] = {build_channel_palettes(0), build_channel_palettes(1),
                                          build_channel_palettes(2)};
  return all[channel];
}

// Ways of giving each of up to four colours a palette entry: assignment
// a gives colour j entry (a >> 2j) & 3.
using Assignments = std::bitset<256>;

// Adds every assignment giving colours from the given one on an entry
// showing them (entries[j], one bit per entry), noting the pair for those
// not found before.
void add_assignments(const uint8_t entries[4], int count, uint16_t pair, int colour, uint32_t assignment,
                     Assignments* found, uint16_t pair_of[256]) {
  if (colour == count) {
    if (!found->test(assignment)) found->set(assignment), pair_of[assignment] = pair;
    return;
  }
  for (uint32_t e = 0; e < 4; ++e)
    if (entries[colour] >> e & 1)
      add_assignments(entries, count, pair, colour + 1, assignment | e << (2 * colour), found, pair_of);
}

// The wanted assignments under which one channel's endpoint pairs show each
// colour's value exactly, each with the first pair that does. Only the pairs
// showing the value that the fewest show are visited, until all are found.
Assignments channel_assignments(const Channel_Palettes& c, const uint8_t values[4], int count,
                                const Assignments& wanted, uint16_t pair_of[256]) {
  const std::vector<uint16_t>* fewest = &c.pairs_showing[values[0]];
  for (int j = 1; j < count; ++j)
    if (c.pairs_showing[values[j]].size() < fewest->size()) fewest = &c.pairs_showing[values[j]];
  Assignments found;
  for (const uint16_t pair : *fewest) {
    uint8_t entries[4] = {};
    bool shows_all = true;
    for (int j = 0; j < count && shows_all; ++j) {
      for (int e = 0; e < 4; ++e) entries[j] |= uint8_t((c.values[pair][e] == values[j]) << e);
      shows_all = entries[j] != 0;
    }
    if (shows_all) add_assignments(entries, count, pair, 0, 0, &found, pair_of);
    if ((wanted & ~found).none()) break;
  }
  return found & wanted;
}

}  // namespace

bool write_exact_colour_half(const uint8_t shown[48], uint8_t out[8]) {
  uint32_t colours[4];  // R, G, B from the lowest byte
  int colour_of[16], count = 0;
  for (int p = 0; p < 16; ++p) {
    const uint32_t colour = shown[3 * p] | shown[3 * p + 1] << 8 | shown[3 * p + 2] << 16;
    int j = 0;
    while (j < count && colours[j] != colour) ++j;
    if (j == count) {
      if (count == 4) return false;
      colours[count++] = colour;
    }
    colour_of[p] = j;
  }
  uint8_t values[3][4];
  int distinct[3] = {};
  for (int ch = 0; ch < 3; ++ch) {
    for (int j = 0; j < count; ++j) {
      values[ch][j] = uint8_t(colours[j] >> (8 * ch));
      distinct[ch] += std::find(values[ch], values[ch] + j, values[ch][j]) == values[ch] + j;
    }
    const std::vector<uint32_t>& sets = channel_palettes(ch).value_sets;
    if (!std::binary_search(sets.begin(), sets.end(), value_set(values[ch], count))) return false;
  }
  // The channel with the most distinct values first, as it allows the fewest
  // assignments; green last among equals, as it has four times the pairs.
  int order[3] = {0, 2, 1};
  std::stable_sort(order, order + 3, [&](int a, int b) { return distinct[a] > distinct[b]; });
  Assignments all;
  all.set();
  uint16_t pair_of[3][256];
  for (const int ch : order) {
    all = channel_assignments(channel_palettes(ch), values[ch], count, all, pair_of[ch]);
    if (all.none()) return false;
  }
  uint32_t assignment = 0;
  while (!all.test(assignment)) ++assignment;
  uint32_t c0 = 0, c1 = 0, indices = 0;
  for (int ch = 0; ch < 3; ++ch) {
    const Channel_Palettes& c = channel_palettes(ch);
    c0 |= pair_of[ch][assignment] / c.levels << c.shift;
    c1 |= pair_of[ch][assignment] % c.levels << c.shift;
  }
  for (int p = 0; p < 16; ++p) indices |= (assignment >> (2 * colour_of[p]) & 3) << (2 * p);
  // Exchanged endpoints swap entries 0 with 1 and 2 with 3.
  if (c0 < c1) std::swap(c0, c1), indices ^= 0x55555555u;
  const uint8_t block[8] = {uint8_t(c0),      uint8_t(c0 >> 8),      uint8_t(c1),           uint8_t(c1 >> 8),
                            uint8_t(indices), uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
  std::memcpy(out, block, 8);
  return true;
}
