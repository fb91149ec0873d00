// YCoCg block loader, AVX2: two rows per 256-bit integer register, channels
// taken out by shifts and masks.
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

void ycocg_load_block_avx2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                           uint64_t* all_black) {
  const auto row = [&](int r) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + r * stride));
  };
  const __m256i pairs[2] = {_mm256_setr_m128i(row(0), row(1)), _mm256_setr_m128i(row(2), row(3))};
  const __m256i byte = _mm256_set1_epi32(0xFF);
  if (_mm256_testz_si256(_mm256_or_si256(pairs[0], pairs[1]), _mm256_set1_epi32(0x00FFFFFF))) {
    *all_black = 1;
    return;
  }
  __m256 r[2], g[2], b[2];
  for (int h = 0; h < 2; ++h) {
    b[h] = _mm256_cvtepi32_ps(_mm256_and_si256(pairs[h], byte));
    g[h] = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pairs[h], 8), byte));
    r[h] = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(pairs[h], 16), byte));
  }
  store_ycocg_record(out, r, g, b);
  *all_black = 0;
}
