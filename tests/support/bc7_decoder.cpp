// Reference BC7 decoder, all eight modes.
#include <algorithm>
#include <cstring>

#include "tests/support/bc7_tables.h"
#include "tests/support/test_support.h"

namespace {

using bc7_tables::Mode_Info;
using bc7_tables::Tables;

// Reads the 128-bit block least significant bit first.
class Bit_Reader {
 public:
  explicit Bit_Reader(const uint8_t* block) : block_(block) {}
  int read(int count) {
    int value = 0;
    for (int i = 0; i < count; ++i, ++position_) value |= ((block_[position_ >> 3] >> (position_ & 7)) & 1) << i;
    return value;
  }

 private:
  const uint8_t* block_;
  int position_ = 0;
};

const uint8_t* weights_for(const Tables& t, int index_bits) {
  return index_bits == 2 ? t.weights2 : index_bits == 3 ? t.weights3 : t.weights4;
}

// Subset of every pixel and the anchor pixel of every subset.
void partition_layout(const Tables& t, int subsets, int partition, int subset_of[16], int anchor[3]) {
  for (int p = 0; p < 16; ++p) {
    subset_of[p] = subsets == 2 ? t.partitions2[partition][p] : subsets == 3 ? t.partitions3[partition][p] : 0;
  }
  anchor[0] = 0;
  anchor[1] = subsets == 2 ? t.anchors2[partition] : t.anchors3[partition][0];
  anchor[2] = t.anchors3[partition][1];
}

// One index per pixel; an anchor pixel's top bit is implied 0 and not stored.
void read_indices(Bit_Reader& bits, int index_bits, const int subset_of[16], const int anchor[3], int out[16]) {
  for (int p = 0; p < 16; ++p) out[p] = bits.read(p == anchor[subset_of[p]] ? index_bits - 1 : index_bits);
}

uint8_t interpolate(int e0, int e1, int weight) { return uint8_t(((64 - weight) * e0 + weight * e1 + 32) >> 6); }

}  // namespace

void decode_bc7_block(const uint8_t* in16, uint8_t* out64) {
  if (in16[0] == 0) {  // reserved mode
    std::memset(out64, 0, 64);
    return;
  }
  const Tables& t = bc7_tables::shared();
  const int mode = __builtin_ctz(in16[0]);
  const Mode_Info& m = t.modes[mode];
  Bit_Reader bits(in16);
  bits.read(mode + 1);
  const int partition = bits.read(m.partition_bits);
  const int rotation = bits.read(m.rotation_bits);
  const int index_selection = bits.read(m.index_selection_bits);

  const int endpoints = 2 * m.subsets;
  int e[6][4];  // endpoint, channel R G B A
  for (int c = 0; c < 4; ++c) {
    const int width = c < 3 ? m.color_bits : m.alpha_bits;
    for (int k = 0; k < endpoints; ++k) e[k][c] = bits.read(width);
  }
  int pbit[6] = {};
  if (m.pbit_per_endpoint) {
    for (int k = 0; k < endpoints; ++k) pbit[k] = bits.read(1);
  } else if (m.pbit_per_subset) {
    for (int s = 0; s < m.subsets; ++s) pbit[2 * s] = pbit[2 * s + 1] = bits.read(1);
  }
  const bool has_pbit = m.pbit_per_endpoint || m.pbit_per_subset;
  for (int k = 0; k < endpoints; ++k) {
    for (int c = 0; c < 4; ++c) {
      int width = c < 3 ? m.color_bits : m.alpha_bits;
      if (width == 0) {
        e[k][c] = 255;
        continue;
      }
      int v = e[k][c];
      if (has_pbit) v = (v << 1) | pbit[k], ++width;
      // Widen to 8 bits by repeating the top bits.
      e[k][c] = (v << (8 - width)) | (v >> (2 * width - 8));
    }
  }

  int subset_of[16], anchor[3];
  partition_layout(t, m.subsets, partition, subset_of, anchor);
  int color_index[16], alpha_index[16];
  read_indices(bits, m.index_bits, subset_of, anchor, color_index);
  int color_bits = m.index_bits, alpha_bits = m.index_bits;
  if (m.index2_bits) {
    read_indices(bits, m.index2_bits, subset_of, anchor, alpha_index);
    alpha_bits = m.index2_bits;
    if (index_selection) {
      std::swap_ranges(color_index, color_index + 16, alpha_index);
      std::swap(color_bits, alpha_bits);
    }
  } else {
    std::copy_n(color_index, 16, alpha_index);
  }

  for (int p = 0; p < 16; ++p) {
    const int* e0 = e[2 * subset_of[p]];
    const int* e1 = e[2 * subset_of[p] + 1];
    uint8_t rgba[4];
    for (int c = 0; c < 3; ++c) rgba[c] = interpolate(e0[c], e1[c], weights_for(t, color_bits)[color_index[p]]);
    rgba[3] = interpolate(e0[3], e1[3], weights_for(t, alpha_bits)[alpha_index[p]]);
    // Rotation 1, 2, 3 swaps alpha with red, green, blue.
    if (rotation) std::swap(rgba[3], rgba[rotation - 1]);
    out64[4 * p + 0] = rgba[2];
    out64[4 * p + 1] = rgba[1];
    out64[4 * p + 2] = rgba[0];
    out64[4 * p + 3] = rgba[3];
  }
}
