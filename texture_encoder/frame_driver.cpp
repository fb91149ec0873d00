#include "texture_encoder/frame_driver.h"

#include "platform/parallel_for.h"
#include "texture_encoder/block_geometry.h"

namespace {

// Bytes one block advances along a row of a plane.
uint16_t block_step_of(uint32_t pix_fmt) {
  if (pix_fmt <= 3) return 16;
  if (pix_fmt <= 6) return 32;
  if (pix_fmt == 7) return 64;
  if (pix_fmt <= 9) return 12;
  if (pix_fmt <= 11) return 4;
  if (pix_fmt <= 15) return 8;
  return 16;
}

// What every slice of one frame shares.
struct Frame_Values {
  const Dxt_Encoder_Context* context;
  uint8_t* output;
  uint8_t* second_base;
  const uint8_t* planes[4];
  int64_t strides[4];
  uint16_t block_step;
  uint8_t bytes_per_block;
  uint32_t row_pitch;
  uint32_t second_row_pitch;
};

// Both textures of `rows` pixel rows from start.
void encode_rows(const Frame_Values& frame, uint16_t start, uint16_t rows) {
  const Dxt_Encoder_Context* context = frame.context;
  encode_frame_slice(context, frame.output, frame.planes, frame.strides, rows, frame.block_step,
                     frame.bytes_per_block, start, uint64_t(start / 4u) * frame.row_pitch, 0);
  if (context->texture_code == Texture_Code_Ycocg_Dxt5_Rgtc1) {
    encode_frame_slice(context, frame.second_base, frame.planes, frame.strides, rows,
                       frame.block_step, 8, start,
                       uint64_t(start / 4u) * frame.second_row_pitch, 1);
  }
}

void encode_frame_slice_task(const Frame_Values& frame, int64_t slice) {
  encode_rows(frame, frame.context->slice_start_rows[slice],
              frame.context->slice_row_counts[slice]);
}

void advance(const uint8_t* pointers[4], const int64_t steps[4]) {
  for (int k = 0; k < 4; ++k) {
    if (pointers[k] != nullptr) pointers[k] += steps[k];
  }
}

}  // namespace

void encode_frame_slice(const Dxt_Encoder_Context* context, uint8_t* output_base,
                        const uint8_t* const planes[4], const int64_t strides[4], uint16_t rows,
                        uint16_t block_step, uint8_t bytes_per_block, uint32_t start_row,
                        uint64_t output_offset, uint32_t second_texture) {
  const Slice_Worker_Fn worker =
      second_texture ? context->slice_worker_second : context->slice_worker;
  const Pad_Kernel_Fn pad_kernel = context->head.pad_kernel;
  if (worker == nullptr || pad_kernel == nullptr) return;

  uint8_t* out = output_base + output_offset;
  const uint8_t* slice_rows[4];
  int64_t row_step[4], block_advance[4];
  for (int k = 0; k < 4; ++k) {
    slice_rows[k] = planes[k] == nullptr ? nullptr : planes[k] + int64_t(start_row) * strides[k];
    row_step[k] = 4 * strides[k];
    block_advance[k] = block_step;
  }

  // One 4x4 block in the source's layout: plane k at k * 4 * block step.
  alignas(32) uint8_t pad_block[4 * 4 * 64];
  const uint8_t* pad_planes[4];
  int64_t pad_strides[4];
  for (int k = 0; k < 4; ++k) {
    pad_planes[k] = pad_block + k * 4 * block_step;
    pad_strides[k] = block_step;
  }

  const bool crop = context->pad_mode == Pad_Mode_Crop;
  const uint16_t full_columns = context->width / 4;
  const uint16_t leftover_columns = context->width % 4;
  const uint16_t full_rows = rows / 4;
  const uint16_t leftover_rows = rows % 4;

  auto encode_row = [&](const uint8_t* current[4], uint16_t valid_rows) {
    for (uint16_t column = 0; column < full_columns; ++column) {
      if (valid_rows == 4) {
        worker(context->head, out, current, strides);
      } else {
        pad_kernel(pad_block, current, strides, 4, valid_rows);
        worker(context->head, out, pad_planes, pad_strides);
      }
      out += bytes_per_block;
      advance(current, block_advance);
    }
    if (leftover_columns != 0 && !crop) {
      pad_kernel(pad_block, current, strides, leftover_columns, valid_rows);
      worker(context->head, out, pad_planes, pad_strides);
      out += bytes_per_block;
    }
  };

  const uint8_t* current[4];
  for (uint16_t block_row = 0; block_row < full_rows; ++block_row) {
    for (int k = 0; k < 4; ++k) current[k] = slice_rows[k];
    encode_row(current, 4);
    advance(slice_rows, row_step);
  }
  if (leftover_rows != 0 && !crop) {
    for (int k = 0; k < 4; ++k) current[k] = slice_rows[k];
    encode_row(current, leftover_rows);
  }
}

void encode_dxt_frame(const Dxt_Encoder_Context* context, uint8_t* output,
                      const uint8_t* const planes[4], const int64_t strides[4]) {
  const uint32_t code = context->texture_code;
  const bool two_textures = code == Texture_Code_Ycocg_Dxt5_Rgtc1;
  const uint16_t across = dxt_block_count(context->width, context->pad_mode);
  const uint16_t down = dxt_block_count(context->height, context->pad_mode);

  Frame_Values frame{};
  frame.context = context;
  frame.output = output;
  frame.block_step = block_step_of(context->pix_fmt);
  frame.bytes_per_block = uint8_t(two_textures ? 16 : dxt_block_bytes(code));
  frame.row_pitch = uint32_t(frame.bytes_per_block) * across;
  frame.second_row_pitch = two_textures ? 8u * across : 0u;
  frame.second_base = output + uint64_t(across) * down * 16u;
  for (int k = 0; k < 4; ++k) {
    frame.planes[k] = planes[k];
    frame.strides[k] = strides[k];
  }
  // Bottom-up rows are read from the top of the picture down.
  if (context->pix_fmt == Pix_Fmt_Bgra8_Bottom_Up && context->height > 0) {
    frame.planes[0] = planes[0] + int64_t(context->height - 1) * strides[0];
    frame.strides[0] = -strides[0];
  }

  if (context->thread_count <= 1) {
    encode_rows(frame, 0, context->height);
    return;
  }
  platform::parallel_for(0, context->thread_count,
                         [&frame](int64_t slice) { encode_frame_slice_task(frame, slice); });
}
