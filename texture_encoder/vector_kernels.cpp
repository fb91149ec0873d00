#include "texture_encoder/vector_kernels.h"

// No vector twin has been built yet: every slot keeps its scalar kernel until
// the vector kernels land here.
void install_vector_kernels(Dxt_Encoder_Context*, uint32_t) {}

void install_vector_copy_kernels(Copy_Kernel_Pair*, uint32_t) {}
