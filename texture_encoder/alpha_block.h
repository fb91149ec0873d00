// The 8-byte single-channel block (BC4 unsigned, also the alpha half of DXT5):
// endpoints e0, e1, then 16 three-bit indices, pixel i at bit 16 + 3i of the
// block read as a little-endian 64-bit word. e0 > e1 decodes an 8-value
// palette, e0 <= e1 a 6-value palette plus 0 and 255.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Scalar kernels of the rgtc1_block_min_max and rgtc1_fit_indices slots.
// Minimum over the values other than 0 (from 255), maximum over the values
// other than 255 (from 0): the endpoints of the 6-value palette.
void rgtc1_block_min_max(const uint8_t* values16, uint64_t* min, uint64_t* max);
// Nearest palette index of each value (ties to the lower index); the sum of the
// squared differences is stored through error and returned.
int64_t rgtc1_fit_indices(const uint8_t* values16, const uint8_t* palette8, uint8_t* indices16,
                          int64_t* error);

// Widens [lo, hi] to at least `span`: hi first (up to 255), then lo (down to
// 0). The difference is signed: lo may arrive above hi (a block of only 0 and
// 255 gives lo 255, hi 0) and must widen, not wrap.
void widen_alpha_range(uint32_t* lo, uint32_t* hi, uint32_t span);

// The block of 16 equal values: value, then seven zero bytes.
void write_constant_alpha_block(uint8_t* out8, uint8_t value);

// Block writers. The 6- and 8-value forms take indices into the palette as the
// encoder searches it: first, second, then the inner values from first towards
// second (the 6-value one followed by 0 and 255).
// Writes e0, e1 and the 16 indices (their low 3 bits) as they are.
void alpha_pack_block(uint8_t e0, uint8_t e1, const uint8_t* indices16, uint8_t* out8);
// Writes a 6-value block: the smaller endpoint first, the indices renamed when
// that swaps the endpoints.
void alpha_pack_block_6(uint8_t first, uint8_t second, const uint8_t* indices16, uint8_t* out8);
// Writes an 8-value block: the larger endpoint first, the indices renamed when
// that swaps the endpoints; equal endpoints, whose every value is that
// endpoint, get index 0 throughout (in the 6-value palette that the decoder
// then uses, 6 and 7 would mean 0 and 255).
void alpha_pack_block_8(uint8_t first, uint8_t second, const uint8_t* indices16, uint8_t* out8);

// Full fit: the better of the 6-value and the 8-value palette (ties keep the
// 6-value one), through the head's rgtc1 slots. min and max are of all 16 values.
void encode_alpha_block_hq(const Dxt_Kernel_Head* head, const uint8_t* values16, uint32_t min,
                           uint32_t max, uint8_t* out8);

// Quick 8-value fit between the block's minimum and maximum, exact integers.
void encode_alpha_block_fast(uint8_t* out8, const uint8_t* values16, uint32_t min, uint32_t max);

// Constant block when min equals max, else the full fit: the single-channel
// block of an RGTC1 texture and of the alpha half of DXT5 at quality 2 and 3.
void encode_rgtc1_block(const Dxt_Kernel_Head* head, const uint8_t* values16, uint64_t min,
                        uint64_t max, uint8_t* out8);

// Block workers: RGTC1 from the alpha plane (texture code 3, and the second
// texture of code 5) and from luma (texture code 2).
void encode_slice_rgtc1(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                        const int64_t strides[4]);
void encode_slice_rgtc1_luma(const Dxt_Kernel_Head& head, uint8_t* out,
                             const uint8_t* const planes[4], const int64_t strides[4]);

// Float helpers for values in 0..1 (the Y half of YCoCg-DXT5).
// Insets [lo, hi] by 1/32 of the range less half of 1/255, clamped to 0..1.
void alpha_inset_range(float* lo, float* hi);
// The endpoint word of [lo, hi] (values in 0..1), the first two bytes of an
// 8-value block: round(hi * 255) in the low byte (e0), round(lo * 255) in the
// high byte (e1), halves away from zero.
uint16_t alpha_endpoint_word(float lo, float hi);
// alpha_inset_range, then the endpoint word of the inset range.
uint16_t alpha_inset_pack(float* lo, float* hi);
// 8-value indices of 16 values between lo and hi (lo <= hi; e0 = hi, e1 = lo):
// ORs the indices into bits 16..31 of *block and replaces its high 32 bits.
void alpha_indices_float(const float* values16, float lo, float hi, uint64_t* block);
