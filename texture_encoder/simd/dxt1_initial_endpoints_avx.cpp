// DXT1 endpoint estimate: block moments and pixel dots in 128-bit lanes.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/dxt1_vector_shared.h"
#include "texture_encoder/simd/packed_block_avx.h"

void dxt1_initial_endpoints_avx(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                uint32_t* channel_sums) {
  __m128i plane[3];
  Block_Moments m;
  for (int c = 0; c < 3; ++c) {
    plane[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block48 + 16 * c));
    m.sum[c] = sum_bytes(plane[c]);
    m.mean[c] = int32_t((m.sum[c] + 8) >> 4);
    m.range[c] = int32_t(largest_byte(plane[c]) - smallest_byte(plane[c]));
  }
  store_sums_and_means(&m, channel_sums);

  // Centred values in 16-bit lanes, eight pixels per half.
  const __m128i zero = _mm_setzero_si128();
  __m128i products[6] = {zero, zero, zero, zero, zero, zero};
  for (int half = 0; half < 2; ++half) {
    __m128i d[3];
    for (int c = 0; c < 3; ++c) {
      const __m128i wide =
          half == 0 ? _mm_unpacklo_epi8(plane[c], zero) : _mm_unpackhi_epi8(plane[c], zero);
      d[c] = _mm_sub_epi16(wide, _mm_set1_epi16(int16_t(m.mean[c])));
    }
    const int pairs[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
    for (int k = 0; k < 6; ++k)
      products[k] = _mm_add_epi32(products[k], _mm_madd_epi16(d[pairs[k][0]], d[pairs[k][1]]));
  }
  for (int k = 0; k < 6; ++k) m.products[k] = sum_lanes(products[k]);
  int32_t axis[3];
  principal_axis_weights(m.range, m.products, axis);

  __m128i dots[4];
  __m128i lo = _mm_set1_epi32(INT32_MAX), hi = _mm_set1_epi32(INT32_MIN);
  for (int group = 0; group < 4; ++group) {
    __m128i x = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c) {
      x = _mm_add_epi32(
          x, _mm_mullo_epi32(four_values(block48 + 16 * c + 4 * group), _mm_set1_epi32(axis[c])));
    }
    dots[group] = x;
    lo = _mm_min_epi32(lo, x);
    hi = _mm_max_epi32(hi, x);
  }
  lo = _mm_min_epi32(lo, _mm_shuffle_epi32(lo, 0x4E));
  lo = _mm_min_epi32(lo, _mm_shuffle_epi32(lo, 0xB1));
  hi = _mm_max_epi32(hi, _mm_shuffle_epi32(hi, 0x4E));
  hi = _mm_max_epi32(hi, _mm_shuffle_epi32(hi, 0xB1));
  uint32_t min_mask = 0, max_mask = 0;
  for (int group = 0; group < 4; ++group) {
    min_mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(dots[group], lo))))
                << (4 * group);
    max_mask |= uint32_t(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(dots[group], hi))))
                << (4 * group);
  }
  extreme_endpoints(block48, max_mask, min_mask, c0, c1);
}
