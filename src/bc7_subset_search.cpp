// Endpoint search for one subset of one mode: a principal-axis guess, then
// least-squares refits, index perturbations and index rescalings (more at
// higher levels). Every candidate goes through bc7_quantize_and_fit, which
// keeps the best; subsets of one colour take the single-colour tables.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "src/bc7_internal.h"

namespace {

constexpr float Inv_255 = 0.003921569f;

// Power iteration on the RGB covariance.
Bc7_Vec4 rgb_axis(const Bc7_Subset_Params& params, const Bc7_Vec4& mean) {
  // Lanes rr, rg, rb, gg and gb, bb, -, -: each lane sums in pixel order.
  __m128 upper = _mm_setzero_ps(), lower = _mm_setzero_ps();
  const __m128 centre = _mm_loadu_ps(mean.v);
  for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
    int32_t word;
    std::memcpy(&word, params.m_pixels + 4 * i, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128 d = _mm_sub_ps(
        _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero)),
        centre);
    upper = _mm_add_ps(upper, _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 0, 0, 0)),
                                         _mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 2, 1, 0))));
    lower = _mm_add_ps(lower, _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 0, 2, 1)),
                                         _mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 0, 2, 2))));
  }
  alignas(16) float upper_lanes[4], lower_lanes[4];
  _mm_store_ps(upper_lanes, upper);
  _mm_store_ps(lower_lanes, lower);
  const float rr = upper_lanes[0], rg = upper_lanes[1], rb = upper_lanes[2], gg = upper_lanes[3];
  const float gb = lower_lanes[0], bb = lower_lanes[1];
  float x = 0.9f, y = 1.0f, z = 0.7f;
  for (int iteration = 0; iteration < 3; ++iteration) {
    const float nx = x * rr + y * rg + z * rb;
    const float ny = x * rg + y * gg + z * gb;
    const float nz = x * rb + y * gb + z * bb;
    const float largest = bc7_maxf(bc7_maxf(bc7_absf(nx), bc7_absf(ny)), bc7_absf(nz));
    x = nx;
    y = ny;
    z = nz;
    if (largest > 1e-10f) {
      x /= largest;
      y /= largest;
      z /= largest;
    }
  }
  const Bc7_Vec4 v = bc7_vec4_set(x, y, z, 0.0f);
  const float length2 = bc7_vec4_dot(v, v);
  return length2 >= 1e-10f ? bc7_vec4_scale(v, 1.0f / std::sqrt(length2)) : bc7_vec4_splat(0.0f);
}

// Running estimate of the main RGBA direction: each centred pixel is added
// with the sign and weight of its agreement with the direction so far.
Bc7_Vec4 rgba_axis(const Bc7_Subset_Params& params, const Bc7_Vec4& mean) {
  Bc7_Vec4 acc = bc7_vec4_splat(0.0f);
  for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
    const Bc7_Vec4 d = bc7_vec4_sub(bc7_vec4_from_u8(params.m_pixels + 4 * i), mean);
    const Bc7_Vec4 u = bc7_vec4_normalize(i == 0 ? d : acc);
    acc = bc7_vec4_add(acc, bc7_vec4_scale(d, bc7_vec4_dot(d, u)));
  }
  return bc7_vec4_normalize(acc);
}

// Smallest and largest projection dot(axis, pixel - mean) over the subset,
// four pixels a step; each lane sums the four products in the scalar order.
// Lanes past the last pixel repeat pixel 0, which leaves both unchanged
// (a zero of either sign gives the same endpoints).
void axis_extent(const Bc7_Subset_Params& params, const Bc7_Vec4& axis, const Bc7_Vec4& mean,
                 float& t_min, float& t_max) {
  __m128 lowest = _mm_set1_ps(1e9f), highest = _mm_set1_ps(-1e9f);
  const __m128i byte_mask = _mm_set1_epi32(0xFF);
  for (uint32_t first = 0; first < params.m_pixel_count; first += 4) {
    uint32_t words[4];
    for (uint32_t k = 0; k < 4; ++k) {
      const uint32_t i = first + k < params.m_pixel_count ? first + k : 0;
      std::memcpy(&words[k], params.m_pixels + 4 * i, 4);
    }
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
    __m128 t = _mm_setzero_ps();
    for (int c = 0; c < 4; ++c) {
      const __m128 channel =
          _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(pixels, 8 * c), byte_mask));
      const __m128 term =
          _mm_mul_ps(_mm_set1_ps(axis.v[c]), _mm_sub_ps(channel, _mm_set1_ps(mean.v[c])));
      t = c == 0 ? term : _mm_add_ps(t, term);
    }
    lowest = _mm_min_ps(t, lowest);
    highest = _mm_max_ps(t, highest);
  }
  alignas(16) float low_lanes[4], high_lanes[4];
  _mm_store_ps(low_lanes, lowest);
  _mm_store_ps(high_lanes, highest);
  t_min = bc7_minf(bc7_minf(bc7_minf(low_lanes[0], low_lanes[1]), low_lanes[2]), low_lanes[3]);
  t_max = bc7_maxf(bc7_maxf(bc7_maxf(high_lanes[0], high_lanes[1]), high_lanes[2]), high_lanes[3]);
}

// Least-squares endpoints from indices, in 0..1, then one more candidate.
uint64_t refit(uint32_t mode, const uint8_t indices[], const Bc7_Subset_Params& params,
               Bc7_Subset_Result& result, Bc7_Candidate_History& history) {
  Bc7_Vec4 out1, out2;
  if (params.m_has_alpha)
    bc7_least_squares_rgba(params.m_pixel_count, indices, params.m_level_factors, out1.v, out2.v,
                           params.m_pixels);
  else
    bc7_least_squares_rgb(params.m_pixel_count, indices, params.m_level_factors, out1.v, out2.v,
                          params.m_pixels);
  out1 = bc7_vec4_scale(out1, Inv_255);
  out2 = bc7_vec4_scale(out2, Inv_255);
  return bc7_quantize_and_fit(mode, out1.v, out2.v, params, result, &history);
}

// Maps indices from [lo, hi] onto [0, top]: the floor of
// (b - lo) * top / (hi - lo) + 0.5, clamped; four indices a step, each lane
// with the single-precision steps of the scalar formula. base and out hold 16
// entries, the ones past n ignored.
void stretch_indices(const uint8_t base[16], uint32_t n, int lo, int hi, int top, uint8_t out[16]) {
  const __m128 low = _mm_set1_ps(float(lo)), scale = _mm_set1_ps(float(top));
  const __m128 range = _mm_set1_ps(float(hi) - float(lo)), half = _mm_set1_ps(0.5f);
  const __m128i zero = _mm_setzero_si128(), top16 = _mm_set1_epi16(int16_t(top));
  for (uint32_t i = 0; i < n; i += 4) {
    int32_t word;
    std::memcpy(&word, base + i, 4);
    const __m128i b = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
    const __m128 mapped =
        _mm_add_ps(_mm_div_ps(_mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(b), low), scale), range), half);
    // Truncation moves negative values up; one step down makes it the floor.
    __m128i level = _mm_cvttps_epi32(mapped);
    level = _mm_add_epi32(level, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(level), mapped)));
    const __m128i clamped =
        _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(level, level), top16), zero);
    word = _mm_cvtsi128_si32(_mm_packus_epi16(clamped, clamped));
    std::memcpy(out + i, &word, 4);
  }
}

// A single-colour table of mode 1 or 7 and how its entries decode.
template <uint32_t Mode>
struct Solid_Mode;

template <>
struct Solid_Mode<1> {
  static constexpr int Channels = 3;
  static constexpr uint32_t Endpoint_Bits = 6;
  static constexpr uint8_t Index = 2;
  static constexpr uint32_t P_Bit_Pairs = 2;  // one shared p-bit: (0, 0), (1, 1)
  static uint32_t low_p(uint32_t pair) { return pair; }
  static uint32_t high_p(uint32_t pair) { return pair; }
  static uint32_t weight() { return bc7_weights3[Index]; }
  static const Bc7_Single_Color_Entry& entry(uint32_t value, uint32_t low_p, uint32_t) {
    return g_bc7_mode_1_optimal_endpoints[value][low_p];
  }
  static uint64_t distance(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                           const uint32_t weights[4]) {
    return bc7_color_distance_rgb(a, b, perceptual, weights);
  }
};

template <>
struct Solid_Mode<7> {
  static constexpr int Channels = 4;
  static constexpr uint32_t Endpoint_Bits = 5;
  static constexpr uint8_t Index = 1;
  static constexpr uint32_t P_Bit_Pairs = 4;  // (low, high): (0, 0), (1, 0), (0, 1), (1, 1)
  static uint32_t low_p(uint32_t pair) { return pair & 1; }
  static uint32_t high_p(uint32_t pair) { return pair >> 1; }
  static uint32_t weight() { return bc7_weights2[Index]; }
  static const Bc7_Single_Color_Entry& entry(uint32_t value, uint32_t low_p, uint32_t high_p) {
    return g_bc7_mode_7_optimal_endpoints[value][high_p][low_p];
  }
  static uint64_t distance(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                           const uint32_t weights[4]) {
    return bc7_color_distance_rgba(a, b, perceptual, weights);
  }
};

// Looks the colour up for each p-bit choice in turn, keeps the first with the
// smallest table error, and measures it on the subset's pixels.
template <uint32_t Mode>
uint64_t solid_subset(const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                      const uint32_t value[4], uint8_t indices[]) {
  using M = Solid_Mode<Mode>;
  uint32_t best = 0;
  uint32_t best_total = ~0u;
  for (uint32_t pair = 0; pair < M::P_Bit_Pairs; ++pair) {
    uint32_t total = 0;
    for (int c = 0; c < M::Channels; ++c)
      total += M::entry(value[c], M::low_p(pair), M::high_p(pair)).m_error;
    if (total < best_total) {
      best_total = total;
      best = pair;
    }
    if (total == 0) break;
  }
  const uint32_t low_p = M::low_p(best), high_p = M::high_p(best);
  // Without alpha the endpoints keep alpha 0 and the colour decodes opaque.
  Bc7_Single_Color_Entry entries[4] = {};
  uint8_t decoded[4] = {0, 0, 0, 255};
  for (int c = 0; c < M::Channels; ++c) {
    entries[c] = M::entry(value[c], low_p, high_p);
    const uint32_t x = bc7_widen((uint32_t(entries[c].m_lo) << 1) | low_p, M::Endpoint_Bits + 1);
    const uint32_t y = bc7_widen((uint32_t(entries[c].m_hi) << 1) | high_p, M::Endpoint_Bits + 1);
    decoded[c] = uint8_t(((64 - M::weight()) * x + M::weight() * y + 32) >> 6);
  }
  bc7_set_color(result.m_low, entries[0].m_lo, entries[1].m_lo, entries[2].m_lo, entries[3].m_lo);
  bc7_set_color(result.m_high, entries[0].m_hi, entries[1].m_hi, entries[2].m_hi, entries[3].m_hi);
  result.m_p_bits[0] = low_p;
  result.m_p_bits[1] = Mode == 1 ? 0 : high_p;
  uint64_t error = 0;
  for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
    indices[i] = M::Index;
    error += M::distance(decoded, params.m_pixels + 4 * i, params.m_perceptual_metric,
                         params.m_channel_weights);
  }
  result.m_best_overall_err = error;
  return error;
}

}  // namespace

uint64_t bc7_solid_subset_mode1(const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                                uint32_t r, uint32_t g, uint32_t b, uint8_t indices[]) {
  const uint32_t value[4] = {r, g, b, 0};
  return solid_subset<1>(params, result, value, indices);
}

uint64_t bc7_solid_subset_mode7(const Bc7_Subset_Params& params, Bc7_Subset_Result& result,
                                uint32_t r, uint32_t g, uint32_t b, uint32_t a,
                                uint8_t indices[]) {
  const uint32_t value[4] = {r, g, b, a};
  return solid_subset<7>(params, result, value, indices);
}

uint64_t bc7_encode_subset(uint32_t mode, const Bc7_Subset_Params& params,
                           Bc7_Subset_Result& result, const Bc7_Block_Params& block_params) {
  result.m_best_overall_err = Bc7_No_Error;
  const uint32_t n = params.m_pixel_count;
  const uint8_t* pixels = params.m_pixels;

  if (mode == 1 || mode == 7) {
    const size_t compared = mode == 1 ? 3 : 4;
    bool one_colour = true;
    for (uint32_t i = 1; i < n && one_colour; ++i)
      one_colour = std::memcmp(pixels, pixels + 4 * i, compared) == 0;
    if (one_colour)
      return mode == 1 ? bc7_solid_subset_mode1(params, result, pixels[0], pixels[1], pixels[2],
                                                result.m_selectors)
                       : bc7_solid_subset_mode7(params, result, pixels[0], pixels[1], pixels[2],
                                                pixels[3], result.m_selectors);
  }

  // Integer sums stay far below 2^24, so the float sum of the pixels is
  // exactly the integer sum converted.
  uint32_t channel_sums[4] = {0, 0, 0, 0};
  for (uint32_t i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) channel_sums[c] += pixels[4 * i + c];
  const Bc7_Vec4 sum = bc7_vec4_set(float(channel_sums[0]), float(channel_sums[1]),
                                    float(channel_sums[2]), float(channel_sums[3]));
  const Bc7_Vec4 mean = bc7_vec4_scale(sum, 1.0f / float(n));
  Bc7_Vec4 mean01 = bc7_vec4_scale(sum, 1.0f / float(n * 255));
  bc7_vec4_clamp01(mean01);

  Bc7_Vec4 axis = params.m_has_alpha ? rgba_axis(params, mean) : rgb_axis(params, mean);
  if (bc7_vec4_dot(axis, axis) < 0.5f) {
    const float alpha = params.m_has_alpha ? (params.m_perceptual_metric ? 0.715f : 1.0f) : 0.0f;
    axis = params.m_perceptual_metric ? bc7_vec4_set(0.213f, 0.715f, 0.072f, alpha)
                                      : bc7_vec4_set(1.0f, 1.0f, 1.0f, alpha);
    axis = bc7_vec4_normalize(axis);
  }

  float t_min, t_max;
  axis_extent(params, axis, mean, t_min, t_max);
  Bc7_Vec4 first = bc7_vec4_clamped01(bc7_vec4_add(mean01, bc7_vec4_scale(axis, t_min * Inv_255)));
  Bc7_Vec4 second = bc7_vec4_clamped01(bc7_vec4_add(mean01, bc7_vec4_scale(axis, t_max * Inv_255)));
  // The brighter endpoint goes second (channel sums taken G, R, B, A).
  auto total = [](const Bc7_Vec4& e) { return e.v[1] + e.v[0] + e.v[2] + e.v[3]; };
  if (total(second) < total(first)) std::swap(first, second);

  Bc7_Candidate_History history;
  if (bc7_quantize_and_fit(mode, first.v, second.v, params, result, &history) == 0) return 0;
  if (block_params.use_least_squares &&
      refit(mode, result.m_selectors, params, result, history) == 0)
    return 0;

  if (block_params.level > 0) {
    const uint8_t last = uint8_t(params.m_level_count - 1);
    alignas(16) uint8_t base[16] = {};
    std::memcpy(base, result.m_selectors, n);
    uint8_t smallest = 16, largest = 0;
    for (uint32_t i = 0; i < n; ++i) {
      smallest = std::min(smallest, base[i]);
      largest = std::max(largest, base[i]);
    }
    // Nudge the extreme indices inwards, which lets the refit move the
    // endpoints outwards.
    alignas(16) uint8_t trial[16];
    for (int variant = 0; variant < 3; ++variant) {
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t b = base[i];
        const bool raise = variant != 1 && b == smallest && b < last;
        const bool lower = variant != 0 && !raise && b == largest && b != 0;
        trial[i] = uint8_t(raise ? b + 1 : lower ? b - 1 : b);
      }
      if (refit(mode, trial, params, result, history) == 0) return 0;
    }

    // Stretch or squeeze the index range onto the full range of levels.
    if (block_params.level >= 2 && result.m_best_overall_err > uint64_t((n * 56) >> 4)) {
      const int top = last;
      const int extra = block_params.level < 4 ? 1 : int(block_params.level) - 2;
      const int first_lo = block_params.level < 4 ? -1 : 2 - int(block_params.level);
      for (int lo = first_lo; lo <= 1; ++lo) {
        for (int hi = top - 1; hi <= top + extra; ++hi) {
          if (lo == 0 && hi == top) continue;
          stretch_indices(base, n, lo, hi, top, trial);
          if (refit(mode, trial, params, result, history) == 0) return 0;
        }
      }
    }
  }

  if (mode == 1 || mode == 7) {
    // The mean colour through the single-colour tables sometimes beats a
    // short or noisy axis.
    uint32_t rounded[4];
    for (int c = 0; c < 4; ++c) rounded[c] = uint32_t(mean01.v[c] * 255.0f + 0.5f);
    Bc7_Subset_Result solid = result;
    const uint64_t error =
        mode == 1 ? bc7_solid_subset_mode1(params, solid, rounded[0], rounded[1], rounded[2],
                                           solid.m_trial_selectors)
                  : bc7_solid_subset_mode7(params, solid, rounded[0], rounded[1], rounded[2],
                                           rounded[3], solid.m_trial_selectors);
    if (error < result.m_best_overall_err) {
      result = solid;
      std::memcpy(result.m_selectors, result.m_trial_selectors, n);
    }
  }
  return result.m_best_overall_err;
}
