#include "texture_encoder/simd/simd_install.h"

void install_copy_vector_kernels(Copy_Kernel_Pair*, uint32_t) {}
