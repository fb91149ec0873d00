// Decoding single alpha, colour, DXT5 and scaled YCoCg blocks.
#include <algorithm>
#include <stdexcept>

#include "HAP/DXT_Frame.h"
#include "HAP/DXT_compress.h"

void dxt_alpha_palette(const uint8_t* alpha_block, uint8_t values[8]) {
  if (alpha_block[0] <= alpha_block[1])
    build_alpha_palette_6(alpha_block[0], alpha_block[1], values);
  else
    build_alpha_palette_8(alpha_block[0], alpha_block[1], values);
}

void decode_alpha_indices(const uint8_t* alpha_block, uint8_t indices[16]) {
  uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= uint64_t(alpha_block[2 + i]) << (8 * i);
  for (int i = 0; i < 16; ++i) indices[i] = (bits >> (3 * i)) & 7;
}

void dxt_colour_to_rgb(uint32_t colour, uint8_t rgb[3]) {
  const uint32_t r = colour >> 11, g = (colour >> 5) & 63, b = colour & 31;
  rgb[0] = uint8_t(r << 3 | r >> 2);
  rgb[1] = uint8_t(g << 2 | g >> 4);
  rgb[2] = uint8_t(b << 3 | b >> 2);
}

uint32_t dxt_colour_index_word(const uint8_t* colour_block) {
  const uint8_t* b = colour_block + 4;
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

bool dxt_alpha_block_uniform(const uint8_t* alpha_block, uint8_t* value) {
  uint8_t palette[8], indices[16];
  dxt_alpha_palette(alpha_block, palette);
  decode_alpha_indices(alpha_block, indices);
  const uint8_t first = palette[indices[0]];
  for (int i = 1; i < 16; ++i) {
    if (palette[indices[i]] != first) {
      *value = 0;
      return false;
    }
  }
  *value = first;
  return true;
}

namespace {

const uint8_t* block_at(const Dxt_Frame* frame, uint64_t offset, uint32_t size) {
  if (!frame->data || offset + size > frame->length)
    throw std::runtime_error("decode bloc dxt : position hors de la frame");
  return frame->data + offset;
}

// The 4-entry palette of a colour block, as R, G, B. Only a DXT1 block whose
// colour 0 is not above colour 1 has three colours and black; the colour half
// of a DXT5 block always has four.
void colour_palette(const uint8_t* block, bool dxt1, uint8_t palette[4][3]) {
  const uint32_t c[2] = {uint32_t(block[0] | block[1] << 8), uint32_t(block[2] | block[3] << 8)};
  for (int e = 0; e < 2; ++e) dxt_colour_to_rgb(c[e], palette[e]);
  for (int ch = 0; ch < 3; ++ch) {
    const int p0 = palette[0][ch], p1 = palette[1][ch];
    if (c[0] > c[1] || !dxt1) {
      palette[2][ch] = uint8_t((2 * p0 + p1) / 3);
      palette[3][ch] = uint8_t((p0 + 2 * p1) / 3);
    } else {
      palette[2][ch] = uint8_t((p0 + p1) / 2);
      palette[3][ch] = 0;
    }
  }
}

// Writes the 16 colours of a colour block with the given pixel stride,
// channel R at out[0].
void decode_colour(const uint8_t* block, bool dxt1, uint8_t* out, int stride) {
  uint8_t palette[4][3];
  colour_palette(block, dxt1, palette);
  const uint32_t indices = dxt_colour_index_word(block);
  for (int i = 0; i < 16; ++i) {
    const uint8_t* p = palette[(indices >> (2 * i)) & 3];
    std::copy(p, p + 3, out + stride * i);
  }
}

}  // namespace

void decode_colour_block(const uint8_t* colour_block, bool dxt1, uint8_t out[48]) {
  decode_colour(colour_block, dxt1, out, 3);
}

void decode_dxt1_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[48]) {
  decode_colour_block(block_at(frame, offset, 8), true, out);
}

void decode_dxt5_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[64]) {
  const uint8_t* block = block_at(frame, offset, 16);
  uint8_t palette[8], indices[16];
  dxt_alpha_palette(block, palette);
  decode_alpha_indices(block, indices);
  for (int i = 0; i < 16; ++i) out[4 * i] = palette[indices[i]];
  decode_colour(block + 8, false, out + 1, 4);
}

void decode_ycocg_block(const Dxt_Frame* frame, uint64_t offset, uint8_t out[48]) {
  uint8_t argb[64];
  decode_dxt5_block(frame, offset, argb);
  for (int i = 0; i < 16; ++i) {
    const int y = argb[4 * i], co = argb[4 * i + 1] - 128, cg = argb[4 * i + 2] - 128;
    const int scale = (argb[4 * i + 3] >> 3) + 1;
    const int co_s = co / scale, cg_s = cg / scale;
    out[3 * i] = uint8_t(std::clamp(y + co_s - cg_s, 0, 255));
    out[3 * i + 1] = uint8_t(std::clamp(y + cg_s, 0, 255));
    out[3 * i + 2] = uint8_t(std::clamp(y - co_s - cg_s, 0, 255));
  }
}
