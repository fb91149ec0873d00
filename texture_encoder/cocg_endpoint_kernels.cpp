// Scalar kernels of the chroma endpoint search, written once per family and
// instantiated per chroma scale, quality and search step.
#include "texture_encoder/cocg_endpoint_kernels.h"

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

// Block error of one high endpoint against the cached low endpoint; the
// pixel distances go to d (laid out as the best distances).
float block_error(const Cocg_Block* block, const float* cache, float high_co, float high_cg,
                  float d[64]) {
  const High_Points p(high_co, high_cg, cache[cocg_cache::low_co], cache[cocg_cache::low_cg]);
  float error = 0.0f;
  for (int i = 0; i < 16; ++i) {
    const float co = block->co[i], cg = block->cg[i];
    d[i] = ycocg::cocg_distance(co, cg, p.co[0], p.cg[0]);
    d[16 + i] = cache[cocg_cache::d1 + i];
    d[32 + i] = ycocg::cocg_distance(co, cg, p.co[1], p.cg[1]);
    d[48 + i] = ycocg::cocg_distance(co, cg, p.co[2], p.cg[2]);
    const float e = smallest_distance(d[i], d[16 + i], d[32 + i], d[48 + i]);
    error += e * e;
  }
  return error;
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
    for (int i = 0; i < 16; ++i)
      cache[cocg_cache::d1 + i] = ycocg::cocg_distance(block->co[i], block->cg[i], low_co, low_cg);
  }
  constexpr int first_step = Which == Pair::First ? 0 : 1;
  const Cocg_Candidate x = step_high<Quality>(*candidate, first_step);
  const Cocg_Candidate y = step_high<Quality>(*candidate, first_step + 1);
  const auto high_co = [&](const Cocg_Candidate& c) {
    if constexpr (Quality == 3) {
      return cache[cocg_cache::high_co];
    } else {
      return decode_code<Scale>(c.a1, 31.0f);
    }
  };
  alignas(32) float dx[64], dy[64];
  const float ex = block_error(block, cache, high_co(x), decode_code<Scale>(x.b1, 63.0f), dx);
  const float ey = block_error(block, cache, high_co(y), decode_code<Scale>(y.b1, 63.0f), dy);
  const float m = ey < ex ? ey : ex;
  if (*best_error > m) {
    *best_error = m;
    const bool x_wins = ex == m;
    *best = x_wins ? x : y;
    std::copy_n(x_wins ? dx : dy, 64, best_distances);
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
