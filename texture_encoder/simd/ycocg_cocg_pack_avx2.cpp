// Final index pack of the CoCg endpoint search: the four-distance rule on the
// best candidate's 64 distances, 16 pixels in two vectors.
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

void cocg_final_pack_avx2(const float* best_distances, uint32_t* index_word) {
  __m256 d[4][2];
  for (int k = 0; k < 4; ++k) {
    for (int h = 0; h < 2; ++h) d[k][h] = _mm256_loadu_ps(best_distances + 16 * k + 8 * h);
  }
  *index_word = cocg_index_word(d[0], d[1], d[2], d[3]);
}
