// One 4x4 block in the scaled YCoCg colour space, as the YCoCg-DXT5 (HAPQ)
// encoders see it, and the rules that every chroma encoder shares.
//
// A YCoCg-DXT5 block is 16 bytes: luma in a DXT5 alpha block (bytes 0..7),
// then a four-colour DXT colour block (bytes 8..15) whose red field holds Co,
// green field Cg, and blue field the chroma scale minus one. The high chroma
// endpoint is written as colour0 and the low one as colour1.
#pragma once
#include <cmath>
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"  // Ycocg_Block, Cocg_Block

namespace ycocg {

inline constexpr float neutral = 128.0f / 255.0f;  // chroma of a grey pixel
inline constexpr float half_code = 1.0f / 510.0f;  // half of one 8-bit step
inline constexpr float one_third = 1.0f / 3.0f;
inline constexpr float two_thirds = 2.0f / 3.0f;

// Integer nearest to x, halves away from zero.
inline int nearest(float x) { return static_cast<int>(std::lround(x)); }

inline float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// Squared distance from a pixel's chroma to a palette point.
inline float cocg_distance(float co, float cg, float p_co, float p_cg) {
  const float dg = cg - p_cg;
  const float dc = co - p_co;
  return dg * dg + dc * dc;
}

// 2-bit index of a pixel from its squared distances to colour0 .. colour3.
inline uint32_t cocg_index_rule(float d0, float d1, float d2, float d3) {
  const uint32_t far_from_ends = (d0 > d2 && d1 > d2) || (d0 > d3 && d1 > d3);
  const uint32_t nearer_three = d0 > d3 && d2 > d3;
  return 2 * far_from_ends + nearer_three;
}

// The index rule applied to one set of distances, repeated for all 16 pixels.
inline uint32_t cocg_index_from_distances(const float d[4]) {
  return cocg_index_rule(d[0], d[1], d[2], d[3]) * 0x55555555u;
}

// True when Co and Cg are the same in every pixel of the block.
inline bool cocg_box_is_flat(const float box[4]) { return box[0] == box[2] && box[1] == box[3]; }

// Packs one endpoint: 5-bit Co, 6-bit Cg, scale - 1 in the blue field.
inline uint16_t cocg_colour_word(int co_code, int cg_code, uint32_t scale) {
  return static_cast<uint16_t>(co_code << 11 | cg_code << 5 | (scale - 1));
}

// Writes colour0, colour1 and the index word of the colour half (8 bytes).
void write_colour_half(uint8_t* out8, uint16_t colour0, uint16_t colour1, uint32_t indices);

// Writes a single-value Y half: the code in byte 0, everything else 0.
void write_single_y(uint8_t* out8, int code);

}  // namespace ycocg

// Chroma scale 1, 2 or 4: how far the box may be magnified about neutral
// before it leaves 0..1. Strict limits, so a deviation of exactly 32/255
// takes 2 and of exactly 64/255 takes 1.
uint32_t choose_cocg_scale(const float box[4]);

// Each end of the box moved inwards by a 16th of the box's size less half an
// 8-bit step (outwards when that is negative), then clamped to 0..1: the
// endpoints before quantisation at quality 1, and the inset first endpoints
// of the quality-2 and quality-3 search.
void inset_cocg_box(float box[4]);

// Each end of the box moved outwards by half an 8-bit step, clamped to 0..1:
// the widened first endpoints of the search, which flat blocks start from at
// quality 2.
void widen_cocg_box(float box[4]);

// Picks the box diagonal that follows the chroma's covariance: when Co and
// Cg fall together the Cg ends of the box are exchanged.
void select_bbox_diagonal(Cocg_Block* block);

// Converts the 4x4 BGRA8 block at src (rows stride bytes apart; negative for
// bottom-up frames). Sets *all_black to 1 when every pixel has R = G = B = 0
// (alpha is ignored), else to 0.
void ycocg_load_block(Ycocg_Block* out, const uint8_t* src, int64_t stride, uint64_t* all_black);
// The same for pixel format 2 (bottom-up BGRA8), which reads exactly like
// format 1 given the last stored row and a negative stride. Installed nowhere.
void ycocg_load_block_fmt2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                           uint64_t* all_black);
// The two loaders over the integer conversion (to_ycocg_integer: Y = (R + 2G
// + B) / 1020, Co = (2 (R - B) + 512) / 1020, Cg = (2G - R - B + 512) / 1020,
// unclamped). Installed nowhere.
void ycocg_load_block_integer(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                              uint64_t* all_black);
void ycocg_load_block_integer_fmt2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                                   uint64_t* all_black);

// Quality-1 Y half (bytes 0..7) from the range inset by 1/32 of itself.
void ycocg_encode_y_alpha(uint8_t* out8, Ycocg_Block* block);

// Quality-2/3 Y half: the inset range or the plain one, whichever fits the
// 16 values better (the inset on a tie).
void ycocg_encode_y_alpha_hq(uint8_t* out8, Ycocg_Block* block);

// Quality-1 colour half (bytes 8..15) from the scaled, inset bounding box.
void ycocg_encode_cocg(uint8_t* out8, Cocg_Block* block);

// Quality-1 colour half of a block whose Co and Cg are the same everywhere:
// one index for all 16 pixels.
void ycocg_encode_cocg_flat(uint8_t* out8, Cocg_Block* block);

// Block workers of texture codes 4 and 5 (first texture) at quality 1, 2, 3:
// one 16-byte YCoCg-DXT5 block from the BGRA8 block at planes[0]. All-black
// blocks (alpha ignored) get a fixed block; quality 2 and 3 search the chroma
// endpoints (cocg_endpoint_kernels.h).
void encode_slice_ycocg_q1(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]);
void encode_slice_ycocg_q2(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]);
void encode_slice_ycocg_q3(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]);
