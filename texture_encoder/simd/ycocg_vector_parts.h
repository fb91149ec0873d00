// Building blocks of the YCoCg vector kernels, included only by the files
// compiled for one instruction-set level (*_avx.cpp, *_avx2.cpp, ...).
//
// Everything here has internal linkage on purpose: each level's file gets its
// own copy compiled with its own instruction set, so the linker can never hand
// an AVX-only caller a copy that was built for AVX2.
//
// Members that differ only by fused multiply-adds are written once, with
// Fused = true for the FMA levels.
#pragma once
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/ycocg_block.h"

namespace {

constexpr float neutral = ycocg::neutral;
constexpr float half_code = ycocg::half_code;

// a * b + c, rounded once when Fused.
template <bool Fused>
inline float madd(float a, float b, float c) {
  if constexpr (Fused) {
    return std::fma(a, b, c);
  } else {
    return a * b + c;
  }
}

template <bool Fused>
inline __m256 madd(__m256 a, __m256 b, __m256 c) {
  if constexpr (Fused) {
    return _mm256_fmadd_ps(a, b, c);
  } else {
    return _mm256_add_ps(_mm256_mul_ps(a, b), c);
  }
}

inline __m256 splat(float v) { return _mm256_set1_ps(v); }

// Bit i of a 16-bit mask moved to bit 2i.
inline uint32_t spread_bits16(uint32_t x) {
  x = (x | x << 8) & 0x00FF00FFu;
  x = (x | x << 4) & 0x0F0F0F0Fu;
  x = (x | x << 2) & 0x33333333u;
  x = (x | x << 1) & 0x55555555u;
  return x;
}

// Sign masks of 16 lanes (two vectors, pixels 0..7 then 8..15) as one mask.
inline uint32_t lane_mask16(__m256 low, __m256 high) {
  return uint32_t(_mm256_movemask_ps(low)) | uint32_t(_mm256_movemask_ps(high)) << 8;
}

// The four-distance index rule for 16 pixels at once (pixels 0..7 in [0],
// 8..15 in [1]), packed at bits 2i..2i+1.
inline uint32_t cocg_index_word(const __m256 d0[2], const __m256 d1[2], const __m256 d2[2],
                                const __m256 d3[2]) {
  __m256 low_bit[2], high_bit[2];
  for (int h = 0; h < 2; ++h) {
    const __m256 b0 = _mm256_cmp_ps(d0[h], d3[h], _CMP_GT_OQ);
    const __m256 b1 = _mm256_cmp_ps(d1[h], d2[h], _CMP_GT_OQ);
    const __m256 b2 = _mm256_cmp_ps(d0[h], d2[h], _CMP_GT_OQ);
    const __m256 b3 = _mm256_cmp_ps(d1[h], d3[h], _CMP_GT_OQ);
    const __m256 b4 = _mm256_cmp_ps(d2[h], d3[h], _CMP_GT_OQ);
    low_bit[h] = _mm256_and_ps(b0, b4);
    high_bit[h] = _mm256_or_ps(_mm256_and_ps(b1, b2), _mm256_and_ps(b0, b3));
  }
  return spread_bits16(lane_mask16(low_bit[0], low_bit[1])) |
         spread_bits16(lane_mask16(high_bit[0], high_bit[1])) << 1;
}

// The same rule for one pixel.
inline uint32_t cocg_index_of(float d0, float d1, float d2, float d3) {
  const bool b0 = d0 > d3, b1 = d1 > d2, b2 = d0 > d2, b3 = d1 > d3, b4 = d2 > d3;
  return uint32_t(b0 && b4) | uint32_t((b1 && b2) || (b0 && b3)) << 1;
}

// Smallest (or largest) of 16 values held in two vectors.
template <bool Smallest>
inline __m256 extreme(__m256 a, __m256 b) {
  return Smallest ? _mm256_min_ps(a, b) : _mm256_max_ps(a, b);
}

template <bool Smallest>
inline float horizontal_extreme(__m256 a, __m256 b) {
  __m256 m = extreme<Smallest>(a, b);
  m = extreme<Smallest>(m, _mm256_permute2f128_ps(m, m, 1));
  m = extreme<Smallest>(m, _mm256_permute_ps(m, _MM_SHUFFLE(1, 0, 3, 2)));
  m = extreme<Smallest>(m, _mm256_permute_ps(m, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm256_cvtss_f32(m);
}

// The rest of the loader once B, G, R of the 16 pixels are floats (two
// vectors each): every step before the division is exact, so the order of
// the additions does not matter.
inline void store_ycocg_record(Ycocg_Block* out, const __m256 r[2], const __m256 g[2],
                               const __m256 b[2]) {
  const __m256 zero = _mm256_setzero_ps(), top = splat(255.0f), two = splat(2.0f);
  const __m256 quarter = splat(0.25f), offset = splat(128.0f), divisor = splat(255.0f);
  const auto to_unit = [&](__m256 v) {
    return _mm256_div_ps(_mm256_min_ps(_mm256_max_ps(v, zero), top), divisor);
  };
  __m256 y[2], co[2], cg[2];
  for (int h = 0; h < 2; ++h) {
    const __m256 g2 = _mm256_add_ps(g[h], g[h]);
    y[h] = to_unit(
        _mm256_mul_ps(_mm256_add_ps(_mm256_add_ps(r[h], g2), _mm256_add_ps(b[h], two)), quarter));
    const __m256 rb = _mm256_sub_ps(r[h], b[h]);
    co[h] = to_unit(
        _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_add_ps(rb, rb), two), quarter), offset));
    cg[h] = to_unit(_mm256_add_ps(
        _mm256_mul_ps(_mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(g2, r[h]), b[h]), two), quarter),
        offset));
    _mm256_store_ps(out->y + 8 * h, y[h]);
    _mm256_store_ps(out->cocg.co + 8 * h, co[h]);
    _mm256_store_ps(out->cocg.cg + 8 * h, cg[h]);
  }
  out->y_min = horizontal_extreme<true>(y[0], y[1]);
  out->y_max = horizontal_extreme<false>(y[0], y[1]);
  float* box = out->cocg.cocg_box;
  box[0] = horizontal_extreme<true>(co[0], co[1]);
  box[1] = horizontal_extreme<true>(cg[0], cg[1]);
  box[2] = horizontal_extreme<false>(co[0], co[1]);
  box[3] = horizontal_extreme<false>(cg[0], cg[1]);
}

// ---- Endpoint codes inside the CoCg search -------------------------------

// A 5-bit (inverse_max 1/31) or 6-bit (1/63) code in CoCg units: code / max
// with the chroma scale undone, as two fused steps. Not the decoder's value.
template <int Scale>
inline float decode_search_code(int32_t code, float inverse_max) {
  if constexpr (Scale == 1) {
    return float(code) * inverse_max;
  } else {
    return std::fma(std::fma(float(code), inverse_max, -neutral), 1.0f / Scale, neutral);
  }
}

template <int Scale>
inline __m256 decode_search_codes(__m256i codes, float inverse_max) {
  const __m256 q = _mm256_cvtepi32_ps(codes);
  if constexpr (Scale == 1) {
    return _mm256_mul_ps(q, splat(inverse_max));
  } else {
    return _mm256_fmadd_ps(_mm256_fmsub_ps(q, splat(inverse_max), splat(neutral)),
                           splat(1.0f / Scale), splat(neutral));
  }
}

// Eight float lanes in one register, for the endpoint search of
// cocg_neighbourhood_search.h.
struct Avx_Lanes {
  __m256 v;
  static Avx_Lanes splat(float x) { return {_mm256_set1_ps(x)}; }
  static Avx_Lanes load(const float* p) { return {_mm256_loadu_ps(p)}; }
  void store(float* p) const { _mm256_storeu_ps(p, v); }
  friend Avx_Lanes operator+(Avx_Lanes a, Avx_Lanes b) { return {_mm256_add_ps(a.v, b.v)}; }
  friend Avx_Lanes operator-(Avx_Lanes a, Avx_Lanes b) { return {_mm256_sub_ps(a.v, b.v)}; }
  friend Avx_Lanes operator*(Avx_Lanes a, Avx_Lanes b) { return {_mm256_mul_ps(a.v, b.v)}; }
  friend Avx_Lanes min(Avx_Lanes a, Avx_Lanes b) { return {_mm256_min_ps(a.v, b.v)}; }
  friend bool all_at_least(Avx_Lanes a, float limit) {
    return _mm256_movemask_ps(_mm256_cmp_ps(a.v, _mm256_set1_ps(limit), _CMP_GE_OQ)) == 0xFF;
  }
};

// Squared chroma distance (multiply, multiply, add) of pixels to a point.
inline __m256 cocg_distances(__m256 co, __m256 cg, __m256 p_co, __m256 p_cg) {
  const __m256 dc = _mm256_sub_ps(co, p_co), dg = _mm256_sub_ps(cg, p_cg);
  return _mm256_add_ps(_mm256_mul_ps(dg, dg), _mm256_mul_ps(dc, dc));
}

// ---- Quality-1 luma ---------------------------------------------------------

// Y index of each count of thresholds at or above the value: none means
// above the whole palette (alpha0), all seven the lower end (alpha1).
constexpr uint8_t y_index_of_count[8] = {0, 2, 3, 4, 5, 6, 7, 1};

// Writes the alpha half: a0, a1, then the 16 indices against the seven
// ascending thresholds.
inline void write_y_half(uint8_t* out8, const float y[16], uint32_t a0, uint32_t a1,
                         const float thresholds[7]) {
  const __m256 one = splat(1.0f);
  __m256 count[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  for (int t = 0; t < 7; ++t) {
    const __m256 limit = splat(thresholds[t]);
    for (int h = 0; h < 2; ++h) {
      const __m256 at_or_above = _mm256_cmp_ps(_mm256_load_ps(y + 8 * h), limit, _CMP_LE_OQ);
      count[h] = _mm256_add_ps(count[h], _mm256_and_ps(at_or_above, one));
    }
  }
  alignas(32) int32_t counts[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(counts), _mm256_cvttps_epi32(count[0]));
  _mm256_store_si256(reinterpret_cast<__m256i*>(counts + 8), _mm256_cvttps_epi32(count[1]));
  uint64_t word = uint64_t(a0 & 0xFF) | uint64_t(a1 & 0xFF) << 8;
  for (int i = 0; i < 16; ++i) word |= uint64_t(y_index_of_count[counts[i]]) << (16 + 3 * i);
  std::memcpy(out8, &word, 8);
}

// Endpoint byte truncate(v * 255 + 0.5).
template <bool Fused>
inline uint32_t byte_code(float v) {
  return uint32_t(int32_t(madd<Fused>(v, 255.0f, 0.5f)));
}

template <bool Fused>
void encode_y_alpha_q1(uint8_t* out8, const Ycocg_Block* block) {
  const float range = block->y_max - block->y_min;
  const float inset = madd<Fused>(range, 1.0f / 32.0f, -half_code);
  const float lo = std::fmax(std::fmin(block->y_min + inset, 1.0f), 0.0f);
  const float hi = std::fmax(std::fmin(block->y_max - inset, 1.0f), 0.0f);

  constexpr float seventh = 1.0f / 7.0f;
  const float half = (hi - lo) * (1.0f / 14.0f);
  float thresholds[7];
  thresholds[0] = lo + half;
  thresholds[1] = madd<Fused>(madd<Fused>(6.0f, lo, hi), seventh, half);
  for (int k = 5; k >= 2; --k) {  // k lo + (7 - k) hi
    thresholds[7 - k] = madd<Fused>(madd<Fused>(float(7 - k), hi, float(k) * lo), seventh, half);
  }
  thresholds[6] = madd<Fused>(madd<Fused>(6.0f, hi, lo), seventh, half);
  write_y_half(out8, block->y, byte_code<Fused>(hi), byte_code<Fused>(lo), thresholds);
}

// ---- Quality-1 chroma -------------------------------------------------------

// The endpoints of a chroma box as codes and colour words, and the palette
// they decode to, colour0 (high end) first.
struct Quantized_Cocg {
  uint16_t colour0, colour1;
  float co[4], cg[4];
};

template <bool Fused>
Quantized_Cocg quantize_cocg_box(const float box_in[4]) {
  float x[4], deviation = 0.0f;
  for (int i = 0; i < 4; ++i) {
    x[i] = box_in[i] - neutral;
    deviation = std::fmax(deviation, std::fabs(x[i]));
  }
  const uint32_t scale = deviation < 32.0f / 255.0f ? 4 : deviation < 64.0f / 255.0f ? 2 : 1;
  const float s = float(scale);
  float box[4];
  for (int i = 0; i < 4; ++i) box[i] = madd<Fused>(x[i], s, neutral);

  const float inset_co = madd<Fused>(box[2] - box[0], 1.0f / 16.0f, -half_code);
  const float inset_cg = madd<Fused>(box[3] - box[1], 1.0f / 16.0f, -half_code);
  const auto code = [](float v, float top) {
    const int32_t q = int32_t(madd<Fused>(v, top, 0.5f));
    return q < 0 ? 0 : (q > int32_t(top) ? int32_t(top) : q);
  };
  const int32_t low_co = code(box[0] + inset_co, 31.0f), low_cg = code(box[1] + inset_cg, 63.0f);
  const int32_t high_co = code(box[2] - inset_co, 31.0f), high_cg = code(box[3] - inset_cg, 63.0f);

  Quantized_Cocg q;
  const uint32_t scale_code = scale - 1;
  q.colour0 = uint16_t(high_co << 11 | high_cg << 5 | scale_code);
  q.colour1 = uint16_t(low_co << 11 | low_cg << 5 | scale_code);
  // Decoded as a decoder does: bit replication to 8 bits, then the scale undone.
  const auto decode = [s](int32_t expanded) {
    const float centred = madd<Fused>(float(expanded), 1.0f / 255.0f, -neutral);
    return madd<Fused>(centred, 1.0f / s, neutral);
  };
  q.co[0] = decode(high_co << 3 | high_co >> 2);
  q.cg[0] = decode(high_cg << 2 | high_cg >> 4);
  q.co[1] = decode(low_co << 3 | low_co >> 2);
  q.cg[1] = decode(low_cg << 2 | low_cg >> 4);
  q.co[2] = madd<Fused>(q.co[1] - q.co[0], ycocg::one_third, q.co[0]);
  q.cg[2] = madd<Fused>(q.cg[1] - q.cg[0], ycocg::one_third, q.cg[0]);
  q.co[3] = madd<Fused>(q.co[1] - q.co[0], ycocg::two_thirds, q.co[0]);
  q.cg[3] = madd<Fused>(q.cg[1] - q.cg[0], ycocg::two_thirds, q.cg[0]);
  return q;
}

// Sum of (co - cco)(cg - ccg) over the pixels: i with i + 8, then j with
// j + 4, then (0 + 1) + (2 + 3).
inline float cocg_covariance(const Cocg_Block* block, float centre_co, float centre_cg) {
  __m256 products[2];
  for (int h = 0; h < 2; ++h) {
    products[h] = _mm256_mul_ps(_mm256_sub_ps(_mm256_load_ps(block->co + 8 * h), splat(centre_co)),
                                _mm256_sub_ps(_mm256_load_ps(block->cg + 8 * h), splat(centre_cg)));
  }
  const __m256 eight = _mm256_add_ps(products[0], products[1]);
  alignas(16) float four[4];
  _mm_store_ps(four, _mm_add_ps(_mm256_castps256_ps128(eight), _mm256_extractf128_ps(eight, 1)));
  return (four[0] + four[1]) + (four[2] + four[3]);
}

template <bool Fused>
void encode_cocg_q1(uint8_t* out8, const Cocg_Block* block) {
  float box[4] = {block->cocg_box[0], block->cocg_box[1], block->cocg_box[2], block->cocg_box[3]};
  const float covariance =
      cocg_covariance(block, 0.5f * (box[0] + box[2]), 0.5f * (box[1] + box[3]));
  if (std::signbit(covariance)) std::swap(box[1], box[3]);
  const Quantized_Cocg q = quantize_cocg_box<Fused>(box);

  __m256 d[4][2];
  for (int h = 0; h < 2; ++h) {
    const __m256 co = _mm256_load_ps(block->co + 8 * h), cg = _mm256_load_ps(block->cg + 8 * h);
    for (int k = 0; k < 4; ++k) {
      const __m256 dc = _mm256_sub_ps(co, splat(q.co[k]));
      const __m256 dg = _mm256_sub_ps(cg, splat(q.cg[k]));
      d[k][h] = madd<Fused>(dg, dg, _mm256_mul_ps(dc, dc));
    }
  }
  ycocg::write_colour_half(out8, q.colour0, q.colour1, cocg_index_word(d[0], d[1], d[2], d[3]));
}

}  // namespace
