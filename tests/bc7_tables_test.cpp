// The BC7 encoder's constant tables against the published ones, and its least
// squares on singular systems. The pinned texture digests hold the encoder's
// bytes at every quality.
#include <gtest/gtest.h>

#include <cstring>

#include "src/bc7_internal.h"
#include "tests/support/bc7_tables.h"

namespace {

// The encoder's constant tables equal the shared table file the reference
// decoder reads, an independent copy of the published tables.
TEST(Bc7Tables, EqualTheSharedTableFile) {
  const bc7_tables::Tables& file = bc7_tables::shared();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(bc7_weights2[k], file.weights2[k]) << k;
  for (int k = 0; k < 8; ++k) EXPECT_EQ(bc7_weights3[k], file.weights3[k]) << k;
  for (int k = 0; k < 16; ++k) EXPECT_EQ(bc7_weights4[k], file.weights4[k]) << k;
  for (int mode = 0; mode < 8; ++mode) {
    const Bc7_Mode_Info& m = bc7_modes[mode];
    const bc7_tables::Mode_Info& f = file.modes[mode];
    const uint32_t ours[10] = {m.subsets,    m.partition_bits, m.rotation_bits, m.index_selector_bits,
                               m.color_bits, m.alpha_bits, m.p_bit_per_endpoint, m.p_bit_shared,
                               m.index_bits, m.index2_bits};
    const int theirs[10] = {f.subsets,    f.partition_bits, f.rotation_bits,     f.index_selection_bits,
                            f.color_bits, f.alpha_bits,     f.pbit_per_endpoint, f.pbit_per_subset,
                            f.index_bits, f.index2_bits};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(ours[k], uint32_t(theirs[k])) << "mode " << mode;
  }
  for (uint32_t partition = 0; partition < 64; ++partition) {
    for (uint32_t pixel = 0; pixel < 16; ++pixel) {
      EXPECT_EQ(bc7_subset_of(2, partition, pixel), file.partitions2[partition][pixel]) << partition;
      EXPECT_EQ(bc7_subset_of(3, partition, pixel), file.partitions3[partition][pixel]) << partition;
    }
    EXPECT_EQ(bc7_anchors2[partition], file.anchors2[partition]) << partition;
    EXPECT_EQ(bc7_anchors3[partition][0], file.anchors3[partition][0]) << partition;
    EXPECT_EQ(bc7_anchors3[partition][1], file.anchors3[partition][1]) << partition;
  }
}

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
