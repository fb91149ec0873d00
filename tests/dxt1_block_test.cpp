// DXT1 colour blocks and the cluster set-up: tables, solid colours at every
// quality, packing rules, the order along the principal axis and its
// degenerate cases.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"

namespace {

int expand(int value, int bits) {
  return bits == 5 ? (value << 3) | (value >> 2) : (value << 2) | (value >> 4);
}

std::vector<uint8_t> bytes(uint16_t c0, uint16_t c1, uint32_t indices) {
  return {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8),
          uint8_t(indices), uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
}

TEST(Dxt1Tables, MatchesAndLookupsReachTheirValues) {
  const Dxt1_Tables& tables = dxt1_tables();
  EXPECT_EQ(tables.match5[128].hi, 15);
  EXPECT_EQ(tables.match5[128].lo, 17);
  EXPECT_EQ(tables.match6[128].hi, 34);
  EXPECT_EQ(tables.match6[128].lo, 27);
  for (int bits : {5, 6}) {
    const auto& lookup = bits == 5 ? tables.lookup5 : tables.lookup6;
    for (int t = 0; t < 256; ++t) {
      for (int k = 0; k < 2; ++k) {
        const Single_Colour_Record r = lookup[t][k];
        const int start = expand(r.start, bits), end = expand(r.end, bits);
        const int value = k == 0 ? start : (2 * start + end) / 3;
        EXPECT_LE(std::abs(value - t), r.error) << bits << " bits, value " << t << ", record " << k;
        EXPECT_LE(r.error, bits == 5 ? 4 : 2);
      }
    }
    // The ends of the range are reached exactly.
    EXPECT_EQ(lookup[0][0].error, 0);
    EXPECT_EQ(lookup[255][0].error, 0);
  }
}

TEST(Dxt1Block, SolidColoursGiveFixedBytes) {
  for (uint8_t q = 1; q <= 3; ++q) {
    EXPECT_EQ(encode_texture(solid_image(255, 255, 255), Texture_Code_Dxt1, q),
              bytes(0xFFFF, 0, 0));
    EXPECT_EQ(encode_texture(solid_image(0, 0, 0), Texture_Code_Dxt1, q), bytes(0, 0, 0));
    // Grey 128 by the endpoint match (quality 1 and 2), or by the lookup
    // (quality 3): index 2 of (10, 16, 10) and (27, 63, 27) is exact in every
    // channel, written swapped as index 3.
    EXPECT_EQ(encode_texture(solid_image(128, 128, 128), Texture_Code_Dxt1, q),
              q < 3 ? bytes(0x8B71, 0x7C4F, 0xFFFFFFFF) : bytes(0xDFFB, 0x520A, 0xFFFFFFFF))
        << int(q);
  }
  // Pure red: both endpoints match exactly and keep index 2 of equal endpoints.
  EXPECT_EQ(encode_texture(solid_image(255, 0, 0), Texture_Code_Dxt1, 1),
            bytes(0xF800, 0xF800, 0xAAAAAAAA));
}

TEST(Dxt1Block, RefinementReturnsTheTwoColoursOfATwoColourBlock) {
  alignas(32) uint8_t block[48];
  const uint8_t first[3] = {200, 40, 90}, second[3] = {20, 230, 150};
  uint32_t indices = 0, sums[8] = {};
  for (int i = 0; i < 16; ++i) {
    const bool is_second = i % 3 == 0;
    for (int c = 0; c < 3; ++c) {
      block[16 * c + i] = is_second ? second[c] : first[c];
      sums[c] += block[16 * c + i];
    }
    indices |= uint32_t(is_second ? 1 : 0) << (2 * i);
  }
  uint16_t c0 = 0, c1 = 0;
  dxt1_refine_endpoints(block, &c0, &c1, indices, sums);
  auto q = [](int x, int levels) { const int t = x * levels + 128; return (t + (t >> 8)) >> 8; };
  EXPECT_EQ(c0, q(first[0], 31) << 11 | q(first[1], 63) << 5 | q(first[2], 31));
  EXPECT_EQ(c1, q(second[0], 31) << 11 | q(second[1], 63) << 5 | q(second[2], 31));
}

TEST(ClusterSetup, GatherMergesColoursRegardlessOfAlpha) {
  uint8_t bgra[64];
  for (int i = 0; i < 16; ++i) {
    const uint8_t v = uint8_t(i * 16);
    bgra[4 * i] = v;
    bgra[4 * i + 1] = uint8_t(255 - v);
    bgra[4 * i + 2] = uint8_t(i % 2 ? 3 : 7);
    bgra[4 * i + 3] = uint8_t(i);
  }
  Cs_Gathered_Block block;
  cs_gather_block(&block, bgra, nullptr, nullptr, 16, 0, 0);
  ASSERT_EQ(block.count, 16u);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(block.map[i], i);
    EXPECT_EQ(block.counts[i], 1u);
  }
  EXPECT_FLOAT_EQ(block.colours[1][0], 3.0f / 255.0f);
  EXPECT_FLOAT_EQ(block.colours[1][2], 16.0f / 255.0f);
  // Two colours that differ only in alpha, in a checker pattern.
  for (int i = 0; i < 16; ++i) {
    const bool odd = (i + i / 4) % 2;
    bgra[4 * i] = bgra[4 * i + 1] = bgra[4 * i + 2] = odd ? 9 : 250;
    bgra[4 * i + 3] = uint8_t(i * 10);
  }
  cs_gather_block(&block, bgra, nullptr, nullptr, 16, 0, 0);
  ASSERT_EQ(block.count, 2u);
  EXPECT_EQ(block.counts[0], 8u);
  EXPECT_EQ(block.map[4], 1u);
  EXPECT_EQ(block.map[5], 0u);
  EXPECT_EQ(printed_by([&] { cs_template<7>(&block, bgra, nullptr, nullptr, 16, 0, 0); }),
            "ERROR : cs_template : pix fmt non gere : 7\n");
}

TEST(ClusterSetup, SortIsStableAndAscending) {
  const float keys[4] = {0.5f, 0.2f, 0.5f, -1.0f};
  uint8_t order[4] = {0, 1, 2, 3};
  cs_sort_order_n<2>(keys, order);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 0);
  uint8_t order4[4] = {0, 1, 2, 3};
  cs_sort_order_n<4>(keys, order4);  // the two 0.5 keys keep their order
  EXPECT_EQ(std::vector<uint8_t>(order4, order4 + 4), (std::vector<uint8_t>{3, 1, 0, 2}));
}

TEST(ClusterSetup, DegenerateAxesStayDefined) {
  // Same R + G + B for both colours: the power iteration has nothing to follow.
  alignas(32) float colours[16][4] = {{10 / 255.0f, 0, 5 / 255.0f, 0}, {0, 10 / 255.0f, 5 / 255.0f, 0}};
  const float weights[16] = {1.0f, 1.0f};
  float axis[3], keys[2];
  cs_principal_axis_n<2>(axis, colours, weights);
  EXPECT_EQ(axis[0], 1.0f);
  EXPECT_EQ(axis[1], 0.0f);
  EXPECT_EQ(axis[2], 0.0f);
  cs_project_on_axis_n<2>(keys, colours, axis);
  EXPECT_TRUE(std::isfinite(keys[0]) && std::isfinite(keys[1]));
  EXPECT_GT(keys[0], keys[1]);
  // A plane of colours with equal sums, green varying most.
  alignas(32) float plane[16][4];
  for (int i = 0; i < 16; ++i) {
    plane[i][0] = float(i % 4) / 255.0f;
    plane[i][1] = float(40 - i % 4 - 2 * i) / 255.0f;
    plane[i][2] = float(2 * i) / 255.0f;
  }
  cs_principal_axis_n<16>(axis, plane, weights);
  for (float a : axis) EXPECT_TRUE(std::isfinite(a));
  EXPECT_EQ(axis[1], 1.0f);
  // An ordinary block follows its main direction.
  alignas(32) float line[16][4];
  for (int i = 0; i < 5; ++i) {
    line[i][0] = float(i) / 4.0f;
    line[i][1] = float(i) / 8.0f;
    line[i][2] = 0.25f;
  }
  const float five[16] = {1, 2, 1, 1, 3};
  cs_principal_axis_n<5>(axis, line, five);
  EXPECT_FLOAT_EQ(axis[0], 1.0f);
  EXPECT_FLOAT_EQ(axis[1], 0.5f);
  EXPECT_NEAR(axis[2], 0.0f, 1e-6f);
}

TEST(ClusterSetup, PackingKeepsFourColourOrder) {
  const float equal[8] = {0.5f, 0.5f, 0.5f, 0, 0.5f, 0.5f, 0.5f, 0};
  uint8_t twos[16];
  std::fill(twos, twos + 16, uint8_t(2));
  uint64_t block = 0;
  dxt1_pack_block_from_float(equal, twos, &block);
  const uint16_t grey = rgb_to_565(0.5f, 0.5f, 0.5f);
  EXPECT_EQ(block, uint64_t(grey));
  const float ascending[8] = {0.0f, 0.0f, 0.0f, 0, 1.0f, 1.0f, 1.0f, 0};
  dxt1_pack_block_from_float(ascending, twos, &block);
  EXPECT_EQ(block, 0xFFFFFFFF0000FFFFull);
  const uint8_t fields[8] = {31, 0, 0, 0, 0, 63, 0, 0};
  uint8_t mixed[16];
  for (int i = 0; i < 16; ++i) mixed[i] = uint8_t(i % 4);
  dxt1_pack_block_from_565(fields, mixed, &block);
  EXPECT_EQ(block & 0xFFFFFFFF, 0x07E0F800u);
  EXPECT_EQ(block >> 32, 0xE4E4E4E4u);
}

TEST(ClusterFitBlock, CountsOutsideTheSearchWriteABlackBlock) {
  // Empty slots: any kernel called before the count check would crash.
  const Dxt_Encoder_Context context{};
  Cs_Gathered_Block block{};
  for (uint64_t n : {0ull, 1ull, 17ull, 1000ull}) {
    std::vector<uint8_t> out(8, 0xCD);
    EXPECT_EQ(printed_by([&] { cluster_fit_by_count(context.head, &block, out.data(), n); }),
              "ERROR : non code pour count : " + std::to_string(n) + "\n");
    EXPECT_EQ(out, std::vector<uint8_t>(8, 0));
  }
}

}  // namespace
