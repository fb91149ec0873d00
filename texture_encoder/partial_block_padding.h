// Completion of the partial 4x4 blocks at the right and bottom edges of a
// frame. The pad kernel copies the valid pixels of the block into a compact
// 4x4 block in the source's own layout (rows of 4 pixels back to back) and
// fills the missing ones by the pad mode, so that the block encoders can read
// it like any full block of the frame.
#pragma once
#include <cstdint>
#include <cstring>

#include "texture_encoder/dxt_encoder_context.h"

// Packed BGRA8 (formats 1 and 2; format 2 arrives with a negative stride).
// Mode 0 repeats the last valid pixel of each row and then the last row; mode 1
// fills opaque black (B, G, R, A = 0, 0, 0, 255); mode 2 fills zeros.
// valid_columns and valid_rows are 1..4.
template <uint32_t Fmt, uint32_t Mode>
void pad_partial_block(uint8_t* out, const uint8_t* const planes[4], const int64_t strides[4],
                       uint16_t valid_columns, uint16_t valid_rows) {
  static_assert(Fmt == Pix_Fmt_Bgra8 || Fmt == Pix_Fmt_Bgra8_Bottom_Up);
  static_assert(Mode <= Pad_Mode_Zero);
  constexpr int Pixel_Bytes = 4;
  constexpr int Row_Bytes = 4 * Pixel_Bytes;
  uint8_t pad_pixel[Pixel_Bytes] = {0, 0, 0, uint8_t(Mode == Pad_Mode_Black ? 255 : 0)};
  const uint8_t* source = planes[0];
  const int64_t step = strides[0] / Pixel_Bytes * Pixel_Bytes;
  for (int row = 0; row < valid_rows; ++row, source += step) {
    uint8_t* line = out + row * Row_Bytes;
    std::memcpy(line, source, size_t(valid_columns) * Pixel_Bytes);
    if (Mode == Pad_Mode_Edge) {
      std::memcpy(pad_pixel, source + (valid_columns - 1) * Pixel_Bytes, Pixel_Bytes);
    }
    for (int column = valid_columns; column < 4; ++column) {
      std::memcpy(line + column * Pixel_Bytes, pad_pixel, Pixel_Bytes);
    }
  }
  for (int row = valid_rows; row < 4; ++row) {
    uint8_t* line = out + row * Row_Bytes;
    if (Mode == Pad_Mode_Edge) {
      std::memcpy(line, line - Row_Bytes, Row_Bytes);
    } else {
      for (int column = 0; column < 4; ++column) {
        std::memcpy(line + column * Pixel_Bytes, pad_pixel, Pixel_Bytes);
      }
    }
  }
}

inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode0 = pad_partial_block<1, 0>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode1 = pad_partial_block<1, 1>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode2 = pad_partial_block<1, 2>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode0 = pad_partial_block<2, 0>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode1 = pad_partial_block<2, 1>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode2 = pad_partial_block<2, 2>;
