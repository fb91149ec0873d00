// SSE4.1 twins of the building blocks of the alpha encoder that keeps 0 and
// 255 exact, and that encoder over them. Palettes are built in 16-bit lanes
// with the divisions by 7 and 5 done as multiplications by their rounded-up
// reciprocals, exact for every numerator up to 7 x 255; all sixteen values
// are matched against one palette entry at a time.
#include <immintrin.h>

#include <cassert>

#include "HAP/DXT_compress.h"
#include "HAP/alpha_exact_encoder.h"
#include "HAP/alpha_indices_sse41.h"

namespace {

// Lane k: (w0[k] luma0 + w1[k] luma1) / divisor, the divisor given as a
// reciprocal times 2^16 rounded up (9363 for 7, 13108 for 5). For numerators
// up to 7 x 255 the reciprocal's excess adds less than 1/50 to the quotient,
// less than the 1/7 (1/5) that a fraction lies below the next integer, so the
// floor is exact.
__m128i interpolate(uint8_t luma0, uint8_t luma1, __m128i w0, __m128i w1, uint16_t reciprocal) {
  const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(w0, _mm_set1_epi16(luma0)),
                                    _mm_mullo_epi16(w1, _mm_set1_epi16(luma1)));
  return _mm_mulhi_epu16(sum, _mm_set1_epi16(int16_t(reciprocal)));
}

void store_palette(__m128i lanes, uint8_t palette[8]) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(palette), _mm_packus_epi16(lanes, lanes));
}

}  // namespace

void build_alpha_palette_8_sse41(uint8_t luma0, uint8_t luma1, uint8_t palette[8]) {
  assert(luma0 > luma1 && "luma0 > luma1");
  // Lane 0 and 1 give luma0 and luma1 themselves (weights 7, 0 and 0, 7).
  const __m128i entries = interpolate(luma0, luma1, _mm_setr_epi16(7, 0, 6, 5, 4, 3, 2, 1),
                                      _mm_setr_epi16(0, 7, 1, 2, 3, 4, 5, 6), 9363);
  // Only the interpolated entries (lanes 2 to 7) are held below 255.
  assert((_mm_movemask_epi8(_mm_cmpgt_epi16(entries, _mm_set1_epi16(254))) & 0xFFF0) == 0 && "val < 255");
  store_palette(entries, palette);
}

void build_alpha_palette_6_sse41(uint8_t luma0, uint8_t luma1, uint8_t palette[8]) {
  assert(luma0 <= luma1 && "luma0 <= luma1");
  const __m128i entries = interpolate(luma0, luma1, _mm_setr_epi16(5, 0, 4, 3, 2, 1, 0, 0),
                                      _mm_setr_epi16(0, 5, 1, 2, 3, 4, 0, 0), 13108);
  // Entries 6 and 7 are the fixed 0 and 255.
  store_palette(_mm_insert_epi16(entries, 255, 7), palette);
}

uint16_t match_alpha_palette_sse41(const uint8_t values[16], const uint8_t palette[8],
                                   uint8_t indices[16]) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
  __m128i best = _mm_set1_epi8(char(255)), index = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k) {
    const __m128i entry = _mm_set1_epi8(char(palette[k]));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(v, entry), _mm_subs_epu8(entry, v));
    // Strictly nearer only, so the lowest index keeps a tie.
    const __m128i not_nearer = _mm_cmpeq_epi8(_mm_max_epu8(d, best), d);
    const __m128i nearer = _mm_andnot_si128(not_nearer, _mm_set1_epi8(-1));
    index = _mm_blendv_epi8(index, _mm_set1_epi8(char(k)), nearer);
    best = _mm_min_epu8(best, d);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(indices), index);
  const __m128i sums = _mm_sad_epu8(best, _mm_setzero_si128());
  return uint16_t(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
}

void pack_alpha_block_msb_sse41(uint8_t luma0, uint8_t luma1, const uint8_t indices[16],
                                uint8_t out[8]) {
  const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(indices));
  const __m128i i = _mm_and_si128(loaded, _mm_set1_epi8(7));
  write_msb_alpha_block(luma0, luma1, pack_alpha_indices<true>(i), out);
}

void compress_alpha_block_exact_sse41(const uint8_t values[16], uint8_t out[8]) {
  using Kernels = Alpha_Exact_Kernels<build_alpha_palette_8_sse41, build_alpha_palette_6_sse41,
                                      match_alpha_palette_sse41, pack_alpha_block_msb_sse41>;
  encode_alpha_block_exact<Kernels>(values, out);
}
