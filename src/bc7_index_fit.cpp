// Index fitting: the nearest palette level of each pixel of a subset and the
// summed error. The linear metric takes four pixels at a time with SSE2 when
// the channel weights are small enough for 16-bit products; every lane does
// the integer and single-precision steps of the scalar form, so both give the
// same indices and sums.
#include <algorithm>
#include <cstring>

#include "src/bc7_internal.h"
#include "src/bc7_sse2.h"

namespace {

template <int Channels, bool Perceptual>
uint64_t fit_scalar(const uint8_t palette[][4], uint32_t n, const Bc7_Subset_Params& params,
                    uint8_t indices[], uint64_t bound) {
  const uint32_t* weights = params.m_channel_weights;
  uint64_t total = 0;
  if constexpr (!Perceptual) {
    int32_t dir[Channels];
    int32_t dir_length2 = 0;
    for (int c = 0; c < Channels; ++c) {
      dir[c] = int32_t(palette[n - 1][c]) - int32_t(palette[0][c]);
      dir_length2 += dir[c] * dir[c];
    }
    const float scale = float(n) / (float(dir_length2) + 1.25e-6f);
    for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
      const uint8_t* pixel = params.m_pixels + 4 * i;
      int32_t dot = 0;
      for (int c = 0; c < Channels; ++c) dot += (int32_t(pixel[c]) - palette[0][c]) * dir[c];
      const int32_t s = std::clamp(int32_t(float(dot) * scale + 0.5f), 1, int32_t(n) - 1);
      const uint64_t below = bc7_color_distance<Channels, false>(palette[s - 1], pixel, weights);
      const uint64_t at = bc7_color_distance<Channels, false>(palette[s], pixel, weights);
      const bool take_s = at <= below;
      indices[i] = uint8_t(take_s ? s : s - 1);
      total += take_s ? at : below;
      if (total >= bound) break;
    }
  } else {
    for (uint32_t i = 0; i < params.m_pixel_count; ++i) {
      const uint8_t* pixel = params.m_pixels + 4 * i;
      uint64_t best = Bc7_No_Error;
      uint8_t best_index = 0;
      for (uint32_t k = 0; k < n; ++k) {
        const uint64_t d = bc7_color_distance<Channels, true>(palette[k], pixel, weights);
        if (d < best) {
          best = d;
          best_index = uint8_t(k);
        }
      }
      indices[i] = best_index;
      total += best;
      if (total >= bound) break;
    }
  }
  return total;
}

// The first k lanes of four, for k = 0..3.
alignas(16) constexpr int32_t Lead_Lanes[4][4] = {
    {0, 0, 0, 0}, {-1, 0, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, 0}};

// The linear metric, four pixels a step. Weights of unused channels are zero.
template <int Channels>
uint64_t fit_linear_sse2(const uint8_t palette[][4], uint32_t n, const Bc7_Subset_Params& params,
                         uint8_t indices[], uint64_t bound) {
  int16_t dir[4] = {0, 0, 0, 0}, weights[4] = {0, 0, 0, 0};
  int32_t dir_length2 = 0;
  for (int c = 0; c < Channels; ++c) {
    dir[c] = int16_t(int32_t(palette[n - 1][c]) - int32_t(palette[0][c]));
    dir_length2 += dir[c] * dir[c];
    weights[c] = int16_t(params.m_channel_weights[c]);
  }
  const float scale = float(n) / (float(dir_length2) + 1.25e-6f);
  const __m128i dir_v = bc7_channel_factors(dir), weights_v = bc7_channel_factors(weights);
  uint32_t base_word;
  std::memcpy(&base_word, palette[0], 4);
  const __m128i base = _mm_set1_epi32(int32_t(base_word));
  const __m128 scale_v = _mm_set1_ps(scale), half = _mm_set1_ps(0.5f);
  const __m128i lowest = _mm_set1_epi16(1), highest = _mm_set1_epi16(int16_t(n - 1));

  const uint32_t count = params.m_pixel_count;
  uint64_t total = 0;
  for (uint32_t first = 0; first < count; first += 4) {
    const uint32_t lanes = bc7_min_u32(4, count - first);
    const __m128i pixels = bc7_load_pixels(params.m_pixels + 4 * first, lanes);

    const __m128i dot = bc7_weighted_sums(pixels, base, dir_v);
    const __m128i level32 =
        _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(dot), scale_v), half));
    // Saturating to 16 bits before the clamp leaves its result unchanged.
    const __m128i level16 =
        _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(level32, level32), highest), lowest);

    // Levels s - 1 and s sit side by side: one 8-byte load per pixel. The lane
    // is chosen at run time, which the extract instruction cannot take.
    alignas(16) int16_t levels[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(levels), level16);
    auto neighbours = [&](int lane) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(palette[levels[lane] - 1]));
    };
    const __m128 pairs01 = _mm_castsi128_ps(_mm_unpacklo_epi64(neighbours(0), neighbours(1)));
    const __m128 pairs23 = _mm_castsi128_ps(_mm_unpacklo_epi64(neighbours(2), neighbours(3)));
    const __m128i below_colours =
        _mm_castps_si128(_mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i at_colours =
        _mm_castps_si128(_mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(3, 1, 3, 1)));

    const __m128i at = bc7_squared_distances(at_colours, pixels, weights_v);
    const __m128i below = bc7_squared_distances(below_colours, pixels, weights_v);
    const __m128i take_below = _mm_cmpgt_epi32(at, below);
    __m128i best = _mm_or_si128(_mm_and_si128(take_below, below), _mm_andnot_si128(take_below, at));
    const __m128i chosen = _mm_add_epi16(level16, _mm_packs_epi32(take_below, take_below));
    const int32_t chosen_bytes = _mm_cvtsi128_si32(_mm_packus_epi16(chosen, chosen));
    if (lanes == 4)
      std::memcpy(indices + first, &chosen_bytes, 4);
    else
      for (uint32_t k = 0; k < lanes; ++k) indices[first + k] = uint8_t(chosen_bytes >> (8 * k));

    if (lanes < 4)
      best =
          _mm_and_si128(best, _mm_load_si128(reinterpret_cast<const __m128i*>(Lead_Lanes[lanes])));
    best = _mm_add_epi32(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(1, 0, 3, 2)));
    best = _mm_add_epi32(best, _mm_shuffle_epi32(best, _MM_SHUFFLE(2, 3, 0, 1)));
    total += uint32_t(_mm_cvtsi128_si32(best));
    if (total >= bound) break;
  }
  return total;
}

}  // namespace

uint64_t bc7_fit_indices(const uint8_t palette[][4], uint32_t n, const Bc7_Subset_Params& params,
                         uint8_t indices[], uint64_t bound) {
  if (params.m_perceptual_metric)
    return params.m_has_alpha ? fit_scalar<4, true>(palette, n, params, indices, bound)
                              : fit_scalar<3, true>(palette, n, params, indices, bound);
  if (bc7_weights_fit_sse2(params.m_channel_weights))
    return params.m_has_alpha ? fit_linear_sse2<4>(palette, n, params, indices, bound)
                              : fit_linear_sse2<3>(palette, n, params, indices, bound);
  return params.m_has_alpha ? fit_scalar<4, false>(palette, n, params, indices, bound)
                            : fit_scalar<3, false>(palette, n, params, indices, bound);
}
