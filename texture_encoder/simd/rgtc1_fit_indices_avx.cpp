// Nearest-palette index fit of 16 single-channel values, four values per pass
// in 32-bit lanes, with all eight palette entries kept in registers.
#include <immintrin.h>

#include <cstring>

#include "texture_encoder/simd/alpha_vector.h"

int64_t rgtc1_fit_indices_avx(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                              int64_t* error) {
  __m128i palette[8];
  for (int k = 0; k < 8; ++k) palette[k] = _mm_set1_epi32(palette8[k]);
  __m128i total = _mm_setzero_si128();
  __m128i indices[4];
  for (int pass = 0; pass < 4; ++pass) {
    int32_t four;
    std::memcpy(&four, values16 + 4 * pass, 4);
    const __m128i v = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(four));
    __m128i best = _mm_sub_epi32(v, palette[0]);
    best = _mm_mullo_epi32(best, best);
    __m128i index = _mm_setzero_si128();
    for (int k = 1; k < 8; ++k) {
      __m128i e = _mm_sub_epi32(v, palette[k]);
      e = _mm_mullo_epi32(e, e);
      // Strictly smaller only, so the first of equal distances keeps its index.
      const __m128i closer = _mm_cmpgt_epi32(best, e);
      best = _mm_min_epi32(best, e);
      index = _mm_blendv_epi8(index, _mm_set1_epi32(k), closer);
    }
    total = _mm_add_epi32(total, best);
    indices[pass] = index;
  }
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(indices[0], indices[1]),
                                          _mm_packs_epi32(indices[2], indices[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(indices16), packed);
  total = _mm_add_epi32(total, _mm_srli_si128(total, 8));
  total = _mm_add_epi32(total, _mm_srli_si128(total, 4));
  *error = int64_t(uint32_t(_mm_cvtsi128_si32(total)));
  return *error;
}
