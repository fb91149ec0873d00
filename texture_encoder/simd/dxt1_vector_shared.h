// Steps shared by the AVX and AVX2 DXT1 block kernels: the per-block scalar
// set-up around their vector loops, which must match the scalar kernels
// exactly. Only files built with AVX or above include this header; internal
// linkage keeps each file's copy compiled with that file's instruction set.
#pragma once
#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "texture_encoder/dxt1_axis.h"

namespace {

// Palette direction and the three dot thresholds of an endpoint pair: a pixel
// dot x takes index 1 below `low`, 3 below `half`, 2 below `high`, else 0.
struct Index_Thresholds {
  int32_t d[3];
  int32_t low, half, high;
};

inline Index_Thresholds index_thresholds(uint16_t c0, uint16_t c1, const uint8_t* expand_table) {
  const int32_t p0[3] = {expand_table[c0 >> 11], expand_table[32 + ((c0 >> 5) & 63)],
                         expand_table[c0 & 31]};
  const int32_t p1[3] = {expand_table[c1 >> 11], expand_table[32 + ((c1 >> 5) & 63)],
                         expand_table[c1 & 31]};
  Index_Thresholds t;
  int32_t p2[3], p3[3];
  for (int c = 0; c < 3; ++c) {
    p2[c] = (2 * p0[c] + p1[c]) / 3;
    p3[c] = (p0[c] + 2 * p1[c]) / 3;
    t.d[c] = p0[c] - p1[c];
  }
  const auto dot = [&t](const int32_t* p) { return p[0] * t.d[0] + p[1] * t.d[1] + p[2] * t.d[2]; };
  t.low = (dot(p1) + dot(p3)) >> 1;
  t.half = (dot(p2) + dot(p3)) >> 1;
  t.high = (dot(p0) + dot(p2)) >> 1;
  return t;
}

// Bit i of x moved to bit 2i.
inline uint32_t spread_bits(uint32_t x) {
  x &= 0xFFFF;
  x = (x | x << 8) & 0x00FF00FF;
  x = (x | x << 4) & 0x0F0F0F0F;
  x = (x | x << 2) & 0x33333333;
  return (x | x << 1) & 0x55555555;
}

// Index word from the per-pixel masks x < low, x < half, x < high: bit 0 of an
// index is x < half; bit 1 is x >= low below half and x < high above it.
inline uint32_t index_word(uint32_t below_low, uint32_t below_half, uint32_t below_high) {
  const uint32_t high_bit = (below_half & ~below_low) | (~below_half & below_high);
  return spread_bits(below_half) | spread_bits(high_bit) << 1;
}

// x * levels / 255 rounded, in integers.
inline uint32_t quantise_channel(uint32_t x, uint32_t levels) {
  const uint32_t t = x * levels + 128;
  return (t + (t >> 8)) >> 8;
}

inline uint16_t pixel_565(const uint8_t* block48, int i) {
  return uint16_t(quantise_channel(block48[i], 31) << 11 |
                  quantise_channel(block48[16 + i], 63) << 5 |
                  quantise_channel(block48[32 + i], 31));
}

// Per-pixel index of a 2-bit index word as bytes: 16-bit lanes shift their
// half of the word left by 14 - 2i (a multiply) and keep the top two bits.
inline __m128i index_bytes(uint32_t word) {
  const __m128i to_top =
      _mm_setr_epi16(1 << 14, 1 << 12, 1 << 10, 1 << 8, 1 << 6, 1 << 4, 1 << 2, 1);
  const __m128i low = _mm_srli_epi16(_mm_mullo_epi16(_mm_set1_epi16(int16_t(word)), to_top), 14);
  const __m128i high =
      _mm_srli_epi16(_mm_mullo_epi16(_mm_set1_epi16(int16_t(word >> 16)), to_top), 14);
  return _mm_packus_epi16(low, high);
}

// Four bytes widened to 32-bit lanes.
inline __m128i four_values(const uint8_t* bytes) {
  int32_t four;
  std::memcpy(&four, bytes, 4);
  return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(four));
}

inline uint32_t sum_bytes(__m128i v) {
  const __m128i halves = _mm_sad_epu8(v, _mm_setzero_si128());
  return uint32_t(_mm_cvtsi128_si32(halves) + _mm_extract_epi32(halves, 2));
}

inline int32_t sum_lanes(__m128i v) {
  v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
  v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
  return _mm_cvtsi128_si32(v);
}

// Sums, rounded means, ranges and centred products (RR, RG, RB, GG, GB, BB)
// of a loaded block; the members fill everything but `mean`.
struct Block_Moments {
  uint32_t sum[3];
  int32_t range[3];
  int32_t mean[3];
  int32_t products[6];
};

inline void store_sums_and_means(Block_Moments* m, uint32_t* channel_sums) {
  for (int c = 0; c < 3; ++c) {
    channel_sums[c] = m->sum[c];
    channel_sums[4 + c] = uint32_t(m->mean[c]);
  }
}

// Endpoints from the lowest-numbered pixels with the largest and the smallest
// dot, given the 16-bit masks of the pixels that reach them.
inline void extreme_endpoints(const uint8_t* block48, uint32_t max_mask, uint32_t min_mask,
                              uint16_t* c0, uint16_t* c1) {
  *c0 = pixel_565(block48, __builtin_ctz(max_mask));
  *c1 = pixel_565(block48, __builtin_ctz(min_mask));
}

// Least-squares endpoints for fixed indices. Rounding(x, f) gives x * f + 0.5;
// the members differ only there.
template <class Rounding>
void refine_endpoints(const uint8_t* block48, uint16_t* c0, uint16_t* c1, uint32_t indices,
                      const uint32_t* channel_sums, Rounding rounding) {
  const __m128i k = index_bytes(indices);
  // Weight of c0 per index {3, 0, 2, 1}, its square, the square of the weight
  // of c1 and their product.
  const auto table = [&k](char i0, char i1, char i2, char i3) {
    return _mm_shuffle_epi8(_mm_setr_epi8(i0, i1, i2, i3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), k);
  };
  const __m128i w = table(3, 0, 2, 1);
  const int32_t xx = int32_t(sum_bytes(table(9, 0, 4, 1)));
  const int32_t yy = int32_t(sum_bytes(table(0, 9, 1, 4)));
  const int32_t xy = int32_t(sum_bytes(table(0, 0, 2, 2)));
  const __m128i ones = _mm_set1_epi16(1);
  int32_t at1[4] = {0, 0, 0, 0}, at2[4] = {0, 0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block48 + 16 * c));
    at1[c] = sum_lanes(_mm_madd_epi16(_mm_maddubs_epi16(x, w), ones));
    at2[c] = 3 * int32_t(channel_sums[c]) - at1[c];
  }
  const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at1));
  const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at2));
  const __m128i n0 = _mm_sub_epi32(_mm_mullo_epi32(a1, _mm_set1_epi32(yy)),
                                   _mm_mullo_epi32(a2, _mm_set1_epi32(xy)));
  const __m128i n1 = _mm_sub_epi32(_mm_mullo_epi32(a2, _mm_set1_epi32(xx)),
                                   _mm_mullo_epi32(a1, _mm_set1_epi32(xy)));
  constexpr float three_31_over_255 = std::bit_cast<float>(0x3EBABABBu);
  const float frb = three_31_over_255 / float(xx * yy - xy * xy);
  const float fg = frb * (63.0f / 31.0f);
  const __m128 f = _mm_setr_ps(frb, fg, frb, 0.0f);
  const __m128i top = _mm_setr_epi32(31, 63, 31, 0);
  const auto field = [&](__m128i n) {
    const __m128i t = _mm_cvttps_epi32(rounding(_mm_cvtepi32_ps(n), f));
    return _mm_min_epi32(_mm_max_epi32(t, _mm_setzero_si128()), top);
  };
  const auto colour = [](__m128i v) {
    return uint16_t(_mm_cvtsi128_si32(v) << 11 | _mm_extract_epi32(v, 1) << 5 |
                    _mm_extract_epi32(v, 2));
  };
  *c0 = colour(field(n0));
  *c1 = colour(field(n1));
}

}  // namespace
