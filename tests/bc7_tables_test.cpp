// The BC7 encoder's least squares on singular systems. The pinned texture
// digests hold the encoder's bytes at every quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "src/bc7_internal.h"
#include "tests/support/bc7_tables.h"

namespace {

TEST(Bc7LeastSquares, SingularSystems) {
  // Every pixel on one index: no line to fit, the endpoints come out as zeros.
  uint8_t pixels[64];
  for (int k = 0; k < 16; ++k) {
    const uint8_t px[4] = {uint8_t(10 * k), 50, uint8_t(255 - k), uint8_t(k)};
    std::memcpy(pixels + 4 * k, px, 4);
  }
  uint8_t zeros[16] = {}, tops[16];
  std::memset(tops, 3, 16);
  float out1[4], out2[4];
  for (const uint8_t* indices : {zeros, tops}) {
    bc7_least_squares_rgb(16, indices, bc7_factors2, out1, out2, pixels);
    EXPECT_EQ(out1[0], 0.0f);
    EXPECT_EQ(out2[2], 0.0f);
    EXPECT_EQ(out1[3], 255.0f);
    bc7_least_squares_rgba(16, indices, bc7_factors2, out1, out2, pixels);
    EXPECT_EQ(out1[3], 0.0f);
    EXPECT_EQ(out2[3], 0.0f);
  }
  float a1, a2;
  bc7_least_squares_alpha(16, zeros, bc7_factors2, &a1, &a2, pixels);
  EXPECT_EQ(a1, 0.0f);
  EXPECT_EQ(a2, 0.0f);
}

}  // namespace
