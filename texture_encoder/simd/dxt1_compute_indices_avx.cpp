// DXT1 index word of a loaded block, four pixel dots per 128-bit pass.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/dxt1_vector_shared.h"

void dxt1_compute_indices_avx(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                              const uint8_t* expand_table) {
  const Index_Thresholds t = index_thresholds(c0, c1, expand_table);
  const __m128i d[3] = {_mm_set1_epi32(t.d[0]), _mm_set1_epi32(t.d[1]), _mm_set1_epi32(t.d[2])};
  const __m128i low = _mm_set1_epi32(t.low), half = _mm_set1_epi32(t.half),
                high = _mm_set1_epi32(t.high);
  uint32_t below_low = 0, below_half = 0, below_high = 0;
  for (int group = 0; group < 4; ++group) {
    __m128i x = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c) {
      x = _mm_add_epi32(x, _mm_mullo_epi32(four_values(block48 + 16 * c + 4 * group), d[c]));
    }
    const auto below = [&x, group](__m128i threshold) {
      return uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(threshold, x))))
             << (4 * group);
    };
    below_low |= below(low);
    below_half |= below(half);
    below_high |= below(high);
  }
  *indices = index_word(below_low, below_half, below_high);
}
