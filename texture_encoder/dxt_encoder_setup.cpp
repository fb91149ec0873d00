// Fills a Dxt_Encoder_Context: slice plan, then every kernel slot by texture
// code, quality, pixel format and processor, so that block code never tests
// any of them again.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/system_info.h"
#include "src/bc7_encoder.h"
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/partial_block_padding.h"
#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/slice_plan.h"
#include "texture_encoder/vector_kernels.h"

namespace {

uint32_t install_pad_kernel(Dxt_Encoder_Context* context, uint32_t pix_fmt, uint32_t pad_mode) {
  static constexpr Pad_Kernel_Fn by_format[2][3] = {
      {pad_partial_block_fmt1_mode0, pad_partial_block_fmt1_mode1, pad_partial_block_fmt1_mode2},
      {pad_partial_block_fmt2_mode0, pad_partial_block_fmt2_mode1, pad_partial_block_fmt2_mode2},
  };
  if (pix_fmt != Pix_Fmt_Bgra8 && pix_fmt != Pix_Fmt_Bgra8_Bottom_Up) {
    std::printf("Pad invalid pix fmt : %d\n", int(pix_fmt));
    return 1;
  }
  const uint32_t mode = pad_mode == Pad_Mode_Crop ? uint32_t(Pad_Mode_Edge)
                                                  : std::min<uint32_t>(pad_mode, Pad_Mode_Zero);
  context->head.pad_kernel = by_format[pix_fmt - 1][mode];
  return 0;
}

void install_alpha_plane(Dxt_Encoder_Context* context, uint32_t pix_fmt) {
  if (context->source_has_no_alpha == 1 || pix_fmt_has_no_alpha(pix_fmt)) {
    context->head.extract_plane_alpha = fill_opaque_plane;
  } else {
    context->head.extract_plane_alpha =
        pix_fmt == Pix_Fmt_Bgra8 ? to_alpha_template_alpha_fmt1 : to_alpha_template_alpha_fmt2;
  }
}

void install_bc7_row_converter(Dxt_Encoder_Context* context, uint32_t pix_fmt) {
  const bool opaque = context->source_has_no_alpha != 0;
  if (pix_fmt == Pix_Fmt_Bgra8) {
    context->head.bc7_row_converter =
        opaque ? to_rgba_template_bc7_fmt1_noalpha : to_rgba_template_bc7_fmt1;
  } else {
    context->head.bc7_row_converter =
        opaque ? to_rgba_template_bc7_fmt2_noalpha : to_rgba_template_bc7_fmt2;
  }
}

// Every slot for the stored texture code, quality and pixel format; the
// scalar kernels first, then their vector twins. 0, or 1 after one line.
uint32_t install_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  const uint32_t texture_code = context->texture_code;
  const uint32_t pix_fmt = context->pix_fmt;
  const uint8_t quality = context->quality;
  const bool dxt = texture_code == Texture_Code_Dxt1 || texture_code == Texture_Code_Dxt5;
  if (dxt && quality >= 3) mask &= ~uint32_t(Simd_Flag_Avx2);

  if (install_pad_kernel(context, pix_fmt, context->pad_mode) != 0) return 1;
  if (texture_code > Texture_Code_Bc7) {
    std::printf("ERROR : DxtEnc unknown texture code : %u\n", texture_code);
    return 1;
  }

  if (texture_code == Texture_Code_Ycocg_Dxt5 || texture_code == Texture_Code_Ycocg_Dxt5_Rgtc1) {
    if (install_ycocg_set(context, pix_fmt, mask, quality) != 0) return 1;
  }
  if (dxt) {
    if (install_dxt_set(context, texture_code, quality, pix_fmt, mask) != 0) return 1;
  }

  const bool alpha_plane = texture_code == Texture_Code_Dxt5 ||
                           texture_code == Texture_Code_Rgtc1_Alpha ||
                           texture_code == Texture_Code_Ycocg_Dxt5_Rgtc1;
  if (alpha_plane) install_alpha_plane(context, pix_fmt);

  if (texture_code == Texture_Code_Rgtc1_Luma) {
    context->slice_worker = encode_slice_rgtc1_luma;
    context->head.extract_plane_luma =
        pix_fmt == Pix_Fmt_Bgra8 ? to_alpha_template_luma_fmt1 : to_alpha_template_luma_fmt2;
  } else if (texture_code == Texture_Code_Rgtc1_Alpha) {
    context->slice_worker = encode_slice_rgtc1;
  } else if (texture_code == Texture_Code_Ycocg_Dxt5_Rgtc1) {
    context->slice_worker_second = encode_slice_rgtc1;
  }
  if (alpha_plane || texture_code == Texture_Code_Rgtc1_Luma) {
    context->head.rgtc1_block_min_max = rgtc1_block_min_max;
    context->head.rgtc1_fit_indices = rgtc1_fit_indices;
  }

  if (texture_code == Texture_Code_Bc7) {
    install_bc7_row_converter(context, pix_fmt);
    if (install_bc7_workers(context, quality) != 0) return 1;
    // Encoders are opened on several threads at once; the tables are the same
    // for all of them, so they are built by the first BC7 set-up only.
    static std::once_flag bc7_tables_built;
    std::call_once(bc7_tables_built, bc7_init_tables);
  }

  install_vector_kernels(context, mask);
  return 0;
}

}  // namespace

void set_thread_count(Dxt_Encoder_Context* context, uint32_t request) {
  uint32_t n = request;
  if (n == 0) n = std::max(1u, platform::processor_count());
  if (n >= 65) {
    n = Max_Slices;
  } else if (n < 2) {
    context->thread_count = 1;
    return;
  }
  const uint32_t needed = (uint32_t(context->height) + 31) / 32;
  context->thread_count = uint16_t(std::min(needed, n));
}

uint32_t setup_dxt_encoder(Dxt_Encoder_Context* context, uint16_t width, uint16_t height,
                           uint32_t texture_code, uint8_t quality, uint8_t reserved_flag,
                           uint32_t pix_fmt, uint32_t pad_mode, uint32_t thread_request,
                           uint32_t mask) {
  // Start from empty slots so that nothing left over from the owner's memory
  // can be called; the caller's source_has_no_alpha is the one input kept.
  const uint8_t source_has_no_alpha = context->source_has_no_alpha;
  *context = Dxt_Encoder_Context{};
  context->source_has_no_alpha = source_has_no_alpha;

  context->quality = quality;
  context->reserved_flag = reserved_flag;
  context->texture_code = texture_code;
  context->pix_fmt = pix_fmt;
  context->width = width;
  context->height = height;
  context->pad_mode = pad_mode;

  mask = detect_simd_features(mask);
  set_thread_count(context, thread_request);
  if (context->thread_count > 1) {
    plan_row_slices(height, context->thread_count, context->slice_start_rows,
                    context->slice_row_counts);
  }

  if (install_kernels(context, mask) != 0) {
    // Whatever the installers filled before the failure stays, but a refused
    // context has no worker, so the frame driver encodes nothing with it.
    context->slice_worker = nullptr;
    context->slice_worker_second = nullptr;
    return 1;
  }
  return 0;
}
