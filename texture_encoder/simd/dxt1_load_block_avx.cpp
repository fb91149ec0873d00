// Packed BGRA block to planar R, G, B bytes, with the flat-block test of
// quality 1 or the largest channel range of quality 2.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/packed_block_avx.h"

namespace {

template <int Mode>
uint64_t load_planar_rgb(uint8_t* block48, const uint8_t* source, int64_t stride,
                         uint64_t* result) {
  __m128i planes[4];
  load_channel_planes(source, stride, planes);
  const __m128i rgb[3] = {planes[2], planes[1], planes[0]};
  for (int c = 0; c < 3; ++c)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block48 + 16 * c), rgb[c]);
  if constexpr (Mode == 0) {
    __m128i same = _mm_set1_epi8(-1);
    for (const __m128i& plane : rgb)
      same =
          _mm_and_si128(same, _mm_cmpeq_epi8(plane, _mm_shuffle_epi8(plane, _mm_setzero_si128())));
    *result = _mm_movemask_epi8(same) == 0xFFFF ? 1 : 0;
  } else {
    uint32_t range = 0;
    for (const __m128i& plane : rgb) {
      const uint32_t span = largest_byte(plane) - smallest_byte(plane);
      range = span > range ? span : range;
    }
    *result = range;
  }
  return *result;
}

}  // namespace

uint64_t to_rgba_template_dxt_q1_avx(uint8_t* block48, const uint8_t* plane0, const uint8_t*,
                                     const uint8_t*, int64_t stride0, int64_t, int64_t,
                                     uint64_t* result) {
  return load_planar_rgb<0>(block48, plane0, stride0, result);
}

uint64_t to_rgba_template_dxt_q2_avx(uint8_t* block48, const uint8_t* plane0, const uint8_t*,
                                     const uint8_t*, int64_t stride0, int64_t, int64_t,
                                     uint64_t* result) {
  return load_planar_rgb<1>(block48, plane0, stride0, result);
}
