// Least-squares refinement of a DXT1 endpoint pair for fixed indices, in
// integers: the normal equations of the block's pixels against the weights
// (3, 0, 2, 1) / 3 of colour 0 that the four indices stand for.
#include <bit>

#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/numeric_ops.h"

void dxt1_refine_endpoints(const uint8_t* block48, uint16_t* c0, uint16_t* c1, uint32_t indices,
                           const uint32_t* channel_sums) {
  static constexpr int weight_of_c0[4] = {3, 0, 2, 1};
  // Sums of w*w, (3-w)^2 and w*(3-w), one byte each.
  static constexpr uint32_t products[4] = {0x090000, 0x000900, 0x040102, 0x010402};
  int at[3] = {0, 0, 0};
  uint32_t accumulator = 0;
  for (int i = 0; i < 16; ++i) {
    const uint32_t index = (indices >> (2 * i)) & 3;
    for (int c = 0; c < 3; ++c) at[c] += weight_of_c0[index] * block48[16 * c + i];
    accumulator += products[index];
  }
  const int xx = int(accumulator >> 16), yy = int((accumulator >> 8) & 0xFF),
            xy = int(accumulator & 0xFF);
  int bt[3];
  for (int c = 0; c < 3; ++c) bt[c] = 3 * int(channel_sums[c]) - at[c];

  const float frb = std::bit_cast<float>(0x3EBABABBu) / float(xx * yy - xy * xy);  // 3 * 31 / 255
  const float fg = frb * 63.0f / 31.0f;
  const float scale[3] = {frb, fg, frb};
  const int top[3] = {31, 63, 31};
  int first[3], second[3];
  for (int c = 0; c < 3; ++c) {
    first[c] = nearest_clamped(float(at[c] * yy - bt[c] * xy) * scale[c], top[c]);
    second[c] = nearest_clamped(float(bt[c] * xx - at[c] * xy) * scale[c], top[c]);
  }
  *c0 = uint16_t(first[0] << 11 | first[1] << 5 | first[2]);
  *c1 = uint16_t(second[0] << 11 | second[1] << 5 | second[2]);
}
