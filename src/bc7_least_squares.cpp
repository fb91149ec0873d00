// Least-squares endpoints for a fixed set of indices: the pair (e0, e1) that
// minimises the squared error of (1 - w) e0 + w e1 against the pixels, per
// channel, w being each pixel's interpolation weight.
#include "src/bc7_internal.h"

namespace {

// Solves channels [First, First + Count) into out[c - First].
template <int First, int Count>
void least_squares(uint32_t count, const uint8_t indices[], const float factors[][4],
                   float out1[], float out2[], const uint8_t pixels[]) {
  float a = 0.0f, b = 0.0f, c = 0.0f;
  float sum[Count] = {}, weighted[Count] = {};
  for (uint32_t i = 0; i < count; ++i) {
    const float* f = factors[indices[i]];
    c += f[0];
    b += f[1];
    a += f[2];
    for (int k = 0; k < Count; ++k) {
      const float x = float(pixels[4 * i + First + k]);
      sum[k] += x;
      weighted[k] += f[3] * x;
    }
  }
  const float det = a * c - b * b;
  // All pixels on one index leave the system singular; 0 endpoints are still
  // a valid (if poor) candidate.
  const float inv = det == 0.0f ? 0.0f : 1.0f / det;
  for (int k = 0; k < Count; ++k) {
    const float p = sum[k] - weighted[k];
    const float q = weighted[k];
    out1[k] = (a * q - b * p) * inv;
    out2[k] = (c * p - b * q) * inv;
    if (out1[k] < 0.0f || out2[k] > 255.0f) {
      // A flat channel is better kept than extrapolated.
      const uint8_t v = pixels[First + k];
      bool flat = true;
      for (uint32_t i = 1; i < count; ++i) flat = flat && pixels[4 * i + First + k] == v;
      if (flat) out1[k] = out2[k] = float(v);
    }
  }
}

}  // namespace

void bc7_least_squares_rgb(uint32_t count, const uint8_t indices[], const float factors[][4],
                           float out1[4], float out2[4], const uint8_t pixels[]) {
  least_squares<0, 3>(count, indices, factors, out1, out2, pixels);
  out1[3] = out2[3] = 255.0f;
}

void bc7_least_squares_rgba(uint32_t count, const uint8_t indices[], const float factors[][4],
                            float out1[4], float out2[4], const uint8_t pixels[]) {
  least_squares<0, 4>(count, indices, factors, out1, out2, pixels);
}

void bc7_least_squares_alpha(uint32_t count, const uint8_t indices[], const float factors[][4],
                             float out1[1], float out2[1], const uint8_t pixels[]) {
  least_squares<3, 1>(count, indices, factors, out1, out2, pixels);
}
