// Vector twins of the single-channel block kernels (RGTC1 textures and the
// alpha half of DXT5). Each has the signature and the exact results of the
// scalar kernel of its slot; the suffix names the instruction set it needs.
#pragma once
#include <cstdint>

// Alpha bytes of a packed BGRA block (pixel formats 1 and 2; row r at
// plane0 + r * stride0), with their minimum and maximum. plane3 and stride3
// are not read.
void to_alpha_template_alpha_avx(uint8_t* out16, const uint8_t* plane0, const uint8_t* plane3,
                                 int64_t stride0, int64_t stride3, uint64_t* min, uint64_t* max);
// (B + G + R) / 3 rounded down for each pixel of a packed BGRA block, with the
// minimum and maximum. Only plane0 and stride0 are read.
void to_alpha_template_luma_avx(uint8_t* out16, const uint8_t* plane0, const uint8_t* plane1,
                                const uint8_t* plane2, int64_t stride0, int64_t stride1,
                                int64_t stride2, uint64_t* min, uint64_t* max);
// Minimum over the values other than 0 (255 when none), maximum over the
// values other than 255 (0 when none).
void rgtc1_block_min_max_avx(const uint8_t* values16, uint64_t* min, uint64_t* max);
// Nearest palette entry of each value, ties to the lower index, and the sum of
// the squared differences (stored through error and returned). The AVX form
// works on four values at a time, the AVX2 form on eight.
int64_t rgtc1_fit_indices_avx(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                              int64_t* error);
int64_t rgtc1_fit_indices_avx2(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                               int64_t* error);
