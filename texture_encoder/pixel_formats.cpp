#include "texture_encoder/pixel_formats.h"

void fill_opaque_plane(uint8_t* out, const uint8_t*, const uint8_t*, int64_t, int64_t,
                       uint64_t* min, uint64_t* max) {
  std::memset(out, 255, 16);
  *min = 255;
  *max = 255;
}

uint32_t get_raw_buffer_line_size(uint16_t width, uint32_t pix_fmt) {
  const uint32_t blocks = (uint32_t(width) + 3) / 4;
  if (pix_fmt <= 3) return (16 * blocks + 31) / 32 * 32;
  if (pix_fmt <= 6) return 32 * blocks;
  if (pix_fmt == 7) return 64 * blocks;
  std::printf("ERROR : get_raw_buffer_line_size : Unsupported pix fmt\n");
  return 0;
}

uint64_t get_raw_buffer_size(uint16_t width, uint16_t height, uint32_t pix_fmt) {
  return uint64_t(get_raw_buffer_line_size(width, pix_fmt)) * ((uint32_t(height) + 3) / 4 * 4);
}
