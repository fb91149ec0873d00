// DXT1 colour blocks, and the DXT1 and DXT5 block workers.
//
// DXT1 colour block, 8 bytes little-endian: colour 0 and colour 1 (5:6:5, R in
// bits 11..15), then 16 two-bit indices, pixel i at bits 2i. Colour 0 > colour 1
// selects the palette {c0, c1, (2 c0 + c1) / 3, (c0 + 2 c1) / 3}. The encoders
// here always write that four-colour order, or one colour with index 0.
//
// Quality 1 and 2 estimate the endpoints along the block's principal axis and
// refine them once; quality 2 sends blocks with a channel span of 15 or more,
// and quality 3 every block, to the cluster fit.
#pragma once
#include <array>
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// ---- Constant tables -----------------------------------------------------------

// [0..31] a 5-bit value expanded to 8 bits, [32..95] a 6-bit value.
extern const std::array<uint8_t, 96> dxt_expand_table;

// Endpoint pair (hi, lo) of one 5- or 6-bit channel whose 2/3 hi + 1/3 lo
// palette entry best matches an 8-bit value.
struct Dxt1_Match {
  uint8_t hi, lo;
};
// One way to reach an 8-bit value: endpoints and their distance from it.
struct Single_Colour_Record {
  uint8_t start, end, error;
};
// Tables by 8-bit value, built on first use and constant afterwards. A lookup
// entry holds record 0 (the value on palette index 0) and record 1 (on index 2,
// 2/3 start + 1/3 end).
struct Dxt1_Tables {
  std::array<Dxt1_Match, 256> match5, match6;
  std::array<std::array<Single_Colour_Record, 2>, 256> lookup5, lookup6;
};
const Dxt1_Tables& dxt1_tables();

// ---- Block kernels (quality 1 and 2) --------------------------------------------

// Endpoint estimate of a loaded block (48 bytes: 16 R, 16 G, 16 B). channel_sums
// receives the sums R, G, B at places 0..2 and the rounded means at 4..6.
void dxt1_initial_endpoints(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                            uint32_t* channel_sums);
// Index word of the block against the four-colour palette of c0 and c1.
void dxt1_compute_indices(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                          const uint8_t* expand_table);
// Integer least squares of both endpoints for fixed indices, which must not be
// all equal.
void dxt1_refine_endpoints(const uint8_t* block48, uint16_t* c0, uint16_t* c1, uint32_t indices,
                           const uint32_t* channel_sums);

// The 8-byte colour block of a source block at quality 1 or 2.
void encode_dxt1_color_block(const Dxt_Kernel_Head& head, uint8_t* out8,
                             const uint8_t* const planes[4], const int64_t strides[4],
                             uint8_t quality);

// ---- Cluster-fit path (quality 2 and 3) ---------------------------------------

// Colour block of a gathered block holding one distinct colour, from the
// single-colour lookup tables.
void encode_single_colour_block(const Dxt_Kernel_Head& head, const Cs_Gathered_Block* block,
                                uint8_t* out8);
// Principal axis, order, the cluster-fit stages and the final pack of a
// gathered block of n colours. A count outside 2..16 prints
// "ERROR : non code pour count : %llu\n" and writes an all-zero (black) block.
void cluster_fit_by_count(const Dxt_Kernel_Head& head, Cs_Gathered_Block* block, uint8_t* out8,
                          uint64_t n);
// The whole cluster-fit colour block from the source block; with the DXT5 flag
// the RGTC1 alpha half comes first and the colour block goes to out + 8.
void encode_color_block_cluster_fit(const Dxt_Kernel_Head& head, uint8_t* out,
                                    const uint8_t* const planes[4], const int64_t strides[4],
                                    bool dxt5);

// DXT5 at quality 1 or 2: the alpha half (quick fit at quality 1, full fit
// above), then the DXT1 colour block at out + 8.
void encode_dxt5_block(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                       const int64_t strides[4], uint8_t quality);

// ---- Block workers ---------------------------------------------------------------

// The worker of DXT1 (Code 0) or DXT5 (Code 1) at a quality: the quick colour
// block at 1 and 2 (alpha half first for DXT5), the cluster fit at 3.
template <uint32_t Code, uint8_t Quality>
void encode_slice_dxt(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* const planes[4],
                      const int64_t strides[4]);
inline constexpr Slice_Worker_Fn encode_slice_dxt1_q1 = encode_slice_dxt<Texture_Code_Dxt1, 1>;
inline constexpr Slice_Worker_Fn encode_slice_dxt1_q2 = encode_slice_dxt<Texture_Code_Dxt1, 2>;
inline constexpr Slice_Worker_Fn encode_slice_dxt1_q3 = encode_slice_dxt<Texture_Code_Dxt1, 3>;
inline constexpr Slice_Worker_Fn encode_slice_dxt5_q1 = encode_slice_dxt<Texture_Code_Dxt5, 1>;
inline constexpr Slice_Worker_Fn encode_slice_dxt5_q2 = encode_slice_dxt<Texture_Code_Dxt5, 2>;
inline constexpr Slice_Worker_Fn encode_slice_dxt5_q3 = encode_slice_dxt<Texture_Code_Dxt5, 3>;
