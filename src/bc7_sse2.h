// SSE2 building blocks of the BC7 search, four RGBA pixels (16 bytes) to a
// vector and one 32-bit result per pixel. Every lane gives exactly the value
// of the scalar integer form.
#pragma once
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

// Up to four RGBA pixels; lanes past count are zero.
inline __m128i bc7_load_pixels(const uint8_t* pixels, uint32_t count) {
  if (count >= 4) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
  uint32_t words[4] = {0, 0, 0, 0};
  for (uint32_t k = 0; k < count; ++k) std::memcpy(&words[k], pixels + 4 * k, 4);
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
}

// Pairs of 32-bit lanes summed: [a0 + a1, a2 + a3, b0 + b1, b2 + b3].
inline __m128i bc7_add_pairs(__m128i a, __m128i b) {
  const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
  return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                       _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

// Sum over the channels of (x - y) * factor for four pixels; factors holds
// the four channel factors twice.
inline __m128i bc7_weighted_sums(__m128i x, __m128i y, __m128i factors) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i d_lo = _mm_sub_epi16(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero));
  const __m128i d_hi = _mm_sub_epi16(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero));
  return bc7_add_pairs(_mm_madd_epi16(d_lo, factors), _mm_madd_epi16(d_hi, factors));
}

// Sum over the channels of weight * (x - y)^2 for four pixels; weights (held
// twice) must be at most 128, so that every product fits in 16 bits.
inline __m128i bc7_squared_distances(__m128i x, __m128i y, __m128i weights) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i d_lo = _mm_sub_epi16(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero));
  const __m128i d_hi = _mm_sub_epi16(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero));
  return bc7_add_pairs(_mm_madd_epi16(d_lo, _mm_mullo_epi16(d_lo, weights)),
                       _mm_madd_epi16(d_hi, _mm_mullo_epi16(d_hi, weights)));
}

// Four channel values held twice, as the factors above take them.
inline __m128i bc7_channel_factors(const int16_t f[4]) {
  return _mm_set_epi16(f[3], f[2], f[1], f[0], f[3], f[2], f[1], f[0]);
}

// The colours of a palette at four levels.
inline __m128i bc7_gather_colours(const uint8_t palette[][4], const int32_t levels[4]) {
  uint32_t words[4];
  for (int k = 0; k < 4; ++k) std::memcpy(&words[k], palette[levels[k]], 4);
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
}

// The palette of levels colours (a multiple of 4) between the colours low and
// high (R in the low byte), two levels at a time in 16-bit lanes:
// ((64 - w) * low + w * high + 32) >> 6 for every level weight w. palette
// must be 16-byte aligned.
inline void bc7_palette_sse2(uint32_t low, uint32_t high, const uint32_t* level_weights,
                             uint32_t levels, uint8_t palette[][4]) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low4 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(low)), zero);
  const __m128i high4 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(high)), zero);
  const __m128i low16 = _mm_unpacklo_epi64(low4, low4), high16 = _mm_unpacklo_epi64(high4, high4);
  const __m128i rounding = _mm_set1_epi16(32), full = _mm_set1_epi16(64);
  for (uint32_t k = 0; k < levels; k += 4) {
    __m128i pairs[2];
    for (uint32_t j = 0; j < 2; ++j) {
      const int16_t w0 = int16_t(level_weights[k + 2 * j]);
      const int16_t w1 = int16_t(level_weights[k + 2 * j + 1]);
      const __m128i w = _mm_set_epi16(w1, w1, w1, w1, w0, w0, w0, w0);
      const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(_mm_sub_epi16(full, w), low16),
                                        _mm_mullo_epi16(w, high16));
      pairs[j] = _mm_srli_epi16(_mm_add_epi16(sum, rounding), 6);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(palette[k]), _mm_packus_epi16(pairs[0], pairs[1]));
  }
}

// Channel weights the vector distances can take: all at most 128 (the
// linear metric's; the perceptual one has its own arithmetic).
inline bool bc7_weights_fit_sse2(const uint32_t weights[4]) {
  for (int c = 0; c < 4; ++c)
    if (weights[c] > 128) return false;
  return true;
}
