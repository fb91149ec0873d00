// Installers of the kernel sets that live with their own kernels. Set-up calls
// each one for its texture codes; each fills the slots of its set (worker
// included) for the given quality, pixel format (1 or 2) and filtered
// Simd_Flags mask, and returns 0, or prints one line and returns 1.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Texture codes 4 and 5: the YCoCg-DXT5 worker and its kernels.
// Unknown quality: "DxtEnc DXT5 ycocg unknown quality : %d\n".
uint32_t install_ycocg_set(Dxt_Encoder_Context* context, uint32_t pix_fmt, uint32_t mask,
                           uint8_t quality);

// Texture codes 0 and 1: the DXT1 / DXT5 worker, the DXT1 block kernels at
// quality 1 and 2 and the cluster-fit set at quality 2 and 3.
// Unknown quality: "DxtEnc DXT1 Qualite inconnu : %d\n" (code 0) or
// "DxtEnc DXT5 Qualite inconnu : %d\n" (code 1).
uint32_t install_dxt_set(Dxt_Encoder_Context* context, uint32_t texture_code, uint8_t quality,
                         uint32_t pix_fmt, uint32_t mask);

// Texture code 6: the BC7 worker only (set-up installs the row converter and
// builds the BC7 tables). Unknown quality: "BC7 invalid quality : %d\n".
uint32_t install_bc7_workers(Dxt_Encoder_Context* context, uint8_t quality);
