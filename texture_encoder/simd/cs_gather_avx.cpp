// Distinct colours of a packed BGRA block: each not yet taken pixel starts a
// colour and takes every equal pixel at once with four 4-lane compares.
#include <immintrin.h>

#include "texture_encoder/simd/cs_vector.h"

void cs_gather_block_avx(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t*,
                         const uint8_t*, int64_t stride0, int64_t, int64_t) {
  // Each pixel as R | G << 8 | B << 16: alpha plays no part in a colour.
  const __m128i rgb = _mm_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
  __m128i pixels[4];
  for (int r = 0; r < 4; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane0 + r * stride0));
    pixels[r] = _mm_shuffle_epi8(row, rgb);
  }
  alignas(16) uint32_t values[16];
  for (int r = 0; r < 4; ++r)
    _mm_store_si128(reinterpret_cast<__m128i*>(values + 4 * r), pixels[r]);

  __m128i map[4] = {};
  const __m128 full_scale = _mm_set1_ps(255.0f);
  uint32_t taken = 0;
  uint32_t n = 0;
  while (taken != 0xFFFF) {
    const int first = __builtin_ctz(~taken);
    const __m128i colour = _mm_set1_epi32(int32_t(values[first]));
    const __m128i colour_index = _mm_set1_epi32(int32_t(n));
    uint32_t equal = 0;
    for (int r = 0; r < 4; ++r) {
      const __m128i same = _mm_cmpeq_epi32(pixels[r], colour);
      map[r] = _mm_blendv_epi8(map[r], colour_index, same);
      equal |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(same))) << (4 * r);
    }
    const __m128i channels = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(int32_t(values[first])));
    _mm_storeu_ps(out->colours[n], _mm_div_ps(_mm_cvtepi32_ps(channels), full_scale));
    out->counts[n] = uint32_t(__builtin_popcount(equal));
    taken |= equal;
    ++n;
  }
  for (int r = 0; r < 4; ++r)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out->map + 4 * r), map[r]);
  out->count = n;
}
