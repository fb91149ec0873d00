#include <cstdio>
#include <cstdlib>

#include "texture_encoder/block_geometry.h"

namespace {

constexpr size_t Buffer_Alignment = 32;

}  // namespace

uint32_t aligned_buffer_alloc(uint8_t** buffer, size_t old_size, size_t new_size) {
  if (*buffer != nullptr) {
    if (new_size <= old_size) return 0;
    aligned_buffer_free(buffer);
  }
  // aligned_alloc wants a whole number of alignment units, and at least one.
  const size_t rounded =
      new_size == 0 ? Buffer_Alignment
                    : (new_size + Buffer_Alignment - 1) / Buffer_Alignment * Buffer_Alignment;
  void* memory = rounded >= new_size ? std::aligned_alloc(Buffer_Alignment, rounded) : nullptr;
  if (memory == nullptr) {
    std::printf("alloc error (for size : %ld)\n", long(new_size));
    return 1;
  }
  *buffer = static_cast<uint8_t*>(memory);
  return 0;
}

void aligned_buffer_free(uint8_t** buffer) {
  if (*buffer == nullptr) return;
  std::free(*buffer);
  *buffer = nullptr;
}
