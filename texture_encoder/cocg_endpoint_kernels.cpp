// Scalar kernels of the chroma endpoint search, written once per family and
// instantiated per chroma scale and quality. The search evaluates its
// candidates four lanes at a time with SSE, which every x86-64 has, in the
// plain rounding family of cocg_neighbourhood_search.h.
#include "texture_encoder/cocg_endpoint_kernels.h"

#include <xmmintrin.h>

#include <algorithm>

#include "texture_encoder/cocg_neighbourhood_search.h"

namespace {

enum class Box_Kind { Inset, Widened };

// Eight float lanes as two SSE registers.
struct Sse_Lanes {
  __m128 low, high;
  static Sse_Lanes splat(float v) { return {_mm_set1_ps(v), _mm_set1_ps(v)}; }
  static Sse_Lanes load(const float* p) { return {_mm_loadu_ps(p), _mm_loadu_ps(p + 4)}; }
  void store(float* p) const {
    _mm_storeu_ps(p, low);
    _mm_storeu_ps(p + 4, high);
  }
  friend Sse_Lanes operator+(Sse_Lanes a, Sse_Lanes b) { return {a.low + b.low, a.high + b.high}; }
  friend Sse_Lanes operator-(Sse_Lanes a, Sse_Lanes b) { return {a.low - b.low, a.high - b.high}; }
  friend Sse_Lanes operator*(Sse_Lanes a, Sse_Lanes b) { return {a.low * b.low, a.high * b.high}; }
  friend Sse_Lanes min(Sse_Lanes a, Sse_Lanes b) {
    return {_mm_min_ps(a.low, b.low), _mm_min_ps(a.high, b.high)};
  }
  friend bool all_at_least(Sse_Lanes a, float limit) {
    const __m128 l = _mm_set1_ps(limit);
    return (_mm_movemask_ps(_mm_cmpge_ps(a.low, l)) & _mm_movemask_ps(_mm_cmpge_ps(a.high, l))) ==
           0xF;
  }
};

template <int Scale>
float scale_box_value(float v) {
  if constexpr (Scale == 1) {
    return v;
  } else {
    return (v - ycocg::neutral) * static_cast<float>(Scale) + ycocg::neutral;
  }
}

template <int Scale, Box_Kind Kind>
void inset_bbox_565(const float box_in[4], Cocg_Candidate* out) {
  float box[4];
  for (int i = 0; i < 4; ++i) box[i] = scale_box_value<Scale>(box_in[i]);
  if constexpr (Kind == Box_Kind::Inset) {
    inset_cocg_box(box);
  } else {
    widen_cocg_box(box);
  }
  out->a0 = ycocg::nearest(box[0] * 31.0f);
  out->b0 = ycocg::nearest(box[1] * 63.0f);
  out->a1 = ycocg::nearest(box[2] * 31.0f);
  out->b1 = ycocg::nearest(box[3] * 63.0f);
}

// ycocg_refine: one flat candidate judged by pixel 0; replaces the best only
// when strictly better.
template <int Scale>
void ycocg_refine(const Cocg_Block* block, float* best_error, const Cocg_Candidate& c,
                  float* best_distances, Cocg_Candidate* best) {
  const Search_Palette<false, Scale> p(c);
  float d[4];
  for (int k = 0; k < 4; ++k) d[k] = p.distance(block, 0, k);
  const float e = std::min(std::min(d[2], d[3]), std::min(d[0], d[1]));
  const float error = e * e;
  if (error < *best_error) {
    *best_error = error;
    *best = c;
    std::copy_n(d, 4, best_distances);
  }
}

// The high endpoint k steps above the candidate's: both codes at quality 2,
// the Cg code only at quality 3.
template <int Scale, int Quality>
void cocg_endpoint_trial(Cocg_Block* block, float* best_error, const Cocg_Candidate* candidate,
                         float* best_distances, Cocg_Candidate* best) {
  for (int k = 0; k < 6; ++k) {
    Cocg_Candidate next = *candidate;
    if constexpr (Quality == 2) next.a1 = std::min(next.a1 + k, 31);
    next.b1 = std::min(next.b1 + k, 63);
    ycocg_refine<Scale>(block, best_error, next, best_distances, best);
  }
}

void cocg_final_pack(const float* best_distances, uint32_t* index_word) {
  const float* d = best_distances;
  uint32_t word = 0;
  for (int i = 0; i < 16; ++i)
    word |= ycocg::cocg_index_rule(d[i], d[16 + i], d[32 + i], d[48 + i]) << (2 * i);
  *index_word = word;
}

template <int Quality>
constexpr Cocg_Endpoint_Kernels scalar_set = {
    {inset_bbox_565<1, Box_Kind::Inset>, inset_bbox_565<2, Box_Kind::Inset>,
     inset_bbox_565<4, Box_Kind::Inset>, inset_bbox_565<1, Box_Kind::Widened>,
     inset_bbox_565<2, Box_Kind::Widened>, inset_bbox_565<4, Box_Kind::Widened>},
    {cocg_endpoint_trial<1, Quality>, cocg_endpoint_trial<2, Quality>,
     cocg_endpoint_trial<4, Quality>},
    cocg_final_pack,
    {neighbourhood_searches<Sse_Lanes, false, Quality>[0],
     neighbourhood_searches<Sse_Lanes, false, Quality>[1],
     neighbourhood_searches<Sse_Lanes, false, Quality>[2]},
};

}  // namespace

Cocg_Endpoint_Kernels cocg_endpoint_kernels_scalar(int quality) {
  return quality == 2 ? scalar_set<2> : scalar_set<3>;
}

void cocg_candidate_to_box_s1(float box[4], const Cocg_Candidate* candidate) {
  cocg_candidate_box<false, 2>(*candidate, box);
}

void cocg_candidate_to_box_s2(float box[4], const Cocg_Candidate* candidate) {
  cocg_candidate_box<false, 4>(*candidate, box);
}
