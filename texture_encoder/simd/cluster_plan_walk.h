// The walk of a cluster-fit list (stages C to F) on 256-bit vectors, shared by
// the AVX and AVX+FMA twins of both vector families; the including file brings
// the arithmetic of its level as a Solve callable:
//   solve(alpha[4], beta[4], cross, reciprocals) -> Lane_Scores
// where alpha[c] and beta[c] hold channel c of eight candidates' two sides
// (c = 3 their sums of squared level weights), cross their cross weights and
// reciprocals their eight 1 / determinants (16 colours) or null.
//
// Eight candidates per step, one per lane. Groups of four whose terms are
// shared or neighbouring runs (the list's plan, partition_tables.h) are read
// from the channel-major copy of the sums, a whole channel of four candidates
// per load; the other groups are read record by record and transposed. Either
// way every lane adds the same records in the same order as a lone candidate,
// so the layout changes no result. Within a step the first smallest error is
// compared once with the best, which equals offering the candidates one by one
// in list order under the strictly-smaller rule.
//
// Include only from files compiled for AVX: everything sits in an unnamed
// namespace so that each level keeps its own copy.
#pragma once
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/dxt_encoder_context.h"

namespace {

// Snapped endpoints (R, G, B) and errors of eight candidates.
struct Lane_Scores {
  __m256 start[3], end[3], error;
};

// Writes the first of the smallest errors of lanes 0 .. active - 1 to the best,
// with its endpoints (fourth lane 0) and code.
[[gnu::noinline]] inline void take_lanes(Cluster_Fit_Best* best, Partition_Code* code,
                                         const Lane_Scores& s, int active, const uint8_t* codes) {
  alignas(32) float lanes[7][8];
  _mm256_store_ps(lanes[6], s.error);
  int winner = 0;
  for (int k = 1; k < active; ++k)
    if (lanes[6][winner] > lanes[6][k]) winner = k;
  for (int l = 0; l < 3; ++l) {
    _mm256_store_ps(lanes[l], s.start[l]);
    _mm256_store_ps(lanes[3 + l], s.end[l]);
  }
  _mm_store_ps(best->a, _mm_setr_ps(lanes[0][winner], lanes[1][winner], lanes[2][winner], 0.0f));
  _mm_store_ps(best->b, _mm_setr_ps(lanes[3][winner], lanes[4][winner], lanes[5][winner], 0.0f));
  best->error = lanes[6][winner];
  code->i1 = codes[3 * winner];
  code->i2 = codes[3 * winner + 1];
  code->i3 = codes[3 * winner + 2];
}

// Offers lanes 0 .. active - 1: the first of their smallest errors replaces
// the best when it is strictly below it.
[[gnu::always_inline]] inline void offer_lanes(Cluster_Fit_Best* best, Partition_Code* code,
                                               const Lane_Scores& s, int active,
                                               const uint8_t* codes) {
  // The best only falls, so a step with no error below it changes nothing:
  // most steps end at this test.
  const __m256 below = _mm256_cmp_ps(s.error, _mm256_set1_ps(best->error), _CMP_LT_OQ);
  if ((_mm256_movemask_ps(below) & ((1 << active) - 1)) != 0)
    take_lanes(best, code, s, active, codes);
}

// a + b where both terms are present; an absent term would only add zeros,
// which changes no sum of these non-negative values.
template <bool A, bool B, class V>
[[gnu::always_inline]] inline V add_present(V a, V b) {
  if constexpr (A && B)
    return a + b;
  else if constexpr (A)
    return a;
  else if constexpr (B)
    return b;
  else
    return V{};
}

// The two sides from a candidate's parts: alpha from whole 0, two thirds of
// middle 1 and third of middle 2; beta from whole 3, third of middle 1 and two
// thirds of middle 2, added in the grouping of G. Has0 .. Has3 say which parts
// are present.
template <uint8_t G, bool Has0, bool Has1, bool Has2, bool Has3, class V>
[[gnu::always_inline]] inline void add_sides(V whole0, V third1, V two_thirds1, V third2,
                                             V two_thirds2, V whole3, V& alpha, V& beta) {
  if constexpr (G == Grouping_Start_Two_Thirds)
    alpha = add_present<Has0 || Has1, Has2>(add_present<Has0, Has1>(whole0, two_thirds1), third2);
  else
    alpha = add_present<Has0, Has1 || Has2>(whole0, add_present<Has1, Has2>(two_thirds1, third2));
  if constexpr (G == Grouping_End_Two_Thirds)
    beta = add_present<Has3 || Has2, Has1>(add_present<Has3, Has2>(whole3, two_thirds2), third1);
  else
    beta = add_present<Has3, Has1 || Has2>(whole3, add_present<Has1, Has2>(third1, two_thirds2));
}

// Four lanes of one term from the lanes at base: one value for all, or four
// neighbours.
template <uint8_t Load>
[[gnu::always_inline]] inline __m128 lane_quad(const float* lanes, uint32_t base) {
  if constexpr (Load == Lane_Shared)
    return _mm_broadcast_ss(lanes + base);
  else
    return _mm_loadu_ps(lanes + base);
}

// Eight lanes from two groups' bases.
template <uint8_t Load>
[[gnu::always_inline]] inline __m256 lane_octet(const float* lanes, uint32_t low, uint32_t high) {
  if constexpr (Load == Lane_Absent)
    return _mm256_setzero_ps();
  else
    return _mm256_set_m128(lane_quad<Load>(lanes, high), lane_quad<Load>(lanes, low));
}

// Steps of eight candidates of a section, two at a time: both are scored
// before either is offered, so that the long chain of one (division, snap,
// error) overlaps the other's. score(first) scores the step from list place
// first.
template <class Score>
[[gnu::always_inline]] inline void walk_steps(Cluster_Fit_Best* best, Partition_Code* code,
                                              const Lane_Section& section, const uint8_t* codes,
                                              Score score) {
  const uint32_t end = section.first + section.count;
  for (uint32_t first = section.first; first < end; first += 16) {
    Lane_Scores s[2];
    const uint32_t steps = end - first > 8 ? 2 : 1;
#pragma GCC unroll 2
    for (uint32_t k = 0; k < 2; ++k)
      if (k < steps) s[k] = score(first + 8 * k);
    for (uint32_t k = 0; k < steps; ++k)
      offer_lanes(best, code, s[k], int(std::min(8u, end - first - 8 * k)),
                  codes + 3 * (first + 8 * k));
  }
}

// A section whose groups all load their terms as L0 .. L3 (whole 0, middle 1,
// middle 2, whole 3) and Lc (cross weight), two groups per step.
template <uint8_t G, uint8_t L0, uint8_t L1, uint8_t L2, uint8_t L3, uint8_t Lc, class Solve>
void walk_lane_section(Cluster_Fit_Best* best, Partition_Code* code,
                       const Cluster_Partition_Sums* sums, const Lane_Plan& plan,
                       const Lane_Section& section, const uint8_t* codes, Solve solve) {
  constexpr bool has0 = L0 != Lane_Absent, has1 = L1 != Lane_Absent, has2 = L2 != Lane_Absent,
                 has3 = L3 != Lane_Absent;
  const uint32_t end = section.first + section.count;
  const auto score = [&](uint32_t first) {
    // A lone last group fills the spare lanes with itself; they are never offered.
    const uint16_t* low = plan.bases + 5 * size_t(first / 4);
    const uint16_t* high = end - first > 4 ? low + 5 : low;
    __m256 alpha[4], beta[4];
#pragma GCC unroll 4
    for (int c = 0; c < 4; ++c) {
      const float* lanes = sums->lanes + c * cluster_lane_block;
      const auto part = [&]<uint8_t Load>(int term, uint32_t shift) {
        return lane_octet<Load>(lanes, low[term] + shift, high[term] + shift);
      };
      add_sides<G, has0, has1, has2, has3>(
          part.template operator()<L0>(0, 0), part.template operator()<L1>(1, 0),
          part.template operator()<L1>(1, lane_two_thirds), part.template operator()<L2>(2, 0),
          part.template operator()<L2>(2, lane_two_thirds), part.template operator()<L3>(3, 0),
          alpha[c], beta[c]);
    }
    const __m256 cross = lane_octet<Lc>(sums->lanes, low[4], high[4]);
    return solve(alpha, beta, cross, plan.reciprocals ? plan.reciprocals + first : nullptr);
  };
  walk_steps(best, code, section, codes, score);
}

inline const float* sums_float_at(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return sums->data + byte_offset / 4;
}

// Run records are 48 bytes from a 32-byte aligned base and offsets point at a
// record's whole or third field, so every record load is aligned.
inline __m128 record(const Cluster_Partition_Sums* sums, uint64_t byte_offset) {
  return _mm_load_ps(sums_float_at(sums, byte_offset));
}

// Eight rows of four floats (one per candidate) to four channel vectors.
[[gnu::always_inline]] inline void transpose_rows(const __m128 (&rows)[8], __m256 (&columns)[4]) {
  const __m256 r0 = _mm256_set_m128(rows[4], rows[0]), r1 = _mm256_set_m128(rows[5], rows[1]);
  const __m256 r2 = _mm256_set_m128(rows[6], rows[2]), r3 = _mm256_set_m128(rows[7], rows[3]);
  const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
  const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
  columns[0] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  columns[1] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  columns[2] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  columns[3] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// A section read record by record from the candidates' general offsets.
template <uint8_t G, class Solve>
void walk_gathered_section(Cluster_Fit_Best* best, Partition_Code* code,
                           const Cluster_Partition_Sums* sums, const Lane_Plan& plan,
                           const Lane_Section& section, const uint8_t* codes, Solve solve) {
  const uint32_t end = section.first + section.count;
  const auto score = [&](uint32_t first) {
    const uint32_t active = std::min(8u, end - first);
    __m128 alpha_rows[8], beta_rows[8];
    float cross[8];
#pragma GCC unroll 8
    for (uint32_t j = 0; j < 8; ++j) {
      // Spare lanes repeat the step's first candidate and are never offered.
      const uint16_t* o = plan.offsets + 5 * size_t(first + (j < active ? j : 0));
      const auto part = [&](int term, uint32_t shift) { return record(sums, o[term] + shift); };
      add_sides<G, true, true, true, true>(part(0, 0), part(1, 0), part(1, 16), part(2, 0),
                                           part(2, 16), part(3, 0), alpha_rows[j], beta_rows[j]);
      cross[j] = *sums_float_at(sums, o[4]);
    }
    __m256 alpha[4], beta[4];
    transpose_rows(alpha_rows, alpha);
    transpose_rows(beta_rows, beta);
    const __m256 c = _mm256_setr_ps(cross[0], cross[1], cross[2], cross[3], cross[4], cross[5],
                                    cross[6], cross[7]);
    return solve(alpha, beta, c, plan.reciprocals ? plan.reciprocals + first : nullptr);
  };
  walk_steps(best, code, section, codes, score);
}

// The kinds of section the plans hold under each grouping (counted when the
// lists were laid out), packed as L0 + 3 L1 + 9 L2 + 27 L3 + 81 Lc; only these
// have a walk of their own, and a section of any other kind is walked as
// gathered. Only sections of the 16-colour records are regrouped: under the
// first regrouping they are all of one kind, under the second all gathered.
constexpr uint32_t lane_kind(uint8_t l0, uint8_t l1, uint8_t l2, uint8_t l3, uint8_t lc) {
  return l0 + 3u * l1 + 9u * l2 + 27u * l3 + 81u * lc;
}
template <uint8_t G>
constexpr auto Lane_Kinds = [] {
  if constexpr (G == Grouping_Usual)
    return std::array{105u, 106u, 170u, 182u, 222u, 223u, 234u, 235u, 237u, 238u};
  else if constexpr (G == Grouping_Start_Two_Thirds)
    return std::array{238u};
  else
    return std::array<uint32_t, 0>{};
}();

template <uint8_t G, class Solve>
void walk_section(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
                  const Lane_Plan& plan, const Lane_Section& section, const uint8_t* codes,
                  Solve solve) {
  const uint8_t* l = section.loads;
  const uint32_t kind = lane_kind(l[0], l[1], l[2], l[3], l[4]);
  constexpr auto& kinds = Lane_Kinds<G>;
  const bool found = !section.gathered && [&]<size_t... I>(std::index_sequence<I...>) {
    return ((kind == kinds[I] &&
             (walk_lane_section<G, kinds[I] % 3, kinds[I] / 3 % 3, kinds[I] / 9 % 3, kinds[I] / 27 % 3,
                                kinds[I] / 81>(best, code, sums, plan, section, codes, solve),
              true)) ||
            ...);
  }(std::make_index_sequence<kinds.size()>{});
  if (!found) walk_gathered_section<G>(best, code, sums, plan, section, codes, solve);
}

// Every candidate of a list in order, by its plan.
template <class Solve>
void walk_plan(Cluster_Fit_Best* best, Partition_Code* code, const Cluster_Partition_Sums* sums,
               const Lane_Plan& plan, const uint8_t* codes, Solve solve) {
  for (uint32_t s = 0; s < plan.section_count; ++s) {
    const Lane_Section& section = plan.sections[s];
    switch (section.grouping) {
      case Grouping_Start_Two_Thirds:
        walk_section<Grouping_Start_Two_Thirds>(best, code, sums, plan, section, codes, solve);
        break;
      case Grouping_End_Two_Thirds:
        walk_section<Grouping_End_Two_Thirds>(best, code, sums, plan, section, codes, solve);
        break;
      default:
        walk_section<Grouping_Usual>(best, code, sums, plan, section, codes, solve);
    }
  }
}

}  // namespace
