#include "texture_encoder/block_geometry.h"

#include "texture_encoder/dxt_encoder_context.h"

uint32_t dxt_block_bytes(uint32_t texture_code) {
  switch (texture_code) {
    case Texture_Code_Dxt1:
    case Texture_Code_Rgtc1_Luma:
    case Texture_Code_Rgtc1_Alpha:
      return 8;
    case Texture_Code_Dxt5:
    case Texture_Code_Ycocg_Dxt5:
    case Texture_Code_Bc7:
      return 16;
    default:
      return 24;
  }
}

uint16_t dxt_block_count(uint16_t pixels, uint32_t pad_mode) {
  const bool partial = (pixels % 4) != 0 && pad_mode != Pad_Mode_Crop;
  return uint16_t(pixels / 4 + (partial ? 1 : 0));
}

uint16_t dxt_block_count_ceil(uint16_t pixels) { return uint16_t((uint32_t(pixels) + 3) / 4); }

uint64_t dxt_texture_size(uint16_t width, uint16_t height, uint32_t texture_code,
                          uint32_t pad_mode) {
  return uint64_t(dxt_block_count(width, pad_mode)) * dxt_block_count(height, pad_mode) *
         dxt_block_bytes(texture_code);
}

uint64_t raw_buffer_size_in_blocks(uint16_t width, uint16_t height, uint32_t pix_fmt,
                                   uint32_t pad_mode) {
  uint32_t block_bytes = 64;
  if (pix_fmt <= 3 || (pix_fmt >= 8 && pix_fmt <= 11)) {
    block_bytes = 16;
  } else if ((pix_fmt >= 4 && pix_fmt <= 6) || (pix_fmt >= 12 && pix_fmt <= 15)) {
    block_bytes = 32;
  }
  return uint64_t(dxt_block_count(width, pad_mode)) * dxt_block_count(height, pad_mode) *
         block_bytes;
}
