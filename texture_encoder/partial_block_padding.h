// Completion of the partial 4x4 blocks at the right and bottom edges of a
// frame. The pad kernel copies the valid pixels of the block into a compact
// 4x4 block in the source's own layout and fills the missing ones by the pad
// mode, so that the block encoders can read it like any full block of the
// frame. Compact layout: plane k at k x 4 x (4 x pixel bytes), rows of 4
// pixels back to back (packed formats use plane 0 only).
//
// Mode 0 repeats the last valid pixel of each row, then the last row; mode 1
// fills opaque black (colour 0, alpha at full scale; all zeros for formats
// without alpha); mode 2 fills zeros. Source rows advance exactly as the
// block readers advance them (pix_fmt_row_step), so a partial block holds the
// same pixels that a full block at that place would.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>

#include "texture_encoder/dxt_encoder_context.h"
#include "texture_encoder/pixel_formats.h"

// The mode-1 pixel of plane k of a format, over the zeros in pixel: alpha
// byte 255 (formats 0 to 3, 10), alpha sample 65535 (4, 6, 14) or 32768 (5),
// alpha 1.0f (7); nothing for the formats without alpha.
constexpr void opaque_black_pixel(uint32_t pix_fmt, int plane, uint8_t pixel[16]) {
  switch (pix_fmt) {
    case 0: pixel[0] = 255; break;
    case 1: case 2: case 3: pixel[3] = 255; break;
    case 4: pixel[0] = pixel[1] = 255; break;
    case 5: pixel[1] = 0x80; break;
    case 6: pixel[6] = pixel[7] = 255; break;
    case 7: pixel[2] = 0x80, pixel[3] = 0x3F; break;  // 1.0f, little-endian
    case 10: if (plane == 3) pixel[0] = 255; break;
    case 14: if (plane == 3) pixel[0] = pixel[1] = 255; break;
    default: break;
  }
}

// valid_columns and valid_rows are 1..4.
template <uint32_t Fmt, uint32_t Mode>
void pad_partial_block_template(uint8_t* out, const uint8_t* const planes[4],
                                const int64_t strides[4], uint16_t valid_columns,
                                uint16_t valid_rows) {
  static_assert(Fmt <= 15 && Mode <= Pad_Mode_Zero);
  constexpr int Pixel_Bytes = pix_fmt_pixel_bytes(Fmt);
  constexpr int Row_Bytes = 4 * Pixel_Bytes;
  for (int k = 0; k < pix_fmt_plane_count(Fmt); ++k) {
    uint8_t* block = out + k * 4 * Row_Bytes;
    uint8_t pad_pixel[16] = {};
    if (Mode == Pad_Mode_Black) opaque_black_pixel(Fmt, k, pad_pixel);
    const uint8_t* source = planes[k];
    const int64_t step = pix_fmt_row_step(Fmt, strides[k]);
    for (int row = 0; row < valid_rows; ++row, source += step) {
      uint8_t* line = block + row * Row_Bytes;
      std::memcpy(line, source, size_t(valid_columns) * Pixel_Bytes);
      if (Mode == Pad_Mode_Edge) {
        std::memcpy(pad_pixel, source + (valid_columns - 1) * Pixel_Bytes, Pixel_Bytes);
      }
      for (int column = valid_columns; column < 4; ++column) {
        std::memcpy(line + column * Pixel_Bytes, pad_pixel, Pixel_Bytes);
      }
    }
    for (int row = valid_rows; row < 4; ++row) {
      uint8_t* line = block + row * Row_Bytes;
      if (Mode == Pad_Mode_Edge) {
        std::memcpy(line, line - Row_Bytes, Row_Bytes);
      } else {
        for (int column = 0; column < 4; ++column) {
          std::memcpy(line + column * Pixel_Bytes, pad_pixel, Pixel_Bytes);
        }
      }
    }
  }
}

// Any format and mode: pad modes 0 and 3 repeat the edge (as set-up installs
// them), 1 fills opaque black, any other value zeros. A format above 15 prints
// "ERROR : pad_partial_block : pix fmt non gerer 1 : %d\n" in mode 1, then in
// every mode "ERROR : pad_partial_block : pix fmt non gerer 2 : %d\n", and
// writes nothing.
void pad_partial_block(uint8_t* out, const uint8_t* const planes[4], const int64_t strides[4],
                       uint16_t valid_columns, uint16_t valid_rows, uint32_t pix_fmt,
                       uint32_t pad_mode);

// The three instances of a format, by mode (0, 1, 2).
template <uint32_t Fmt>
inline constexpr std::array<Pad_Kernel_Fn, 3> pad_partial_block_modes = {
    pad_partial_block_template<Fmt, 0>, pad_partial_block_template<Fmt, 1>,
    pad_partial_block_template<Fmt, 2>};

// The instances set-up installs (formats 1 and 2).
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode0 = pad_partial_block_template<1, 0>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode1 = pad_partial_block_template<1, 1>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt1_mode2 = pad_partial_block_template<1, 2>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode0 = pad_partial_block_template<2, 0>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode1 = pad_partial_block_template<2, 1>;
inline constexpr Pad_Kernel_Fn pad_partial_block_fmt2_mode2 = pad_partial_block_template<2, 2>;
// Those of planar RGB8 and planar RGB16, which nothing installs.
inline constexpr const auto& pad_partial_block_fmt11 = pad_partial_block_modes<11>;
inline constexpr const auto& pad_partial_block_fmt15 = pad_partial_block_modes<15>;
