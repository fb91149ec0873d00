// YCoCg block loader, AVX: each row's B, G, R bytes spread to 32-bit lanes by
// 128-bit byte shuffles, two rows joined per 256-bit float vector.
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

void ycocg_load_block_avx(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                          uint64_t* all_black) {
  __m128i rows[4];
  for (int r = 0; r < 4; ++r)
    rows[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + r * stride));
  const __m128i colour_bytes = _mm_set1_epi32(0x00FFFFFF);
  const __m128i any = _mm_or_si128(_mm_or_si128(rows[0], rows[1]), _mm_or_si128(rows[2], rows[3]));
  if (_mm_testz_si128(any, colour_bytes)) {
    *all_black = 1;
    return;
  }
  const auto channel = [&](int byte, int first_row) {
    const __m128i pick = _mm_setr_epi8(char(byte), -1, -1, -1, char(byte + 4), -1, -1, -1,
                                       char(byte + 8), -1, -1, -1, char(byte + 12), -1, -1, -1);
    const __m128 low = _mm_cvtepi32_ps(_mm_shuffle_epi8(rows[first_row], pick));
    const __m128 high = _mm_cvtepi32_ps(_mm_shuffle_epi8(rows[first_row + 1], pick));
    return _mm256_set_m128(high, low);
  };
  const __m256 b[2] = {channel(0, 0), channel(0, 2)};
  const __m256 g[2] = {channel(1, 0), channel(1, 2)};
  const __m256 r[2] = {channel(2, 0), channel(2, 2)};
  store_ycocg_record(out, r, g, b);
  *all_black = 0;
}
