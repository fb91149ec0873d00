// SSE4.1 twin of the fast RGTC1 block encoder of the row drivers: the value
// bytes picked from the gathered pixels by one byte shuffle per row, minimum
// and maximum by vector reductions, and the indices of all sixteen values at
// once in 16-bit lanes.
#include <immintrin.h>

#include <cstring>

#include "HAP/DXT_compress.h"
#include "HAP/alpha_indices_sse41.h"

namespace {

// The 16-bit lanes of a >= b as all-ones.
inline __m128i at_least(__m128i a, __m128i b) {
  return _mm_cmpgt_epi16(a, _mm_sub_epi16(b, _mm_set1_epi16(1)));
}

// Index of eight values: the palette step of 7 v + bias in units of the
// range, counted downwards from the maximum, with entries 0 and 1 exchanged.
inline __m128i fast_indices(__m128i values, __m128i bias, __m128i range) {
  __m128i t = _mm_add_epi16(_mm_mullo_epi16(values, _mm_set1_epi16(7)), bias);
  __m128i step = _mm_setzero_si128();
  for (int weight : {4, 2, 1}) {
    const __m128i part = _mm_mullo_epi16(range, _mm_set1_epi16(int16_t(weight)));
    const __m128i reached = at_least(t, part);
    step = _mm_add_epi16(step, _mm_and_si128(reached, _mm_set1_epi16(int16_t(weight))));
    t = _mm_sub_epi16(t, _mm_and_si128(reached, part));
  }
  const __m128i index = _mm_and_si128(_mm_sub_epi16(_mm_setzero_si128(), step), _mm_set1_epi16(7));
  const __m128i low = _mm_cmplt_epi16(index, _mm_set1_epi16(2));
  return _mm_xor_si128(index, _mm_and_si128(low, _mm_set1_epi16(1)));
}

// Smallest or largest of the 16 bytes, halving the span four times.
template <bool Smallest>
inline int byte_extreme(__m128i v) {
  const auto pick = [](__m128i x, __m128i y) {
    return Smallest ? _mm_min_epu8(x, y) : _mm_max_epu8(x, y);
  };
  v = pick(v, _mm_srli_si128(v, 8));
  v = pick(v, _mm_srli_si128(v, 4));
  v = pick(v, _mm_srli_si128(v, 2));
  v = pick(v, _mm_srli_si128(v, 1));
  return _mm_cvtsi128_si32(v) & 0xFF;
}

}  // namespace

void compress_rgtc1_block_sse41(const uint8_t pixels[64], int value_byte, uint8_t out[8]) {
  // Bytes value_byte, + 4, + 8, + 12 of a row; the high bit clears the rest.
  const __m128i pick =
      _mm_add_epi8(_mm_setr_epi8(0, 4, 8, 12, -128, -128, -128, -128, -128, -128, -128, -128, -128,
                                 -128, -128, -128),
                   _mm_set1_epi8(char(value_byte)));
  __m128i rows[4];
  for (int row = 0; row < 4; ++row) {
    const __m128i line = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * row));
    rows[row] = _mm_shuffle_epi8(line, pick);
  }
  const __m128i values = _mm_unpacklo_epi64(_mm_unpacklo_epi32(rows[0], rows[1]),
                                            _mm_unpacklo_epi32(rows[2], rows[3]));
  const int low = byte_extreme<true>(values), high = byte_extreme<false>(values);

  std::memset(out, 0, 8);
  out[0] = uint8_t(high);
  if (low == high) return;
  out[1] = uint8_t(low);
  const int range = high - low;
  const __m128i bias = _mm_set1_epi16(int16_t((range < 8 ? range - 1 : range / 2 + 2) - 7 * low));
  const __m128i span = _mm_set1_epi16(int16_t(range));
  const __m128i first = fast_indices(_mm_cvtepu8_epi16(values), bias, span);
  const __m128i second = fast_indices(_mm_cvtepu8_epi16(_mm_srli_si128(values, 8)), bias, span);
  const uint64_t word = pack_alpha_indices<false>(_mm_packus_epi16(first, second));
  for (int i = 0; i < 6; ++i) out[2 + i] = uint8_t(word >> (8 * i));
}
