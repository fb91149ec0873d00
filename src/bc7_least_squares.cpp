// Least-squares endpoints for a fixed set of indices: the pair (e0, e1) that
// minimises the squared error of (1 - w) e0 + w e1 against the pixels, per
// channel, w being each pixel's interpolation weight.
#include <emmintrin.h>

#include <cstring>

#include "src/bc7_internal.h"

namespace {

// Solves channels [First, First + Count) into out[c - First]. All four
// channels are summed, four lanes at once.
template <int First, int Count>
void least_squares(uint32_t count, const uint8_t indices[], const float factors[][4],
                   float out1[], float out2[], const uint8_t pixels[]) {
  // Lanes: the sums of the first three factors, and the pixel sums per
  // channel, each lane adding in pixel order as a scalar sum would.
  __m128 factor_sums = _mm_setzero_ps(), sums = _mm_setzero_ps(), weighted_sums = _mm_setzero_ps();
  for (uint32_t i = 0; i < count; ++i) {
    const __m128 f = _mm_loadu_ps(factors[indices[i]]);
    int32_t word;
    std::memcpy(&word, pixels + 4 * i, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128 x = _mm_cvtepi32_ps(
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero));
    factor_sums = _mm_add_ps(factor_sums, f);
    sums = _mm_add_ps(sums, x);
    weighted_sums =
        _mm_add_ps(weighted_sums, _mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(3, 3, 3, 3)), x));
  }
  alignas(16) float f_lanes[4], sum_lanes[4], weighted_lanes[4];
  _mm_store_ps(f_lanes, factor_sums);
  _mm_store_ps(sum_lanes, sums);
  _mm_store_ps(weighted_lanes, weighted_sums);
  const float c = f_lanes[0], b = f_lanes[1], a = f_lanes[2];
  const float* sum = sum_lanes + First;
  const float* weighted = weighted_lanes + First;
  const float det = a * c - b * b;
  // All pixels on one index leave the system singular; 0 endpoints are still
  // a valid (if poor) candidate.
  const float inv = det == 0.0f ? 0.0f : 1.0f / det;
  for (int k = 0; k < Count; ++k) {
    const float p = sum[k] - weighted[k];
    const float q = weighted[k];
    out1[k] = (a * q - b * p) * inv;
    out2[k] = (c * p - b * q) * inv;
    if (out1[k] < 0.0f || out2[k] > 255.0f) {
      // A flat channel is better kept than extrapolated.
      const uint8_t v = pixels[First + k];
      bool flat = true;
      for (uint32_t i = 1; i < count; ++i) flat = flat && pixels[4 * i + First + k] == v;
      if (flat) out1[k] = out2[k] = float(v);
    }
  }
}

}  // namespace

void bc7_least_squares_rgb(uint32_t count, const uint8_t indices[], const float factors[][4],
                           float out1[4], float out2[4], const uint8_t pixels[]) {
  least_squares<0, 3>(count, indices, factors, out1, out2, pixels);
  out1[3] = out2[3] = 255.0f;
}

void bc7_least_squares_rgba(uint32_t count, const uint8_t indices[], const float factors[][4],
                            float out1[4], float out2[4], const uint8_t pixels[]) {
  least_squares<0, 4>(count, indices, factors, out1, out2, pixels);
}

void bc7_least_squares_alpha(uint32_t count, const uint8_t indices[], const float factors[][4],
                             float out1[1], float out2[1], const uint8_t pixels[]) {
  least_squares<3, 1>(count, indices, factors, out1, out2, pixels);
}
