// Turns a pair of float endpoints into a BC7 candidate for one subset:
// quantisation to the mode's endpoint width with its p-bits, one index per
// pixel, and the error under the encoder's metric. The best candidate of a
// search is kept in its result record.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "src/bc7_internal.h"
#include "src/bc7_sse2.h"

namespace {

uint32_t channel_count(const Bc7_Subset_Params& params) { return params.m_has_alpha ? 4 : 3; }

// q for one p-bit: the nearest value of the n-bit grid whose low bit is p,
// p + 2 * int((x * top - p) * 0.5 + 0.5) clamped to [p, top - 1 + p], for
// four channels at once.
void quantize_with_p_bit(const float x[4], int p, int top, uint8_t q[4]) {
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 steps = _mm_add_ps(
      _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_loadu_ps(x), _mm_set1_ps(float(top))),
                            _mm_set1_ps(float(p))),
                 half),
      half);
  const __m128i grid = _mm_cvttps_epi32(steps);
  const __m128i value = _mm_add_epi32(_mm_add_epi32(grid, grid), _mm_set1_epi32(p));
  // The values fit in 16 bits, where SSE2 has the minimum and maximum.
  const __m128i clamped = _mm_max_epi16(
      _mm_min_epi16(_mm_packs_epi32(value, value), _mm_set1_epi16(int16_t(top - 1 + p))),
      _mm_set1_epi16(int16_t(p)));
  const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(clamped, clamped));
  std::memcpy(q, &bytes, 4);
}

// bc7_clamp01 on four values at once, NaN passed through as there.
void clamp_unit(float v[4]) {
  const __m128 x = _mm_loadu_ps(v), zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
  const __m128 below = _mm_cmplt_ps(x, zero), above = _mm_cmplt_ps(one, x);
  const __m128 upper = _mm_or_ps(_mm_and_ps(above, one), _mm_andnot_ps(above, x));
  _mm_storeu_ps(v, _mm_andnot_ps(below, upper));
}

// v / 255 for every 8-bit value, as the shared p-bit choice measures in 0..1.
// Built at compile time, where float division rounds as it does at run time.
struct Unit_Values {
  float v[256];
  constexpr Unit_Values() : v{} {
    for (int k = 0; k < 256; ++k) v[k] = float(k) / 255.0f;
  }
};
constexpr Unit_Values Unit;

// Quantises both endpoints into stored values (without p-bit) and p-bits.
void quantize_endpoints(uint32_t mode, const float* x[2], const Bc7_Subset_Params& params,
                        uint8_t stored[2][4], uint32_t p_bits[2]) {
  const uint32_t bits = params.m_endpoint_bits;
  if (!params.m_has_p_bits) {
    const float top = float((1u << bits) - 1);
    for (int e = 0; e < 2; ++e)
      bc7_set_color_clamped(stored[e], int(x[e][0] * top + 0.5f), int(x[e][1] * top + 0.5f),
                            int(x[e][2] * top + 0.5f), int(x[e][3] * top + 0.5f));
    p_bits[0] = p_bits[1] = 0;
    return;
  }
  const int top = int((1u << (bits + 1)) - 1);
  const uint32_t channels = channel_count(params);
  uint8_t q[2][2][4];  // [p-bit][endpoint][channel], p-bit included
  for (int p = 0; p < 2; ++p)
    for (int e = 0; e < 2; ++e) quantize_with_p_bit(x[e], p, top, q[p][e]);
  auto expanded = [&](int p, int e, uint32_t c) { return bc7_widen(q[p][e][c], bits + 1); };

  uint32_t chosen[2];
  if (params.m_shared_p_bit) {
    // Judged on both endpoints in 0..1.
    float shared_error[2] = {0.0f, 0.0f};
    for (int p = 0; p < 2; ++p)
      for (uint32_t c = 0; c < channels; ++c) {
        const float d0 = Unit.v[expanded(p, 0, c)] - x[0][c];
        const float d1 = Unit.v[expanded(p, 1, c)] - x[1][c];
        shared_error[p] += bc7_squaref(d0) + bc7_squaref(d1);
      }
    chosen[0] = chosen[1] = shared_error[1] < shared_error[0] ? 1 : 0;
  } else if (mode == 6 && !params.m_has_alpha) {
    // An opaque block must decode with alpha 255, which the 7-bit alpha
    // reaches only with p-bit 1; the colour error never sees alpha.
    chosen[0] = chosen[1] = 1;
  } else {
    // Each endpoint on its own, in 0..255.
    for (int e = 0; e < 2; ++e) {
      float own_error[2] = {0.0f, 0.0f};
      for (int p = 0; p < 2; ++p)
        for (uint32_t c = 0; c < channels; ++c) {
          const float d = float(expanded(p, e, c)) - x[e][c] * 255.0f;
          own_error[p] += bc7_squaref(d);
        }
      chosen[e] = own_error[1] < own_error[0] ? 1 : 0;
    }
  }
  for (int e = 0; e < 2; ++e) {
    for (int c = 0; c < 4; ++c) stored[e][c] = uint8_t(q[chosen[e]][e][c] >> 1);
    p_bits[e] = chosen[e];
  }
}

}  // namespace

uint32_t bc7_expand_endpoint(const uint8_t endpoint[4], const Bc7_Subset_Params& params) {
  const uint32_t bits = params.m_endpoint_bits + (params.m_has_p_bits ? 1 : 0);
  uint32_t packed = 0;
  for (int c = 0; c < 4; ++c) packed |= bc7_widen(endpoint[c], bits) << (8 * c);
  return packed;
}

void bc7_separate_mode1_endpoints(uint32_t mode, uint8_t first[4], uint8_t second[4],
                                  const float first_f[4], const float second_f[4],
                                  uint32_t largest) {
  if (mode != 1) return;
  // Two equal endpoints waste the subset's indices when its colours differ.
  for (int c = 0; c < 3; ++c) {
    if (first[c] != second[c] || first_f[c] == second_f[c]) continue;
    if (first[c] > largest / 2)
      --first[c];
    else if (second[c] < largest)
      ++second[c];
    else if (first[c] != 0)
      --first[c];
  }
}

uint64_t bc7_fit_selectors(const uint8_t first[4], const uint8_t second[4],
                           const uint32_t p_bits[2], const Bc7_Subset_Params& params,
                           Bc7_Subset_Result& result, uint64_t bound) {
  uint8_t values[2][4];
  std::memcpy(values[0], first, 4);
  std::memcpy(values[1], second, 4);
  if (params.m_has_p_bits) {
    const uint32_t p[2] = {p_bits[0], params.m_shared_p_bit ? p_bits[0] : p_bits[1]};
    for (int e = 0; e < 2; ++e)
      for (int c = 0; c < 4; ++c) values[e][c] = uint8_t((values[e][c] << 1) | p[e]);
  }
  const uint32_t e0 = bc7_expand_endpoint(values[0], params);
  const uint32_t e1 = bc7_expand_endpoint(values[1], params);

  const uint32_t n = params.m_level_count;
  alignas(16) uint8_t palette[16][4];
  bc7_palette_sse2(e0, e1, params.m_level_weights, n, palette);

  uint8_t* trial = result.m_trial_selectors;
  const uint64_t total = bc7_fit_indices(palette, n, params, trial, bound);

  if (total < result.m_best_overall_err) {
    result.m_best_overall_err = total;
    std::memcpy(result.m_low, first, 4);
    std::memcpy(result.m_high, second, 4);
    result.m_p_bits[0] = p_bits[0];
    result.m_p_bits[1] = p_bits[1];
    std::memcpy(result.m_selectors, trial, params.m_pixel_count);
  }
  return total;
}

uint64_t bc7_quantize_and_fit(uint32_t mode, float first[4], float second[4],
                              const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                              Bc7_Candidate_History* history) {
  clamp_unit(first);
  clamp_unit(second);
  const float* x[2] = {first, second};
  uint8_t stored[2][4];
  uint32_t p_bits[2];
  quantize_endpoints(mode, x, params, stored, p_bits);
  bc7_separate_mode1_endpoints(mode, stored[0], stored[1], first, second,
                               (1u << params.m_endpoint_bits) - 1);

  // Refits are often quantised back onto the candidate already held.
  const bool same_p_bits = !params.m_has_p_bits || (result.m_p_bits[0] == p_bits[0] &&
                                                    result.m_p_bits[1] == p_bits[1]);
  if (result.m_best_overall_err != Bc7_No_Error && same_p_bits &&
      !bc7_colors_differ(result.m_low, stored[0]) && !bc7_colors_differ(result.m_high, stored[1]))
    return result.m_best_overall_err;

  if (history) {
    // Stored values are below 128, which leaves bit 7 of two bytes for the p-bits.
    uint64_t key;
    std::memcpy(&key, stored, 8);
    key |= uint64_t(p_bits[0]) << 7 | uint64_t(p_bits[1]) << 39;
    const uint64_t* keys = history->m_keys;
    const uint64_t* end = keys + history->m_count;
    if (std::find(keys, end, key) != end) return result.m_best_overall_err;
    if (history->m_count < std::size(history->m_keys)) history->m_keys[history->m_count++] = key;
  }

  bc7_fit_selectors(stored[0], stored[1], p_bits, params, result, result.m_best_overall_err);
  return result.m_best_overall_err;
}
