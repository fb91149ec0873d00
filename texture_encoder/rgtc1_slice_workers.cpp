// Block workers of the RGTC1 textures: one single-channel plane per block,
// from alpha or from luma, then the constant block or the full fit.
#include "texture_encoder/alpha_block.h"

void encode_slice_rgtc1(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                        const int64_t strides[4]) {
  alignas(32) uint8_t values[16];
  uint64_t min = 0, max = 0;
  head.extract_plane_alpha(values, planes[0], planes[3], strides[0], strides[3], &min, &max);
  encode_rgtc1_block(&head, values, min, max, out);
}

void encode_slice_rgtc1_luma(const Dxt_Kernel_Head& head, uint8_t* out,
                             const uint8_t* const planes[4], const int64_t strides[4]) {
  alignas(32) uint8_t values[16];
  uint64_t min = 0, max = 0;
  head.extract_plane_luma(values, planes[0], planes[1], planes[2], strides[0], strides[1],
                          strides[2], &min, &max);
  encode_rgtc1_block(&head, values, min, max, out);
}
