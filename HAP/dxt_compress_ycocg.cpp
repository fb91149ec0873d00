// YCoCg-DXT5 block rows after the Real-Time YCoCg-DXT Compression method. The
// block steps are the texture engine's first-quality kernels (conversion,
// luma inset and thresholds, chroma box with diagonal, scale, inset and the
// branch-free index rule), called here without the engine's shortcuts for
// single-luma and flat-chroma blocks, and with the fixed black block.
#include "HAP/DXT_compress.h"
#include "texture_encoder/ycocg_block.h"

void encode_ycocg_dxt5_block(const uint8_t bgra[64], uint8_t out[16]) {
  Ycocg_Block block;
  uint64_t all_black = 0;
  ycocg_load_block(&block, bgra, 16, &all_black);
  ycocg_encode_y_alpha(out, &block);
  ycocg_encode_cocg(out + 8, &block.cocg);
}

void compress_ycocg_dxt5_block_row(uint16_t block_row, const uint8_t* source, uint16_t width,
                                   uint16_t height, uint16_t stride, uint8_t* destination,
                                   uint8_t, uint16_t block_stride, uint32_t layout,
                                   uint8_t orientation, uint32_t) {
  // Co 16, Cg 32 (neutral) at scale 4, luma 0: black once decoded.
  check_block_rows(block_row, 1, width, height, stride, orientation == 1);
  // A narrower step would write each block's end past the next one's start
  // and the row's last block past the destination.
  if (block_stride < 16) throw std::runtime_error("encodeur ycocg : pas de bloc inferieur a 16");
  static constexpr uint8_t black_block[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x84, 0, 0, 0, 0, 0, 0};
  uint8_t* out = destination + size_t(block_row) * (width / 4) * block_stride;
  for (uint32_t x = 0; x < width; x += 4, out += block_stride) {
    uint8_t raw[64], bgra[64];
    gather_block_pixels(source, stride, height, block_row, x, orientation == 1, raw);
    bool black = true;
    for (int p = 0; p < 16; ++p) {
      const uint8_t* pixel = raw + 4 * p;
      const uint8_t converted[4] = {pixel[3], pixel[2], pixel[1], pixel[0]};
      std::memcpy(bgra + 4 * p, layout == Dxt_Layout_BGRA ? pixel : converted, 4);
      black = black && (bgra[4 * p] | bgra[4 * p + 1] | bgra[4 * p + 2]) == 0;
    }
    if (black)
      std::memcpy(out, black_block, 16);
    else
      encode_ycocg_dxt5_block(bgra, out);
  }
}

void compress_ycocg_dxt5_rows_argb(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint32_t pair_mode) {
  for (uint32_t r = first_block_row; r < first_block_row + row_count / 4u; ++r)
    compress_ycocg_dxt5_block_row(uint16_t(r), source, width, height, stride, destination, path,
                                  block_stride, Dxt_Layout_ARGB, 1,
                                  path && pair_mode == 2 ? 2 : 0);
}

void compress_ycocg_dxt5_rows_bgra(uint16_t first_block_row, const uint8_t* source,
                                   uint16_t width, uint16_t height, uint16_t row_count,
                                   uint16_t stride, uint8_t* destination, uint8_t path,
                                   uint16_t block_stride, uint8_t orientation, uint32_t pair_mode) {
  for (uint32_t r = first_block_row; r < first_block_row + row_count / 4u; ++r)
    compress_ycocg_dxt5_block_row(uint16_t(r), source, width, height, stride, destination, path,
                                  block_stride, Dxt_Layout_BGRA, orientation,
                                  path && pair_mode == 2 ? 2 : 0);
}
