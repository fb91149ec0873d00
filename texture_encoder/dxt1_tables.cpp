// Constant tables of the DXT1 encoder, computed from the rules that define them.
#include <cstdlib>

#include "texture_encoder/dxt1_encoder.h"

namespace {

constexpr int expand(int value, int bits) {
  return bits == 5 ? (value << 3) | (value >> 2) : (value << 2) | (value >> 4);
}

constexpr std::array<uint8_t, 96> build_expand_table() {
  std::array<uint8_t, 96> table{};
  for (int x = 0; x < 32; ++x) table[x] = uint8_t(expand(x, 5));
  for (int x = 0; x < 64; ++x) table[32 + x] = uint8_t(expand(x, 6));
  return table;
}

// The pair whose 2/3 hi + 1/3 lo entry is nearest each value, with a small
// penalty on endpoints far apart; the first pair of the smallest error stays.
std::array<Dxt1_Match, 256> build_match(int bits) {
  std::array<Dxt1_Match, 256> table{};
  const int top = (1 << bits) - 1;
  for (int i = 0; i < 256; ++i) {
    int best = 1 << 30;
    for (int lo = 0; lo <= top; ++lo)
      for (int hi = 0; hi <= top; ++hi) {
        const int e_hi = expand(hi, bits), e_lo = expand(lo, bits);
        const int error = std::abs((2 * e_hi + e_lo) / 3 - i) + std::abs(e_hi - e_lo) * 3 / 100;
        if (error < best) {
          best = error;
          table[i] = {uint8_t(hi), uint8_t(lo)};
        }
      }
  }
  return table;
}

std::array<std::array<Single_Colour_Record, 2>, 256> build_lookup(int bits) {
  Single_Colour_Record records[256][4] = {};
  for (auto& entry : records)
    for (auto& record : entry) record.error = 255;
  const int top = (1 << bits) - 1;
  for (int a = 0; a <= top; ++a)
    for (int b = 0; b <= top; ++b) {
      const int ea = expand(a, bits), eb = expand(b, bits);
      const int codebook[4] = {ea, eb, (2 * ea + eb) / 3, (ea + 2 * eb) / 3};
      for (int k = 0; k < 4; ++k) {
        Single_Colour_Record& record = records[codebook[k]][k];
        if (record.error != 0) record = {uint8_t(a), uint8_t(b), 0};
      }
    }
  // Values no pair reaches exactly borrow their neighbour's pair; the ends of
  // the range have a neighbour on one side only.
  for (bool changed = true; changed;) {
    changed = false;
    for (int k = 0; k < 4; ++k)
      for (int t = 0; t < 256; ++t)
        for (int neighbour : {t + 1, t - 1}) {
          if (neighbour < 0 || neighbour > 255) continue;
          const Single_Colour_Record& from = records[neighbour][k];
          Single_Colour_Record& to = records[t][k];
          if (to.error > from.error + 1) {
            to = {from.start, from.end, uint8_t(from.error + 1)};
            changed = true;
          }
        }
  }
  std::array<std::array<Single_Colour_Record, 2>, 256> table{};
  for (int t = 0; t < 256; ++t) table[t] = {records[t][0], records[t][2]};
  return table;
}

}  // namespace

constexpr std::array<uint8_t, 96> dxt_expand_table = build_expand_table();

const Dxt1_Tables& dxt1_tables() {
  static const Dxt1_Tables tables{build_match(5), build_match(6), build_lookup(5), build_lookup(6)};
  return tables;
}
