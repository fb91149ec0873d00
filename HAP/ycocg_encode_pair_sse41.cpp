// SSE4.1 encoding of the two blocks of a pair for the YCoCg-DXT5 row encoder.
// Every value goes through the operations of the scalar steps
// (ycocg_encode_y_alpha, ycocg_encode_cocg) in the same order, one value per
// lane, so the bytes are the scalar path's: no fused multiply-adds, divisions
// where the scalar code divides, endpoint codes rounded halves away from zero,
// and the chroma covariance summed pixel by pixel in order, the two blocks
// side by side in the lanes of one vector.
#include <immintrin.h>

#include <cstring>

#include "HAP/alpha_indices_sse41.h"
#include "HAP/ycocg_vector.h"
#include "texture_encoder/ycocg_block.h"

namespace {

template <int Lane>
__m128 broadcast(__m128 v) {
  return _mm_shuffle_ps(v, v, _MM_SHUFFLE(Lane, Lane, Lane, Lane));
}

// v < 0 ? 0 : (v > 1 ? 1 : v): maxps and minps give their second operand
// unless the first wins strictly, as the scalar comparisons do.
__m128 clamp_unit(__m128 v) {
  return _mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_setzero_ps(), v));
}

// lround of lanes that are not negative: the whole part, plus one when the
// fraction, exact below 2^23, is at least a half.
__m128i nearest(__m128 x) {
  const __m128 whole = _mm_round_ps(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  const __m128 half_up = _mm_cmpge_ps(_mm_sub_ps(x, whole), _mm_set1_ps(0.5f));
  return _mm_cvttps_epi32(_mm_add_ps(whole, _mm_and_ps(half_up, _mm_set1_ps(1.0f))));
}

// Sixteen small integers, four per 32-bit lane of each vector, as 16 bytes.
__m128i to_bytes(const __m128i v[4]) {
  return _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
}

// The seven Y thresholds of alpha_indices_float between lo and hi (all lanes
// equal), in lanes 0..3 of first and 0..2 of second.
void y_thresholds(__m128 lo, __m128 hi, __m128* first, __m128* second) {
  const __m128 h = _mm_div_ps(_mm_sub_ps(hi, lo), _mm_set1_ps(14.0f));
  const __m128 seventh = _mm_set1_ps(0.14285715f);
  const auto mix = [&](__m128 lo_weight, __m128 hi_weight) {
    const __m128 sum = _mm_add_ps(_mm_mul_ps(lo_weight, lo), _mm_mul_ps(hi_weight, hi));
    return _mm_add_ps(_mm_mul_ps(sum, seventh), h);
  };
  const __m128 first_mixed = mix(_mm_setr_ps(7, 6, 5, 4), _mm_setr_ps(0, 1, 2, 3));
  *first = _mm_blend_ps(first_mixed, _mm_add_ps(lo, h), 1);  // the lowest is lo + h
  *second = mix(_mm_setr_ps(3, 2, 1, 0), _mm_setr_ps(4, 5, 6, 7));
}

// The Y half of one block from its inset range (all lanes equal): endpoint
// bytes, then per pixel 1 + the count of thresholds at or above its value,
// modulo 8, with 0 and 1 exchanged.
uint64_t y_half(const float y[16], __m128 lo, __m128 hi, uint32_t endpoints) {
  __m128 first, second;
  y_thresholds(lo, hi, &first, &second);
  const __m128 thresholds[7] = {broadcast<0>(first),  broadcast<1>(first), broadcast<2>(first),
                                broadcast<3>(first),  broadcast<0>(second), broadcast<1>(second),
                                broadcast<2>(second)};
  __m128i index[4];
  for (int q = 0; q < 4; ++q) {
    const __m128 v = _mm_load_ps(y + 4 * q);
    __m128i count = _mm_set1_epi32(1);
    for (const __m128 t : thresholds)
      count = _mm_sub_epi32(count, _mm_castps_si128(_mm_cmpge_ps(t, v)));
    count = _mm_and_si128(count, _mm_set1_epi32(7));
    const __m128i low = _mm_cmplt_epi32(count, _mm_set1_epi32(2));
    index[q] = _mm_xor_si128(count, _mm_and_si128(low, _mm_set1_epi32(1)));
  }
  return endpoints | pack_alpha_indices<false>(to_bytes(index)) << 16;
}

// Both Y halves: ycocg_encode_y_alpha's inset and endpoint bytes with the two
// blocks in lanes 0 and 1.
void y_halves(const Ycocg_Block blocks[2], uint64_t words[2]) {
  const __m128 low = _mm_setr_ps(blocks[0].y_min, blocks[1].y_min, 0, 0);
  const __m128 high = _mm_setr_ps(blocks[0].y_max, blocks[1].y_max, 0, 0);
  const __m128 d = _mm_sub_ps(_mm_mul_ps(_mm_sub_ps(high, low), _mm_set1_ps(0.03125f)),
                              _mm_set1_ps(ycocg::half_code));
  const __m128 lo = clamp_unit(_mm_add_ps(low, d)), hi = clamp_unit(_mm_sub_ps(high, d));
  // Lanes: high byte of block 0, of block 1, low byte of block 0, of block 1.
  alignas(16) int32_t bytes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes),
                  nearest(_mm_mul_ps(_mm_movelh_ps(hi, lo), _mm_set1_ps(255.0f))));
  words[0] = y_half(blocks[0].y, broadcast<0>(lo), broadcast<0>(hi),
                    uint32_t(bytes[0]) | uint32_t(bytes[2]) << 8);
  words[1] = y_half(blocks[1].y, broadcast<1>(lo), broadcast<1>(hi),
                    uint32_t(bytes[1]) | uint32_t(bytes[3]) << 8);
}

// (Co - centre Co) (Cg - centre Cg) of each pixel, four pixels per vector.
void covariance_terms(const Cocg_Block& block, __m128 box, __m128 terms[4]) {
  const __m128 centre = _mm_mul_ps(_mm_add_ps(box, _mm_movehl_ps(box, box)), _mm_set1_ps(0.5f));
  const __m128 centre_co = broadcast<0>(centre), centre_cg = broadcast<1>(centre);
  for (int q = 0; q < 4; ++q)
    terms[q] = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(block.co + 4 * q), centre_co),
                          _mm_sub_ps(_mm_load_ps(block.cg + 4 * q), centre_cg));
}

// Lane b all ones when block b's covariance, summed from 0 in pixel order as
// select_bbox_diagonal sums it, is negative.
__m128 negative_covariance(const __m128 first[4], const __m128 second[4]) {
  __m128 sum = _mm_setzero_ps();
  for (int q = 0; q < 4; ++q) {
    // Pixel 4q of both blocks, then 4q + 1, in lanes 0 and 1.
    const __m128 early = _mm_unpacklo_ps(first[q], second[q]);
    const __m128 late = _mm_unpackhi_ps(first[q], second[q]);
    sum = _mm_add_ps(sum, early);
    sum = _mm_add_ps(sum, _mm_movehl_ps(early, early));
    sum = _mm_add_ps(sum, late);
    sum = _mm_add_ps(sum, _mm_movehl_ps(late, late));
  }
  return _mm_cmplt_ps(sum, _mm_setzero_ps());
}

// The colour half of one block from its box (Co min, Cg min, Co max, Cg max)
// with the diagonal chosen: choose_cocg_scale, quantize_cocg_box and the
// index rule. Returns the colour words; the 16 indices go to index[] as
// 32-bit lanes.
uint32_t colour_half(const Cocg_Block& block, __m128 box, __m128i index[4]) {
  const __m128 neutral = _mm_set1_ps(ycocg::neutral);
  const __m128 sign = _mm_set1_ps(-0.0f);
  __m128 deviation = _mm_andnot_ps(sign, _mm_sub_ps(box, neutral));
  deviation = _mm_max_ps(deviation, _mm_movehl_ps(deviation, deviation));
  deviation = _mm_max_ps(deviation, broadcast<1>(deviation));
  deviation = broadcast<0>(deviation);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 below_64 = _mm_cmplt_ps(deviation, _mm_set1_ps(64.0f / 255.0f));
  const __m128 below_32 = _mm_cmplt_ps(deviation, _mm_set1_ps(32.0f / 255.0f));
  const __m128 scale = _mm_add_ps(_mm_add_ps(one, _mm_and_ps(below_64, one)),
                                  _mm_and_ps(below_32, _mm_set1_ps(2.0f)));

  // Magnified about neutral, then inset: the low ends move up by the inset,
  // the high ends down.
  box = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(box, neutral), scale), neutral);
  __m128 inset = _mm_sub_ps(_mm_mul_ps(_mm_sub_ps(_mm_movehl_ps(box, box), box),
                                       _mm_set1_ps(1.0f / 16.0f)),
                            _mm_set1_ps(ycocg::half_code));
  inset = _mm_xor_ps(_mm_movelh_ps(inset, inset), _mm_setr_ps(0.0f, 0.0f, -0.0f, -0.0f));
  box = clamp_unit(_mm_add_ps(box, inset));
  const __m128i codes = nearest(_mm_mul_ps(box, _mm_setr_ps(31.0f, 63.0f, 31.0f, 63.0f)));

  // Colour words: lanes 2, 3 (high end) give colour0, lanes 0, 1 colour1.
  const __m128i scale_field = _mm_sub_epi32(_mm_cvttps_epi32(scale), _mm_set1_epi32(1));
  const __m128i fields = _mm_mullo_epi32(codes, _mm_setr_epi32(1 << 11, 1 << 5, 1 << 11, 1 << 5));
  const __m128i words = _mm_add_epi32(_mm_hadd_epi32(fields, fields), scale_field);
  const uint32_t colours = uint32_t(_mm_extract_epi32(words, 1)) |
                           uint32_t(_mm_extract_epi32(words, 0)) << 16;

  // The endpoints as a decoder expands them, over 255, the scale undone.
  const __m128i expanded = _mm_or_si128(
      _mm_mullo_epi32(codes, _mm_setr_epi32(8, 4, 8, 4)),
      _mm_blend_epi16(_mm_srli_epi32(codes, 2), _mm_srli_epi32(codes, 4), 0xCC));
  const __m128 decoded = _mm_add_ps(
      _mm_div_ps(_mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(expanded), _mm_set1_ps(1.0f / 255.0f)),
                            neutral),
                 scale),
      neutral);

  // Palette (Co, Cg) in lanes 0, 1: colour0 the high end, colour1 the low one,
  // then a third and two thirds of the way from colour0 to colour1.
  const __m128 high = _mm_movehl_ps(decoded, decoded);
  const __m128 step = _mm_sub_ps(decoded, high);
  const __m128 points[4] = {high, decoded,
                            _mm_add_ps(high, _mm_mul_ps(step, _mm_set1_ps(ycocg::one_third))),
                            _mm_add_ps(high, _mm_mul_ps(step, _mm_set1_ps(ycocg::two_thirds)))};
  __m128 point_co[4], point_cg[4];
  for (int k = 0; k < 4; ++k) {
    point_co[k] = broadcast<0>(points[k]);
    point_cg[k] = broadcast<1>(points[k]);
  }
  for (int q = 0; q < 4; ++q) {
    const __m128 co = _mm_load_ps(block.co + 4 * q), cg = _mm_load_ps(block.cg + 4 * q);
    __m128 d[4];
    for (int k = 0; k < 4; ++k) {
      const __m128 dg = _mm_sub_ps(cg, point_cg[k]), dc = _mm_sub_ps(co, point_co[k]);
      d[k] = _mm_add_ps(_mm_mul_ps(dg, dg), _mm_mul_ps(dc, dc));
    }
    const __m128 far_from_ends =
        _mm_or_ps(_mm_and_ps(_mm_cmpgt_ps(d[0], d[2]), _mm_cmpgt_ps(d[1], d[2])),
                  _mm_and_ps(_mm_cmpgt_ps(d[0], d[3]), _mm_cmpgt_ps(d[1], d[3])));
    const __m128 nearer_three = _mm_and_ps(_mm_cmpgt_ps(d[0], d[3]), _mm_cmpgt_ps(d[2], d[3]));
    index[q] = _mm_or_si128(_mm_and_si128(_mm_castps_si128(far_from_ends), _mm_set1_epi32(2)),
                            _mm_and_si128(_mm_castps_si128(nearer_three), _mm_set1_epi32(1)));
  }
  return colours;
}

// Sixteen 2-bit indices per block, one per byte, to the two index words
// (block 0 in the low half).
uint64_t pack_colour_indices(__m128i first, __m128i second) {
  const auto quads = [](__m128i bytes) {
    const __m128i pairs = _mm_maddubs_epi16(bytes, _mm_set1_epi16(0x0401));
    return _mm_madd_epi16(pairs, _mm_set1_epi32(0x00100001));
  };
  const __m128i both = _mm_packus_epi32(quads(first), quads(second));
  return uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(both, both)));
}

}  // namespace

void ycocg_encode_block_pair_sse41(const Ycocg_Block blocks[2], uint8_t* const out[2]) {
  uint64_t y_words[2];
  y_halves(blocks, y_words);

  __m128 boxes[2], terms[2][4];
  for (int b = 0; b < 2; ++b) {
    boxes[b] = _mm_load_ps(blocks[b].cocg.cocg_box);
    covariance_terms(blocks[b].cocg, boxes[b], terms[b]);
  }
  const __m128 negative = negative_covariance(terms[0], terms[1]);
  const __m128 swap_masks[2] = {broadcast<0>(negative), broadcast<1>(negative)};
  uint32_t colours[2];
  __m128i index_bytes[2];
  for (int b = 0; b < 2; ++b) {
    // A falling covariance exchanges the Cg ends of the box.
    const __m128 swapped = _mm_shuffle_ps(boxes[b], boxes[b], _MM_SHUFFLE(1, 2, 3, 0));
    __m128i index[4];
    const __m128 box = _mm_blendv_ps(boxes[b], swapped, swap_masks[b]);
    colours[b] = colour_half(blocks[b].cocg, box, index);
    index_bytes[b] = to_bytes(index);
  }
  const uint64_t indices = pack_colour_indices(index_bytes[0], index_bytes[1]);
  for (int b = 0; b < 2; ++b) {
    const uint64_t colour_word = colours[b] | (indices >> (32 * b)) << 32;
    std::memcpy(out[b], &y_words[b], 8);
    std::memcpy(out[b] + 8, &colour_word, 8);
  }
}
