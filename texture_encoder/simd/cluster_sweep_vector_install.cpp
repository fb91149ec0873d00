#include "texture_encoder/simd/simd_install.h"

void install_cluster_sweep_vector_kernels(Dxt_Encoder_Context*, uint32_t) {}
