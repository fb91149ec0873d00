// Block counts and texture sizes per texture code and pad mode, the 32-byte
// aligned buffers that hold frame copies and textures, and the pair of copy
// kernels with which frames are copied into those buffers.
#pragma once
#include <cstddef>
#include <cstdint>

// Bytes of one 4x4 block: 8 for DXT1 and RGTC1, 16 for DXT5, YCoCg-DXT5 and
// BC7, 24 for code 5 (both textures together) and for any unknown code.
uint32_t dxt_block_bytes(uint32_t texture_code);

// Blocks along an axis of `pixels`: rounded up, except in Pad_Mode_Crop.
uint16_t dxt_block_count(uint16_t pixels, uint32_t pad_mode);
uint16_t dxt_block_count_ceil(uint16_t pixels);

// Blocks across x blocks down x bytes per block (both textures for code 5),
// in 64 bits: the largest frames need more than 32.
uint64_t dxt_texture_size(uint16_t width, uint16_t height, uint32_t texture_code,
                          uint32_t pad_mode);

// Blocks across x blocks down x the source bytes of one 4x4 block of pix_fmt.
uint64_t raw_buffer_size_in_blocks(uint16_t width, uint16_t height, uint32_t pix_fmt,
                                   uint32_t pad_mode);

// Makes *buffer hold at least new_size bytes, 32-byte aligned. A buffer of
// old_size >= new_size is kept; a smaller one is replaced (contents lost).
// On failure prints "alloc error (for size : %ld)\n", leaves *buffer null and
// returns 1; else returns 0.
uint32_t aligned_buffer_alloc(uint8_t** buffer, size_t old_size, size_t new_size);

// Frees a non-null buffer and nulls the pointer.
void aligned_buffer_free(uint8_t** buffer);

using Copy_Kernel_Fn = void (*)(void* destination, const void* source, size_t bytes);

// copy_unaligned serves sources that are not 32-byte aligned, copy_aligned the others.
struct Copy_Kernel_Pair {
  Copy_Kernel_Fn copy_unaligned;
  Copy_Kernel_Fn copy_aligned;
};

// Installs the standard copy in both slots, then the best vector pair the
// filtered Simd_Flags request allows. Returns 0.
uint32_t install_copy_kernel_pair(Copy_Kernel_Pair* pair, uint32_t mask);

// Copies with the kernel that suits the source's alignment.
void copy_with_kernel_pair(const Copy_Kernel_Pair* pair, void* destination, const void* source,
                           size_t bytes);
