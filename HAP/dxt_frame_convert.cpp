// Converting textures between block codecs and cropping them by whole blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "HAP/DXT_Frame.h"
#include "HAP/DXT_compress.h"
#include "HAP/dxt_exact_colour_half.h"

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

// A block that shows one colour and black, or one of them alone, where that
// colour is a 5:6:5 one (always so for an endpoint), is written exactly: the
// colour as colour 0 and black as colour 1, index 1 on the black pixels.
// Returns false, writing nothing, for any other block.
bool write_colour_and_black(const uint8_t shown[48], uint8_t out[8]) {
  static constexpr uint8_t black[3] = {0, 0, 0};
  const uint8_t* colour = black;
  uint32_t indices = 0;
  for (int p = 0; p < 16; ++p) {
    const uint8_t* pixel = shown + 3 * p;
    if (std::memcmp(pixel, black, 3) == 0)
      indices |= 1u << (2 * p);
    else if (colour == black)
      colour = pixel;
    else if (std::memcmp(pixel, colour, 3) != 0)
      return false;
  }
  const uint32_t packed = uint32_t(colour[0] >> 3 << 11 | colour[1] >> 2 << 5 | colour[2] >> 3);
  uint8_t expanded[3];
  dxt_colour_to_rgb(packed, expanded);
  if (std::memcmp(expanded, colour, 3) != 0) return false;
  const uint8_t block[8] = {uint8_t(packed),        uint8_t(packed >> 8),  0, 0, uint8_t(indices),
                            uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
  std::memcpy(out, block, 8);
  return true;
}

// Squared error, over R, G and B, of the colours a DXT5 colour half shows
// against the given ones.
uint32_t shown_error(const uint8_t colour_half[8], const uint8_t shown[48]) {
  uint8_t rgb[48];
  decode_colour_block(colour_half, false, rgb);
  uint32_t sum = 0;
  for (int i = 0; i < 48; ++i) sum += uint32_t((rgb[i] - shown[i]) * (rgb[i] - shown[i]));
  return sum;
}

// The other way, a DXT1 block whose colour 0 is not above colour 1 shows
// colour 0, colour 1, their midpoint and black (transparent black, shown
// black in an opaque frame); in a DXT5 colour half the same bytes would show
// four colours. The block is kept where its pixels use only its endpoints,
// and rewritten exactly where it shows one 5:6:5 colour and black (equal
// endpoints among them). Otherwise its decoded pixels are fitted again to
// four colours; the fit minimises its own metric in floating point, so where
// the plain bytes show the block better they are kept, and so are they when
// both show it equally, as nothing is gained by changing them. Where neither
// shows the block exactly, typically an endpoint or black beside the midpoint,
// which needs endpoints beyond the colours shown, endpoints that show it
// exactly are searched for.
void dxt1_colour_to_dxt5(const uint8_t* in, uint8_t* out) {
  const uint32_t c0 = in[0] | in[1] << 8, c1 = in[2] | in[3] << 8;
  std::memcpy(out, in, 8);
  // The high bit of an index is set for entries 2 and 3, the ones that differ.
  if (c0 > c1 || (dxt_colour_index_word(in) & 0xAAAAAAAAu) == 0) return;
  uint8_t shown[48];
  decode_colour_block(in, true, shown);
  if (write_colour_and_black(shown, out)) return;
  uint8_t rgba[64], fitted[8];
  for (int p = 0; p < 16; ++p) {
    std::memcpy(rgba + 4 * p, shown + 3 * p, 3);
    rgba[4 * p + 3] = 255;
  }
  compress_dxt_block(rgba, fitted, 1, true);  // cluster fit
  const uint32_t fitted_error = shown_error(fitted, shown), own_error = shown_error(in, shown);
  if (fitted_error < own_error) std::memcpy(out, fitted, 8);
  if (std::min(fitted_error, own_error) > 0) write_exact_colour_half(shown, out);
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
      dxt1_colour_to_dxt5(in, out + 8);
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
