// Vector twins of the cluster set-up kernels (distinct-colour gather, principal
// axis, projection, pack). Same signatures as the scalar kernels of their
// slots (texture_encoder/cs_kernels.h).
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Distinct colours of a packed BGRA block (only plane0 and stride0 are read),
// as the scalar gather gives them; the fourth float of each colour is 0.0.
void cs_gather_block_avx(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t* plane1,
                         const uint8_t* plane2, int64_t stride0, int64_t stride1, int64_t stride2);

// Weighted principal axis of N colours (16 colours weigh 1 each and the weights
// are not read; 15 colours take the total weight as 14 + sqrt 2). The sums are
// grouped in lanes rather than taken left to right, so the axis may differ from
// the scalar one in the last bits; the degenerate-axis rule is the scalar one.
// Writes four floats, the fourth carrying nothing.
template <uint32_t N>
void cs_principal_axis_n_avx(float* axis3, const float (*colours)[4], const float* weights);

// Sort keys (R * ax + G * ay) + B * az, equal to the scalar keys. Writes whole
// groups: 4 keys for N <= 4, 8 up to 8, then 9, 12 or 16; keys past N are 0.
template <uint32_t N>
void cs_project_on_axis_n_avx(float* keys, const float (*colours)[4], const float* axis3);

// Every count's member, indexed by N - 2 like the slots they fill.
struct Cs_Axis_Avx_Kernels {
  Cs_Principal_Axis_Fn principal_axis[15];
  Cs_Project_On_Axis_Fn project_on_axis[15];
};
extern const Cs_Axis_Avx_Kernels cs_axis_avx_kernels;

// DXT1 block from two float endpoints in [0, 1] and 16 indices, as the scalar
// dxt1_pack_block_from_float gives it.
void dxt1_pack_block_from_float_avx2(const float* endpoints8, const uint8_t* indices16,
                                     uint64_t* block);

// The same from 5-, 6- and 5-bit endpoint fields (four bytes per endpoint, the
// fourth 0), as the scalar dxt1_pack_block_from_565 gives it. No installer
// places it; the slot keeps the scalar pack.
void dxt1_pack_block_from_565_avx2(const uint8_t* endpoints8, const uint8_t* indices16,
                                   uint64_t* block);
