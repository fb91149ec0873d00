#include "texture_encoder/simd/copy_vector.h"
#include "texture_encoder/simd/simd_install.h"

void install_copy_vector_kernels(Copy_Kernel_Pair* pair, uint32_t mask) {
  if (!(mask & Simd_Flag_Enable)) return;
  if (mask & Simd_Flag_Avx) {
    pair->copy_unaligned = stream_copy_unaligned_avx;
    pair->copy_aligned = stream_copy_aligned_avx;
  }
  if (mask & Simd_Flag_Avx2) pair->copy_aligned = stream_copy_aligned_avx2;
}
