// Chroma endpoint search of the quality-2 and quality-3 YCoCg-DXT5 encoders.
//
// The bounding box gives a first pair of 5:6-bit endpoints; the encoders then
// move the low endpoint down and the high endpoint up over a few codes and
// keep the pair whose four-colour palette fits the block best. The work is
// done by the kernels of Cocg_Endpoint_Kernels, called through the
// kernel table so that vector twins can take their place. In each group of
// three, member g serves chroma scale 1, 2, 4 (g = scale / 2):
//   inset_bbox [g]        first endpoints from the box scaled about neutral
//                         and inset by a 16th of its size;
//   inset_bbox [3 + g]    the same from the box widened by half a code step;
//   endpoint_trial [g]    flat chroma: six high endpoints upward from the
//                         candidate's (both codes at quality 2, the Cg code at
//                         quality 3), judged by pixel 0; strict improvements
//                         replace the best;
//   final_pack            2-bit indices of the 16 pixels from the best
//                         distances;
//   endpoint_search [g]   varying chroma: every candidate of the quality's
//                         neighbourhood of the first endpoints (below); the
//                         first of the smallest error is the best.
// Candidates are decoded as code / 31 and code / 63 with the scale undone,
// and a block's error is the sum of the fourth powers of each pixel's
// distance to its nearest palette point.
//
// The neighbourhood, in search order: quality 2 takes the low endpoints
// (a0 - d, b0 - d) and, for each, the high endpoints (a1 + k, b1 + k);
// quality 3 takes a0 - d0, then b0 - d1, then a1 + d2, then b1 + k; every
// step 0..5 and every code clamped to its range, a step that clamping makes a
// repeat of the one before ending its loop.
#pragma once
#include <algorithm>
#include <cstdint>

#include "texture_encoder/ycocg_block.h"

// The encoders' working record.
struct alignas(32) Cocg_Search_Scratch {
  float best_error;
  uint32_t scale;
  uint32_t index_word;
  Cocg_Candidate candidate;  // under trial
  Cocg_Candidate best;
  Cocg_Candidate initial;
  // d0 of pixels 0..15, then d1, d2, d3, of the best candidate (flat trials
  // fill only the first four, with pixel 0's distances).
  alignas(32) float best_distances[64];
};

// Steps of the neighbourhood before clamping repeats a code: a code moved
// down towards 0, a code moved up towards top, and the low endpoint of
// quality 2, both of whose codes move down together.
inline int cocg_code_count_down(int32_t code) { return std::min(6, code + 1); }
inline int cocg_code_count_up(int32_t code, int32_t top) { return std::min(6, top - code + 1); }
inline int cocg_low_pair_count(const Cocg_Candidate& c) {
  return std::max(cocg_code_count_down(c.a0), cocg_code_count_down(c.b0));
}

// The scalar kernel set of quality 2, or of quality 3 for any other value.
Cocg_Endpoint_Kernels cocg_endpoint_kernels_scalar(int quality);

// A candidate decoded as the search measures it, in box order (A0, B0, A1,
// B1): code / 31 and code / 63 with chroma scale 2 (s1) or 4 (s2) undone.
void cocg_candidate_to_box_s1(float box[4], const Cocg_Candidate* candidate);
void cocg_candidate_to_box_s2(float box[4], const Cocg_Candidate* candidate);

// Colour halves (8 bytes) at quality 2 and 3, flat blocks included; the
// kernels come from the worker's kernel head.
void ycocg_encode_cocg_q2(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block);
void ycocg_encode_cocg_q3(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block);
