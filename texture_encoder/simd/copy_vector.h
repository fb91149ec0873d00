// Streaming frame copies for Copy_Kernel_Pair. Each takes (destination,
// source, byte count) and leaves the same bytes as memcpy. The destination must
// be 32-byte aligned (the start of an aligned frame buffer); the aligned forms
// also need a 32-byte aligned source. Whole 256-byte blocks are written with
// non-temporal stores, which bypass the caches, followed by a store fence.
#pragma once
#include <cstddef>

void stream_copy_unaligned_avx(void* destination, const void* source, size_t bytes);
void stream_copy_aligned_avx(void* destination, const void* source, size_t bytes);
// Also loads the blocks with non-temporal (streaming) loads.
void stream_copy_aligned_avx2(void* destination, const void* source, size_t bytes);
