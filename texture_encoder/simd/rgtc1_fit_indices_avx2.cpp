// Nearest-palette index fit of 16 single-channel values, eight values per pass
// in 32-bit lanes of 256-bit registers.
#include <immintrin.h>

#include "texture_encoder/simd/alpha_vector.h"

int64_t rgtc1_fit_indices_avx2(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                               int64_t* error) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values16));
  const __m256i values[2] = {_mm256_cvtepu8_epi32(bytes),
                             _mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8))};
  __m256i best[2], index[2];
  for (int pass = 0; pass < 2; ++pass) {
    best[pass] = _mm256_sub_epi32(values[pass], _mm256_set1_epi32(palette8[0]));
    best[pass] = _mm256_mullo_epi32(best[pass], best[pass]);
    index[pass] = _mm256_setzero_si256();
  }
  for (int k = 1; k < 8; ++k) {
    const __m256i entry = _mm256_set1_epi32(palette8[k]);
    for (int pass = 0; pass < 2; ++pass) {
      __m256i e = _mm256_sub_epi32(values[pass], entry);
      e = _mm256_mullo_epi32(e, e);
      // Strictly smaller only, so the first of equal distances keeps its index.
      const __m256i closer = _mm256_cmpgt_epi32(best[pass], e);
      best[pass] = _mm256_min_epi32(best[pass], e);
      index[pass] = _mm256_blendv_epi8(index[pass], _mm256_set1_epi32(k), closer);
    }
  }
  // Packing works within 128-bit halves and gives the words of pixels
  // (0..3, 8..11 | 4..7, 12..15); one permute puts the four groups in order.
  const __m256i words = _mm256_packs_epi32(index[0], index[1]);
  const __m256i ordered = _mm256_permute4x64_epi64(words, 0xD8);
  const __m128i packed =
      _mm_packus_epi16(_mm256_castsi256_si128(ordered), _mm256_extracti128_si256(ordered, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(indices16), packed);
  const __m256i sum8 = _mm256_add_epi32(best[0], best[1]);
  __m128i total = _mm_add_epi32(_mm256_castsi256_si128(sum8), _mm256_extracti128_si256(sum8, 1));
  total = _mm_add_epi32(total, _mm_srli_si128(total, 8));
  total = _mm_add_epi32(total, _mm_srli_si128(total, 4));
  *error = int64_t(uint32_t(_mm_cvtsi128_si32(total)));
  return *error;
}
