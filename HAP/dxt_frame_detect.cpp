// Block-level analysis of a texture: empty borders, alpha below opaque, and the
// canonical form of blocks whose pixels all use one palette entry.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "HAP/DXT_Frame.h"

namespace {

bool alpha_block_empty(const uint8_t* block) {
  uint8_t value;
  return dxt_alpha_block_uniform(block, &value) && value == 0;
}

// Colour 0 zero and every index zero; colour 1 does not matter.
bool colour_block_black(const uint8_t* block) {
  return block[0] == 0 && block[1] == 0 && block[4] == 0 && block[5] == 0 && block[6] == 0 &&
         block[7] == 0;
}

// One common 2-bit index for all sixteen pixels, or -1.
int uniform_colour_index(const uint8_t* block) {
  const uint32_t word = dxt_colour_index_word(block);
  const uint32_t c = word & 3;
  return word == c * 0x55555555u ? int(c) : -1;
}

// A uniform index 3 on a three-colour palette is transparent black, which
// only DXT1 blocks have; the colour half of a DXT5 block always has four.
void canonicalize_colour(uint8_t* block, bool dxt1) {
  const int c = uniform_colour_index(block);
  const uint32_t c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
  if (c == 0) {
    std::memset(block + 2, 0, 6);
  } else if (c == 1) {
    block[0] = block[2];
    block[1] = block[3];
    std::memset(block + 2, 0, 6);
  } else if (c == 3 && c0 <= c1 && dxt1) {
    std::memset(block, 0, 8);
  }
}

void canonicalize_alpha(uint8_t* block) {
  uint8_t value;
  if (!dxt_alpha_block_uniform(block, &value)) return;
  std::memset(block, 0, 8);
  block[0] = value;
}

void check_frame(const Dxt_Frame* frame) {
  if (frame->length == 0) throw std::logic_error("frame->length > 0");
  if (frame->length < dxt_frame_size(frame->width, frame->height, frame->codec))
    throw std::runtime_error("frame dxt : longueur inferieure a la taille de ses blocs");
}

}  // namespace

void detect_dxt_crop(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                     uint16_t* right, uint8_t mode) {
  if (!top || !bottom || !left || !right) throw std::runtime_error("Crop detect : sortie absente");
  *top = *bottom = *left = *right = 0;
  if (mode == 1 && frame->codec != Dxt_Codec_DXT5 && frame->codec != Dxt_Codec_RGTC1)
    throw std::runtime_error(
        "Crop detect alpha DXT non supporte pour detection sur crop (DXT5(alpha) ou RGTC1 supporte)");
  if (mode != 1 && frame->codec != Dxt_Codec_DXT1)
    throw std::runtime_error(
        "Crop detect black DXT non supporte pour detection sur crop (DXT1 supporte)");
  check_frame(frame);

  const uint32_t across = dxt_blocks_across(frame->width), down = dxt_blocks_down(frame->height);
  const uint32_t block_bytes = dxt_block_bytes(frame->codec);
  auto empty = [&](uint32_t row, uint32_t column) {
    const uint8_t* block = frame->data + (uint64_t(row) * across + column) * block_bytes;
    return mode == 1 ? alpha_block_empty(block) : colour_block_black(block);
  };
  if ((!empty(0, 0) && !empty(down - 1, across - 1)) ||
      (!empty(0, across - 1) && !empty(down - 1, 0)))
    return;

  std::vector<uint16_t> from_left(down), from_right(down);
  for (uint32_t r = 0; r < down; ++r) {
    uint32_t n = 0;
    while (n < across && empty(r, n)) ++n;
    from_left[r] = uint16_t(n);
    if (n == across) continue;
    uint32_t m = 0;
    while (across - 1 - m >= 1 && empty(r, across - 1 - m)) ++m;
    from_right[r] = uint16_t(m);
  }
  auto row_empty = [&](uint32_t r) { return from_left[r] == across; };

  uint32_t t = 0;
  while (t < down && row_empty(t)) ++t;
  if (t == down) {
    *top = uint16_t(down);
    return;
  }
  uint32_t b = 0;
  while (down - 1 - b > 0 && row_empty(down - 1 - b)) ++b;

  uint32_t l = 65535, rt = 65535;
  for (uint32_t r = t; r + b < down; ++r) {
    l = std::min<uint32_t>(l, from_left[r]);
    if (!row_empty(r)) rt = std::min<uint32_t>(rt, from_right[r]);
  }
  if (l == 65535) throw std::runtime_error("Crop detect erreur recup crop left");
  if (rt == 65535) throw std::runtime_error("Crop detect erreur recup crop right");
  *top = uint16_t(t);
  *bottom = uint16_t(b);
  *left = uint16_t(l);
  *right = uint16_t(rt);
}

void detect_dxt_crop_alpha(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                           uint16_t* right) {
  detect_dxt_crop(frame, top, bottom, left, right, 1);
}

void detect_dxt_crop_auto(const Dxt_Frame* frame, uint16_t* top, uint16_t* bottom, uint16_t* left,
                          uint16_t* right) {
  if (frame->codec == Dxt_Codec_DXT1) detect_dxt_crop(frame, top, bottom, left, right, 0);
  if (frame->codec == Dxt_Codec_DXT5) detect_dxt_crop(frame, top, bottom, left, right, 1);
}

bool detect_dxt_need_alpha(const Dxt_Frame* frame) {
  if (frame->codec != Dxt_Codec_DXT5 && frame->codec != Dxt_Codec_RGTC1)
    throw std::runtime_error(
        "Detect need alpha codec non supporte (DXT5(alpha) ou RGTC1 supporte)");
  check_frame(frame);
  const uint32_t block_bytes = dxt_block_bytes(frame->codec);
  const uint64_t blocks = dxt_block_count(frame->width, frame->height);
  for (uint64_t i = 0; i < blocks; ++i) {
    const uint8_t* a = frame->data + i * block_bytes;
    const uint8_t* index_bytes = a + 2;
    if (a[0] == 255) {
      if (std::any_of(index_bytes, index_bytes + 6, [](uint8_t v) { return v != 0; })) return true;
    } else if (a[1] == 255) {
      uint8_t indices[16];
      decode_alpha_indices(a, indices);
      if (std::any_of(indices, indices + 16, [](uint8_t v) { return v != 1; })) return true;
    } else if (a[0] > a[1] ||
               std::any_of(index_bytes, index_bytes + 6, [](uint8_t v) { return v < 255; })) {
      return true;
    }
  }
  return false;
}

void canonicalize_uniform_dxt_blocks(Dxt_Frame* frame) {
  if (frame->codec == Dxt_Codec_BC7) return;
  check_frame(frame);
  const uint32_t block_bytes = dxt_block_bytes(frame->codec);
  const uint64_t blocks = dxt_block_count(frame->width, frame->height);
  for (uint64_t i = 0; i < blocks; ++i) {
    uint8_t* block = frame->data + i * block_bytes;
    switch (frame->codec) {
      case Dxt_Codec_RGTC1:
        canonicalize_alpha(block);
        break;
      case Dxt_Codec_DXT5:
        canonicalize_alpha(block);
        canonicalize_colour(block + 8, false);
        break;
      default:
        canonicalize_colour(block, true);
    }
  }
}
