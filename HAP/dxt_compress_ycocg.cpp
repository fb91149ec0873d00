// YCoCg-DXT5 block rows after the Real-Time YCoCg-DXT Compression method. The
// block steps are the texture engine's first-quality kernels (conversion,
// luma inset and thresholds, chroma box with diagonal, scale, inset and the
// branch-free index rule), called here without the engine's shortcuts for
// single-luma and flat-chroma blocks, and with the fixed black block. The
// faster paths convert the pixels with SSE4.1, one block at a time, or a pair
// at a time and then encode the pair in vector lanes too.
#include "HAP/DXT_compress.h"
#include "HAP/ycocg_vector.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/ycocg_block.h"

namespace {

// Co 16, Cg 32 (neutral) at scale 4, luma 0: black once decoded.
constexpr uint8_t black_block[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x84, 0, 0, 0, 0, 0, 0};

void encode_loaded_block(Ycocg_Block* block, bool black, uint8_t out[16]) {
  if (black) {
    std::memcpy(out, black_block, 16);
    return;
  }
  ycocg_encode_y_alpha(out, block);
  ycocg_encode_cocg(out + 8, &block->cocg);
}

}  // namespace

void encode_ycocg_dxt5_block(const uint8_t bgra[64], uint8_t out[16]) {
  Ycocg_Block block;
  uint64_t all_black = 0;
  ycocg_load_block(&block, bgra, 16, &all_black);
  encode_loaded_block(&block, false, out);
}

void compress_ycocg_dxt5_block_row(uint16_t block_row, const uint8_t* source, uint16_t width,
                                   uint16_t height, uint16_t stride, uint8_t* destination,
                                   uint8_t path, uint16_t block_stride, uint32_t layout,
                                   uint8_t orientation, uint32_t pair_mode) {
  check_block_rows(source, destination, block_row, 1, width, height, stride);
  // A narrower step would write each block's end past the next one's start
  // and the row's last block past the destination.
  if (block_stride < 16) throw std::runtime_error("encodeur ycocg : pas de bloc inferieur a 16");
  const bool top_down = orientation == 1;
  // The faster paths differ from the plain one only in how the steps are
  // run, and only where the processor has the instructions for it.
  const bool vector = path != 0 && cpu_has_sse41();
  uint8_t* out = destination + size_t(block_row) * (width / 4) * block_stride;
  uint32_t x = 0;
  if (vector && pair_mode == 2) {
    for (; x + 8 <= width; x += 8, out += 2 * size_t(block_stride)) {
      uint8_t raw[2][64];
      gather_block_pixels(source, stride, height, block_row, x, top_down, raw[0]);
      gather_block_pixels(source, stride, height, block_row, x + 4, top_down, raw[1]);
      Ycocg_Block blocks[2];
      bool black[2];
      ycocg_load_block_pair_sse41(raw, layout, blocks, black);
      uint8_t* const pair_out[2] = {out, out + block_stride};
      ycocg_encode_block_pair_sse41(blocks, pair_out);
      for (int b = 0; b < 2; ++b)
        if (black[b]) std::memcpy(pair_out[b], black_block, 16);
    }
  }
  for (; x < width; x += 4, out += block_stride) {
    uint8_t raw[64];
    gather_block_pixels(source, stride, height, block_row, x, top_down, raw);
    Ycocg_Block block;
    bool black = false;
    if (vector) {
      ycocg_load_block_sse41(raw, layout, &block, &black);
    } else {
      uint8_t bgra[64];
      for (int p = 0; p < 16; ++p) {
        const uint8_t* pixel = raw + 4 * p;
        const uint8_t converted[4] = {pixel[3], pixel[2], pixel[1], pixel[0]};
        std::memcpy(bgra + 4 * p, layout == Dxt_Layout_BGRA ? pixel : converted, 4);
      }
      uint64_t all_black = 0;
      ycocg_load_block(&block, bgra, 16, &all_black);
      black = all_black != 0;
    }
    encode_loaded_block(&block, black, out);
  }
}

namespace {

void drive_rows(uint16_t first_block_row, const uint8_t* source, uint16_t width, uint16_t height,
                uint16_t row_count, uint16_t stride, uint8_t* destination, uint8_t path,
                uint16_t block_stride, uint32_t layout, uint8_t orientation, uint32_t pair_mode) {
  check_block_rows(source, destination, first_block_row, row_count / 4u, width, height, stride);
  for (uint32_t r = first_block_row; r < first_block_row + row_count / 4u; ++r)
    compress_ycocg_dxt5_block_row(uint16_t(r), source, width, height, stride, destination, path,
                                  block_stride, layout, orientation, pair_mode);
}

}  // namespace

void compress_ycocg_dxt5_rows_argb(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint32_t pair_mode) {
  drive_rows(first_block_row, source, width, height, row_count, stride, destination, path,
             block_stride, Dxt_Layout_ARGB, 1, pair_mode);
}

void compress_ycocg_dxt5_rows_bgra(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint8_t orientation, uint32_t pair_mode) {
  drive_rows(first_block_row, source, width, height, row_count, stride, destination, path,
             block_stride, Dxt_Layout_BGRA, orientation, pair_mode);
}
