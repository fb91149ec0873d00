// Chroma endpoint search of the quality-2 and quality-3 YCoCg-DXT5 encoders.
//
// The bounding box gives a first pair of 5:6-bit endpoints; the encoders then
// move the low endpoint down and the high endpoint up over a few codes and
// keep the pair whose four-colour palette fits the block best. The work is
// done by the sixteen kernels of Cocg_Endpoint_Kernels, called through the
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
//   endpoint_search [g]   varying chroma: the candidate's high endpoint and
//                         the next one up; the better (the first on a tie)
//                         replaces the best when it beats it; the candidate
//                         moves to the second, and the low endpoint's
//                         distances are cached;
//   endpoint_search [3+g] the two high endpoints after that, from the cache.
// Candidates are decoded as code / 31 and code / 63 with the scale undone,
// and a block's error is the sum of the fourth powers of each pixel's
// distance to its nearest palette point.
#pragma once
#include <cstdint>

#include "texture_encoder/ycocg_block.h"

// Layout of the search cache that the first-pair search kernel fills for the
// next-pair kernels: what depends only on the endpoint codes they do not move.
namespace cocg_cache {
inline constexpr int d1 = 0;       // 16 floats: each pixel's squared distance to the low endpoint
inline constexpr int low_co = 16;  // decoded low endpoint
inline constexpr int low_cg = 17;
inline constexpr int high_co = 18;  // quality 3 only, where the high Co code stays put
inline constexpr int size = 19;
}  // namespace cocg_cache

// The encoders' working record.
struct alignas(32) Cocg_Search_Scratch {
  float best_error;
  uint32_t scale;
  uint32_t index_word;
  Cocg_Candidate candidate;  // under trial; the search kernels advance a1, b1
  Cocg_Candidate best;
  Cocg_Candidate initial;
  alignas(32) float search_cache[cocg_cache::size];
  // d0 of pixels 0..15, then d1, d2, d3, of the best candidate (flat trials
  // fill only the first four, with pixel 0's distances).
  alignas(32) float best_distances[64];
};

// The scalar kernel set of quality 2, or of quality 3 for any other value.
Cocg_Endpoint_Kernels cocg_endpoint_kernels_scalar(int quality);

// Colour halves (8 bytes) at quality 2 and 3, flat blocks included; the
// kernels come from the worker's kernel head.
void ycocg_encode_cocg_q2(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block);
void ycocg_encode_cocg_q3(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block);
