// What the vector-twin tests share: skipping on a processor without an
// instruction set, random source blocks and weighted colour sets that reach
// the kernels' edge cases, and a bit-exact comparison of cluster-fit results.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <random>
#include <utility>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/simd_features.h"

#define REQUIRE_CPU(condition) \
  if (!(condition)) GTEST_SKIP() << "processor lacks " #condition

inline bool cpu_has_avx2_fma() { return cpu_has_avx2() && cpu_has_fma(); }

// The twins the processor can run, of those listed with what they need.
template <class Fn>
std::vector<Fn> runnable(std::initializer_list<std::pair<Fn, bool>> twins) {
  std::vector<Fn> out;
  for (const auto& [twin, available] : twins)
    if (available) out.push_back(twin);
  return out;
}

// ---- Source blocks ------------------------------------------------------------

using Pixels = std::array<uint8_t, 64>;  // 16 BGRA pixels, row-major

// Kinds of block content that reach the kernels' edge cases.
enum class Content {
  Noise, Flat, Extremes, Few_Colours, Narrow, Alpha_Only, Greys, Line, Near_Neutral,
  Chroma_Limit, Black, Count
};

class Block_Maker {
 public:
  explicit Block_Maker(uint32_t seed) : random_(seed) {}
  uint8_t byte() { return uint8_t(random_() & 0xFF); }
  uint32_t below(uint32_t n) { return uint32_t(random_() % n); }
  uint8_t near(int v, int spread) {
    return uint8_t(std::clamp(v + int(below(2 * spread + 1)) - spread, 0, 255));
  }

  Pixels make(Content content) {
    uint8_t palette[16][4];
    for (auto& colour : palette)
      for (uint8_t& channel : colour) channel = byte();
    const uint32_t colours = 2 + below(15);
    const uint8_t* base = palette[0];
    const int chroma_step = below(2) ? 63 : 127;  // Co exactly 32 or 64 codes from neutral
    Pixels p{};
    for (int i = 0; i < 16; ++i) {
      uint8_t* px = &p[4 * i];
      px[3] = byte();
      const int t = int(below(64)), b = 20 + int(below(100));
      switch (content) {
        case Content::Noise: for (int c = 0; c < 3; ++c) px[c] = byte(); break;
        case Content::Flat: std::memcpy(px, base, 4); break;
        case Content::Extremes:
          for (int c = 0; c < 4; ++c) px[c] = below(2) ? 255 : below(3) ? 0 : byte();
          break;
        case Content::Few_Colours: std::memcpy(px, palette[below(colours)], 4); break;
        case Content::Narrow: for (int c = 0; c < 4; ++c) px[c] = near(base[c], 2); break;
        case Content::Alpha_Only: std::memcpy(px, base, 3); break;
        case Content::Greys: px[0] = px[1] = px[2] = near(base[1], 40); break;
        case Content::Line:  // colours along one direction
          px[0] = near(base[0] / 2 + t, 1), px[1] = near(base[1] / 2 + t, 1);
          px[2] = near(base[2] / 2 + 2 * t, 1);
          break;
        case Content::Near_Neutral:  // large chroma scales
          px[0] = near(128, 12), px[1] = near(128, 6), px[2] = near(128, 12);
          break;
        case Content::Chroma_Limit:
          px[0] = uint8_t(b), px[1] = base[1], px[2] = uint8_t(b + (i % 2 ? chroma_step : 0));
          break;
        default:  // black, now and then one pixel only nearly black
          px[0] = px[1] = px[2] = 0;
          if (i == int(base[0] % 64)) px[base[1] % 3] = uint8_t(1 + base[2] % 255);
          break;
      }
    }
    return p;
  }

 private:
  std::mt19937 random_;
};

// count blocks, of every kind in turn.
inline std::vector<Pixels> test_blocks(int count, uint32_t seed) {
  Block_Maker maker(seed);
  std::vector<Pixels> blocks;
  for (int n = 0; n < count; ++n) blocks.push_back(maker.make(Content(n % int(Content::Count))));
  return blocks;
}

// ---- Weighted colour sets of the cluster fit -------------------------------------

struct Weighted_Colours {
  uint32_t n = 0;
  alignas(32) float weighted[64] = {};  // (w r, w g, w b, w), sorted
};

// n distinct colours, sorted by brightness as a stand-in for the principal
// axis, with multiplicities summing to 16 (weights their square roots; 1 for
// 16 colours). Some sets hold extremes only, some cluster tightly, the others
// have channels at 0 or 255 and colours one step from the one before.
inline Weighted_Colours random_colours(std::mt19937& rng, uint32_t n) {
  std::uniform_int_distribution<int> byte(0, 255), pick(0, 9);
  const int kind = byte(rng) % 3, base = byte(rng);
  std::vector<std::array<int, 3>> colours;
  while (colours.size() < n) {
    std::array<int, 3> c{};
    for (int& v : c) {
      const int k = pick(rng);
      v = kind == 0 ? (byte(rng) & 1) * 255
          : kind == 1 ? std::clamp(base + byte(rng) % 12 - 6, 0, 255)
                      : k == 0 ? 0 : k == 1 ? 255 : byte(rng);
    }
    if (kind == 0 && n > 8) c[byte(rng) % 3] = byte(rng);  // eight colours of extremes only
    if (kind == 2 && !colours.empty() && pick(rng) < 3) {
      c = colours.back();
      c[pick(rng) % 3] ^= 1;
    }
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  std::sort(colours.begin(), colours.end(),
            [](const auto& x, const auto& y) { return x[0] + x[1] + x[2] < y[0] + y[1] + y[2]; });
  std::vector<int> multiplicity(n, 1);
  for (uint32_t extra = 16 - n; extra > 0; --extra) ++multiplicity[rng() % n];
  Weighted_Colours set;
  set.n = n;
  for (uint32_t k = 0; k < n; ++k) {
    const float w = std::sqrt(float(multiplicity[k]));
    for (int l = 0; l < 3; ++l) set.weighted[4 * k + l] = w * (float(colours[k][l]) / 255.0f);
    set.weighted[4 * k + 3] = w;
  }
  return set;
}

// The float at byte_offset of a sums table (or any float table).
inline const float* float_at(const float* base, uint64_t byte_offset) {
  return base + byte_offset / 4;
}

// The 5:6:5 grid of the endpoints and its steps as the kernels hold them.
constexpr float grid_levels[3] = {31.0f, 63.0f, 31.0f};
constexpr float grid_step[3] = {std::bit_cast<float>(0x3D042108u),
                                std::bit_cast<float>(0x3C820821u),
                                std::bit_cast<float>(0x3D042108u)};

// Whether v (clamped to 0..1) lands exactly on a half level of channel l.
inline bool on_half_level(float v, int l) {
  const float x = std::clamp(v, 0.0f, 1.0f) * grid_levels[l];
  return x - std::floor(x) == 0.5f;
}

// A float whose single-precision product with 31 is exactly level + 0.5.
inline float float_on_half_level(float level) {
  float x = (level + 0.5f) / 31.0f;
  for (int step = 0; step < 64 && x * 31.0f != level + 0.5f; ++step)
    x = std::nextafter(x, x * 31.0f < level + 0.5f ? 1.0f : 0.0f);
  return x;
}

// What a cluster-fit stage keeps: the best endpoints with their error, and the
// partition that gave them.
struct Fit {
  Cluster_Fit_Best best{{0, 0, 0, 0}, {0, 0, 0, 0}, FLT_MAX};
  Partition_Code code{0, 0, 1};
};

// Bit for bit, endpoints with their fourth lanes included.
inline testing::AssertionResult same_fit(const Fit& want, const Fit& got) {
  if (std::memcmp(&want.best, &got.best, offsetof(Cluster_Fit_Best, error) + 4) == 0 &&
      want.code.i1 == got.code.i1 && want.code.i2 == got.code.i2 && want.code.i3 == got.code.i3)
    return testing::AssertionSuccess();
  const auto text = [](const Fit& f) {
    char s[200];
    std::snprintf(s, sizeof s, "a (%g %g %g %g) b (%g %g %g %g) error %.9g code %d %d %d",
                  f.best.a[0], f.best.a[1], f.best.a[2], f.best.a[3], f.best.b[0], f.best.b[1],
                  f.best.b[2], f.best.b[3], f.best.error, f.code.i1, f.code.i2, f.code.i3);
    return std::string(s);
  };
  return testing::AssertionFailure() << "\n want " << text(want) << "\n got  " << text(got);
}
