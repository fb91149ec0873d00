// Checks the reference decoders on hand-made blocks whose decoded values were
// worked out by hand from the published formats. Block placement, cropping and
// image loading are exercised by every whole-frame PSNR check.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/bc7_tables.h"
#include "tests/support/test_support.h"

namespace {

using Pixels = std::array<uint8_t, 64>;
using Bgra = std::array<int, 4>;

Bgra pixel(const Pixels& p, int i) { return {p[4 * i], p[4 * i + 1], p[4 * i + 2], p[4 * i + 3]}; }

// Checks the listed pixels (index, B, G, R, A).
void expect_pixels(const Pixels& p, std::initializer_list<std::pair<int, Bgra>> want) {
  for (const auto& [i, bgra] : want) EXPECT_EQ(pixel(p, i), bgra) << "pixel " << i;
}

// Little-endian colour endpoints and 2-bit indices of a DXT colour half.
void put_colour_half(uint8_t* out8, uint16_t c0, uint16_t c1, const std::array<int, 16>& index) {
  out8[0] = uint8_t(c0), out8[1] = uint8_t(c0 >> 8), out8[2] = uint8_t(c1), out8[3] = uint8_t(c1 >> 8);
  uint32_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= uint32_t(index[i]) << (2 * i);
  for (int k = 0; k < 4; ++k) out8[4 + k] = uint8_t(bits >> (8 * k));
}

// Endpoint bytes and 3-bit indices of a single-channel block.
void put_single_channel(uint8_t* out8, int a0, int a1, const std::array<int, 16>& index) {
  out8[0] = uint8_t(a0), out8[1] = uint8_t(a1);
  uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= uint64_t(index[i]) << (3 * i);
  for (int k = 0; k < 6; ++k) out8[2 + k] = uint8_t(bits >> (8 * k));
}

TEST(Dxt1Decoder, FourColoursWhenTheFirstEndpointIsLargerElseThreeAndTransparentBlack) {
  uint8_t block[8];
  Pixels p;
  put_colour_half(block, 0xF800, 0x001F, {0, 1, 2, 3});  // red, blue
  decode_dxt1_block(block, p.data());
  expect_pixels(p, {{0, {0, 0, 255, 255}}, {1, {255, 0, 0, 255}}, {2, {85, 0, 170, 255}}, {3, {170, 0, 85, 255}},
                    {15, {0, 0, 255, 255}}});
  put_colour_half(block, 0x001F, 0xF800, {0, 1, 2, 3});
  decode_dxt1_block(block, p.data());
  expect_pixels(p, {{0, {255, 0, 0, 255}}, {1, {0, 0, 255, 255}}, {2, {128, 0, 128, 255}}, {3, {0, 0, 0, 0}}});
  // Equal endpoints also select the three-colour mode; 5- and 6-bit fields
  // are widened by bit repetition.
  put_colour_half(block, 0x8410, 0x8410, {3, 0});
  decode_dxt1_block(block, p.data());
  expect_pixels(p, {{0, {0, 0, 0, 0}}, {1, {132, 130, 132, 255}}});
}

TEST(Dxt5Decoder, EightOrSixValueAlphaAndAlwaysFourColours) {
  uint8_t block[16];
  std::array<int, 16> alpha_index{};
  for (int i = 0; i < 16; ++i) alpha_index[i] = i % 8;
  put_single_channel(block, 255, 0, alpha_index);
  // colour0 < colour1 would mean three colours in DXT1; DXT5 ignores that.
  put_colour_half(block + 8, 0x001F, 0xF800, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2});
  Pixels p;
  decode_dxt5_block(block, p.data());
  const int eight[8] = {255, 0, 219, 182, 146, 109, 73, 36};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pixel(p, i)[3], eight[i % 8]) << i;
  expect_pixels(p, {{0, {85, 0, 170, 255}}, {15, {170, 0, 85, 36}}});

  put_single_channel(block, 50, 200, alpha_index);
  decode_dxt5_block(block, p.data());
  const int six[8] = {50, 200, 80, 110, 140, 170, 0, 255};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pixel(p, i)[3], six[i % 8]) << i;
}

TEST(Rgtc1Decoder, BothPaletteFormsAndIndexPacking) {
  std::array<int, 16> index;
  for (int i = 0; i < 16; ++i) index[i] = 7 - i % 8;
  const struct {
    int a0, a1, palette[8];
  } cases[] = {{210, 10, {210, 10, 181, 153, 124, 96, 67, 39}}, {10, 210, {10, 210, 50, 90, 130, 170, 0, 255}}};
  for (const auto& c : cases) {
    uint8_t block[8], out[16];
    put_single_channel(block, c.a0, c.a1, index);
    decode_rgtc1_block(block, out);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], c.palette[7 - i % 8]) << c.a0 << " " << i;
  }
}

// colour = Co (5 bits) << 11 | Cg (6 bits) << 5 | scale - 1.
uint16_t cocg(int co, int cg, int scale) { return uint16_t(co << 11 | cg << 5 | (scale - 1)); }

TEST(YcocgDecoder, ChromaPaletteInverseTransformAndScales) {
  uint8_t block[16];
  put_single_channel(block, 100, 0, {});
  // Co 20 -> 165, Cg 33 -> 134; Co 10 -> 82, Cg 20 -> 81; scale 1.
  put_colour_half(block + 8, cocg(20, 33, 1), cocg(10, 20, 1), {0, 1, 2});
  Pixels p;
  decode_ycocg_dxt5_block(block, p.data());
  // co 37, cg 6; co -46, cg -47; a third of the way.
  expect_pixels(p, {{0, {57, 106, 131, 255}}, {1, {193, 53, 101, 255}}, {2, {102, 88, 121, 255}}});
  // Co 24 -> 198 (+70), Cg 10 -> 40 (-88), halved.
  put_colour_half(block + 8, cocg(24, 10, 2), cocg(24, 10, 2), {});
  decode_ycocg_dxt5_block(block, p.data());
  expect_pixels(p, {{0, {109, 56, 179, 255}}});
}

// Builds a BC7 block field by field, least significant bit first.
struct Bc7_Writer {
  uint8_t block_[16] = {};
  int position_ = 0;
  explicit Bc7_Writer(int mode) { put(1 << mode, mode + 1); }
  Bc7_Writer& put(uint64_t value, int bits) {
    for (int i = 0; i < bits; ++i, ++position_)
      if ((value >> i) & 1) block_[position_ >> 3] |= uint8_t(1 << (position_ & 7));
    return *this;
  }
  // The same width for several values in a row.
  Bc7_Writer& put_all(std::initializer_list<int> values, int bits) { for (int v : values) put(v, bits); return *this; }
  // Sixteen indices, the anchors one bit shorter.
  Bc7_Writer& put_indices(const std::array<int, 16>& index, int bits, std::initializer_list<int> anchors) {
    for (int i = 0; i < 16; ++i) put(index[i], bits - (std::count(anchors.begin(), anchors.end(), i) ? 1 : 0));
    return *this;
  }
  Pixels decode() {
    EXPECT_EQ(position_, 128);
    Pixels p;
    decode_bc7_block(block_, p.data());
    return p;
  }
};

TEST(Bc7Decoder, Mode6PbitsAndFourBitIndicesMode5Rotation) {
  Bc7_Writer w(6);
  w.put_all({127, 0}, 7).put_all({0, 127}, 7).put_all({64, 64}, 7).put_all({127, 127}, 7).put_all({1, 0}, 1);
  w.put_indices({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 4, {0});
  expect_pixels(w.decode(), {{0, {129, 1, 255, 255}}, {8, {128, 135, 120, 254}}, {15, {128, 254, 0, 254}}});

  Bc7_Writer w5(5);  // rotation swaps alpha and red
  w5.put(1, 2).put_all({127, 0}, 7).put_all({0, 0}, 7).put_all({0, 0}, 7).put_all({10, 200}, 8);
  w5.put_indices({0, 3, 0}, 2, {0}).put_indices({0, 3, 1}, 2, {0});  // colour, then alpha
  expect_pixels(w5.decode(), {{0, {0, 0, 10, 255}}, {1, {0, 0, 200, 0}}, {2, {0, 0, 72, 255}}});
}

TEST(Bc7Decoder, Mode1SharedPbitsAndAnchors) {
  // Partition 35: subset 1 holds pixels 2, 3, 6, 7, 8, 9, 12, 13; its anchor
  // is pixel 8, not its first pixel.
  Bc7_Writer w(1);
  w.put(35, 6).put_all({63, 0, 0, 0}, 6).put_all({0, 0, 63, 0}, 6).put_all({0, 0, 0, 0}, 6).put_all({1, 0}, 1);
  w.put_indices({0, 7, 5, 0, 0, 0, 0, 0, 3, 7}, 3, {0, 8});
  // Subset 0's shared p-bit of 1 lifts its zero channels to 2.
  expect_pixels(w.decode(), {{0, {2, 2, 255, 255}}, {1, {2, 2, 2, 255}}, {2, {0, 71, 0, 255}}, {8, {0, 146, 0, 255}},
                             {9, {0, 0, 0, 255}}});
}

// Modes 0, 2, 3 and 4, which the encoder never writes, are left unchecked.
TEST(Bc7Decoder, Mode7AndReserved) {
  Bc7_Writer w7(7);
  w7.put(0, 6).put_all({31, 0, 0, 0}, 5).put_all({0, 0, 0, 0}, 5).put_all({0, 0, 0, 0}, 5).put_all({16, 0, 0, 0}, 5);
  w7.put_all({1, 0, 0, 0}, 1).put_indices({}, 2, {0, 15});
  expect_pixels(w7.decode(), {{0, {4, 4, 255, 134}}, {2, {0, 0, 0, 0}}});

  uint8_t block[16] = {0, 0xFF, 0xFF};  // the reserved mode: transparent black
  Pixels p, zero{};
  p.fill(7), decode_bc7_block(block, p.data());
  EXPECT_EQ(p, zero);
}

// The shared table file reads completely; a damaged copy is refused with its
// line rather than decoded with a hole in the tables.
TEST(Bc7Tables, ReadFromTheSharedFile) {
  std::ifstream in(HAP_BC7_TABLES);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto line_of = [&](const std::string& t) { return size_t(std::ranges::find(lines, t) - lines.begin()); };
  const std::string path = temp_path("bc7_tables.txt");
  const auto refusal = [&](size_t index, const std::string& replacement) {
    std::ofstream out(path);
    for (size_t k = 0; k < lines.size(); ++k) out << (k == index ? replacement : lines[k]) << "\n";
    out.close();
    return error_text([&] { bc7_tables::read_file(path); });
  };
  const size_t anchors3 = line_of("[anchors3]");
  EXPECT_EQ(refusal(anchors3 + 40, "38 8 16"), path + ":" + std::to_string(anchors3 + 41) + ": 16 is out of range");
  EXPECT_EQ(refusal(anchors3 + 40, "39 8 9"), path + ":" + std::to_string(anchors3 + 41) + ": expected row 38");
  EXPECT_EQ(refusal(line_of("0011200122002220"), "0011200122002230"),
            path + ":" + std::to_string(line_of("0011200122002220") + 1) + ": bad subset digit");
  EXPECT_EQ(refusal(line_of("[weights4]"), "[weights5]"), path + ": no section [weights4]");
  EXPECT_EQ(refusal(anchors3 + 64, "# a row gone"), path + ": section [anchors3] has 63 rows, not 64");
  std::remove(path.c_str());
  EXPECT_NE(error_text([&] { bc7_tables::read_file(path); }).find("cannot open"), std::string::npos);
}

TEST(ErrorMeasures, PsnrAndMaxError) {
  uint8_t a[8] = {0, 0, 0, 0, 10, 20, 30, 40}, b[8] = {255, 0, 0, 9, 10, 20, 30, 40};
  EXPECT_TRUE(std::isinf(psnr_bgra(a, a, 2, true)));
  EXPECT_NEAR(psnr_bgra(a, b, 1, false), 10 * std::log10(3.0), 1e-9);
  EXPECT_NEAR(psnr_bgra(a, b, 2, true), 10 * std::log10(255.0 * 255 * 8 / (255.0 * 255 + 81)), 1e-9);
  EXPECT_TRUE(max_abs_error(a, b, 8) == 255 && max_abs_error(a + 4, b + 4, 4) == 0);
}

}  // namespace
