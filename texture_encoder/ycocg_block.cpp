// Rules shared by the chroma encoders of every quality.
#include "texture_encoder/ycocg_block.h"

#include <algorithm>
#include <cstring>

namespace ycocg {

void write_colour_half(uint8_t* out8, uint16_t colour0, uint16_t colour1, uint32_t indices) {
  const uint64_t word = uint64_t{colour0} | uint64_t{colour1} << 16 | uint64_t{indices} << 32;
  std::memcpy(out8, &word, 8);  // little-endian target
}

void write_single_y(uint8_t* out8, int code) {
  const uint64_t word = static_cast<uint8_t>(code);
  std::memcpy(out8, &word, 8);
}

}  // namespace ycocg

uint32_t choose_cocg_scale(const float box[4]) {
  float dev = 0.0f;
  for (int i = 0; i < 4; ++i) dev = std::max(dev, std::fabs(box[i] - ycocg::neutral));
  if (dev < 32.0f / 255.0f) return 4;
  if (dev < 64.0f / 255.0f) return 2;
  return 1;
}

void select_bbox_diagonal(Cocg_Block* block) {
  float* box = block->cocg_box;
  const float centre_co = (box[2] + box[0]) * 0.5f;
  const float centre_cg = (box[3] + box[1]) * 0.5f;
  float covariance = 0.0f;
  for (int i = 0; i < 16; ++i)
    covariance += (block->co[i] - centre_co) * (block->cg[i] - centre_cg);
  if (covariance < 0.0f) std::swap(box[1], box[3]);
}
