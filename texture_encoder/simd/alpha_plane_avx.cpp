// One 8-bit plane (alpha or luma) of a packed BGRA block, and the bounds the
// RGTC1 fits start from, with byte shuffles instead of per-pixel loops.
#include "texture_encoder/simd/alpha_vector.h"
#include "texture_encoder/simd/packed_block_avx.h"

void to_alpha_template_alpha_avx(uint8_t* out16, const uint8_t* plane0, const uint8_t*,
                                 int64_t stride0, int64_t, uint64_t* min, uint64_t* max) {
  __m128i planes[4];
  load_channel_planes(plane0, stride0, planes);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out16), planes[3]);
  *min = smallest_byte(planes[3]);
  *max = largest_byte(planes[3]);
}

void to_alpha_template_luma_avx(uint8_t* out16, const uint8_t* plane0, const uint8_t*,
                                const uint8_t*, int64_t stride0, int64_t, int64_t, uint64_t* min,
                                uint64_t* max) {
  __m128i planes[4];
  load_channel_planes(plane0, stride0, planes);
  const __m128i zero = _mm_setzero_si128();
  // sum * 43691 >> 17 is sum / 3 for every sum up to 765; the high half of
  // the 16-bit product gives the first 16 bits of the shift.
  const __m128i third = _mm_set1_epi16(int16_t(43691));
  __m128i luma[2];
  for (int half = 0; half < 2; ++half) {
    const auto widen = [&](__m128i v) {
      return half == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero);
    };
    const __m128i sum =
        _mm_add_epi16(_mm_add_epi16(widen(planes[2]), widen(planes[1])), widen(planes[0]));
    luma[half] = _mm_srli_epi16(_mm_mulhi_epu16(sum, third), 1);
  }
  const __m128i values = _mm_packus_epi16(luma[0], luma[1]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out16), values);
  *min = smallest_byte(values);
  *max = largest_byte(values);
}

void rgtc1_block_min_max_avx(const uint8_t* values16, uint64_t* min, uint64_t* max) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values16));
  // 0 cannot be the low bound and 255 cannot be the high one: lift the zeros to
  // 255 for the minimum and drop the 255s to 0 for the maximum.
  const __m128i lifted = _mm_or_si128(v, _mm_cmpeq_epi8(v, _mm_setzero_si128()));
  const __m128i dropped = _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(-1)), v);
  *min = smallest_byte(lifted);
  *max = largest_byte(dropped);
}
