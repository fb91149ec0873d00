// Principal axis of a block's distinct colours, along which the cluster fit
// orders them, and the projection of the colours on it.
#include <cmath>

#include "texture_encoder/cs_kernels.h"

void cs_moment_sums(float covariance[6], const float (*colours)[4], const float* weights,
                    uint32_t n) {
  const bool unit_weights = n == 16;
  float total = 0.0f, mean[3] = {0.0f, 0.0f, 0.0f};
  for (uint32_t i = 0; i < n; ++i) {
    const float w = unit_weights ? 1.0f : weights[i];
    total += w;
    for (int c = 0; c < 3; ++c) mean[c] += w * colours[i][c];
  }
  if (total > 1.1920929e-7f)
    for (float& m : mean) m /= total;
  for (uint32_t i = 0; i < n; ++i) {
    const float w = unit_weights ? 1.0f : weights[i];
    const float d[3] = {colours[i][0] - mean[0], colours[i][1] - mean[1], colours[i][2] - mean[2]};
    covariance[0] += w * d[0] * d[0];
    covariance[1] += w * d[0] * d[1];
    covariance[2] += w * d[0] * d[2];
    covariance[3] += w * d[1] * d[1];
    covariance[4] += w * d[1] * d[2];
    covariance[5] += w * d[2] * d[2];
  }
}

void cs_solve_axis(float axis[3], const float covariance[6]) {
  const float* m = covariance;
  float v[3] = {1.0f, 1.0f, 1.0f};
  bool defined = true;
  for (int step = 0; step < 4 && defined; ++step) {
    const float x = m[0] * v[0] + m[1] * v[1] + m[2] * v[2];
    const float y = m[1] * v[0] + m[3] * v[1] + m[4] * v[2];
    const float z = m[2] * v[0] + m[4] * v[1] + m[5] * v[2];
    float largest = x;
    if (y > largest) largest = y;
    if (z > largest) largest = z;
    // A product with no positive component gives no direction to follow.
    defined = largest > 0.0f && std::isfinite(largest);
    v[0] = x / largest;
    v[1] = y / largest;
    v[2] = z / largest;
  }
  defined = defined && std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
  if (!defined) {
    // Fall back on the channel that varies most: it still orders the colours
    // along a line through the block.
    const int widest = m[3] > m[0] ? (m[5] > m[3] ? 2 : 1) : (m[5] > m[0] ? 2 : 0);
    v[0] = widest == 0 ? 1.0f : 0.0f;
    v[1] = widest == 1 ? 1.0f : 0.0f;
    v[2] = widest == 2 ? 1.0f : 0.0f;
  }
  for (int c = 0; c < 3; ++c) axis[c] = v[c];
}

void cs_project_on_axis(float* keys, const float (*colours)[4], const float* axis3, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    keys[i] = colours[i][0] * axis3[0] + colours[i][1] * axis3[1] + colours[i][2] * axis3[2];
}
