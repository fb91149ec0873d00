// A slow search, written apart from the converter's, for a four-colour DXT5
// colour half that shows given pixels exactly, for the tests and the fuzz
// target of the DXT1 to DXT5 conversion. The palette is read as the DXT5
// decoding rule states it: each 5- or 6-bit level's top bits repeated below
// it, the two inner entries (2a + b) / 3 and (a + 2b) / 3, truncated.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

// The distinct colours of 16 pixels (R, G, B), in order of first use.
inline std::vector<std::array<int, 3>> distinct_colours(const uint8_t shown[48]) {
  std::vector<std::array<int, 3>> colours;
  for (int p = 0; p < 16; ++p) {
    const std::array<int, 3> c = {shown[3 * p], shown[3 * p + 1], shown[3 * p + 2]};
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  return colours;
}

// Whether some half shows the 16 pixels: for every way of giving their
// distinct colours distinct palette entries, every pair of endpoint levels of
// each channel in turn.
inline bool has_exact_colour_half(const uint8_t shown[48]) {
  const auto colours = distinct_colours(shown);
  if (colours.size() > 4) return false;
  std::array<int, 4> entry = {0, 1, 2, 3};  // colour j takes entry[j]
  do {
    bool every_channel = true;
    for (int ch = 0; ch < 3 && every_channel; ++ch) {
      const int bits = ch == 1 ? 6 : 5;
      bool found = false;
      for (int l0 = 0; l0 < 1 << bits && !found; ++l0) {
        const int a = l0 << (8 - bits) | l0 >> (2 * bits - 8);
        bool a_fits = true;  // a colour on entry 0 is colour 0 itself
        for (size_t j = 0; j < colours.size(); ++j) a_fits &= entry[j] != 0 || colours[j][ch] == a;
        for (int l1 = 0; l1 < 1 << bits && a_fits && !found; ++l1) {
          const int b = l1 << (8 - bits) | l1 >> (2 * bits - 8);
          const int palette[4] = {a, b, (2 * a + b) / 3, (a + 2 * b) / 3};
          found = true;
          for (size_t j = 0; j < colours.size() && found; ++j) found = palette[entry[j]] == colours[j][ch];
        }
      }
      every_channel = found;
    }
    if (every_channel) return true;
  } while (std::next_permutation(entry.begin(), entry.end()));
  return false;
}
