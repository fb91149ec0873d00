// Installers of the vector twins, one per kernel family. install_vector_kernels
// calls them in this order after every scalar kernel is in place; each one
// replaces only slots its family owns, only with kernels whose instruction-set
// bits (plus Simd_Flag_Enable) are all in the filtered mask, and only where the
// scalar installation filled the slot for the context's texture code and
// quality. A later (higher) level overwrites an earlier one.
#pragma once
#include <cstdint>

#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"

// Alpha/luma plane extraction, RGTC1, DXT1 block kernels, cluster set-up
// (gather, principal axis, projection, pack from float).
void install_block_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// YCoCg-DXT5: block loader, quality-1 encoders, quality-2/3 CoCg set.
void install_ycocg_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// Cluster fit stages A, B, C and F and the whole count-16 set.
void install_cluster_fit_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// Cluster fit stages D and E, and stage F of counts 2 and 3.
void install_cluster_sweep_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// The streaming copy pair (mask already filtered for copying).
void install_copy_vector_kernels(Copy_Kernel_Pair* pair, uint32_t mask);
