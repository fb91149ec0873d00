// Converting textures between block codecs and cropping them by whole blocks.
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "HAP/DXT_Frame.h"
#include "HAP/DXT_compress.h"

namespace {

// A DXT5 colour half always has four colours, but a DXT1 block whose colour 0
// is not above colour 1 has three and transparent black: such a half is
// written with its endpoints exchanged, which keeps every pixel's colour.
void dxt5_colour_to_dxt1(const uint8_t* in, uint8_t* out) {
  const uint32_t c0 = in[0] | in[1] << 8, c1 = in[2] | in[3] << 8;
  std::memcpy(out, in, 8);
  if (c0 > c1) return;
  if (c0 == c1) {
    // Every entry of the four-colour palette is colour 0.
    std::memset(out + 4, 0, 4);
    return;
  }
  std::memcpy(out, in + 2, 2);
  std::memcpy(out + 2, in, 2);
  // Exchanged endpoints swap entries 0 with 1 and 2 with 3.
  for (int i = 4; i < 8; ++i) out[i] = uint8_t(in[i] ^ 0x55);
}

// The other way, a DXT1 block whose colour 0 is not above colour 1 shows
// colour 0, colour 1, their midpoint and black (transparent black, shown
// black in an opaque frame); in a DXT5 colour half the same bytes would show
// four colours. The block is kept where its pixels use only its endpoints,
// rewritten exactly when its endpoints are equal (the colour, and black for
// index 3), and otherwise its decoded pixels are fitted again to four colours.
void dxt1_colour_to_dxt5(const Dxt_Frame* source, uint64_t offset, uint8_t* out) {
  const uint8_t* in = source->data + offset;
  const uint32_t c0 = in[0] | in[1] << 8, c1 = in[2] | in[3] << 8;
  const uint32_t indices = dxt_colour_index_word(in);
  std::memcpy(out, in, 8);
  // The high bit of an index is set for entries 2 and 3, the ones that differ.
  if (c0 > c1 || (indices & 0xAAAAAAAAu) == 0) return;
  if (c0 == c1) {
    // Colour 1 becomes black; index 3 becomes 1 and every other index 0.
    const uint32_t black = indices & indices >> 1 & 0x55555555u;
    const uint8_t rewritten[6] = {0, 0, uint8_t(black), uint8_t(black >> 8), uint8_t(black >> 16),
                                  uint8_t(black >> 24)};
    std::memcpy(out + 2, rewritten, 6);
    return;
  }
  uint8_t rgb[48], rgba[64];
  decode_dxt1_block(source, offset, rgb);
  for (int p = 0; p < 16; ++p) {
    std::memcpy(rgba + 4 * p, rgb + 3 * p, 3);
    rgba[4 * p + 3] = 255;
  }
  compress_dxt_block(rgba, out, 1, true);  // cluster fit
}

}  // namespace

void convert_dxt_frame(const Dxt_Frame* source, Dxt_Frame* target) {
  if (source->width != target->width)
    throw std::runtime_error("conversion dxt : largeur non identique entre source et cible");
  if (source->height != target->height)
    throw std::runtime_error("conversion dxt : hauteur non identique entre source et cible");

  // Source bytes per block, offset of the kept part in it, target bytes per block.
  uint32_t in_bytes = 0, keep_offset = 0, out_bytes = 0;
  if (source->codec == Dxt_Codec_DXT5 && target->codec == Dxt_Codec_DXT1) {
    in_bytes = 16, keep_offset = 8, out_bytes = 8;
  } else if (source->codec == Dxt_Codec_DXT5 && target->codec == Dxt_Codec_RGTC1) {
    in_bytes = 16, keep_offset = 0, out_bytes = 8;
  } else if (source->codec == Dxt_Codec_DXT1 && target->codec == Dxt_Codec_DXT5) {
    in_bytes = 8, keep_offset = 0, out_bytes = 16;
  } else {
    std::printf("ERR : Codec DXT source et cible non coherent\n");
    throw std::runtime_error("conversion dxt invalide (src / cible codec non supporte");
  }
  const uint64_t blocks = dxt_block_count(source->width, source->height);
  if (source->length < blocks * in_bytes || target->length < blocks * out_bytes)
    throw std::runtime_error("conversion dxt : frame trop petite pour ses blocs");

  static constexpr uint8_t opaque_alpha[8] = {0xFF, 0, 0, 0, 0, 0, 0, 0};
  for (uint64_t b = 0; b < blocks; ++b) {
    const uint8_t* in = source->data + b * in_bytes;
    uint8_t* out = target->data + b * out_bytes;
    if (out_bytes == 16) {
      std::memcpy(out, opaque_alpha, 8);
      dxt1_colour_to_dxt5(source, b * in_bytes, out + 8);
    } else if (keep_offset == 8) {
      dxt5_colour_to_dxt1(in + 8, out);
    } else {
      std::memcpy(out, in, 8);
    }
  }
}

void crop_dxt_frame(const Dxt_Frame* source, Dxt_Frame* target, uint16_t first_column,
                    uint16_t first_row, uint16_t columns, uint16_t rows) {
  const uint32_t block_bytes = dxt_block_bytes(source->codec);
  const uint32_t source_across = dxt_blocks_across(source->width);
  if (columns != dxt_blocks_across(target->width))
    throw std::runtime_error("crop dxt : l'image cible n'a pas le bon nombre de bloc DXT en largeur");
  if (rows != dxt_blocks_down(target->height))
    throw std::runtime_error("crop dxt : l'image cible n'a pas le bon nombre de bloc DXT en hauteur");
  if (uint32_t(first_column) + columns > source_across ||
      uint32_t(first_row) + rows > dxt_blocks_down(source->height) ||
      dxt_block_count(source->width, source->height) * block_bytes > source->length)
    throw std::runtime_error("crop dxt : la zone demandee depasse l'image source");
  const uint64_t row_bytes = uint64_t(columns) * block_bytes;
  if (row_bytes * rows > target->length)
    throw std::runtime_error("crop dxt : l'image cible est trop petite");

  const uint64_t source_row = uint64_t(source_across) * block_bytes;
  for (uint32_t r = 0; r < rows; ++r) {
    const uint8_t* in = source->data + (first_row + r) * source_row + uint64_t(first_column) * block_bytes;
    std::memcpy(target->data + r * row_bytes, in, row_bytes);
  }
}
