// Whole-texture decode: walks the blocks row-major and crops the partial
// blocks at the right and bottom edges.
#include <cstring>
#include <stdexcept>

#include "tests/support/test_support.h"

std::vector<uint8_t> decode_texture(Tex kind, const uint8_t* data, int width, int height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("decode_texture: empty picture");
  const size_t block_size = kind == Tex::Dxt1 || kind == Tex::Rgtc1 ? 8 : 16;
  const int blocks_x = (width + 3) / 4, blocks_y = (height + 3) / 4;
  std::vector<uint8_t> image(size_t(width) * height * 4);
  uint8_t block[64];
  for (int by = 0; by < blocks_y; ++by) {
    for (int bx = 0; bx < blocks_x; ++bx) {
      const uint8_t* in = data + (size_t(by) * blocks_x + bx) * block_size;
      switch (kind) {
        case Tex::Dxt1: decode_dxt1_block(in, block); break;
        case Tex::Dxt5: decode_dxt5_block(in, block); break;
        case Tex::YcocgDxt5: decode_ycocg_dxt5_block(in, block); break;
        case Tex::Bc7: decode_bc7_block(in, block); break;
        case Tex::Rgtc1: {
          uint8_t values[16];
          decode_rgtc1_block(in, values);
          for (int i = 0; i < 16; ++i) {
            block[4 * i] = block[4 * i + 1] = block[4 * i + 2] = values[i];
            block[4 * i + 3] = 255;
          }
          break;
        }
      }
      for (int row = 0; row < 4 && by * 4 + row < height; ++row) {
        const int columns = std::min(4, width - bx * 4);
        std::memcpy(&image[(size_t(by * 4 + row) * width + bx * 4) * 4], block + 16 * row, size_t(columns) * 4);
      }
    }
  }
  return image;
}
