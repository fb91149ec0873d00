// Encodes whole frames with a set-up context: the frame is cut into 4x4
// blocks, partial edge blocks are completed by the pad kernel, and each block
// goes to the context's block worker. The slices of block rows planned at
// set-up run in parallel; each writes its own block rows of the output.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// planes/strides: four plane pointers and signed row strides in bytes (packed
// formats: {pixels, null, null, null} and {row bytes, 0, 0, 0}). output must
// hold dxt_texture_size of the context's geometry; for texture code 5 the RGTC1
// alpha texture follows the YCoCg-DXT5 one. A context without a worker (never
// set up, or whose set-up failed) writes nothing.
void encode_dxt_frame(const Dxt_Encoder_Context* context, uint8_t* output,
                      const uint8_t* const planes[4], const int64_t strides[4]);

// Encodes `rows` pixel rows from start_row into output_base + output_offset,
// with slice_worker, or slice_worker_second when second_texture is set. The
// offset is 64-bit: the lower block rows of the largest textures lie beyond 4 GiB.
void encode_frame_slice(const Dxt_Encoder_Context* context, uint8_t* output_base,
                        const uint8_t* const planes[4], const int64_t strides[4], uint16_t rows,
                        uint16_t block_step, uint8_t bytes_per_block, uint32_t start_row,
                        uint64_t output_offset, uint32_t second_texture);
