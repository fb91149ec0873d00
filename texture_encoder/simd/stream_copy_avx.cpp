// Streaming frame copies with AVX loads: unaligned for any source, aligned for
// a 32-byte aligned one.
#include "texture_encoder/simd/copy_vector.h"
#include "texture_encoder/simd/stream_copy.h"

void stream_copy_unaligned_avx(void* destination, const void* source, size_t bytes) {
  stream_copy(destination, source, bytes, [](const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  });
}

void stream_copy_aligned_avx(void* destination, const void* source, size_t bytes) {
  stream_copy(destination, source, bytes, [](const uint8_t* p) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
  });
}
