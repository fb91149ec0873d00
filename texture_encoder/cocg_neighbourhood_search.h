// The endpoint search of a block whose chroma varies, written once and
// instantiated per instruction-set level (the lane type L) and per rounding
// family, included only by the files that instantiate it. Internal linkage on
// purpose: each level's file gets its own copy built with its own instruction
// set.
//
// Eight candidates that share their low endpoint sit side by side in the
// lanes of L, and the 16 pixels are walked one after another, so each lane
// adds its candidate's terms in exactly the order the family prescribes:
//   plain (Fused = false): decode and palette with every product and sum
//     rounded on its own, the error summed pixel after pixel from 0;
//   fused (Fused = true): decode and palette through fused multiply-adds,
//     the error summed as p_j = e_j + e_(j+8), then
//     ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7)).
// Both keep each distance as dg * dg + dc * dc, three roundings, so terms that
// depend on fewer codes than the candidate are computed once per block and
// only added per candidate. The best is the first candidate, in the order of
// the search's loops, of the smallest error.
//
// L holds eight floats: L::splat, L::load and store (unaligned), +, -, *,
// min and all_at_least(lanes, limit) found by argument lookup, and, for the
// fused family, fused_madd(a, b, c).
#pragma once
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "texture_encoder/cocg_endpoint_kernels.h"

namespace {

// A code in CoCg units: code / max, then the chroma scale undone.
template <bool Fused, int Scale>
inline float search_decode(int32_t code, float inverse_max) {
  const float v = float(code);
  if constexpr (Scale == 1) {
    return v * inverse_max;
  } else if constexpr (Fused) {
    return std::fma(std::fma(v, inverse_max, -ycocg::neutral), 1.0f / Scale, ycocg::neutral);
  } else {
    return (v * inverse_max - ycocg::neutral) * (1.0f / Scale) + ycocg::neutral;
  }
}

// A candidate's endpoints in CoCg units, in box order: low Co, low Cg, high
// Co, high Cg.
template <bool Fused, int Scale>
inline void cocg_candidate_box(const Cocg_Candidate& c, float box[4]) {
  box[0] = search_decode<Fused, Scale>(c.a0, 1.0f / 31.0f);
  box[1] = search_decode<Fused, Scale>(c.b0, 1.0f / 63.0f);
  box[2] = search_decode<Fused, Scale>(c.a1, 1.0f / 31.0f);
  box[3] = search_decode<Fused, Scale>(c.b1, 1.0f / 63.0f);
}

// The palette point t of the way from the high endpoint to the low one.
template <bool Fused>
inline float palette_point(float high, float low, float t) {
  if constexpr (Fused) {
    return std::fma(low - high, t, high);
  } else {
    return high + (low - high) * t;
  }
}

template <class T>
inline T squared(T v) {
  return v * v;
}

// The 16 pixels' squared distances to one point, eight per lane group.
template <class L>
void pixel_distances(const Cocg_Block* block, float co, float cg, float* d) {
  for (int h = 0; h < 16; h += 8) {
    const L v = squared(L::load(block->cg + h) - L::splat(cg)) +
                squared(L::load(block->co + h) - L::splat(co));
    v.store(d + h);
  }
}

// A candidate's palette (colour0, colour1, the points a third and two thirds
// of the way) and the squared distances of the pixels to it.
template <bool Fused, int Scale>
struct Search_Palette {
  float co[4], cg[4];
  explicit Search_Palette(const Cocg_Candidate& c) {
    float box[4];
    cocg_candidate_box<Fused, Scale>(c, box);
    co[0] = box[2];
    cg[0] = box[3];
    co[1] = box[0];
    cg[1] = box[1];
    for (int k = 2; k < 4; ++k) {
      const float t = k == 2 ? ycocg::one_third : ycocg::two_thirds;
      co[k] = palette_point<Fused>(co[0], co[1], t);
      cg[k] = palette_point<Fused>(cg[0], cg[1], t);
    }
  }
  // Pixel t to point k.
  float distance(const Cocg_Block* block, int t, int k) const {
    return squared(block->cg[t] - cg[k]) + squared(block->co[t] - co[k]);
  }
  // All 64, laid out as the best distances, eight pixels per lane group.
  template <class L>
  void distances(const Cocg_Block* block, float* d) const {
    for (int k = 0; k < 4; ++k) pixel_distances<L>(block, co[k], cg[k], d + 16 * k);
  }
};

template <class L>
inline L pair_tree(const L p[8]) {
  return ((p[0] + p[4]) + (p[2] + p[6])) + ((p[1] + p[5]) + (p[3] + p[7]));
}

// The block errors of eight candidates; distance(t, d) gives the lanes of
// d0..d3 of pixel t. False, the errors unfinished, when after pixels 0..3 or
// 0..7 every lane has reached limit: the terms are never negative and every
// rounding is monotonic, so the family's sum with 0 for the pixels to come
// bounds the error from below (for the fused family after four pixels that
// is (p0 + p2) + (p1 + p3)).
template <class L, bool Fused, class Distances>
[[gnu::always_inline]] inline bool group_errors(const Distances& distance, float limit, L* errors) {
  const auto nearest_squared = [&](int t) {
    L d[4];
    distance(t, d);
    return squared(min(min(d[0], d[1]), min(d[2], d[3])));
  };
  // Unrolled, so that the partial sums stay in registers.
  if constexpr (Fused) {
    L p[8];
#pragma GCC unroll 4
    for (int t = 0; t < 4; ++t) p[t] = nearest_squared(t);
    if (all_at_least((p[0] + p[2]) + (p[1] + p[3]), limit)) return false;
#pragma GCC unroll 4
    for (int t = 4; t < 8; ++t) p[t] = nearest_squared(t);
    if (all_at_least(pair_tree(p), limit)) return false;
#pragma GCC unroll 8
    for (int t = 0; t < 8; ++t) p[t] = p[t] + nearest_squared(t + 8);
    *errors = pair_tree(p);
  } else {
    L sum = nearest_squared(0);  // 0 + e0 is e0
#pragma GCC unroll 4
    for (int t = 1; t < 4; ++t) sum = sum + nearest_squared(t);
    if (all_at_least(sum, limit)) return false;
#pragma GCC unroll 4
    for (int t = 4; t < 8; ++t) sum = sum + nearest_squared(t);
    if (all_at_least(sum, limit)) return false;
#pragma GCC unroll 8
    for (int t = 8; t < 16; ++t) sum = sum + nearest_squared(t);
    *errors = sum;
  }
  return true;
}

// Lane k of a group steps the high endpoint k codes up (both codes at quality
// 2, the Cg code at quality 3); lanes 6 and 7 repeat step 5, so they never
// beat it.
constexpr int group_step(int lane) { return lane < 6 ? lane : 5; }

// The lowest error so far and where it was found.
struct Search_Best {
  float error = FLT_MAX;
  Cocg_Candidate codes{};
  // Takes the lanes in order, each only when strictly better.
  template <class L, class Codes_Of>
  void merge(const L& errors, const Codes_Of& codes_of) {
    if (all_at_least(errors, error)) return;
    alignas(32) float e[8];
    errors.store(e);
    for (int lane = 0; lane < 8; ++lane) {
      if (e[lane] < error) {
        error = e[lane];
        codes = codes_of(lane);
      }
    }
  }
};

// The high endpoints of one group in CoCg units, lane by lane.
template <class L, bool Fused, int Scale>
L decode_lanes(const int32_t codes[8], float inverse_max) {
  alignas(32) float v[8];
  for (int lane = 0; lane < 8; ++lane) v[lane] = search_decode<Fused, Scale>(codes[lane], inverse_max);
  return L::load(v);
}

// palette_point lane by lane; fused_madd is the lane type's fused
// multiply-add, which only the levels with FMA provide.
template <class L, bool Fused>
L palette_lanes(const L& high, float low, float t) {
  if constexpr (Fused) {
    return fused_madd(L::splat(low) - high, L::splat(t), high);
  } else {
    return high + (L::splat(low) - high) * L::splat(t);
  }
}

// Quality 2: up to six low endpoints down the diagonal, each against the six
// high endpoints up the diagonal in one group.
template <class L, bool Fused, int Scale>
Search_Best search_quality_2(const Cocg_Block* block, const Cocg_Candidate& initial) {
  int32_t a1[8], b1[8];
  for (int lane = 0; lane < 8; ++lane) {
    a1[lane] = std::min(initial.a1 + group_step(lane), 31);
    b1[lane] = std::min(initial.b1 + group_step(lane), 63);
  }
  const L high_co = decode_lanes<L, Fused, Scale>(a1, 1.0f / 31.0f);
  const L high_cg = decode_lanes<L, Fused, Scale>(b1, 1.0f / 63.0f);
  L d0[16];
  for (int t = 0; t < 16; ++t)
    d0[t] = squared(L::splat(block->cg[t]) - high_cg) + squared(L::splat(block->co[t]) - high_co);

  Search_Best best;
  const int lows = cocg_low_pair_count(initial);
  for (int d = 0; d < lows; ++d) {
    const int32_t a0 = std::max(initial.a0 - d, 0), b0 = std::max(initial.b0 - d, 0);
    const float low_co = search_decode<Fused, Scale>(a0, 1.0f / 31.0f);
    const float low_cg = search_decode<Fused, Scale>(b0, 1.0f / 63.0f);
    alignas(32) float d1[16];
    pixel_distances<L>(block, low_co, low_cg, d1);
    const L co2 = palette_lanes<L, Fused>(high_co, low_co, ycocg::one_third);
    const L cg2 = palette_lanes<L, Fused>(high_cg, low_cg, ycocg::one_third);
    const L co3 = palette_lanes<L, Fused>(high_co, low_co, ycocg::two_thirds);
    const L cg3 = palette_lanes<L, Fused>(high_cg, low_cg, ycocg::two_thirds);
    L errors;
    const auto distance = [&](int t, L d[4]) {
      const L co = L::splat(block->co[t]), cg = L::splat(block->cg[t]);
      d[0] = d0[t];
      d[1] = L::splat(d1[t]);
      d[2] = squared(cg - cg2) + squared(co - co2);
      d[3] = squared(cg - cg3) + squared(co - co3);
    };
    if (!group_errors<L, Fused>(distance, best.error, &errors)) continue;
    best.merge(errors, [&](int lane) { return Cocg_Candidate{a0, b0, a1[lane], b1[lane]}; });
  }
  return best;
}

// Quality 3: every low Co, low Cg and high Co code of the neighbourhood in
// turn, each against the six high Cg codes in one group. A pixel's distance
// to colour0 depends on the high codes only, and each coordinate of the two
// inner points on one code of each endpoint, so their squares are tabled
// once per block.
template <class L, bool Fused, int Scale>
Search_Best search_quality_3(const Cocg_Block* block, const Cocg_Candidate& initial) {
  int32_t b1[8];
  for (int lane = 0; lane < 8; ++lane) b1[lane] = std::min(initial.b1 + group_step(lane), 63);
  const L high_cg = decode_lanes<L, Fused, Scale>(b1, 1.0f / 63.0f);
  const int n_a0 = cocg_code_count_down(initial.a0), n_b0 = cocg_code_count_down(initial.b0);
  const int n_a1 = cocg_code_count_up(initial.a1, 31);
  float low_co[6], low_cg[6], high_co[6];
  for (int i = 0; i < n_a0; ++i) low_co[i] = search_decode<Fused, Scale>(initial.a0 - i, 1.0f / 31.0f);
  for (int j = 0; j < n_b0; ++j) low_cg[j] = search_decode<Fused, Scale>(initial.b0 - j, 1.0f / 63.0f);
  for (int m = 0; m < n_a1; ++m) high_co[m] = search_decode<Fused, Scale>(initial.a1 + m, 1.0f / 31.0f);

  L point2_cg[6], point3_cg[6];
  for (int j = 0; j < n_b0; ++j) {
    point2_cg[j] = palette_lanes<L, Fused>(high_cg, low_cg[j], ycocg::one_third);
    point3_cg[j] = palette_lanes<L, Fused>(high_cg, low_cg[j], ycocg::two_thirds);
  }
  L d0[6][16], cg2[6][16], cg3[6][16];  // [high Co][pixel], [low Cg][pixel]
  float co2[6][6][16], co3[6][6][16];   // [low Co][high Co][pixel]
  for (int t = 0; t < 16; ++t) {
    const float co = block->co[t];
    const L cg = L::splat(block->cg[t]);
    const L cg0 = squared(cg - high_cg);
    for (int m = 0; m < n_a1; ++m) d0[m][t] = cg0 + L::splat(squared(co - high_co[m]));
    for (int j = 0; j < n_b0; ++j) {
      cg2[j][t] = squared(cg - point2_cg[j]);
      cg3[j][t] = squared(cg - point3_cg[j]);
    }
    for (int i = 0; i < n_a0; ++i)
      for (int m = 0; m < n_a1; ++m) {
        co2[i][m][t] = squared(co - palette_point<Fused>(high_co[m], low_co[i], ycocg::one_third));
        co3[i][m][t] = squared(co - palette_point<Fused>(high_co[m], low_co[i], ycocg::two_thirds));
      }
  }

  Search_Best best;
  for (int i = 0; i < n_a0; ++i)
    for (int j = 0; j < n_b0; ++j) {
      alignas(32) float d1[16];
      pixel_distances<L>(block, low_co[i], low_cg[j], d1);
      for (int m = 0; m < n_a1; ++m) {
        L errors;
        const auto distance = [&](int t, L d[4]) {
          d[0] = d0[m][t];
          d[1] = L::splat(d1[t]);
          d[2] = cg2[j][t] + L::splat(co2[i][m][t]);
          d[3] = cg3[j][t] + L::splat(co3[i][m][t]);
        };
        if (!group_errors<L, Fused>(distance, best.error, &errors)) continue;
        best.merge(errors, [&](int lane) {
          return Cocg_Candidate{initial.a0 - i, initial.b0 - j, initial.a1 + m, b1[lane]};
        });
      }
    }
  return best;
}

template <class L, bool Fused, int Scale, int Quality>
void neighbourhood_search(const Cocg_Block* block, const Cocg_Candidate* initial,
                          float* best_error, Cocg_Candidate* best, float* best_distances) {
  const Search_Best found = Quality == 2 ? search_quality_2<L, Fused, Scale>(block, *initial)
                                         : search_quality_3<L, Fused, Scale>(block, *initial);
  *best_error = found.error;
  *best = found.codes;
  Search_Palette<Fused, Scale>(found.codes).template distances<L>(block, best_distances);
}

// The three members (scale 1, 2, 4) of one quality's search.
template <class L, bool Fused, int Quality>
constexpr Cocg_Endpoint_Search_Fn neighbourhood_searches[3] = {
    neighbourhood_search<L, Fused, 1, Quality>, neighbourhood_search<L, Fused, 2, Quality>,
    neighbourhood_search<L, Fused, 4, Quality>};

}  // namespace
