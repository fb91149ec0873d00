// DXT1 blocks from the cluster fit's float endpoints, or from 5:6:5 fields,
// and 16 indices.
#include <immintrin.h>

#include <cstring>

#include "texture_encoder/simd/cs_vector.h"

namespace {

// 5:6:5 of an endpoint (R, G, B, ignored): each field trunc(max(x, 0) * m + 0.5)
// limited to m, so that it saturates like the scalar pack.
uint32_t endpoint_565(__m128 endpoint) {
  const __m128 levels = _mm_setr_ps(31.0f, 63.0f, 31.0f, 0.0f);
  const __m128 scaled =
      _mm_add_ps(_mm_mul_ps(_mm_max_ps(endpoint, _mm_setzero_ps()), levels), _mm_set1_ps(0.5f));
  const __m128i fields = _mm_min_epi32(_mm_cvttps_epi32(scaled), _mm_setr_epi32(31, 63, 31, 0));
  const __m128i placed = _mm_sllv_epi32(fields, _mm_setr_epi32(11, 5, 0, 0));
  return uint32_t(_mm_cvtsi128_si32(placed) | _mm_extract_epi32(placed, 1) |
                  _mm_extract_epi32(placed, 2));
}

// Both colour words from bytes (red, green, blue, extra) per endpoint:
// red << 11 | green << 5 | blue | extra, the fourth byte OR-ed in unshifted.
void fields_565(const uint8_t* endpoints8, uint32_t* c0, uint32_t* c1) {
  const __m256i bytes =
      _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(endpoints8)));
  const __m256i placed = _mm256_sllv_epi32(bytes, _mm256_setr_epi32(11, 5, 0, 0, 11, 5, 0, 0));
  // One endpoint per 128-bit half: fold its four lanes into the first.
  __m256i folded = _mm256_or_si256(placed, _mm256_srli_si256(placed, 8));
  folded = _mm256_or_si256(folded, _mm256_srli_si256(folded, 4));
  *c0 = uint32_t(_mm256_cvtsi256_si32(folded));
  *c1 = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(folded, 1)));
}

// The block from the two colour words: one colour alone, or four-colour order
// (c0 > c1), swapping the endpoints and exchanging indices 0/1 and 2/3 when
// c0 < c1. Index of pixel i at bits 33 + 2i..32 + 2i.
void pack_words(uint32_t c0, uint32_t c1, const uint8_t* indices16, uint64_t* block) {
  const __m128i bytes =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(indices16)), _mm_set1_epi8(3));
  const __m256i shifts_low = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
  const __m256i shifts_high = _mm256_setr_epi32(16, 18, 20, 22, 24, 26, 28, 30);
  const __m256i word = _mm256_or_si256(
      _mm256_sllv_epi32(_mm256_cvtepu8_epi32(bytes), shifts_low),
      _mm256_sllv_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)), shifts_high));
  __m128i folded = _mm_or_si128(_mm256_castsi256_si128(word), _mm256_extracti128_si256(word, 1));
  folded = _mm_or_si128(folded, _mm_srli_si128(folded, 8));
  folded = _mm_or_si128(folded, _mm_srli_si128(folded, 4));
  const uint32_t indices = uint32_t(_mm_cvtsi128_si32(folded));

  uint64_t packed;
  if (c0 == c1)
    packed = c0;
  else if (c0 > c1)
    packed = c0 | uint64_t(c1) << 16 | uint64_t(indices) << 32;
  else
    packed = c1 | uint64_t(c0) << 16 | uint64_t(indices ^ 0x55555555u) << 32;
  std::memcpy(block, &packed, 8);
}

}  // namespace

void dxt1_pack_block_from_float_avx2(const float* endpoints8, const uint8_t* indices16,
                                     uint64_t* block) {
  pack_words(endpoint_565(_mm_loadu_ps(endpoints8)), endpoint_565(_mm_loadu_ps(endpoints8 + 4)),
             indices16, block);
}

void dxt1_pack_block_from_565_avx2(const uint8_t* endpoints8, const uint8_t* indices16,
                                   uint64_t* block) {
  uint32_t c0, c1;
  fields_565(endpoints8, &c0, &c1);
  pack_words(c0, c1, indices16, block);
}
