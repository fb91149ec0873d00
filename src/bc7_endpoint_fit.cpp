// Turns a pair of float endpoints into a BC7 candidate for one subset:
// quantisation to the mode's endpoint width with its p-bits, one index per
// pixel, and the error under the encoder's metric. The best candidate of a
// search is kept in its result record.
#include <algorithm>
#include <cstring>

#include "src/bc7_internal.h"

namespace {

uint32_t channel_count(const Bc7_Subset_Params& params) { return params.m_has_alpha ? 4 : 3; }

// q for one p-bit: the nearest value of the n-bit grid whose low bit is p.
int quantize_with_p_bit(float x, int p, int top) {
  const int q = p + 2 * int((x * float(top) - float(p)) * 0.5f + 0.5f);
  return std::clamp(q, p, top - 1 + p);
}

void expand_to_floats(const uint8_t values[4], const Bc7_Subset_Params& params, float out[4]) {
  const uint32_t packed = bc7_expand_endpoint(values, params);
  for (int c = 0; c < 4; ++c) out[c] = float((packed >> (8 * c)) & 0xFF);
}

// Quantises both endpoints into stored values (without p-bit) and p-bits.
void quantize_endpoints(uint32_t mode, const float* x[2], const Bc7_Subset_Params& params,
                        uint8_t stored[2][4], uint32_t p_bits[2]) {
  const uint32_t bits = params.m_endpoint_bits;
  if (!params.m_has_p_bits) {
    const float top = float((1u << bits) - 1);
    for (int e = 0; e < 2; ++e)
      for (int c = 0; c < 4; ++c)
        stored[e][c] = uint8_t(std::clamp(int(x[e][c] * top + 0.5f), 0, 255));
    p_bits[0] = p_bits[1] = 0;
    return;
  }
  const int top = int((1u << (bits + 1)) - 1);
  const uint32_t channels = channel_count(params);
  uint8_t q[2][2][4];  // [p-bit][endpoint][channel], p-bit included
  float expanded[2][2][4];
  for (int p = 0; p < 2; ++p)
    for (int e = 0; e < 2; ++e) {
      for (int c = 0; c < 4; ++c) q[p][e][c] = uint8_t(quantize_with_p_bit(x[e][c], p, top));
      expand_to_floats(q[p][e], params, expanded[p][e]);
    }
  // Shared p-bit: judged on both endpoints in 0..1; own p-bits: each endpoint
  // on its own, in 0..255.
  float shared_error[2] = {0.0f, 0.0f};
  float own_error[2][2] = {{0.0f, 0.0f}, {0.0f, 0.0f}};  // [p-bit][endpoint]
  for (int p = 0; p < 2; ++p)
    for (uint32_t c = 0; c < channels; ++c) {
      const float d0 = expanded[p][0][c] / 255.0f - x[0][c];
      const float d1 = expanded[p][1][c] / 255.0f - x[1][c];
      shared_error[p] += d0 * d0 + d1 * d1;
      for (int e = 0; e < 2; ++e) {
        const float d = expanded[p][e][c] - x[e][c] * 255.0f;
        own_error[p][e] += d * d;
      }
    }
  uint32_t chosen[2];
  if (params.m_shared_p_bit) {
    chosen[0] = chosen[1] = shared_error[1] < shared_error[0] ? 1 : 0;
  } else if (mode == 6 && !params.m_has_alpha) {
    // An opaque block must decode with alpha 255, which the 7-bit alpha
    // reaches only with p-bit 1; the colour error never sees alpha.
    chosen[0] = chosen[1] = 1;
  } else {
    for (int e = 0; e < 2; ++e) chosen[e] = own_error[1][e] < own_error[0][e] ? 1 : 0;
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
                           Bc7_Subset_Result& result) {
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
  const uint32_t channels = channel_count(params);
  uint8_t palette[16][4];
  for (uint32_t c = 0; c < 4; ++c) {
    const uint32_t lo = (e0 >> (8 * c)) & 0xFF, hi = (e1 >> (8 * c)) & 0xFF;
    palette[0][c] = uint8_t(lo);
    palette[n - 1][c] = uint8_t(hi);
    for (uint32_t i = 1; i + 1 < n; ++i) {
      const uint32_t w = params.m_level_weights[i];
      palette[i][c] = uint8_t((lo * (64 - w) + hi * w + 32) >> 6);
    }
  }
  auto distance = params.m_has_alpha ? bc7_color_distance_rgba : bc7_color_distance_rgb;
  const uint32_t* weights = params.m_channel_weights;

  uint64_t total = 0;
  if (!params.m_perceptual_metric) {
    int32_t dir[4];
    int32_t dir_length2 = 0;
    for (uint32_t c = 0; c < channels; ++c) {
      dir[c] = int32_t(palette[n - 1][c]) - int32_t(palette[0][c]);
      dir_length2 += dir[c] * dir[c];
    }
    const float scale = float(n) / (float(dir_length2) + 1.25e-6f);
    for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
      const uint8_t* pixel = params.m_pixels + 4 * i;
      int32_t dot = 0;
      for (uint32_t c = 0; c < channels; ++c) dot += (int32_t(pixel[c]) - palette[0][c]) * dir[c];
      const int32_t s = std::clamp(int32_t(float(dot) * scale + 0.5f), 1, int32_t(n) - 1);
      const uint64_t below = distance(palette[s - 1], pixel, false, weights);
      const uint64_t at = distance(palette[s], pixel, false, weights);
      const bool take_s = at <= below;
      result.m_trial_selectors[i] = uint8_t(take_s ? s : s - 1);
      total += take_s ? at : below;
    }
  } else {
    for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
      const uint8_t* pixel = params.m_pixels + 4 * i;
      uint64_t best = Bc7_No_Error;
      uint8_t best_index = 0;
      for (uint32_t k = 0; k < n; ++k) {
        const uint64_t d = distance(palette[k], pixel, true, weights);
        if (d < best) {
          best = d;
          best_index = uint8_t(k);
        }
      }
      result.m_trial_selectors[i] = best_index;
      total += best;
    }
  }

  if (total < result.m_best_overall_err) {
    result.m_best_overall_err = total;
    std::memcpy(result.m_low, first, 4);
    std::memcpy(result.m_high, second, 4);
    result.m_p_bits[0] = p_bits[0];
    result.m_p_bits[1] = p_bits[1];
    std::memcpy(result.m_selectors, result.m_trial_selectors, params.m_pixel_count);
  }
  return total;
}

uint64_t bc7_quantize_and_fit(uint32_t mode, float first[4], float second[4],
                              const Bc7_Subset_Params& params, Bc7_Subset_Result& result) {
  for (int c = 0; c < 4; ++c) {
    first[c] = std::clamp(first[c], 0.0f, 1.0f);
    second[c] = std::clamp(second[c], 0.0f, 1.0f);
  }
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
      std::memcmp(result.m_low, stored[0], 4) == 0 && std::memcmp(result.m_high, stored[1], 4) == 0)
    return result.m_best_overall_err;

  bc7_fit_selectors(stored[0], stored[1], p_bits, params, result);
  return result.m_best_overall_err;
}
