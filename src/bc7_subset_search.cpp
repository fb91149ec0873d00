// Endpoint search for one subset of one mode: a principal-axis guess, then
// least-squares refits, index perturbations and index rescalings (more at
// higher levels). Every candidate goes through bc7_quantize_and_fit, which
// keeps the best; subsets of one colour take the single-colour tables.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "src/bc7_internal.h"

namespace {

constexpr float Inv_255 = 0.003921569f;

struct Vec4 {
  float v[4];
};

float dot(const Vec4& a, const Vec4& b) {
  return a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2] + a.v[3] * b.v[3];
}

Vec4 scaled(const Vec4& a, float s) { return {{a.v[0] * s, a.v[1] * s, a.v[2] * s, a.v[3] * s}}; }

// Unit length, unless the vector is zero.
Vec4 normalized(const Vec4& a) {
  const float length2 = dot(a, a);
  return length2 == 0.0f ? a : scaled(a, 1.0f / std::sqrt(length2));
}

Vec4 pixel_minus(const uint8_t* pixel, const Vec4& mean) {
  Vec4 d;
  for (int c = 0; c < 4; ++c) d.v[c] = float(pixel[c]) - mean.v[c];
  return d;
}

// Power iteration on the RGB covariance.
Vec4 rgb_axis(const Bc7_Subset_Params& params, const Vec4& mean) {
  float rr = 0, rg = 0, rb = 0, gg = 0, gb = 0, bb = 0;
  for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
    const Vec4 d = pixel_minus(params.m_pixels + 4 * i, mean);
    rr += d.v[0] * d.v[0];
    rg += d.v[0] * d.v[1];
    rb += d.v[0] * d.v[2];
    gg += d.v[1] * d.v[1];
    gb += d.v[1] * d.v[2];
    bb += d.v[2] * d.v[2];
  }
  float x = 0.9f, y = 1.0f, z = 0.7f;
  for (int iteration = 0; iteration < 3; ++iteration) {
    const float nx = x * rr + y * rg + z * rb;
    const float ny = x * rg + y * gg + z * gb;
    const float nz = x * rb + y * gb + z * bb;
    const float largest = std::max({std::fabs(nx), std::fabs(ny), std::fabs(nz)});
    x = nx;
    y = ny;
    z = nz;
    if (largest > 1e-10f) {
      x /= largest;
      y /= largest;
      z /= largest;
    }
  }
  const Vec4 v{{x, y, z, 0.0f}};
  return dot(v, v) >= 1e-10f ? scaled(v, 1.0f / std::sqrt(dot(v, v))) : Vec4{};
}

// Running estimate of the main RGBA direction: each centred pixel is added
// with the sign and weight of its agreement with the direction so far.
Vec4 rgba_axis(const Bc7_Subset_Params& params, const Vec4& mean) {
  Vec4 acc{};
  for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
    const Vec4 d = pixel_minus(params.m_pixels + 4 * i, mean);
    const Vec4 u = normalized(i == 0 ? d : acc);
    const float agreement = dot(d, u);
    for (int c = 0; c < 4; ++c) acc.v[c] += d.v[c] * agreement;
  }
  return normalized(acc);
}

// Least-squares endpoints from indices, in 0..1, then one more candidate.
uint64_t refit(uint32_t mode, const uint8_t indices[], const Bc7_Subset_Params& params,
               Bc7_Subset_Result& result, Bc7_Candidate_History& history) {
  float out1[4], out2[4];
  if (params.m_has_alpha)
    bc7_least_squares_rgba(params.m_pixel_count, indices, params.m_level_factors, out1, out2,
                           params.m_pixels);
  else
    bc7_least_squares_rgb(params.m_pixel_count, indices, params.m_level_factors, out1, out2,
                          params.m_pixels);
  for (int c = 0; c < 4; ++c) {
    out1[c] *= Inv_255;
    out2[c] *= Inv_255;
  }
  return bc7_quantize_and_fit(mode, out1, out2, params, result, &history);
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
    const __m128i clamped = _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(level, level), top16), zero);
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
  uint8_t decoded[4] = {0, 0, 0, 255};
  result.m_low[3] = result.m_high[3] = 0;
  for (int c = 0; c < M::Channels; ++c) {
    const Bc7_Single_Color_Entry& entry = M::entry(value[c], low_p, high_p);
    result.m_low[c] = entry.m_lo;
    result.m_high[c] = entry.m_hi;
    const uint32_t x = bc7_widen((uint32_t(entry.m_lo) << 1) | low_p, M::Endpoint_Bits + 1);
    const uint32_t y = bc7_widen((uint32_t(entry.m_hi) << 1) | high_p, M::Endpoint_Bits + 1);
    decoded[c] = uint8_t(((64 - M::weight()) * x + M::weight() * y + 32) >> 6);
  }
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

  Vec4 sum{};
  for (uint32_t i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) sum.v[c] += float(pixels[4 * i + c]);
  const Vec4 mean = scaled(sum, 1.0f / float(n));
  Vec4 mean01 = scaled(sum, 1.0f / float(n * 255));
  for (float& x : mean01.v) x = std::clamp(x, 0.0f, 1.0f);

  Vec4 axis = params.m_has_alpha ? rgba_axis(params, mean) : rgb_axis(params, mean);
  if (dot(axis, axis) < 0.5f) {
    const float alpha = params.m_has_alpha ? (params.m_perceptual_metric ? 0.715f : 1.0f) : 0.0f;
    axis = params.m_perceptual_metric ? Vec4{{0.213f, 0.715f, 0.072f, alpha}}
                                      : Vec4{{1.0f, 1.0f, 1.0f, alpha}};
    axis = normalized(axis);
  }

  float t_min = 1e9f, t_max = -1e9f;
  for (uint32_t i = 0; i < n; ++i) {
    const float t = dot(axis, pixel_minus(pixels + 4 * i, mean));
    t_min = std::min(t_min, t);
    t_max = std::max(t_max, t);
  }
  float first[4], second[4];
  for (int c = 0; c < 4; ++c) {
    first[c] = std::clamp(mean01.v[c] + axis.v[c] * (t_min * Inv_255), 0.0f, 1.0f);
    second[c] = std::clamp(mean01.v[c] + axis.v[c] * (t_max * Inv_255), 0.0f, 1.0f);
  }
  if (second[1] + second[0] + second[2] + second[3] < first[1] + first[0] + first[2] + first[3])
    std::swap(first, second);

  Bc7_Candidate_History history;
  if (bc7_quantize_and_fit(mode, first, second, params, result, &history) == 0) return 0;
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
