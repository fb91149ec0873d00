#include <cstring>

#include "texture_encoder/block_geometry.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/vector_kernels.h"

namespace {

void standard_copy(void* destination, const void* source, size_t bytes) {
  std::memcpy(destination, source, bytes);
}

}  // namespace

uint32_t install_copy_kernel_pair(Copy_Kernel_Pair* pair, uint32_t mask) {
  mask = detect_copy_simd_features(mask);
  pair->copy_unaligned = standard_copy;
  pair->copy_aligned = standard_copy;
  install_vector_copy_kernels(pair, mask);
  return 0;
}

void copy_with_kernel_pair(const Copy_Kernel_Pair* pair, void* destination, const void* source,
                           size_t bytes) {
  const bool aligned = reinterpret_cast<uintptr_t>(source) % 32 == 0;
  (aligned ? pair->copy_aligned : pair->copy_unaligned)(destination, source, bytes);
}
