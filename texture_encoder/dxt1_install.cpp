// Installation of the DXT1 / DXT5 set: the worker by texture code and quality,
// the DXT1 block kernels at quality 1 and 2, the cluster-fit search at 2 and 3.
#include <cstdio>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/pixel_formats.h"

uint32_t install_dxt_set(Dxt_Encoder_Context* context, uint32_t texture_code, uint8_t quality,
                         uint32_t pix_fmt, uint32_t mask) {
  static constexpr Slice_Worker_Fn workers[2][3] = {
      {encode_slice_dxt1_q1, encode_slice_dxt1_q2, encode_slice_dxt1_q3},
      {encode_slice_dxt5_q1, encode_slice_dxt5_q2, encode_slice_dxt5_q3}};
  const bool dxt5 = texture_code == Texture_Code_Dxt5;
  if (quality < 1 || quality > 3) {
    std::printf(dxt5 ? "DxtEnc DXT5 Qualite inconnu : %d\n" : "DxtEnc DXT1 Qualite inconnu : %d\n",
                int(quality));
    return 1;
  }
  context->slice_worker = workers[dxt5 ? 1 : 0][quality - 1];
  dxt1_tables();  // built now rather than inside the first frame's slices
  Dxt_Kernel_Head& head = context->head;
  if (quality <= 2) {
    if (quality == 1)
      head.dxt_load_block_q1 = to_rgba_template_dxt_q1;
    else
      head.dxt_load_block_q2 = to_rgba_template_dxt_q2;
    head.dxt1_compute_indices = dxt1_compute_indices;
    head.dxt1_initial_endpoints = dxt1_initial_endpoints;
    head.dxt1_refine_endpoints = dxt1_refine_endpoints;
  }
  if (quality >= 2) {
    if (install_cs_kernels(context, pix_fmt, mask) != 0) return 1;
    install_cs_projections(context);
    install_cluster_fit_kernels(context);
    cluster_fit_lists(16);  // built now rather than inside the first frame's slices
  }
  return 0;
}
