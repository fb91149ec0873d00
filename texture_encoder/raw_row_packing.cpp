#include "texture_encoder/raw_row_packing.h"

#include <algorithm>

#include "platform/parallel_for.h"
#include "platform/system_info.h"
#include "texture_encoder/slice_plan.h"

namespace {

// Repacking is memory-bound: slices smaller than 256 rows do not pay off.
constexpr uint32_t Rows_Per_Slice = 256;

uint16_t raw_thread_count(uint32_t request, uint16_t height) {
  uint32_t n = request == 0 ? std::max(1u, platform::processor_count()) : request;
  n = std::min<uint32_t>(n, Max_Slices);
  if (n < 2) return 1;
  return uint16_t(std::min(n, (uint32_t(height) + Rows_Per_Slice - 1) / Rows_Per_Slice));
}

}  // namespace

uint32_t setup_raw_convert(Raw_Convert_Context* context, uint16_t width, uint16_t height,
                           uint32_t kind, uint32_t pix_fmt, uint32_t pad_mode,
                           uint32_t thread_request) {
  *context = Raw_Convert_Context{};
  context->width = width;
  context->height = height;
  context->kind = kind;
  context->pix_fmt = pix_fmt;
  context->pad_mode = pad_mode;
  context->thread_count = raw_thread_count(thread_request, height);
  if (context->thread_count > 1) {
    plan_row_slices(height, context->thread_count, context->start_row, context->row_count);
  }

  const bool whole_blocks = width % 4 == 0 && height % 4 == 0;
  if (whole_blocks && kind == Raw_Kind_Rgb &&
      (pix_fmt == Pix_Fmt_Bgra8 || pix_fmt == Pix_Fmt_Bgra8_Bottom_Up)) {
    context->row_worker = pack_block_rows_rgb;
    return 0;
  }
  if (whole_blocks && kind == Raw_Kind_Rgba && pix_fmt == Pix_Fmt_Bgra8) {
    context->row_worker = pack_block_rows_rgba;
    return 0;
  }
  return 1;
}

void convert_raw_slice(const Raw_Convert_Context* context, uint8_t* const out_planes[4],
                       const uint8_t* const source_planes[4], const int64_t source_strides[4],
                       uint16_t rows, uint8_t out_block_bytes, uint32_t start_row,
                       uint32_t output_offset) {
  if (context->row_worker == nullptr) return;
  const uint32_t planes = context->kind == Raw_Kind_Rgba ? 4 : 3;
  uint8_t* out[4] = {};
  for (uint32_t k = 0; k < planes; ++k) out[k] = out_planes[k] + output_offset;
  const uint8_t* source = source_planes[0] + int64_t(start_row) * source_strides[0];
  const uint32_t blocks = context->width / 4u;
  for (uint32_t block_row = 0; block_row < rows / 4u; ++block_row) {
    context->row_worker(blocks, source_strides[0], source, out);
    for (uint32_t k = 0; k < planes; ++k) out[k] += blocks * out_block_bytes;
    source += 4 * source_strides[0];
  }
}

void convert_raw_frame(const Raw_Convert_Context* context, uint8_t* const out_planes[4],
                       const uint8_t* const source_planes[4], const int64_t source_strides[4]) {
  // Only BGRA8 sources are accepted: 16 source bytes across a block, one
  // byte per sample, 16 bytes a block per plane.
  constexpr uint8_t Out_Block_Bytes = 16;
  const uint32_t blocks =
      context->pad_mode == Pad_Mode_Crop ? context->width / 4u : (context->width + 3u) / 4u;
  const uint32_t block_row_bytes = blocks * Out_Block_Bytes;

  const uint8_t* planes[4] = {source_planes[0], source_planes[1], source_planes[2],
                              source_planes[3]};
  int64_t strides[4] = {source_strides[0], source_strides[1], source_strides[2], source_strides[3]};
  if (context->pix_fmt == Pix_Fmt_Bgra8_Bottom_Up && context->height > 0) {
    planes[0] += int64_t(context->height - 1) * strides[0];
    strides[0] = -strides[0];
  }

  if (context->thread_count <= 1) {
    convert_raw_slice(context, out_planes, planes, strides, context->height, Out_Block_Bytes, 0, 0);
    return;
  }
  platform::parallel_for(0, context->thread_count, [&](int64_t slice) {
    const uint16_t start = context->start_row[slice];
    convert_raw_slice(context, out_planes, planes, strides, context->row_count[slice],
                      Out_Block_Bytes, start, (start / 4u) * block_row_bytes);
  });
}
