// Vector twins of the DXT1 block kernels (quality 1 and 2). Same signatures as
// the scalar kernels of their slots; the loaders read only plane0 and stride0
// (packed BGRA, pixel formats 1 and 2). Every twin gives the scalar kernel's
// results bit for bit, except the refinement: it takes the green factor as
// frb times the single-precision 63/31 (the scalar one as (frb * 63) / 31), and
// its AVX2+FMA form rounds x * f + 0.5 in one fused step.
#pragma once
#include <cstdint>

// Planar R, G, B bytes of the block; result 1 when all 16 pixels share one
// colour (quality 1) or the largest channel range (quality 2), also returned.
uint64_t to_rgba_template_dxt_q1_avx(uint8_t* block48, const uint8_t* plane0, const uint8_t* plane1,
                                     const uint8_t* plane2, int64_t stride0, int64_t stride1,
                                     int64_t stride2, uint64_t* result);
uint64_t to_rgba_template_dxt_q2_avx(uint8_t* block48, const uint8_t* plane0, const uint8_t* plane1,
                                     const uint8_t* plane2, int64_t stride0, int64_t stride1,
                                     int64_t stride2, uint64_t* result);

// Index word of a loaded block against the four-colour palette of c0 and c1.
void dxt1_compute_indices_avx(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                              const uint8_t* expand_table);
void dxt1_compute_indices_avx2(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                               const uint8_t* expand_table);

// Endpoint estimate along the block's principal axis; channel sums at places
// 0..2 and rounded means at 4..6.
void dxt1_initial_endpoints_avx(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                uint32_t* channel_sums);
void dxt1_initial_endpoints_avx2(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                 uint32_t* channel_sums);

// Least-squares endpoints for fixed indices (not all equal).
void dxt1_refine_endpoints_avx(const uint8_t* block48, uint16_t* c0, uint16_t* c1, uint32_t indices,
                               const uint32_t* channel_sums);
void dxt1_refine_endpoints_avx2_fma(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                                    uint32_t indices, const uint32_t* channel_sums);
