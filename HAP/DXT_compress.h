// Self-contained scalar block-row encoders for whole frames held in memory:
// DXT1 and DXT5 over libsquish's colour fits and DXT5 alpha compressor, RGTC1
// with a fast min/max encoder, an alpha block encoder that keeps 0 and 255
// exact, and YCoCg-DXT5. They are independent of the texture engine.
//
// Common conventions of the row drivers: the source is rows of 4-byte pixels,
// stride bytes apart; block rows first_block_row to first_block_row +
// row_count / 4 - 1 are encoded (none when row_count is below 4); block (r, c)
// is written at (r * width / 4 + c) * block size bytes from the destination's
// start, whatever the first block row. The height bounds the block rows in
// either orientation: the source holds height rows, and block rows reaching
// past them are refused. Every driver refuses with a runtime error
// (check_block_rows) what it can see is wrong: a null source or destination,
// a width that is not a multiple of 4, a stride shorter than a row of width
// pixels, block rows past the height. An orientation of 1 means top-down
// (stored row 0 is the picture's top), any other value bottom-up. Calls on
// disjoint block rows may run concurrently.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

// Refuses block rows that would be read or written outside the caller's
// buffers: a null source or destination, a width that is not a multiple of 4
// (the last block would reach into the next row, and the destination rows
// would overlap), rows shorter than width pixels, and block rows reaching past
// the height, from the top (top-down) or below stored row 0 (bottom-up); with
// the height at most 65535 no block row number wraps either. Nothing is read
// when there are no block rows.
inline void check_block_rows(const uint8_t* source, const uint8_t* destination,
                             uint32_t first_block_row, uint32_t block_rows, uint16_t width,
                             uint16_t height, uint16_t stride) {
  if (block_rows == 0) return;
  if (!source || !destination)
    throw std::runtime_error("encodeur dxt : source ou destination nulle");
  if (width % 4 != 0) throw std::runtime_error("encodeur dxt : largeur non multiple de 4");
  if (uint32_t(stride) < uint32_t(width) * 4)
    throw std::runtime_error("encodeur dxt : stride inferieur a une ligne de pixels");
  if ((first_block_row + block_rows) * 4 > height)
    throw std::runtime_error("encodeur dxt : lignes source hors de l'image");
}

// The 16 raw 4-byte pixels of the block at column x of block row r, top row
// of the block first (bottom-up sources are read from row height - 1 - 4r
// down). Shared by the row functions of every encoder below.
inline void gather_block_pixels(const uint8_t* source, uint16_t stride, uint16_t height,
                                uint32_t block_row, uint32_t x, bool top_down, uint8_t out[64]) {
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t row = top_down ? block_row * 4 + i : height - 1 - block_row * 4 - i;
    std::memcpy(out + 16 * i, source + size_t(row) * stride + size_t(x) * 4, 16);
  }
}

// ---- DXT1 / DXT5 over libsquish ----

// Colour fit of the DXT1 / DXT5 encoders: 0 range fit, 1 cluster fit with one
// iteration, any other value cluster fit with eight iterations.
using Dxt_Fit_Mode = uint8_t;

// Pixel layouts of the generic block-row function.
enum Dxt_Pixel_Layout : uint32_t { Dxt_Layout_ARGB = 1, Dxt_Layout_BGRA = 2 };

// The distinct colours of one block. Two pixels are one point when their four
// gathered bytes R, G, B, A are equal (A is 0 for DXT1, so only the colour
// counts there). Points are in order of first appearance; weight = the square
// root of the point's pixel count.
struct Colour_Set {
  uint32_t count = 0;
  float points[16][3] = {};  // R, G, B in [0, 1]
  float weights[16] = {};
  uint8_t remap[16] = {};    // per pixel, its point
};
// rgba: 16 pixels of R, G, B, A bytes, row-major within the block.
void build_colour_set(const uint8_t rgba[64], Colour_Set* set);

// Encodes one gathered block (R, G, B, A bytes) to 8 bytes of DXT1
// (colour_only) or 16 bytes of DXT5 (alpha half, then colour half). Colour
// halves are always four-colour blocks with colour0 >= colour1.
void compress_dxt_block(const uint8_t rgba[64], uint8_t* out, Dxt_Fit_Mode fit_mode,
                        bool colour_only);

// One block row r of either layout and orientation; rows past the height
// are refused. colour_only 1 writes DXT1, 0 DXT5.
void compress_dxt_block_row(uint16_t block_row, const uint8_t* source, uint16_t width,
                            uint16_t height, uint16_t stride, uint8_t* destination,
                            Dxt_Fit_Mode fit_mode, uint32_t layout, uint8_t orientation,
                            uint8_t colour_only);

// Row drivers. A, R, G, B sources are top-down, their rows bounded by the
// height as well. The twin flag is accepted for callers of the two-member
// interface and does not change the output.
void compress_dxt1_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t twin, Dxt_Fit_Mode fit_mode);
void compress_dxt5_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t twin, Dxt_Fit_Mode fit_mode);
void compress_dxt1_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t twin, Dxt_Fit_Mode fit_mode,
                             uint8_t orientation);
void compress_dxt5_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t twin, Dxt_Fit_Mode fit_mode,
                             uint8_t orientation);

// ---- RGTC1 ----

// Alpha of each pixel (first byte of A, R, G, B pixels, last of B, G, R, A)
// to 8-byte RGTC1 blocks with compress_alpha_block_fast. A nonzero vector
// flag takes its SSE4.1 twin when the processor has SSE4.1 (same bytes). The
// A, R, G, B driver reads its rows top-down; the height bounds them there too.
void compress_rgtc1_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                              uint16_t height, uint16_t row_count, uint16_t stride,
                              uint8_t* destination, uint8_t vector);
void compress_rgtc1_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                              uint16_t height, uint16_t row_count, uint16_t stride,
                              uint8_t* destination, uint8_t vector, uint8_t orientation);

// Min/max encoder: luma0 = the largest value, luma1 = the smallest, indices in
// the RGTC1 order (pixel 0 in the low bits of byte 2).
void compress_alpha_block_fast(const uint8_t values[16], uint8_t out[8]);

// SSE4.1 twin of compress_alpha_block_fast on a gathered block: the value of
// pixel i is pixels[4 i + value_byte]. Only for processors with SSE4.1
// (cpu_has_sse41).
void compress_rgtc1_block_sse41(const uint8_t pixels[64], int value_byte, uint8_t out[8]);

// Encoder that keeps 0 and 255 exact where the block holds them. Its indices
// are packed most significant first (pixel 0 in the top three bits of byte 2,
// bytes 2 to 7 from the 48-bit value's top byte down): a reader expecting the
// RGTC1 order must reorder them.
void compress_alpha_block_exact(const uint8_t values[16], uint8_t out[8]);

// Building blocks of the exact encoder.
// Eight-value palette, luma0 > luma1: luma0, luma1, then six interpolations.
void build_alpha_palette_8(uint8_t luma0, uint8_t luma1, uint8_t palette[8]);
// Six-value palette, luma0 <= luma1: luma0, luma1, four interpolations, 0, 255.
void build_alpha_palette_6(uint8_t luma0, uint8_t luma1, uint8_t palette[8]);
// Nearest entry per value (lowest index on ties); returns the summed error.
uint16_t match_alpha_palette(const uint8_t values[16], const uint8_t palette[8],
                             uint8_t indices[16]);
// Writes luma0, luma1 and the indices most significant first.
void pack_alpha_block_msb(uint8_t luma0, uint8_t luma1, const uint8_t indices[16], uint8_t out[8]);

// SSE4.1 twins of the exact encoder and its building blocks, giving the same
// results. Only for processors with SSE4.1 (cpu_has_sse41).
void compress_alpha_block_exact_sse41(const uint8_t values[16], uint8_t out[8]);
void build_alpha_palette_8_sse41(uint8_t luma0, uint8_t luma1, uint8_t palette[8]);
void build_alpha_palette_6_sse41(uint8_t luma0, uint8_t luma1, uint8_t palette[8]);
uint16_t match_alpha_palette_sse41(const uint8_t values[16], const uint8_t palette[8],
                                   uint8_t indices[16]);
void pack_alpha_block_msb_sse41(uint8_t luma0, uint8_t luma1, const uint8_t indices[16],
                                uint8_t out[8]);

// ---- YCoCg-DXT5 ----

// Encodes one block of 16 B, G, R, A pixels (row-major, alpha not read) to
// 16 bytes: Y in the alpha half, Co and Cg in a four-colour block whose blue
// field carries the chroma scale - 1. An all-black block is not special here
// (the row function writes the fixed black block for it).
void encode_ycocg_dxt5_block(const uint8_t bgra[64], uint8_t out[16]);

// One block row; all-black blocks get the fixed block (colour0 0x8403). The
// path flag and pair mode pick how the blocks are converted and encoded:
// path 0 the scalar steps; path 1, on processors with SSE4.1, the vector
// conversion a block at a time, or with pair mode 2 the two blocks of each
// pair converted and encoded together in vector lanes.
// The bytes written do not depend on them. A block_stride below 16 is
// refused (runtime error).
void compress_ycocg_dxt5_block_row(uint16_t block_row, const uint8_t* source, uint16_t width,
                                   uint16_t height, uint16_t stride, uint8_t* destination,
                                   uint8_t path, uint16_t block_stride, uint32_t layout,
                                   uint8_t orientation, uint32_t pair_mode);
// Row drivers: A, R, G, B top-down, and B, G, R, A in either orientation; the
// height bounds the rows in both.
void compress_ycocg_dxt5_rows_argb(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint32_t pair_mode);
void compress_ycocg_dxt5_rows_bgra(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint8_t orientation, uint32_t pair_mode);
