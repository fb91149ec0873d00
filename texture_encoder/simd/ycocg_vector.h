// Vector twins of the YCoCg-DXT5 block kernels and of the CoCg endpoint
// kernels. Each has the signature and contract of the scalar kernel of its
// slot (ycocg_block.h, cocg_endpoint_kernels.h); the suffix names the
// instruction sets it needs, and only ycocg_vector_install.cpp takes their
// addresses, after checking the processor allows them.
//
// Where results may differ from the scalar kernels: fused multiply-adds round
// once; endpoint bytes and codes are truncate(x * n + 0.5) rather than rounded
// half away from zero; the luma thresholds multiply by the float nearest 1/14
// instead of dividing by 14; the chroma covariance and the block errors are
// summed in a different order. Each of these can, rarely, change an endpoint
// or an index where a value lies within a rounding of a boundary.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Block loaders: the same bits as the scalar loader; a black block sets the
// flag and leaves the record untouched.
void ycocg_load_block_avx(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                          uint64_t* all_black);
void ycocg_load_block_avx2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                           uint64_t* all_black);

// Quality-1 luma half from the inset range. Unlike the scalar kernel they
// leave y_min and y_max as loaded.
void ycocg_encode_y_alpha_avx(uint8_t* out8, Ycocg_Block* block);
void ycocg_encode_y_alpha_avx2_fma(uint8_t* out8, Ycocg_Block* block);

// Quality-2/3 luma half: the inset or the raw range, whichever fits better
// (the inset on a tie).
void ycocg_encode_y_alpha_hq_avx2_fma(uint8_t* out8, Ycocg_Block* block);

// Quality-1 chroma half from the scaled, inset bounding box, and its twin for
// flat chroma (one index for all 16 pixels). The box is left as loaded.
void ycocg_encode_cocg_avx(uint8_t* out8, Cocg_Block* block);
void ycocg_encode_cocg_avx2_fma(uint8_t* out8, Cocg_Block* block);
void ycocg_encode_cocg_flat_avx2_fma(uint8_t* out8, Cocg_Block* block);

// CoCg endpoint kernels of quality 2 and 3 (roles in cocg_endpoint_kernels.h).
// Template instances, so they are given as constant kernel pointers.
//
// First endpoints: s0..s2 the inset box at scale 1, 2, 4, s3..s5 the widened
// box.
extern const Cocg_Inset_Bbox_Fn inset_bbox_565_s0_avx_fma, inset_bbox_565_s1_avx_fma,
    inset_bbox_565_s2_avx_fma, inset_bbox_565_s3_avx_fma, inset_bbox_565_s4_avx_fma,
    inset_bbox_565_s5_avx_fma;

// Flat-chroma trials of quality 2 at scale 1, 2, 4: the six high endpoints
// side by side.
extern const Cocg_Endpoint_Trial_Fn cocg_endpoint_trial_s0_q2_avx2_fma,
    cocg_endpoint_trial_s1_q2_avx2_fma, cocg_endpoint_trial_s2_q2_avx2_fma;

// 2-bit indices of the 16 pixels from the best distances; the same bits as
// the scalar kernel.
void cocg_final_pack_avx2(const float* best_distances, uint32_t* index_word);

// Endpoint searches of varying chroma, members [0..2] for scale 1, 2, 4. The
// AVX ones give the scalar search's bits; the fused ones decode and place the
// palette with fused multiply-adds and sum each error in pairs (see
// cocg_neighbourhood_search.h).
extern const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q2_avx;
extern const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q3_avx;
extern const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q2_avx_fma;
extern const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q3_avx_fma;
