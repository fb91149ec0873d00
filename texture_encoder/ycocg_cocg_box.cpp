// Quality-1 chroma: the block's bounding box, magnified by the chroma scale,
// inset by a 16th of its size and quantised to 5:6 bits, gives the two
// endpoints directly.
#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/ycocg_block.h"

void inset_cocg_box(float box[4]) {
  // With exchanged Cg ends the Cg difference is negative and the same
  // formulas move both ends inwards.
  const float d_co = (box[2] - box[0]) * (1.0f / 16.0f) - ycocg::half_code;
  const float d_cg = (box[3] - box[1]) * (1.0f / 16.0f) - ycocg::half_code;
  box[0] += d_co;
  box[1] += d_cg;
  box[2] -= d_co;
  box[3] -= d_cg;
  for (int i = 0; i < 4; ++i) box[i] = ycocg::clamp01(box[i]);
}

void widen_cocg_box(float box[4]) {
  box[0] = ycocg::clamp01(box[0] - ycocg::half_code);
  box[1] = ycocg::clamp01(box[1] - ycocg::half_code);
  box[2] = ycocg::clamp01(box[2] + ycocg::half_code);
  box[3] = ycocg::clamp01(box[3] + ycocg::half_code);
}

namespace {

using ycocg::neutral;

// Scales the box about neutral, insets it, writes the two colour words and
// leaves in the box the endpoints as a decoder sees them, scale undone.
void quantize_cocg_box(float box[4], uint32_t scale, uint16_t* colour0, uint16_t* colour1) {
  const float s = static_cast<float>(scale);
  for (int i = 0; i < 4; ++i) box[i] = (box[i] - neutral) * s + neutral;
  inset_cocg_box(box);

  const int low_co = ycocg::nearest(box[0] * 31.0f);
  const int low_cg = ycocg::nearest(box[1] * 63.0f);
  const int high_co = ycocg::nearest(box[2] * 31.0f);
  const int high_cg = ycocg::nearest(box[3] * 63.0f);
  *colour0 = ycocg::cocg_colour_word(high_co, high_cg, scale);
  *colour1 = ycocg::cocg_colour_word(low_co, low_cg, scale);

  const auto decoded = [](int expanded) { return static_cast<float>(expanded) * (1.0f / 255.0f); };
  box[0] = decoded(dxt_expand_table[low_co]);
  box[1] = decoded(dxt_expand_table[32 + low_cg]);
  box[2] = decoded(dxt_expand_table[high_co]);
  box[3] = decoded(dxt_expand_table[32 + high_cg]);
  for (int i = 0; i < 4; ++i) box[i] = (box[i] - neutral) / s + neutral;
}

// The four palette points, colour0 (high end) first, from a decoded box.
struct Cocg_Palette {
  float co[4], cg[4];
  explicit Cocg_Palette(const float box[4]) {
    co[0] = box[2];
    cg[0] = box[3];
    co[1] = box[0];
    cg[1] = box[1];
    co[2] = co[0] + (co[1] - co[0]) * ycocg::one_third;
    cg[2] = cg[0] + (cg[1] - cg[0]) * ycocg::one_third;
    co[3] = co[0] + (co[1] - co[0]) * ycocg::two_thirds;
    cg[3] = cg[0] + (cg[1] - cg[0]) * ycocg::two_thirds;
  }
  uint32_t index_of(float pixel_co, float pixel_cg) const {
    float d[4];
    for (int k = 0; k < 4; ++k) d[k] = ycocg::cocg_distance(pixel_co, pixel_cg, co[k], cg[k]);
    return ycocg::cocg_index_rule(d[0], d[1], d[2], d[3]);
  }
};

}  // namespace

void ycocg_encode_cocg(uint8_t* out8, Cocg_Block* block) {
  select_bbox_diagonal(block);
  const uint32_t scale = choose_cocg_scale(block->cocg_box);
  uint16_t colour0, colour1;
  quantize_cocg_box(block->cocg_box, scale, &colour0, &colour1);

  const Cocg_Palette palette(block->cocg_box);
  uint32_t indices = 0;
  for (int i = 0; i < 16; ++i) indices |= palette.index_of(block->co[i], block->cg[i]) << (2 * i);
  ycocg::write_colour_half(out8, colour0, colour1, indices);
}

void ycocg_encode_cocg_flat(uint8_t* out8, Cocg_Block* block) {
  const uint32_t scale = choose_cocg_scale(block->cocg_box);
  uint16_t colour0, colour1;
  quantize_cocg_box(block->cocg_box, scale, &colour0, &colour1);

  // cocg_flat_index: pixel 0 stands for all 16.
  const Cocg_Palette palette(block->cocg_box);
  const uint32_t index = palette.index_of(block->co[0], block->cg[0]);
  ycocg::write_colour_half(out8, colour0, colour1, index * 0x55555555u);
}
