#include "texture_encoder/vector_kernels.h"

#include "texture_encoder/simd/simd_install.h"

void install_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  if (!(mask & Simd_Flag_Enable)) return;
  install_block_vector_kernels(context, mask);
  install_ycocg_vector_kernels(context, mask);
  install_cluster_fit_vector_kernels(context, mask);
  install_cluster_sweep_vector_kernels(context, mask);
}

void install_vector_copy_kernels(Copy_Kernel_Pair* pair, uint32_t mask) {
  if (!(mask & Simd_Flag_Enable)) return;
  install_copy_vector_kernels(pair, mask);
}
