// Quality-1 YCoCg-DXT5 halves, AVX: every product and sum rounded on its own.
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

void ycocg_encode_y_alpha_avx(uint8_t* out8, Ycocg_Block* block) {
  encode_y_alpha_q1<false>(out8, block);
}

void ycocg_encode_cocg_avx(uint8_t* out8, Cocg_Block* block) { encode_cocg_q1<false>(out8, block); }
