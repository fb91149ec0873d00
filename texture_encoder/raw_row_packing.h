// Block-planar repacking of a BGRA8 frame: one output plane per channel in
// which the 16 samples of every 4x4 block lie together (raster order inside
// the block), blocks in raster order. Kind 4 writes R, G, B planes, kind 5
// also A. Slices of block rows run in parallel like the texture encoder's.
#pragma once
#include <cstdint>

#include "texture_encoder/dxt_encoder_context.h"

// Packs `blocks` blocks of one block row: the four source rows start at
// source_row, stride bytes apart; each output plane receives blocks x 16 bytes.
using Pack_Block_Rows_Fn = void (*)(uint32_t blocks, int64_t source_stride,
                                    const uint8_t* source_row, uint8_t* const out_planes[4]);

struct Raw_Convert_Context {
  Pack_Block_Rows_Fn row_worker;  // empty when set-up refused the request
  uint16_t thread_count;
  uint16_t width;
  uint16_t height;
  uint32_t kind;
  uint32_t pix_fmt;
  uint32_t pad_mode;
  uint16_t start_row[Max_Slices];
  uint16_t row_count[Max_Slices];
};

enum Raw_Kind : uint32_t {
  Raw_Kind_Rgb = 4,
  Raw_Kind_Rgba = 5,
};

// Stores the settings and the slice plan (one slice per 256 rows at most; a
// request of 0 means the processor count), then installs the row worker:
// both sizes must be multiples of 4; kind 4 takes pix fmt 1 or 2, kind 5 pix
// fmt 1. Returns 1 when refused, else 0.
uint32_t setup_raw_convert(Raw_Convert_Context* context, uint16_t width, uint16_t height,
                           uint32_t kind, uint32_t pix_fmt, uint32_t pad_mode,
                           uint32_t thread_request);

// Converts the whole frame into out_planes (R, G, B and, for kind 5, A). A
// context whose set-up was refused writes nothing.
void convert_raw_frame(const Raw_Convert_Context* context, uint8_t* const out_planes[4],
                       const uint8_t* const source_planes[4], const int64_t source_strides[4]);

// Rows start_row .. start_row + rows - 1, written from output_offset on.
void convert_raw_slice(const Raw_Convert_Context* context, uint8_t* const out_planes[4],
                       const uint8_t* const source_planes[4], const int64_t source_strides[4],
                       uint16_t rows, uint8_t out_block_bytes, uint32_t start_row,
                       uint32_t output_offset);

// The installed row workers (BGRA8 sources).
template <bool With_Alpha>
void pack_block_rows(uint32_t blocks, int64_t source_stride, const uint8_t* source_row,
                     uint8_t* const out_planes[4]) {
  for (uint32_t b = 0; b < blocks; ++b) {
    for (int r = 0; r < 4; ++r) {
      const uint8_t* pixel = source_row + r * source_stride + 16 * b;
      for (int x = 0; x < 4; ++x, pixel += 4) {
        const uint32_t at = 16 * b + 4 * r + x;
        out_planes[0][at] = pixel[2];
        out_planes[1][at] = pixel[1];
        out_planes[2][at] = pixel[0];
        if (With_Alpha) out_planes[3][at] = pixel[3];
      }
    }
  }
}

inline constexpr Pack_Block_Rows_Fn pack_block_rows_rgb = pack_block_rows<false>;
inline constexpr Pack_Block_Rows_Fn pack_block_rows_rgba = pack_block_rows<true>;
