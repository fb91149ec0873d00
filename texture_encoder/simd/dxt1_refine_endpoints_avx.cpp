// Least-squares DXT1 endpoint refinement, product and half added separately.
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/dxt1_vector_shared.h"

void dxt1_refine_endpoints_avx(const uint8_t* block48, uint16_t* c0, uint16_t* c1, uint32_t indices,
                               const uint32_t* channel_sums) {
  refine_endpoints(block48, c0, c1, indices, channel_sums, [](__m128 x, __m128 f) {
    return _mm_add_ps(_mm_mul_ps(x, f), _mm_set1_ps(0.5f));
  });
}
