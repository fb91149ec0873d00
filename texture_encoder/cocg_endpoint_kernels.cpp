// Scalar kernels of the chroma endpoint search, written once per family and
// instantiated per chroma scale, quality and search step.
#include "texture_encoder/cocg_endpoint_kernels.h"

#include <xmmintrin.h>

#include <algorithm>

namespace {

using ycocg::neutral;

enum class Box_Kind { Inset, Widened };
enum class Pair { First, Next };

// Candidate decode inside the search: plain code / max, then the chroma
// scale undone (unlike the bit-replicating decode of quality 1).
template <int Scale>
float decode_code(int32_t code, float max_code) {
  const float v = static_cast<float>(code) * (1.0f / max_code);
  if constexpr (Scale == 1) {
    return v;
  } else {
    return (v - neutral) * (1.0f / Scale) + neutral;
  }
}

template <int Scale>
float scale_box_value(float v) {
  if constexpr (Scale == 1) {
    return v;
  } else {
    return (v - neutral) * static_cast<float>(Scale) + neutral;
  }
}

// Palette points 0, 2 and 3 (point 1 is the low endpoint itself).
struct High_Points {
  float co[3], cg[3];
  High_Points(float high_co, float high_cg, float low_co, float low_cg) {
    co[0] = high_co;
    cg[0] = high_cg;
    co[1] = high_co + (low_co - high_co) * ycocg::one_third;
    cg[1] = high_cg + (low_cg - high_cg) * ycocg::one_third;
    co[2] = high_co + (low_co - high_co) * ycocg::two_thirds;
    cg[2] = high_cg + (low_cg - high_cg) * ycocg::two_thirds;
  }
};

float smallest_distance(float d0, float d1, float d2, float d3) {
  return std::min(std::min(d2, d3), std::min(d0, d1));
}

template <int Scale, Box_Kind Kind>
void inset_bbox_565(const float box_in[4], Cocg_Candidate* out) {
  float box[4];
  for (int i = 0; i < 4; ++i) box[i] = scale_box_value<Scale>(box_in[i]);
  float d_co = -ycocg::half_code, d_cg = -ycocg::half_code;
  if constexpr (Kind == Box_Kind::Inset) {
    d_co = (box[2] - box[0]) * (1.0f / 16.0f) - ycocg::half_code;
    d_cg = (box[3] - box[1]) * (1.0f / 16.0f) - ycocg::half_code;
  }
  out->a0 = ycocg::nearest(ycocg::clamp01(box[0] + d_co) * 31.0f);
  out->b0 = ycocg::nearest(ycocg::clamp01(box[1] + d_cg) * 63.0f);
  out->a1 = ycocg::nearest(ycocg::clamp01(box[2] - d_co) * 31.0f);
  out->b1 = ycocg::nearest(ycocg::clamp01(box[3] - d_cg) * 63.0f);
}

// The high endpoint k steps above the candidate's: both codes at quality 2,
// the Cg code only at quality 3.
template <int Quality>
Cocg_Candidate step_high(const Cocg_Candidate& c, int k) {
  Cocg_Candidate next = c;
  if constexpr (Quality == 2) next.a1 = std::min(c.a1 + k, 31);
  next.b1 = std::min(c.b1 + k, 63);
  return next;
}

// ycocg_refine: one flat candidate judged by pixel 0; replaces the best only
// when strictly better.
template <int Scale>
void ycocg_refine(const Cocg_Block* block, float* best_error, const Cocg_Candidate& c,
                  float* best_distances, Cocg_Candidate* best) {
  const float low_co = decode_code<Scale>(c.a0, 31.0f), low_cg = decode_code<Scale>(c.b0, 63.0f);
  const High_Points p(decode_code<Scale>(c.a1, 31.0f), decode_code<Scale>(c.b1, 63.0f), low_co,
                      low_cg);
  const float co = block->co[0], cg = block->cg[0];
  const float d0 = ycocg::cocg_distance(co, cg, p.co[0], p.cg[0]);
  const float d1 = ycocg::cocg_distance(co, cg, low_co, low_cg);
  const float d2 = ycocg::cocg_distance(co, cg, p.co[1], p.cg[1]);
  const float d3 = ycocg::cocg_distance(co, cg, p.co[2], p.cg[2]);
  const float e = smallest_distance(d0, d1, d2, d3);
  const float error = e * e;
  if (error < *best_error) {
    *best_error = error;
    *best = c;
    best_distances[0] = d0;
    best_distances[1] = d1;
    best_distances[2] = d2;
    best_distances[3] = d3;
  }
}

template <int Scale, int Quality>
void cocg_endpoint_trial(Cocg_Block* block, float* best_error, const Cocg_Candidate* candidate,
                         float* best_distances, Cocg_Candidate* best) {
  for (int k = 0; k < 6; ++k)
    ycocg_refine<Scale>(block, best_error, step_high<Quality>(*candidate, k), best_distances, best);
}

// Four pixels at a time: each lane computes a pixel's distances exactly as
// ycocg::cocg_distance, dg * dg + dc * dc.
__m128 co_squared(__m128 co, float p_co) {
  const __m128 dc = co - _mm_set1_ps(p_co);
  return dc * dc;
}

__m128 squared_distances(__m128 cg, float p_cg, __m128 dc_squared) {
  const __m128 dg = cg - _mm_set1_ps(p_cg);
  return dg * dg + dc_squared;
}

// dc * dc of four pixels to the palette points 0, 2 and 3 of p.
struct Co_Terms {
  __m128 point[3];
  Co_Terms(__m128 co, const High_Points& p) {
    for (int k = 0; k < 3; ++k) point[k] = co_squared(co, p.co[k]);
  }
};

// e * e of four pixels, e being the smallest of their distances d0..d3 as
// smallest_distance takes it: std::min(a, b) is b < a ? b : a, which is
// minps(b, a).
__m128 fourth_powers(__m128 d0, __m128 d1, __m128 d2, __m128 d3) {
  const __m128 e = _mm_min_ps(_mm_min_ps(d1, d0), _mm_min_ps(d3, d2));
  return e * e;
}

__m128 pixel_fourth_powers(__m128 cg, __m128 d1, const High_Points& p, const Co_Terms& c) {
  return fourth_powers(squared_distances(cg, p.cg[0], c.point[0]), d1,
                       squared_distances(cg, p.cg[1], c.point[1]),
                       squared_distances(cg, p.cg[2], c.point[2]));
}

// Adds the four lanes to sum one at a time, in pixel order.
float add_in_order(float sum, __m128 terms) {
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, terms);
  for (float t : lanes) sum += t;
  return sum;
}

// Block errors of the high endpoints px and py against the cached low
// endpoint, summed over the pixels in order from 0. Shared_Co: both points
// have the same Co, whose terms are then computed once. Returns false, the
// errors unfinished, as soon as both partial sums reach limit: the terms are
// never negative, so neither error could end below it.
template <bool Shared_Co>
[[gnu::always_inline]] inline bool pair_block_errors(const Cocg_Block* block, const float* cache,
                                                     const High_Points& px, const High_Points& py,
                                                     float limit, float* ex, float* ey) {
  float sx = 0.0f, sy = 0.0f;
  for (int i = 0; i < 16; i += 4) {
    const __m128 co = _mm_load_ps(block->co + i), cg = _mm_load_ps(block->cg + i);
    const __m128 d1 = _mm_loadu_ps(cache + cocg_cache::d1 + i);
    const Co_Terms cx(co, px);
    sx = add_in_order(sx, pixel_fourth_powers(cg, d1, px, cx));
    if constexpr (Shared_Co) {
      sy = add_in_order(sy, pixel_fourth_powers(cg, d1, py, cx));
    } else {
      sy = add_in_order(sy, pixel_fourth_powers(cg, d1, py, Co_Terms(co, py)));
    }
    if (sx >= limit && sy >= limit) return false;
  }
  *ex = sx;
  *ey = sy;
  return true;
}

// The 64 distances of a candidate, laid out as the best distances.
void write_distances(const Cocg_Block* block, const float* cache, const High_Points& p, float* d) {
  for (int i = 0; i < 16; i += 4) {
    const __m128 co = _mm_load_ps(block->co + i), cg = _mm_load_ps(block->cg + i);
    const Co_Terms c(co, p);
    _mm_storeu_ps(d + i, squared_distances(cg, p.cg[0], c.point[0]));
    _mm_storeu_ps(d + 16 + i, _mm_loadu_ps(cache + cocg_cache::d1 + i));
    _mm_storeu_ps(d + 32 + i, squared_distances(cg, p.cg[1], c.point[1]));
    _mm_storeu_ps(d + 48 + i, squared_distances(cg, p.cg[2], c.point[2]));
  }
}

// Palette points 0, 2 and 3 of a candidate against the cached low endpoint;
// quality 3 takes the high Co of the cache, which the search does not move.
template <int Scale, int Quality>
High_Points cached_high_points(const Cocg_Candidate& c, const float* cache) {
  const float high_co = Quality == 3 ? cache[cocg_cache::high_co] : decode_code<Scale>(c.a1, 31.0f);
  return High_Points(high_co, decode_code<Scale>(c.b1, 63.0f), cache[cocg_cache::low_co],
                     cache[cocg_cache::low_cg]);
}

// A pair's winner, k steps above the candidate, becomes the best. Apart from
// the loop (winners are rare), so that the search keeps only what it needs.
template <int Scale, int Quality>
[[gnu::noinline]] void take_best(const Cocg_Block* block, const float* cache,
                                 const Cocg_Candidate& candidate, int k, float error,
                                 float* best_error, Cocg_Candidate* best, float* best_distances) {
  *best_error = error;
  *best = step_high<Quality>(candidate, k);
  write_distances(block, cache, cached_high_points<Scale, Quality>(*best, cache), best_distances);
}

template <int Scale, int Quality, Pair Which>
void cocg_endpoint_search(Cocg_Block* block, float* best_error, Cocg_Candidate* candidate,
                          float* best_distances, Cocg_Candidate* best, float* cache) {
  if constexpr (Which == Pair::First) {
    const float low_co = decode_code<Scale>(candidate->a0, 31.0f);
    const float low_cg = decode_code<Scale>(candidate->b0, 63.0f);
    cache[cocg_cache::low_co] = low_co;
    cache[cocg_cache::low_cg] = low_cg;
    if constexpr (Quality == 3)
      cache[cocg_cache::high_co] = decode_code<Scale>(candidate->a1, 31.0f);
    for (int i = 0; i < 16; i += 4) {
      const __m128 co = _mm_load_ps(block->co + i), cg = _mm_load_ps(block->cg + i);
      _mm_storeu_ps(cache + cocg_cache::d1 + i,
                    squared_distances(cg, low_cg, co_squared(co, low_co)));
    }
  }
  constexpr int first_step = Which == Pair::First ? 0 : 1;
  const Cocg_Candidate x = step_high<Quality>(*candidate, first_step);
  const Cocg_Candidate y = step_high<Quality>(*candidate, first_step + 1);
  float ex, ey;
  // X and Y share their high Co at quality 3.
  if (pair_block_errors<Quality == 3>(block, cache, cached_high_points<Scale, Quality>(x, cache),
                                      cached_high_points<Scale, Quality>(y, cache), *best_error,
                                      &ex, &ey)) {
    const float m = ey < ex ? ey : ex;
    if (*best_error > m) {
      const int k = ex == m ? first_step : first_step + 1;  // X wins a tie
      take_best<Scale, Quality>(block, cache, *candidate, k, m, best_error, best, best_distances);
    }
  }
  candidate->a1 = y.a1;
  candidate->b1 = y.b1;
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
    {cocg_endpoint_search<1, Quality, Pair::First>, cocg_endpoint_search<2, Quality, Pair::First>,
     cocg_endpoint_search<4, Quality, Pair::First>, cocg_endpoint_search<1, Quality, Pair::Next>,
     cocg_endpoint_search<2, Quality, Pair::Next>, cocg_endpoint_search<4, Quality, Pair::Next>},
};

}  // namespace

Cocg_Endpoint_Kernels cocg_endpoint_kernels_scalar(int quality) {
  return quality == 2 ? scalar_set<2> : scalar_set<3>;
}
