// Quality-2 and quality-3 chroma: the endpoint search around the box's
// first endpoints. Quality 2 moves both codes of an endpoint together along
// the diagonal (at most 6 x 6 pairs); quality 3 moves each of the four codes
// on its own (at most 6^4 pairs). Every loop stops as soon as clamping at
// the end of a code range stops changing the candidate.
#include <algorithm>
#include <cfloat>

#include "texture_encoder/cocg_endpoint_kernels.h"

namespace {

// Starts the search record: diagonal (varying chroma only), scale and the
// first endpoints from the inset or widened box.
void start_search(const Cocg_Endpoint_Kernels& kernels, Cocg_Block* block, bool flat, bool widened,
                  Cocg_Search_Scratch* s) {
  s->best_error = FLT_MAX;
  if (!flat) select_bbox_diagonal(block);
  s->scale = choose_cocg_scale(block->cocg_box);
  const uint32_t g = s->scale / 2;
  kernels.inset_bbox[widened ? 3 + g : g](block->cocg_box, &s->initial);
}

// One step of the innermost loop: every high endpoint this quality tries
// above the candidate's.
void try_high_endpoints(const Cocg_Endpoint_Kernels& kernels, Cocg_Block* block, bool flat,
                        Cocg_Search_Scratch* s, int quality) {
  const uint32_t g = s->scale / 2;
  if (flat) {
    kernels.endpoint_trial[g](block, &s->best_error, &s->candidate, s->best_distances, &s->best);
    return;
  }
  const auto can_move = [&] {
    return (quality == 2 && s->candidate.a1 < 31) || s->candidate.b1 < 63;
  };
  kernels.endpoint_search[g](block, &s->best_error, &s->candidate, s->best_distances, &s->best,
                             s->search_cache);
  for (int pair = 0; pair < 2 && can_move(); ++pair)
    kernels.endpoint_search[3 + g](block, &s->best_error, &s->candidate, s->best_distances,
                                   &s->best, s->search_cache);
}

void write_best(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, bool flat,
                Cocg_Search_Scratch* s) {
  if (flat) {
    s->index_word = ycocg::cocg_index_from_distances(s->best_distances);
  } else {
    kernels.final_pack(s->best_distances, &s->index_word);
  }
  const Cocg_Candidate& b = s->best;
  ycocg::write_colour_half(out8, ycocg::cocg_colour_word(b.a1, b.b1, s->scale),
                           ycocg::cocg_colour_word(b.a0, b.b0, s->scale), s->index_word);
}

}  // namespace

void ycocg_encode_cocg_q2(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block) {
  Cocg_Search_Scratch s;
  const bool flat = ycocg::cocg_box_is_flat(block->cocg_box);
  start_search(kernels, block, flat, /*widened=*/flat, &s);
  for (int d = 0; d < 6; ++d) {
    const int32_t a0 = std::max(s.initial.a0 - d, 0), b0 = std::max(s.initial.b0 - d, 0);
    if (d > 0 && a0 == s.candidate.a0 && b0 == s.candidate.b0) break;
    s.candidate = {a0, b0, s.initial.a1, s.initial.b1};
    try_high_endpoints(kernels, block, flat, &s, 2);
  }
  write_best(kernels, out8, flat, &s);
}

void ycocg_encode_cocg_q3(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block) {
  Cocg_Search_Scratch s;
  const bool flat = ycocg::cocg_box_is_flat(block->cocg_box);
  start_search(kernels, block, flat, /*widened=*/false, &s);
  Cocg_Candidate& c = s.candidate;
  for (int d0 = 0; d0 < 6; ++d0) {
    const int32_t a0 = std::max(s.initial.a0 - d0, 0);
    if (d0 > 0 && a0 == c.a0) break;
    c.a0 = a0;
    for (int d1 = 0; d1 < 6; ++d1) {
      const int32_t b0 = std::max(s.initial.b0 - d1, 0);
      if (d1 > 0 && b0 == c.b0) break;
      c.b0 = b0;
      for (int d2 = 0; d2 < 6; ++d2) {
        const int32_t a1 = std::min(s.initial.a1 + d2, 31);
        if (d2 > 0 && a1 == c.a1) break;
        c.b1 = s.initial.b1;
        c.a1 = a1;
        try_high_endpoints(kernels, block, flat, &s, 3);
      }
    }
  }
  write_best(kernels, out8, flat, &s);
}
