// Helpers shared by the vector kernels that read a packed BGRA block (pixel
// formats 1 and 2: four rows of four B, G, R, A pixels, row r at
// source + r * stride). They use AVX-encoded instructions, so only files built
// with AVX or above include this header; internal linkage keeps each file's
// copy compiled with that file's own instruction set.
#pragma once
#include <immintrin.h>

#include <cstdint>

namespace {

// Transposes the block into four channel planes: out[c] holds channel c
// (0 B, 1 G, 2 R, 3 A) of the sixteen pixels in raster order.
inline void load_channel_planes(const uint8_t* source, int64_t stride, __m128i out[4]) {
  // Each row regrouped as B0..B3 G0..G3 R0..R3 A0..A3, then a 4x4 transpose
  // of 32-bit groups.
  const __m128i group = _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  __m128 rows[4];
  for (int r = 0; r < 4; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + r * stride));
    rows[r] = _mm_castsi128_ps(_mm_shuffle_epi8(row, group));
  }
  _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
  for (int c = 0; c < 4; ++c) out[c] = _mm_castps_si128(rows[c]);
}

// Smallest and largest byte of v, by halving (8, 4, 2, 1 lanes).
template <int Bytes>
__m128i fold_min(__m128i v) {
  return _mm_min_epu8(v, _mm_srli_si128(v, Bytes));
}
template <int Bytes>
__m128i fold_max(__m128i v) {
  return _mm_max_epu8(v, _mm_srli_si128(v, Bytes));
}
inline uint32_t smallest_byte(__m128i v) {
  return uint32_t(_mm_cvtsi128_si32(fold_min<1>(fold_min<2>(fold_min<4>(fold_min<8>(v)))))) & 0xFF;
}
inline uint32_t largest_byte(__m128i v) {
  return uint32_t(_mm_cvtsi128_si32(fold_max<1>(fold_max<2>(fold_max<4>(fold_max<8>(v)))))) & 0xFF;
}

}  // namespace
