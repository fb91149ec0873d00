// The integer principal axis from which the DXT1 block kernels take their
// initial endpoints. The scalar kernel and its vector twins must agree on it to
// the bit; internal linkage keeps each instruction-set level's copy compiled
// with that level's flags.
#pragma once
#include <cstdint>

namespace {

// Integer axis of the initial endpoints from the block's channel ranges and
// its centred products (RR, RG, RB, GG, GB, BB): four power-iteration steps in
// single precision, then each component widened to double and multiplied by
// 512 / (largest magnitude) in double, truncated; a vector smaller than 4 falls
// back on the luma weights. The scale in double keeps the largest weight at 512
// where single precision would often round it down to 511.
inline void principal_axis_weights(const int32_t ranges[3], const int32_t products[6],
                                   int32_t axis[3]) {
  float m[6];
  for (int k = 0; k < 6; ++k) m[k] = float(products[k]) / 255.0f;
  float v[3] = {float(ranges[0]), float(ranges[1]), float(ranges[2])};
  for (int step = 0; step < 4; ++step) {
    const float x = m[0] * v[0] + m[1] * v[1] + m[2] * v[2];
    const float y = m[1] * v[0] + m[3] * v[1] + m[4] * v[2];
    const float z = m[2] * v[0] + m[4] * v[1] + m[5] * v[2];
    v[0] = x;
    v[1] = y;
    v[2] = z;
  }
  float largest = v[0] < 0.0f ? -v[0] : v[0];
  for (int c = 1; c < 3; ++c) {
    const float magnitude = v[c] < 0.0f ? -v[c] : v[c];
    if (magnitude > largest) largest = magnitude;
  }
  axis[0] = 299;
  axis[1] = 587;
  axis[2] = 114;
  const double magnitude = largest;
  if (!(magnitude < 4.0)) {
    const double scale = 512.0 / magnitude;
    for (int c = 0; c < 3; ++c) axis[c] = int32_t(double(v[c]) * scale);
  }
}

}  // namespace
