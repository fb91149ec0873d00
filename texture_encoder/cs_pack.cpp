// Packing of the cluster fit's result into a DXT1 colour block. Blocks are
// always written in four-colour order (c0 > c1), or as one colour with a zero
// index word, so that no pixel ever decodes to the transparent black of the
// three-colour mode.
#include <cstring>

#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/numeric_ops.h"

namespace {

void pack_words(uint16_t c0, uint16_t c1, const uint8_t* indices16, uint64_t* block) {
  uint32_t word = 0;
  for (int i = 0; i < 16; ++i) word |= uint32_t(indices16[i] & 3) << (2 * i);
  uint64_t packed;
  if (c0 == c1)
    packed = c0;
  else if (c0 > c1)
    packed = uint64_t(c0) | uint64_t(c1) << 16 | uint64_t(word) << 32;
  else
    packed = uint64_t(c1) | uint64_t(c0) << 16 | uint64_t(word ^ 0x55555555u) << 32;
  std::memcpy(block, &packed, 8);  // little-endian host
}

uint16_t quantise_channel(float v, int levels) {
  return uint16_t(nearest_clamped(v * float(levels), levels));
}

}  // namespace

uint16_t rgb_to_565(float r, float g, float b) {
  return uint16_t(quantise_channel(r, 31) << 11 | quantise_channel(g, 63) << 5 |
                  quantise_channel(b, 31));
}

void dxt1_pack_block_from_float(const float* endpoints8, const uint8_t* indices16, uint64_t* block) {
  const float* a = endpoints8;
  const float* b = endpoints8 + 4;
  pack_words(rgb_to_565(a[0], a[1], a[2]), rgb_to_565(b[0], b[1], b[2]), indices16, block);
}

void dxt1_pack_block_from_565(const uint8_t* endpoints8, const uint8_t* indices16, uint64_t* block) {
  const uint8_t* a = endpoints8;
  const uint8_t* b = endpoints8 + 4;
  pack_words(uint16_t(a[0] << 11 | a[1] << 5 | a[2]), uint16_t(b[0] << 11 | b[1] << 5 | b[2]),
             indices16, block);
}

void expand_colour_indices(const Cs_Gathered_Block* block, const uint8_t* colour_indices,
                           uint8_t* pixel_indices) {
  for (int i = 0; i < 16; ++i)
    pixel_indices[i] = block->map[i] >= 255 ? 3 : colour_indices[block->map[i]];
}

void dxt1_pack_from_partition(const Dxt_Kernel_Head& head, const Cs_Gathered_Block* block,
                              uint8_t* out8, const Cluster_Fit_Best* best,
                              const Partition_Code* code, uint64_t n, const uint8_t* order) {
  uint8_t colour_indices[16] = {};
  for (uint64_t position = 0; position < n; ++position) {
    const uint8_t index = position < code->i1 ? 0 : position < code->i2 ? 2 : position < code->i3 ? 3 : 1;
    colour_indices[order[position] & 15] = index;
  }
  alignas(32) uint8_t pixel_indices[16];
  expand_colour_indices(block, colour_indices, pixel_indices);
  alignas(32) float endpoints[8];
  std::memcpy(endpoints, best->a, sizeof best->a);
  std::memcpy(endpoints + 4, best->b, sizeof best->b);
  uint64_t packed;
  head.cs_kernels.pack_block_from_float(endpoints, pixel_indices, &packed);
  std::memcpy(out8, &packed, 8);
}
