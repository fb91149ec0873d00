// Streaming frame copy of a 32-byte aligned source with non-temporal loads.
#include "texture_encoder/simd/copy_vector.h"
#include "texture_encoder/simd/stream_copy.h"

void stream_copy_aligned_avx2(void* destination, const void* source, size_t bytes) {
  stream_copy(destination, source, bytes, [](const uint8_t* p) {
    return _mm256_stream_load_si256(reinterpret_cast<const __m256i*>(p));
  });
}
