// DXT1 colour block at quality 1 and 2: endpoints from the extremes of the
// block along its principal axis, nearest-palette indices, one least-squares
// refinement, and the table match for blocks of one colour.
#include <cstring>

#include "texture_encoder/dxt1_axis.h"
#include "texture_encoder/dxt1_encoder.h"

namespace {

// x * levels / 255 rounded, in integers.
uint32_t quantise(uint32_t x, uint32_t levels) {
  const uint32_t t = x * levels + 128;
  return (t + (t >> 8)) >> 8;
}

uint16_t pack_565(uint32_t r, uint32_t g, uint32_t b) {
  return uint16_t(quantise(r, 31) << 11 | quantise(g, 63) << 5 | quantise(b, 31));
}

// The single-colour match of one colour: c0 from the hi fields, c1 from the lo.
void match_colour(uint32_t r, uint32_t g, uint32_t b, uint16_t* c0, uint16_t* c1) {
  const Dxt1_Tables& t = dxt1_tables();
  *c0 = uint16_t(t.match5[r].hi << 11 | t.match6[g].hi << 5 | t.match5[b].hi);
  *c1 = uint16_t(t.match5[r].lo << 11 | t.match6[g].lo << 5 | t.match5[b].lo);
}

void write_block(uint8_t* out8, uint16_t colour0, uint16_t colour1, uint32_t indices) {
  const uint8_t bytes[8] = {uint8_t(colour0), uint8_t(colour0 >> 8), uint8_t(colour1),
                            uint8_t(colour1 >> 8), uint8_t(indices), uint8_t(indices >> 8),
                            uint8_t(indices >> 16), uint8_t(indices >> 24)};
  std::memcpy(out8, bytes, 8);
}

// Four-colour order: c0 < c1 swaps the endpoints and exchanges the indices
// 0/1 and 2/3.
void pack_ordered(uint8_t* out8, uint16_t c0, uint16_t c1, uint32_t indices) {
  if (c0 < c1)
    write_block(out8, c1, c0, indices ^ 0x55555555u);
  else
    write_block(out8, c0, c1, indices);
}

bool all_indices_equal(uint32_t m) { return (m ^ (m << 2)) < 4; }

}  // namespace

void dxt1_initial_endpoints(const uint8_t* block48, uint16_t* c0, uint16_t* c1,
                            uint32_t* channel_sums) {
  int sum[3], mean[3], lo[3], hi[3];
  for (int c = 0; c < 3; ++c) {
    const uint8_t* v = block48 + 16 * c;
    sum[c] = 0;
    lo[c] = 255;
    hi[c] = 0;
    for (int i = 0; i < 16; ++i) {
      sum[c] += v[i];
      lo[c] = v[i] < lo[c] ? v[i] : lo[c];
      hi[c] = v[i] > hi[c] ? v[i] : hi[c];
    }
    mean[c] = (sum[c] + 8) >> 4;
    channel_sums[c] = uint32_t(sum[c]);
    channel_sums[4 + c] = uint32_t(mean[c]);
  }

  int products[6] = {};  // RR, RG, RB, GG, GB, BB about the means
  for (int i = 0; i < 16; ++i) {
    const int r = block48[i] - mean[0], g = block48[16 + i] - mean[1], b = block48[32 + i] - mean[2];
    products[0] += r * r;
    products[1] += r * g;
    products[2] += r * b;
    products[3] += g * g;
    products[4] += g * b;
    products[5] += b * b;
  }
  const int32_t ranges[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
  int32_t axis[3];
  principal_axis_weights(ranges, products, axis);

  int min_pixel = 0, max_pixel = 0;
  int min_dot = block48[0] * axis[0] + block48[16] * axis[1] + block48[32] * axis[2];
  int max_dot = min_dot;
  for (int i = 0; i < 16; ++i) {
    const int dot = block48[i] * axis[0] + block48[16 + i] * axis[1] + block48[32 + i] * axis[2];
    if (dot < min_dot) {
      min_dot = dot;
      min_pixel = i;
    } else if (dot > max_dot) {
      max_dot = dot;
      max_pixel = i;
    }
  }
  *c0 = pack_565(block48[max_pixel], block48[16 + max_pixel], block48[32 + max_pixel]);
  *c1 = pack_565(block48[min_pixel], block48[16 + min_pixel], block48[32 + min_pixel]);
}

void dxt1_compute_indices(const uint8_t* block48, uint16_t c0, uint16_t c1, uint32_t* indices,
                          const uint8_t* expand_table) {
  const int p0[3] = {expand_table[c0 >> 11], expand_table[32 + ((c0 >> 5) & 63)],
                     expand_table[c0 & 31]};
  const int p1[3] = {expand_table[c1 >> 11], expand_table[32 + ((c1 >> 5) & 63)],
                     expand_table[c1 & 31]};
  int p2[3], p3[3], d[3];
  for (int c = 0; c < 3; ++c) {
    p2[c] = (2 * p0[c] + p1[c]) / 3;
    p3[c] = (p0[c] + 2 * p1[c]) / 3;
    d[c] = p0[c] - p1[c];
  }
  auto dot = [&d](const int* p) { return p[0] * d[0] + p[1] * d[1] + p[2] * d[2]; };
  const int s0 = dot(p0), s1 = dot(p1), s2 = dot(p2), s3 = dot(p3);
  const int half = (s2 + s3) >> 1, low = (s1 + s3) >> 1, high = (s0 + s2) >> 1;
  uint32_t word = 0;
  for (int i = 0; i < 16; ++i) {
    const int x = block48[i] * d[0] + block48[16 + i] * d[1] + block48[32 + i] * d[2];
    uint32_t index;
    if (x < half)
      index = x < low ? 1 : 3;
    else
      index = x < high ? 2 : 0;
    word |= index << (2 * i);
  }
  *indices = word;
}

void encode_dxt1_color_block(const Dxt_Kernel_Head& head, uint8_t* out8,
                             const uint8_t* const planes[4], const int64_t strides[4],
                             uint8_t quality) {
  alignas(32) uint8_t block[48];
  bool one_colour;
  if (quality >= 2) {
    uint64_t range;
    head.dxt_load_block_q2(block, planes[0], planes[1], planes[2], strides[0], strides[1],
                           strides[2], &range);
    if (range >= 15) {
      encode_color_block_cluster_fit(head, out8, planes, strides, false);
      return;
    }
    one_colour = range == 0;
  } else {
    uint64_t flat;
    head.dxt_load_block_q1(block, planes[0], planes[1], planes[2], strides[0], strides[1],
                           strides[2], &flat);
    one_colour = flat != 0;
  }

  uint16_t c0, c1;
  if (one_colour) {
    match_colour(block[0], block[16], block[32], &c0, &c1);
    // Equal endpoints other than black and white keep index 2, which is that
    // colour in either palette.
    if (c0 == c1 && (c0 == 0 || c0 == 0xFFFF))
      write_block(out8, c0, 0, 0);
    else
      pack_ordered(out8, c0, c1, 0xAAAAAAAAu);
    return;
  }

  uint32_t channel_sums[8] = {};
  head.dxt1_initial_endpoints(block, &c0, &c1, channel_sums);
  uint32_t indices = 0;
  if (c0 != c1) head.dxt1_compute_indices(block, c0, c1, &indices, dxt_expand_table.data());

  const uint16_t first_c0 = c0, first_c1 = c1;
  if (all_indices_equal(indices))
    match_colour(channel_sums[4], channel_sums[5], channel_sums[6], &c0, &c1);
  else
    head.dxt1_refine_endpoints(block, &c0, &c1, indices, channel_sums);
  if (c0 != first_c0 || c1 != first_c1) {
    indices = 0;
    if (c0 != c1) head.dxt1_compute_indices(block, c0, c1, &indices, dxt_expand_table.data());
  }

  if (indices == 0)
    write_block(out8, c0, 0, 0);
  else
    pack_ordered(out8, c0, c1, indices);
}
