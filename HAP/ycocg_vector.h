// SSE4.1 kernels of the YCoCg-DXT5 row encoder's faster paths. Only for
// processors with SSE4.1 (cpu_has_sse41); the results equal the scalar
// conversion's (ycocg_load_block) bit for bit, and the pair encoder writes the
// bytes of the scalar steps.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"  // Ycocg_Block

// pixels: a gathered block, 16 pixels of 4 bytes in the given Dxt_Pixel_Layout.
// Fills the Y, Co, Cg floats and their bounds; *all_black tells whether every
// pixel has R = G = B = 0 (the floats are then still written).
void ycocg_load_block_sse41(const uint8_t pixels[64], uint32_t layout, Ycocg_Block* out,
                            bool* all_black);
// The two blocks of a pair, converted together.
void ycocg_load_block_pair_sse41(const uint8_t pixels[2][64], uint32_t layout, Ycocg_Block out[2],
                                 bool all_black[2]);
// Encodes the two converted blocks of a pair with the steps of
// ycocg_encode_y_alpha and ycocg_encode_cocg, 16 bytes to out[0] and out[1];
// the blocks are left as they are. All-black blocks are not special here.
void ycocg_encode_block_pair_sse41(const Ycocg_Block blocks[2], uint8_t* const out[2]);
