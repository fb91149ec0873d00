// Quality-2 and quality-3 chroma: the endpoint search around the box's
// first endpoints. Quality 2 moves both codes of an endpoint together along
// the diagonal (at most 6 x 6 pairs); quality 3 moves each of the four codes
// on its own (at most 6^4 pairs). A block whose chroma varies is searched by
// one kernel call; a flat one walks the low endpoints here and tries the high
// ones through the trial kernel.
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

void search_varying(const Cocg_Endpoint_Kernels& kernels, const Cocg_Block* block,
                    Cocg_Search_Scratch* s) {
  kernels.endpoint_search[s->scale / 2](block, &s->initial, &s->best_error, &s->best,
                                        s->best_distances);
}

void try_flat_candidate(const Cocg_Endpoint_Kernels& kernels, Cocg_Block* block,
                        Cocg_Search_Scratch* s) {
  kernels.endpoint_trial[s->scale / 2](block, &s->best_error, &s->candidate, s->best_distances,
                                       &s->best);
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
  if (!flat) {
    search_varying(kernels, block, &s);
  } else {
    const Cocg_Candidate& init = s.initial;
    for (int d = 0; d < cocg_low_pair_count(init); ++d) {
      s.candidate = {std::max(init.a0 - d, 0), std::max(init.b0 - d, 0), init.a1, init.b1};
      try_flat_candidate(kernels, block, &s);
    }
  }
  write_best(kernels, out8, flat, &s);
}

void ycocg_encode_cocg_q3(const Cocg_Endpoint_Kernels& kernels, uint8_t* out8, Cocg_Block* block) {
  Cocg_Search_Scratch s;
  const bool flat = ycocg::cocg_box_is_flat(block->cocg_box);
  start_search(kernels, block, flat, /*widened=*/false, &s);
  if (!flat) {
    search_varying(kernels, block, &s);
  } else {
    const Cocg_Candidate& init = s.initial;
    for (int d0 = 0; d0 < cocg_code_count_down(init.a0); ++d0)
      for (int d1 = 0; d1 < cocg_code_count_down(init.b0); ++d1)
        for (int d2 = 0; d2 < cocg_code_count_up(init.a1, 31); ++d2) {
          s.candidate = {init.a0 - d0, init.b0 - d1, init.a1 + d2, init.b1};
          try_flat_candidate(kernels, block, &s);
        }
  }
  write_best(kernels, out8, flat, &s);
}
