// Cluster set-up: what the cluster fit needs before and after its search.
// A block's distinct colours are gathered with their occurrence counts, their
// principal axis is found, they are ordered along it, and the winning
// partition of the ordered colours is packed back into a DXT1 colour block.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Distinct colours of a 4x4 block in order of first appearance, as R/255,
// G/255, B/255 (pixels with equal R, G and B are one colour; alpha plays no
// part), their occurrence counts and the pixel-to-colour map. Formats 7 and
// above 15 print "ERROR : cs_template : pix fmt non gere : %d\n" and leave the
// block untouched.
template <uint32_t Fmt>
void cs_template(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t* plane1,
                 const uint8_t* plane2, int64_t stride0, int64_t stride1, int64_t stride2);
// The instance installed in cs_kernels [0]; it serves formats 1 and 2.
void cs_gather_block(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t* plane1,
                     const uint8_t* plane2, int64_t stride0, int64_t stride1, int64_t stride2);

// Weighted covariance (xx, xy, xz, yy, yz, zz) of n colours; 16 colours all
// weigh 1 and the weights are not read.
void cs_moment_sums(float covariance[6], const float (*colours)[4], const float* weights,
                    uint32_t n);
// Principal axis by four power-iteration steps from (1, 1, 1), each divided by
// its largest component. When a divisor is not a finite positive number (for
// instance colours that all have the same R + G + B), or the axis ends with a
// component that is not finite, the axis is the unit vector of the channel with
// the largest variance (the first of equal ones). Vector twins follow the same
// rule.
void cs_solve_axis(float axis[3], const float covariance[6]);
template <uint32_t N>
void cs_principal_axis_n(float* axis3, const float (*colours)[4], const float* weights) {
  float covariance[6] = {};
  cs_moment_sums(covariance, colours, weights, N);
  cs_solve_axis(axis3, covariance);
}

// Sort keys: the dot product of each colour with the axis.
void cs_project_on_axis(float* keys, const float (*colours)[4], const float* axis3, uint32_t n);
template <uint32_t N>
void cs_project_on_axis_n(float* keys, const float (*colours)[4], const float* axis3) {
  cs_project_on_axis(keys, colours, axis3, N);
}
// Reorders order[0..N-1] (0..N-1 on entry) so that the keys ascend; a key moves
// before another only when strictly smaller, so equal keys keep their order.
template <uint32_t N>
void cs_sort_order_n(const float* keys, uint8_t* order) {
  for (uint32_t i = 1; i < N; ++i) {
    const uint8_t moving = order[i];
    uint32_t j = i;
    for (; j > 0 && keys[order[j - 1]] > keys[moving]; --j) order[j] = order[j - 1];
    order[j] = moving;
  }
}

// 5:6:5 of a colour in 0..1: each channel truncate(v x levels + 0.5), clamped.
uint16_t rgb_to_565(float r, float g, float b);
// DXT1 block from two endpoints and 16 indices (0 = a, 1 = b, 2 = 2/3 a + 1/3 b,
// 3 = 1/3 a + 2/3 b), always in four-colour order: endpoints that quantise to
// the same word give that word, 0 and a zero index word; c0 < c1 swaps them and
// exchanges indices 0/1 and 2/3.
void dxt1_pack_block_from_float(const float* endpoints8, const uint8_t* indices16, uint64_t* block);
// The same from 5-, 6- and 5-bit endpoint fields (four bytes per endpoint).
void dxt1_pack_block_from_565(const uint8_t* endpoints8, const uint8_t* indices16, uint64_t* block);

// Per-pixel indices from per-colour ones; a pixel mapped to 255 or more takes 3.
void expand_colour_indices(const Cs_Gathered_Block* block, const uint8_t* colour_indices,
                           uint8_t* pixel_indices);
// Final pick and pack: sorted positions [0, i1) take index 0, [i1, i2) index 2,
// [i2, i3) index 3 and the rest index 1; then cs_kernels [1] packs the block.
void dxt1_pack_from_partition(const Dxt_Kernel_Head& head, const Cs_Gathered_Block* block,
                              uint8_t* out8, const Cluster_Fit_Best* best,
                              const Partition_Code* code, uint64_t n, const uint8_t* order);

// cs_kernels [0..17] and cs_sort_order for pixel formats 1 and 2; any other
// format prints "Cs unsupported : %d\n" and returns 1.
uint32_t install_cs_kernels(Dxt_Encoder_Context* context, uint32_t pix_fmt, uint32_t mask);
// The scalar projections cs_project_on_axis [0..14].
void install_cs_projections(Dxt_Encoder_Context* context);
