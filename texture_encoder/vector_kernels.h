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

// Engine slots of the pixel-format, alpha and RGTC1 kernels, by the context's
// texture code, quality, pixel format and source_has_no_alpha. The YCoCg, DXT
// and cluster-fit sets replace their own slots in their installers.
void install_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask);

// The frame copy pair (mask already filtered for copying).
void install_vector_copy_kernels(Copy_Kernel_Pair* pair, uint32_t mask);
