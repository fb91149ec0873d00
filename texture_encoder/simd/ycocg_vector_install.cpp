// Installs the YCoCg-DXT5 vector kernels over the scalar ones, by texture
// code, quality and the filtered mask. Runs on any processor: it only takes
// addresses.
#include <algorithm>

#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd/ycocg_vector.h"

void install_ycocg_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  const bool ycocg = context->texture_code == Texture_Code_Ycocg_Dxt5 ||
                     context->texture_code == Texture_Code_Ycocg_Dxt5_Rgtc1;
  const bool packed =
      context->pix_fmt == Pix_Fmt_Bgra8 || context->pix_fmt == Pix_Fmt_Bgra8_Bottom_Up;
  const int quality = context->quality;
  if (!ycocg || !packed || quality < 1 || quality > 3) return;
  const auto allows = [mask](uint32_t bits) {
    bits |= Simd_Flag_Enable;
    return (mask & bits) == bits;
  };
  const bool avx = allows(Simd_Flag_Avx), avx2 = allows(Simd_Flag_Avx2);
  const bool avx2_fma = allows(Simd_Flag_Avx2 | Simd_Flag_Fma);
  Dxt_Kernel_Head& head = context->head;

  if (avx) head.ycocg_load_block = ycocg_load_block_avx;
  if (avx2) head.ycocg_load_block = ycocg_load_block_avx2;

  if (quality == 1) {
    if (avx) {
      head.ycocg_encode_y_alpha = ycocg_encode_y_alpha_avx;
      head.ycocg_encode_cocg = ycocg_encode_cocg_avx;
    }
    if (avx2_fma) {
      head.ycocg_encode_y_alpha = ycocg_encode_y_alpha_avx2_fma;
      head.ycocg_encode_cocg = ycocg_encode_cocg_avx2_fma;
      head.ycocg_encode_cocg_flat = ycocg_encode_cocg_flat_avx2_fma;
    }
    return;
  }
  const bool q2 = quality == 2;
  Cocg_Endpoint_Kernels& cocg = head.cocg_endpoint_kernels;
  if (avx) std::copy_n(q2 ? cocg_endpoint_search_q2_avx : cocg_endpoint_search_q3_avx, 3,
                       cocg.endpoint_search);
  if (!avx2_fma) return;
  head.ycocg_encode_y_alpha = ycocg_encode_y_alpha_hq_avx2_fma;
  cocg.inset_bbox[0] = inset_bbox_565_s0_avx_fma;
  cocg.inset_bbox[1] = inset_bbox_565_s1_avx_fma;
  cocg.inset_bbox[2] = inset_bbox_565_s2_avx_fma;
  cocg.inset_bbox[3] = inset_bbox_565_s3_avx_fma;
  cocg.inset_bbox[4] = inset_bbox_565_s4_avx_fma;
  cocg.inset_bbox[5] = inset_bbox_565_s5_avx_fma;
  cocg.final_pack = cocg_final_pack_avx2;
  std::copy_n(q2 ? cocg_endpoint_search_q2_avx_fma : cocg_endpoint_search_q3_avx_fma, 3,
              cocg.endpoint_search);
  // Quality 3 keeps its scalar trials: they have no vector form.
  if (q2) {
    cocg.endpoint_trial[0] = cocg_endpoint_trial_s0_q2_avx2_fma;
    cocg.endpoint_trial[1] = cocg_endpoint_trial_s1_q2_avx2_fma;
    cocg.endpoint_trial[2] = cocg_endpoint_trial_s2_q2_avx2_fma;
  }
}
