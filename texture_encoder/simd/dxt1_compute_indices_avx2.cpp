// DXT1 index word of a loaded block, eight pixel dots per 256-bit pass.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/dxt1_vector_shared.h"

void dxt1_compute_indices_avx2(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                               const uint8_t* expand_table) {
  const Index_Thresholds t = index_thresholds(c0, c1, expand_table);
  const __m256i low = _mm256_set1_epi32(t.low), half = _mm256_set1_epi32(t.half),
                high = _mm256_set1_epi32(t.high);
  uint32_t below_low = 0, below_half = 0, below_high = 0;
  for (int group = 0; group < 2; ++group) {
    __m256i x = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
      const __m128i eight =
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block48 + 16 * c + 8 * group));
      x = _mm256_add_epi32(
          x, _mm256_mullo_epi32(_mm256_cvtepu8_epi32(eight), _mm256_set1_epi32(t.d[c])));
    }
    const auto below = [&x, group](__m256i threshold) {
      return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(threshold, x))))
             << (8 * group);
    };
    below_low |= below(low);
    below_half |= below(half);
    below_high |= below(high);
  }
  *indices = index_word(below_low, below_half, below_high);
}
