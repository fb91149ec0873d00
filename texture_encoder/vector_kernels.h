// The one place where vector twins replace scalar kernels. Set-up installs
// every scalar kernel first and then calls these, so that block code never
// tests the processor. Each replacement needs Simd_Flag_Enable and all of its
// own bits in the filtered mask, and only replaces a slot that the scalar
// installation filled for the chosen texture code and quality (an alpha plane
// filled by fill_opaque_plane, for a source without alpha, stays as it is).
#pragma once
#include <cstdint>

#include "texture_encoder/block_geometry.h"
#include "texture_encoder/dxt_encoder_context.h"

// Every vector twin the filtered mask allows, for the context's texture code,
// quality, pixel format and source_has_no_alpha (the family installers are in
// texture_encoder/simd/simd_install.h).
void install_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// The frame copy pair (mask already filtered for copying).
void install_vector_copy_kernels(Copy_Kernel_Pair* pair, uint32_t mask);
