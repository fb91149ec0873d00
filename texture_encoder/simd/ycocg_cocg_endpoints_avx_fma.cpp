// CoCg endpoint kernels with AVX and fused multiply-adds: the first endpoints
// from the chroma box, and the search of the fused rounding family with eight
// candidates side by side.
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/cocg_neighbourhood_search.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

namespace {

enum class Box_Kind { Inset, Widened };

// a * b + c rounded once, for the fused search.
Avx_Lanes fused_madd(Avx_Lanes a, Avx_Lanes b, Avx_Lanes c) {
  return {_mm256_fmadd_ps(a.v, b.v, c.v)};
}

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

}  // namespace

const Cocg_Inset_Bbox_Fn inset_bbox_565_s0_avx_fma = inset_bbox_565<1, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s1_avx_fma = inset_bbox_565<2, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s2_avx_fma = inset_bbox_565<4, Box_Kind::Inset>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s3_avx_fma = inset_bbox_565<1, Box_Kind::Widened>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s4_avx_fma = inset_bbox_565<2, Box_Kind::Widened>;
const Cocg_Inset_Bbox_Fn inset_bbox_565_s5_avx_fma = inset_bbox_565<4, Box_Kind::Widened>;

const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q2_avx_fma =
    neighbourhood_searches<Avx_Lanes, true, 2>;
const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q3_avx_fma =
    neighbourhood_searches<Avx_Lanes, true, 3>;
