#include "texture_encoder/simd/alpha_vector.h"
#include "texture_encoder/simd/cs_vector.h"
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

bool packed_bgra(uint32_t pix_fmt) {
  return pix_fmt == Pix_Fmt_Bgra8 || pix_fmt == Pix_Fmt_Bgra8_Bottom_Up;
}

// Alpha or luma plane and the RGTC1 fit (DXT5 alpha, RGTC1, the second
// texture of YCoCg-DXT5 + RGTC1).
void install_single_channel(Dxt_Encoder_Context* context, uint32_t mask) {
  Dxt_Kernel_Head& head = context->head;
  const uint32_t code = context->texture_code;
  const bool alpha_plane = code == Texture_Code_Dxt5 || code == Texture_Code_Rgtc1_Alpha ||
                           code == Texture_Code_Ycocg_Dxt5_Rgtc1;
  const bool luma_plane = code == Texture_Code_Rgtc1_Luma;
  if (!alpha_plane && !luma_plane) return;
  if (mask & Simd_Flag_Avx) {
    // A source without alpha keeps fill_opaque_plane.
    if (alpha_plane && packed_bgra(context->pix_fmt) && context->source_has_no_alpha != 1)
      head.extract_plane_alpha = to_alpha_template_alpha_avx;
    if (luma_plane && packed_bgra(context->pix_fmt))
      head.extract_plane_luma = to_alpha_template_luma_avx;
    head.rgtc1_block_min_max = rgtc1_block_min_max_avx;
    head.rgtc1_fit_indices = rgtc1_fit_indices_avx;
  }
  if (mask & Simd_Flag_Avx2) head.rgtc1_fit_indices = rgtc1_fit_indices_avx2;
}

// DXT1 block kernels of quality 1 and 2.
void install_dxt1_block(Dxt_Encoder_Context* context, uint32_t mask) {
  Dxt_Kernel_Head& head = context->head;
  if (mask & Simd_Flag_Avx) {
    if (context->quality == 1)
      head.dxt_load_block_q1 = to_rgba_template_dxt_q1_avx;
    else
      head.dxt_load_block_q2 = to_rgba_template_dxt_q2_avx;
    head.dxt1_compute_indices = dxt1_compute_indices_avx;
    head.dxt1_initial_endpoints = dxt1_initial_endpoints_avx;
    head.dxt1_refine_endpoints = dxt1_refine_endpoints_avx;
  }
  if (mask & Simd_Flag_Avx2) {
    head.dxt1_compute_indices = dxt1_compute_indices_avx2;
    head.dxt1_initial_endpoints = dxt1_initial_endpoints_avx2;
    if (mask & Simd_Flag_Fma) head.dxt1_refine_endpoints = dxt1_refine_endpoints_avx2_fma;
  }
}

// Cluster set-up of quality 2 and 3 (set-up has already dropped AVX2 at
// quality 3, so the pack twin serves quality 2 only).
void install_cluster_setup(Dxt_Encoder_Context* context, uint32_t mask) {
  Dxt_Kernel_Head& head = context->head;
  if (mask & Simd_Flag_Avx) {
    head.cs_kernels.gather_block = cs_gather_block_avx;
    for (int i = 0; i < 15; ++i) {
      head.cs_kernels.principal_axis[i] = cs_axis_avx_kernels.principal_axis[i];
      head.cs_project_on_axis[i] = cs_axis_avx_kernels.project_on_axis[i];
    }
  }
  if (mask & Simd_Flag_Avx2)
    head.cs_kernels.pack_block_from_float = dxt1_pack_block_from_float_avx2;
}

}  // namespace

void install_block_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  if (!(mask & Simd_Flag_Enable)) return;
  install_single_channel(context, mask);
  const uint32_t code = context->texture_code;
  if (code != Texture_Code_Dxt1 && code != Texture_Code_Dxt5) return;
  // The DXT1 and DXT5 sets read packed BGRA only; set-up refuses other formats.
  if (!packed_bgra(context->pix_fmt)) return;
  if (context->quality == 1 || context->quality == 2) install_dxt1_block(context, mask);
  if (context->quality == 2 || context->quality == 3) install_cluster_setup(context, mask);
}
