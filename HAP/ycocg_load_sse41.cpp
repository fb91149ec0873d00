// SSE4.1 conversion of gathered blocks to the YCoCg floats of the YCoCg-DXT5
// encoder, with their bounds found on the way. Each step before the division
// by 255 works on small integers held exactly in floats, so the results are
// the scalar conversion's to the bit.
#include <immintrin.h>

#include "HAP/DXT_compress.h"
#include "HAP/ycocg_vector.h"

namespace {

// Byte shuffle moving byte `channel` of each 4-byte pixel to the low byte of
// its 32-bit lane; the high bit clears the other bytes.
__m128i channel_pick(int channel) {
  const char c = char(channel), z = char(-128);
  return _mm_setr_epi8(c, z, z, z, char(c + 4), z, z, z, char(c + 8), z, z, z, char(c + 12), z, z,
                       z);
}

__m128 to_unit(__m128 v) {
  const __m128 top = _mm_set1_ps(255.0f);
  return _mm_div_ps(_mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), top), top);
}

float horizontal_min(__m128 v) {
  v = _mm_min_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_min_ss(v, _mm_shuffle_ps(v, v, 1)));
}

float horizontal_max(__m128 v) {
  v = _mm_max_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_max_ss(v, _mm_shuffle_ps(v, v, 1)));
}

// Blocks are converted row by row, all N blocks in each row step, so the
// blocks of a pair run through the vector units together.
template <int N>
void load_blocks(const uint8_t* const pixels[N], uint32_t layout, Ycocg_Block* const out[N],
                 bool all_black[N]) {
  const bool bgra = layout == Dxt_Layout_BGRA;
  const __m128i pick_r = channel_pick(bgra ? 2 : 1), pick_g = channel_pick(bgra ? 1 : 2),
                pick_b = channel_pick(bgra ? 0 : 3);
  const __m128i colour_bytes = _mm_set1_epi32(bgra ? 0x00FFFFFF : int(0xFFFFFF00));
  const __m128 two = _mm_set1_ps(2.0f), quarter = _mm_set1_ps(0.25f), offset = _mm_set1_ps(128.0f);
  __m128 y_lo[N], y_hi[N], co_lo[N], co_hi[N], cg_lo[N], cg_hi[N];
  __m128i any[N];
  for (int b = 0; b < N; ++b) any[b] = _mm_setzero_si128();
  for (int row = 0; row < 4; ++row) {
    for (int b = 0; b < N; ++b) {
      const __m128i line = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels[b] + 16 * row));
      any[b] = _mm_or_si128(any[b], line);
      const __m128 r = _mm_cvtepi32_ps(_mm_shuffle_epi8(line, pick_r));
      const __m128 g = _mm_cvtepi32_ps(_mm_shuffle_epi8(line, pick_g));
      const __m128 bl = _mm_cvtepi32_ps(_mm_shuffle_epi8(line, pick_b));
      const __m128 g2 = _mm_add_ps(g, g), rb = _mm_sub_ps(r, bl);
      const __m128 y_sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(r, g2), bl), two);
      const __m128 co_sum = _mm_add_ps(_mm_add_ps(rb, rb), two);
      const __m128 cg_sum = _mm_add_ps(_mm_sub_ps(_mm_sub_ps(g2, r), bl), two);
      const __m128 y = to_unit(_mm_mul_ps(y_sum, quarter));
      const __m128 co = to_unit(_mm_add_ps(_mm_mul_ps(co_sum, quarter), offset));
      const __m128 cg = to_unit(_mm_add_ps(_mm_mul_ps(cg_sum, quarter), offset));
      _mm_store_ps(out[b]->y + 4 * row, y);
      _mm_store_ps(out[b]->cocg.co + 4 * row, co);
      _mm_store_ps(out[b]->cocg.cg + 4 * row, cg);
      y_lo[b] = row ? _mm_min_ps(y_lo[b], y) : y;
      y_hi[b] = row ? _mm_max_ps(y_hi[b], y) : y;
      co_lo[b] = row ? _mm_min_ps(co_lo[b], co) : co;
      co_hi[b] = row ? _mm_max_ps(co_hi[b], co) : co;
      cg_lo[b] = row ? _mm_min_ps(cg_lo[b], cg) : cg;
      cg_hi[b] = row ? _mm_max_ps(cg_hi[b], cg) : cg;
    }
  }
  for (int b = 0; b < N; ++b) {
    all_black[b] = _mm_testz_si128(any[b], colour_bytes);
    out[b]->y_min = horizontal_min(y_lo[b]);
    out[b]->y_max = horizontal_max(y_hi[b]);
    float* box = out[b]->cocg.cocg_box;
    box[0] = horizontal_min(co_lo[b]);
    box[1] = horizontal_min(cg_lo[b]);
    box[2] = horizontal_max(co_hi[b]);
    box[3] = horizontal_max(cg_hi[b]);
  }
}

}  // namespace

void ycocg_load_block_sse41(const uint8_t pixels[64], uint32_t layout, Ycocg_Block* out,
                            bool* all_black) {
  const uint8_t* const sources[1] = {pixels};
  Ycocg_Block* const blocks[1] = {out};
  load_blocks<1>(sources, layout, blocks, all_black);
}

void ycocg_load_block_pair_sse41(const uint8_t pixels[2][64], uint32_t layout, Ycocg_Block out[2],
                                 bool all_black[2]) {
  const uint8_t* const sources[2] = {pixels[0], pixels[1]};
  Ycocg_Block* const blocks[2] = {&out[0], &out[1]};
  load_blocks<2>(sources, layout, blocks, all_black);
}
