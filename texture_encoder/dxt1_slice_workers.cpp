// Block workers of DXT1 and DXT5 textures, one per texture code and quality. Each calls kernels
// only through the kernel head it is handed.
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/dxt1_encoder.h"

void encode_dxt5_block(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                       const int64_t strides[4], uint8_t quality) {
  alignas(32) uint8_t alpha[16];
  uint64_t lo, hi;
  head.extract_plane_alpha(alpha, planes[0], planes[3], strides[0], strides[3], &lo, &hi);
  if (lo == hi)
    write_constant_alpha_block(out, uint8_t(lo));
  else if (quality >= 2)
    encode_alpha_block_hq(&head, alpha, uint32_t(lo), uint32_t(hi), out);
  else
    encode_alpha_block_fast(out, alpha, uint32_t(lo), uint32_t(hi));
  encode_dxt1_color_block(head, out + 8, planes, strides, quality);
}

template <uint32_t Code, uint8_t Quality>
void encode_slice_dxt(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                      const int64_t strides[4]) {
  if constexpr (Quality == 3)
    encode_color_block_cluster_fit(head, out, planes, strides, Code == Texture_Code_Dxt5);
  else if constexpr (Code == Texture_Code_Dxt5)
    encode_dxt5_block(head, out, planes, strides, Quality);
  else
    encode_dxt1_color_block(head, out, planes, strides, Quality);
}

#define HAP_INSTANTIATE_WORKER(code, quality)                                        \
  template void encode_slice_dxt<code, quality>(const Dxt_Kernel_Head&, uint8_t*,     \
                                                const uint8_t* const[4], const int64_t[4]);
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt1, 1)
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt1, 2)
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt1, 3)
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt5, 1)
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt5, 2)
HAP_INSTANTIATE_WORKER(Texture_Code_Dxt5, 3)
