// DXT1 endpoint estimate: block moments over all 16 pixels in 16-bit lanes of
// one 256-bit register, pixel dots eight at a time.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/dxt1_vector_shared.h"
#include "texture_encoder/simd/packed_block_avx.h"

namespace {

int32_t sum_lanes_256(__m256i v) {
  return sum_lanes(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

}  // namespace

void dxt1_initial_endpoints_avx2(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                 uint32_t* channel_sums) {
  Block_Moments m;
  __m256i d[3];
  for (int c = 0; c < 3; ++c) {
    const __m128i plane = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block48 + 16 * c));
    m.sum[c] = sum_bytes(plane);
    m.mean[c] = int32_t((m.sum[c] + 8) >> 4);
    m.range[c] = int32_t(largest_byte(plane) - smallest_byte(plane));
    d[c] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(plane), _mm256_set1_epi16(int16_t(m.mean[c])));
  }
  store_sums_and_means(&m, channel_sums);
  const int pairs[6][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 2}};
  for (int k = 0; k < 6; ++k)
    m.products[k] = sum_lanes_256(_mm256_madd_epi16(d[pairs[k][0]], d[pairs[k][1]]));
  int32_t axis[3];
  principal_axis_weights(m.range, m.products, axis);

  __m256i dots[2];
  for (int group = 0; group < 2; ++group) {
    dots[group] = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
      const __m128i eight =
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block48 + 16 * c + 8 * group));
      dots[group] = _mm256_add_epi32(
          dots[group], _mm256_mullo_epi32(_mm256_cvtepu8_epi32(eight), _mm256_set1_epi32(axis[c])));
    }
  }
  // Halves swapped, then pairs of pairs, then neighbours: every lane ends with
  // the extreme of all sixteen dots.
  const auto swap_halves = [](__m256i v) { return _mm256_permute2x128_si256(v, v, 0x01); };
  __m256i lo = _mm256_min_epi32(dots[0], dots[1]);
  __m256i hi = _mm256_max_epi32(dots[0], dots[1]);
  lo = _mm256_min_epi32(lo, swap_halves(lo));
  hi = _mm256_max_epi32(hi, swap_halves(hi));
  lo = _mm256_min_epi32(lo, _mm256_shuffle_epi32(lo, 0x4E));
  hi = _mm256_max_epi32(hi, _mm256_shuffle_epi32(hi, 0x4E));
  lo = _mm256_min_epi32(lo, _mm256_shuffle_epi32(lo, 0xB1));
  hi = _mm256_max_epi32(hi, _mm256_shuffle_epi32(hi, 0xB1));
  uint32_t min_mask = 0, max_mask = 0;
  for (int group = 0; group < 2; ++group) {
    const auto equal = [&](__m256i extreme) {
      return uint32_t(
                 _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(dots[group], extreme))))
             << (8 * group);
    };
    min_mask |= equal(lo);
    max_mask |= equal(hi);
  }
  extreme_endpoints(block48, max_mask, min_mask, c0, c1);
}
