// CoCg endpoint kernels with AVX and fused multiply-adds: the first endpoints
// from the chroma box, and the search steps that try two high endpoints over
// the block's 16 pixels side by side.
#include <algorithm>

#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

namespace {

enum class Box_Kind { Inset, Widened };
enum class Pair { First, Next };

// Box (Co min, Cg min, Co max, Cg max) scaled about neutral, then inset by a
// 16th of its size less half a code step, or widened by half a step, then
// quantised to (a0, b0, a1, b1).
template <int Scale, Box_Kind Kind>
void inset_bbox_565(const float box_in[4], Cocg_Candidate* out) {
  __m128 box = _mm_loadu_ps(box_in);
  const __m128 centre = _mm_set1_ps(neutral);
  if constexpr (Scale != 1)
    box = _mm_fmadd_ps(_mm_sub_ps(box, centre), _mm_set1_ps(float(Scale)), centre);
  if constexpr (Kind == Box_Kind::Widened) {
    box = _mm_add_ps(box, _mm_setr_ps(-half_code, -half_code, half_code, half_code));
  } else {
    const __m128 range = _mm_sub_ps(_mm_shuffle_ps(box, box, _MM_SHUFFLE(3, 2, 3, 2)), box);
    const __m128 inset = _mm_fmsub_ps(range, _mm_set1_ps(1.0f / 16.0f), _mm_set1_ps(half_code));
    box = _mm_add_ps(box, _mm_movelh_ps(inset, _mm_sub_ps(_mm_setzero_ps(), inset)));
  }
  const __m128 top = _mm_setr_ps(31.0f, 63.0f, 31.0f, 63.0f);
  const __m128i codes = _mm_cvttps_epi32(_mm_fmadd_ps(box, top, _mm_set1_ps(0.5f)));
  const __m128i clamped =
      _mm_min_epi32(_mm_max_epi32(codes, _mm_setzero_si128()), _mm_setr_epi32(31, 63, 31, 63));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), clamped);
}

// The high endpoint k steps above the candidate's: both codes at quality 2,
// the Cg code alone at quality 3.
template <int Quality>
Cocg_Candidate step_high(const Cocg_Candidate& c, int k) {
  constexpr int co_step = Quality == 2 ? 1 : 0;
  return {c.a0, c.b0, std::min(c.a1 + co_step * k, 31), std::min(c.b1 + k, 63)};
}

// Palette points 0, 2 and 3 of a high endpoint against the low endpoint
// (point 1), in CoCg units.
struct High_Points {
  float co[3], cg[3];
};

template <int Scale>
inline High_Points high_points(float low_co, float low_cg, const Cocg_Candidate& c) {
  const float high_co = decode_search_code<Scale>(c.a1, 1.0f / 31.0f);
  const float high_cg = decode_search_code<Scale>(c.b1, 1.0f / 63.0f);
  const float span_co = low_co - high_co, span_cg = low_cg - high_cg;
  return {{high_co, std::fma(span_co, ycocg::one_third, high_co),
           std::fma(span_co, ycocg::two_thirds, high_co)},
          {high_cg, std::fma(span_cg, ycocg::one_third, high_cg),
           std::fma(span_cg, ycocg::two_thirds, high_cg)}};
}

// (co - p)^2 of eight pixels for the three points, shared by two high
// endpoints with the same Co.
struct Co_Terms {
  __m256 point[3];
  Co_Terms(__m256 co, const High_Points& p) {
    for (int k = 0; k < 3; ++k) {
      const __m256 dc = _mm256_sub_ps(co, splat(p.co[k]));
      point[k] = _mm256_mul_ps(dc, dc);
    }
  }
};

// e^2 of eight pixels, e the smallest of their distances d0..d3, each
// distance dg * dg + dc * dc.
inline __m256 fourth_powers(__m256 cg, __m256 d1, const High_Points& p, const Co_Terms& c) {
  __m256 d[3];
  for (int k = 0; k < 3; ++k) {
    const __m256 dg = _mm256_sub_ps(cg, splat(p.cg[k]));
    d[k] = _mm256_add_ps(_mm256_mul_ps(dg, dg), c.point[k]);
  }
  const __m256 m = _mm256_min_ps(_mm256_min_ps(d[0], d1), _mm256_min_ps(d[1], d[2]));
  return _mm256_mul_ps(m, m);
}

// Block error from the fourth powers of pixels 0..7 and 8..15:
// p_j = e_j + e_(j+8), then ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7)).
// Every step rounds monotonically, so with zeros for pixels 8..15 it gives
// a lower bound of the full error.
inline float block_error(__m256 low, __m256 high) {
  const __m256 p = _mm256_add_ps(low, high);
  const __m128 q = _mm_add_ps(_mm256_castps256_ps128(p), _mm256_extractf128_ps(p, 1));
  const __m128 t = _mm_add_ps(q, _mm_movehl_ps(q, q));  // q0 + q2, q1 + q3
  return _mm_cvtss_f32(_mm_add_ss(t, _mm_movehdup_ps(t)));
}

// Errors of the high endpoints x and y; false, the errors unfinished, when
// pixels 0..7 alone already bring both to limit or above.
// Inlined into each search member so that the vectors stay in registers.
template <bool Shared_Co>
[[gnu::always_inline]] inline bool pair_errors(const __m256 co[2], const __m256 cg[2],
                                               const __m256 d1[2], const High_Points& x,
                                               const High_Points& y, float limit, float* ex,
                                               float* ey) {
  __m256 e_x[2], e_y[2];
  for (int h = 0; h < 2; ++h) {
    const Co_Terms cx(co[h], x);
    e_x[h] = fourth_powers(cg[h], d1[h], x, cx);
    if constexpr (Shared_Co) {
      e_y[h] = fourth_powers(cg[h], d1[h], y, cx);
    } else {
      e_y[h] = fourth_powers(cg[h], d1[h], y, Co_Terms(co[h], y));
    }
    if (h == 0) {
      const __m256 zero = _mm256_setzero_ps();
      if (block_error(e_x[0], zero) >= limit && block_error(e_y[0], zero) >= limit) return false;
    }
  }
  *ex = block_error(e_x[0], e_x[1]);
  *ey = block_error(e_y[0], e_y[1]);
  return true;
}

template <int Scale, int Quality, Pair Which>
void endpoint_search(Cocg_Block* block, float* best_error, Cocg_Candidate* candidate,
                     float* best_distances, Cocg_Candidate* best, float* cache) {
  const __m256 co[2] = {_mm256_load_ps(block->co), _mm256_load_ps(block->co + 8)};
  const __m256 cg[2] = {_mm256_load_ps(block->cg), _mm256_load_ps(block->cg + 8)};
  __m256 d1[2];
  if constexpr (Which == Pair::First) {
    cache[cocg_cache::low_co] = decode_search_code<Scale>(candidate->a0, 1.0f / 31.0f);
    cache[cocg_cache::low_cg] = decode_search_code<Scale>(candidate->b0, 1.0f / 63.0f);
    for (int h = 0; h < 2; ++h) {
      d1[h] = cocg_distances(co[h], cg[h], splat(cache[cocg_cache::low_co]),
                             splat(cache[cocg_cache::low_cg]));
      _mm256_storeu_ps(cache + cocg_cache::d1 + 8 * h, d1[h]);
    }
  } else {
    for (int h = 0; h < 2; ++h) d1[h] = _mm256_loadu_ps(cache + cocg_cache::d1 + 8 * h);
  }
  const float low_co = cache[cocg_cache::low_co], low_cg = cache[cocg_cache::low_cg];
  constexpr int first_step = Which == Pair::First ? 0 : 1;
  const Cocg_Candidate a = step_high<Quality>(*candidate, first_step);
  const Cocg_Candidate b = step_high<Quality>(*candidate, first_step + 1);
  candidate->a1 = b.a1;
  candidate->b1 = b.b1;
  const High_Points pa = high_points<Scale>(low_co, low_cg, a);
  const High_Points pb = high_points<Scale>(low_co, low_cg, b);
  float ea, eb;
  // At quality 3 the two share their high Co.
  if (!pair_errors<Quality == 3>(co, cg, d1, pa, pb, *best_error, &ea, &eb)) return;

  const float error = eb < ea ? eb : ea;
  if (!(error < *best_error)) return;
  *best_error = error;
  const bool a_wins = ea == error;  // A wins a tie
  *best = a_wins ? a : b;
  const High_Points& p = a_wins ? pa : pb;
  for (int h = 0; h < 2; ++h) {
    _mm256_storeu_ps(best_distances + 8 * h,
                     cocg_distances(co[h], cg[h], splat(p.co[0]), splat(p.cg[0])));
    _mm256_storeu_ps(best_distances + 16 + 8 * h, d1[h]);
    _mm256_storeu_ps(best_distances + 32 + 8 * h,
                     cocg_distances(co[h], cg[h], splat(p.co[1]), splat(p.cg[1])));
    _mm256_storeu_ps(best_distances + 48 + 8 * h,
                     cocg_distances(co[h], cg[h], splat(p.co[2]), splat(p.cg[2])));
  }
}

}  // namespace

const Cocg_Inset_Bbox_Fn inset_bbox_565_s0_avx_fma = inset_bbox_565<1, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s1_avx_fma = inset_bbox_565<2, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s2_avx_fma = inset_bbox_565<4, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s3_avx_fma = inset_bbox_565<1, Box_Kind::Widened>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s4_avx_fma = inset_bbox_565<2, Box_Kind::Widened>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s5_avx_fma = inset_bbox_565<4, Box_Kind::Widened>;

const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s0_q2_avx_fma =
    endpoint_search<1, 2, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s1_q2_avx_fma =
    endpoint_search<2, 2, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s2_q2_avx_fma =
    endpoint_search<4, 2, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s3_q2_avx_fma =
    endpoint_search<1, 2, Pair::Next>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s4_q2_avx_fma =
    endpoint_search<2, 2, Pair::Next>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s5_q2_avx_fma =
    endpoint_search<4, 2, Pair::Next>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s0_q3_avx_fma =
    endpoint_search<1, 3, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s1_q3_avx_fma =
    endpoint_search<2, 3, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s2_q3_avx_fma =
    endpoint_search<4, 3, Pair::First>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s3_q3_avx_fma =
    endpoint_search<1, 3, Pair::Next>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s4_q3_avx_fma =
    endpoint_search<2, 3, Pair::Next>;
const Cocg_Endpoint_Search_Fn cocg_endpoint_search_s5_q3_avx_fma =
    endpoint_search<4, 3, Pair::Next>;
