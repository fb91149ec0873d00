// The frame utilities: DXT1 / DXT5 block rows over libsquish, RGTC1 and the
// exact alpha encoder, YCoCg-DXT5 block rows, and the processing of encoded
// HAP frames (re-encoding, checked decoding, border and alpha detection).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "HAP/DXT_Frame.h"
#include "HAP/DXT_compress.h"
#include "HAP/HAP_process.h"
#include "HAP/buffers_list.h"
#include "HAP/hap_frame.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A test image cut to whole blocks (w x h from the top-left corner).
Test_Image cut_image(const std::string& name, int w, int h) {
  const Test_Image full = load_test_image(name);
  Test_Image cut{w, h, Bytes(size_t(w) * h * 4)};
  for (int y = 0; y < h; ++y)
    std::memcpy(&cut.bgra[size_t(y) * w * 4], &full.bgra[size_t(y) * full.width * 4], size_t(w) * 4);
  return cut;
}

Bytes bgra_to_argb(const Bytes& bgra) {
  Bytes argb(bgra.size());
  for (size_t i = 0; i < bgra.size(); i += 4) {
    argb[i] = bgra[i + 3];
    argb[i + 1] = bgra[i + 2];
    argb[i + 2] = bgra[i + 1];
    argb[i + 3] = bgra[i];
  }
  return argb;
}

Bytes flip_rows(const Bytes& image, int w, int h) {
  Bytes flipped(image.size());
  for (int y = 0; y < h; ++y)
    std::memcpy(&flipped[size_t(h - 1 - y) * w * 4], &image[size_t(y) * w * 4], size_t(w) * 4);
  return flipped;
}

size_t blocks_of(int w, int h) { return size_t(w / 4) * (h / 4); }

Bytes encode_dxt(const Test_Image& im, bool dxt5, uint8_t fit, uint8_t orientation = 1) {
  Bytes out(blocks_of(im.width, im.height) * (dxt5 ? 16 : 8));
  const Bytes source = orientation == 1 ? im.bgra : flip_rows(im.bgra, im.width, im.height);
  (dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra)(
      0, source.data(), uint16_t(im.width), uint16_t(im.height), uint16_t(im.height),
      uint16_t(im.width * 4), out.data(), 0, fit, orientation);
  return out;
}

Bytes encode_ycocg(const Test_Image& im) {
  Bytes out(blocks_of(im.width, im.height) * 16);
  compress_ycocg_dxt5_rows_bgra(0, im.bgra.data(), uint16_t(im.width), uint16_t(im.height),
                                uint16_t(im.height), uint16_t(im.width * 4), out.data(), 0, 16, 1, 0);
  return out;
}

Bytes encode_rgtc1(const Test_Image& im) {
  Bytes out(blocks_of(im.width, im.height) * 8);
  compress_rgtc1_rows_bgra(0, im.bgra.data(), uint16_t(im.width), uint16_t(im.height),
                           uint16_t(im.height), uint16_t(im.width * 4), out.data(), 0, 1);
  return out;
}

// 16 pixels of one B, G, R, A value, as a 4 x 4 image.
Test_Image solid_block(uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  Test_Image im{4, 4, Bytes(64)};
  for (int p = 0; p < 16; ++p) {
    im.bgra[4 * p] = b;
    im.bgra[4 * p + 1] = g;
    im.bgra[4 * p + 2] = r;
    im.bgra[4 * p + 3] = a;
  }
  return im;
}

uint16_t u16_at(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Alpha values of a decoded BGRA picture.
Bytes alpha_of(const Bytes& bgra) {
  Bytes a(bgra.size() / 4);
  for (size_t i = 0; i < a.size(); ++i) a[i] = bgra[4 * i + 3];
  return a;
}

// The exact encoder writes its indices most significant first; the reference
// decoder reads RGTC1 order.
Bytes msb_block_to_rgtc1(const uint8_t in[8]) {
  uint64_t msb = 0, lsb = 0;
  for (int i = 0; i < 6; ++i) msb = msb << 8 | in[2 + i];
  for (int p = 0; p < 16; ++p) lsb |= ((msb >> (3 * (15 - p))) & 7) << (3 * p);
  Bytes out{in[0], in[1]};
  for (int i = 0; i < 6; ++i) out.push_back(uint8_t(lsb >> (8 * i)));
  return out;
}

}  // namespace

// ------------------------------------------------------------ DXT1 and DXT5

TEST(DxtSquishRows, PictureQualityByFitMode) {
  const Test_Image im = cut_image("coffee_600x400.bgra", 128, 96);
  const double floors[3] = {36.0, 38.0, 38.0};  // range, cluster x1, cluster x8
  double psnr[3];
  for (uint8_t fit = 0; fit < 3; ++fit) {
    const Bytes dxt1 = encode_dxt(im, false, fit);
    const Bytes decoded = decode_texture(Tex::Dxt1, dxt1.data(), im.width, im.height);
    psnr[fit] = psnr_bgra(im.bgra.data(), decoded.data(), size_t(im.width) * im.height, false);
    EXPECT_GT(psnr[fit], floors[fit]) << int(fit);
    // Only four-colour blocks: colour0 >= colour1, and equal ends index 0.
    for (size_t b = 0; b < dxt1.size(); b += 8) {
      ASSERT_GE(u16_at(&dxt1[b]), u16_at(&dxt1[b + 2]));
      if (u16_at(&dxt1[b]) == u16_at(&dxt1[b + 2])) {
        ASSERT_EQ(0u, dxt1[b + 4] | dxt1[b + 5] | dxt1[b + 6] | dxt1[b + 7]);
      }
    }
    // The DXT5 colour halves are the DXT1 blocks of the same pixels when every
    // colour comes with one alpha (an opaque picture).
    const Bytes dxt5 = encode_dxt(im, true, fit);
    for (size_t b = 0; b < dxt1.size() / 8; ++b)
      ASSERT_EQ(0, std::memcmp(&dxt1[8 * b], &dxt5[16 * b + 8], 8)) << b;
  }
  EXPECT_GE(psnr[2], psnr[1] - 0.1);
}

TEST(DxtSquishRows, AlphaPictureRoundTrip) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 512, 64);
  const Bytes dxt5 = encode_dxt(im, true, 1);
  const Bytes decoded = decode_texture(Tex::Dxt5, dxt5.data(), im.width, im.height);
  EXPECT_GT(psnr_bgra(im.bgra.data(), decoded.data(), size_t(im.width) * im.height, true), 37.0);
  EXPECT_LE(max_abs_error(alpha_of(im.bgra).data(), alpha_of(decoded).data(), size_t(im.width) * im.height), 12);
}

TEST(DxtSquishRows, LayoutsOrientationAndRowRanges) {
  const Test_Image im = cut_image("chelsea_451x300.bgra", 64, 24);
  for (bool dxt5 : {false, true}) {
    const Bytes bgra = encode_dxt(im, dxt5, 2);
    const Bytes argb_source = bgra_to_argb(im.bgra);
    Bytes argb(bgra.size());
    (dxt5 ? compress_dxt5_rows_argb : compress_dxt1_rows_argb)(0, argb_source.data(), 64, 24, 24, 256,
                                                               argb.data(), 1, 2);
    EXPECT_EQ(bgra, argb);
    // A bottom-up source goes through the generic member: same blocks.
    EXPECT_EQ(bgra, encode_dxt(im, dxt5, 2, 0));
    // Row count 7 encodes one block row at its place; 3 encodes none.
    const size_t row_bytes = 16 * (dxt5 ? 16 : 8);
    Bytes partial(bgra.size(), 0xAB);
    (dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra)(2, im.bgra.data(), 64, 24, 7, 256,
                                                               partial.data(), 0, 2, 1);
    (dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra)(4, im.bgra.data(), 64, 24, 3, 256,
                                                               partial.data(), 0, 2, 1);
    for (size_t i = 0; i < partial.size(); ++i) {
      const bool in_row_2 = i >= 2 * row_bytes && i < 3 * row_bytes;
      ASSERT_EQ(in_row_2 ? bgra[i] : 0xAB, partial[i]) << i;
    }
  }
}

TEST(DxtSquishRows, SolidBlocks) {
  // Colours on the 5:6:5 grid come back exactly, others within one step.
  for (const auto& c : {std::vector<int>{0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {40, 128, 200}, {7, 77, 177}}) {
    const Test_Image im = solid_block(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]), 255);
    const Bytes block = encode_dxt(im, false, 2);
    uint8_t decoded[64];
    decode_dxt1_block(block.data(), decoded);
    EXPECT_LE(max_abs_error(im.bgra.data(), decoded, 64), 3) << c[0] << " " << c[1] << " " << c[2];
    EXPECT_GE(u16_at(&block[0]), u16_at(&block[2]));
  }
  const Bytes red = encode_dxt(solid_block(0, 0, 255, 255), false, 0);
  EXPECT_EQ(0xF800, u16_at(&red[0]));
  uint8_t decoded[64];
  decode_dxt1_block(red.data(), decoded);
  for (int p = 0; p < 16; ++p) EXPECT_EQ(255, decoded[4 * p + 2]);
}

TEST(DxtSquishRows, OneColourTwoAlphasIsTwoPoints) {
  Test_Image im = solid_block(100, 150, 200, 255);
  for (int p = 0; p < 6; ++p) im.bgra[4 * p + 3] = 40;
  uint8_t rgba[64];
  for (int p = 0; p < 16; ++p) {
    rgba[4 * p] = im.bgra[4 * p + 2];
    rgba[4 * p + 1] = im.bgra[4 * p + 1];
    rgba[4 * p + 2] = im.bgra[4 * p];
    rgba[4 * p + 3] = im.bgra[4 * p + 3];
  }
  Colour_Set set;
  build_colour_set(rgba, &set);
  ASSERT_EQ(2u, set.count);
  EXPECT_FLOAT_EQ(std::sqrt(6.0f), set.weights[0]);
  EXPECT_FLOAT_EQ(std::sqrt(10.0f), set.weights[1]);
  EXPECT_EQ(0, set.remap[5]);
  EXPECT_EQ(1, set.remap[6]);
  // The fit over two coincident points: the rounded colour at both ends.
  const uint16_t rounded = uint16_t(int(200 / 255.0f * 31 + 0.5f) << 11 | int(150 / 255.0f * 63 + 0.5f) << 5 |
                                    int(100 / 255.0f * 31 + 0.5f));
  for (uint8_t fit = 0; fit < 3; ++fit) {
    const Bytes block = encode_dxt(im, true, fit);
    const uint8_t expected[8] = {uint8_t(rounded), uint8_t(rounded >> 8), uint8_t(rounded),
                                 uint8_t(rounded >> 8), 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, &block[8], 8));
    uint8_t decoded[64];
    decode_dxt5_block(block.data(), decoded);
    EXPECT_EQ(0, max_abs_error(alpha_of(im.bgra).data(), alpha_of(Bytes(decoded, decoded + 64)).data(), 16));
  }
  // In DXT1 alpha is not part of the key: one point, single-colour fit.
  rgba[3] = 0;
  for (int p = 0; p < 16; ++p) rgba[4 * p + 3] = 0;
  build_colour_set(rgba, &set);
  EXPECT_EQ(1u, set.count);
  EXPECT_FLOAT_EQ(4.0f, set.weights[0]);
}

// ------------------------------------------------------------ RGTC1 / alpha

TEST(AlphaBlocks, FastEncoderCases) {
  uint8_t values[16], out[8];
  for (int p = 0; p < 16; ++p) values[p] = p % 3 ? 10 : 200;
  compress_alpha_block_fast(values, out);
  EXPECT_EQ(200, out[0]);
  EXPECT_EQ(10, out[1]);
  uint8_t decoded[16];
  decode_rgtc1_block(out, decoded);
  EXPECT_EQ(0, std::memcmp(values, decoded, 16));

  std::fill(values, values + 16, 77);
  compress_alpha_block_fast(values, out);
  const uint8_t flat[8] = {77, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(flat, out, 8));

  // Random blocks: every value within about half a palette step.
  std::mt19937 rng(5);
  for (int t = 0; t < 2000; ++t) {
    const int lo = int(rng() % 256), span = int(rng() % (256 - lo));
    for (auto& v : values) v = uint8_t(lo + (span ? int(rng() % (span + 1)) : 0));
    compress_alpha_block_fast(values, out);
    decode_rgtc1_block(out, decoded);
    const int range = *std::max_element(values, values + 16) - *std::min_element(values, values + 16);
    ASSERT_LE(max_abs_error(values, decoded, 16), range / 14 + 1) << t;
  }
}

TEST(AlphaBlocks, Rgtc1RowsMatchBlocksInEveryLayout) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 256, 32);
  const Bytes bgra = encode_rgtc1(im);
  const Bytes decoded = decode_texture(Tex::Rgtc1, bgra.data(), im.width, im.height);
  const Bytes alpha = alpha_of(im.bgra);
  Bytes decoded_alpha(alpha.size());
  for (size_t i = 0; i < alpha.size(); ++i) decoded_alpha[i] = decoded[4 * i];
  EXPECT_LE(max_abs_error(alpha.data(), decoded_alpha.data(), alpha.size()), 10);

  const Bytes argb_source = bgra_to_argb(im.bgra);
  Bytes argb(bgra.size()), flipped(bgra.size());
  compress_rgtc1_rows_argb(0, argb_source.data(), 256, 32, 32, 1024, argb.data(), 1);
  const Bytes upside_down = flip_rows(im.bgra, 256, 32);
  compress_rgtc1_rows_bgra(0, upside_down.data(), 256, 32, 32, 1024, flipped.data(), 0, 0);
  EXPECT_EQ(bgra, argb);
  EXPECT_EQ(bgra, flipped);
}

TEST(AlphaBlocks, ExactEncoderCases) {
  auto encode = [](std::vector<uint8_t> v) {
    uint8_t out[8];
    compress_alpha_block_exact(v.data(), out);
    return Bytes(out, out + 8);
  };
  std::vector<uint8_t> v(16);
  for (int p = 0; p < 16; ++p) v[p] = p < 8 ? 0 : 255;
  Bytes block = encode(v);
  // luma0 0, luma1 255; indices 0 then 1, most significant first: pixels 8..15
  // hold 1 in the low 24 bits (octal 1111 1111).
  EXPECT_EQ((Bytes{0, 255, 0, 0, 0, 0x24, 0x92, 0x49}), block);

  for (int p = 0; p < 16; ++p) v[p] = p % 3 == 0 ? 0 : p % 3 == 1 ? 255 : 128;
  block = encode(v);
  EXPECT_EQ(0, block[0]);
  EXPECT_EQ(128, block[1]);
  uint8_t decoded[16];
  decode_rgtc1_block(msb_block_to_rgtc1(block.data()).data(), decoded);
  EXPECT_EQ(0, std::memcmp(v.data(), decoded, 16));

  for (int p = 0; p < 16; ++p) v[p] = uint8_t(100 + p % 4);
  block = encode(v);
  EXPECT_EQ(100, block[0]);
  EXPECT_EQ(103, block[1]);

  EXPECT_EQ((Bytes(8, 0)), encode(std::vector<uint8_t>(16, 0)));
  EXPECT_EQ((Bytes{255, 0, 0, 0, 0, 0, 0, 0}), encode(std::vector<uint8_t>(16, 255)));
  block = encode(std::vector<uint8_t>(16, 42));
  EXPECT_EQ((Bytes{42, 0, 0, 0, 0, 0, 0, 0}), block);
}

TEST(AlphaBlocks, ExactEncoderKeepsEndsAndMatchesItsPalette) {
  std::mt19937 rng(11);
  for (int t = 0; t < 3000; ++t) {
    uint8_t v[16];
    const int kinds = 1 + int(rng() % 6);
    uint8_t choices[6];
    for (auto& c : choices) c = uint8_t(rng() % 4 == 0 ? (rng() % 2) * 255 : rng() % 256);
    for (auto& x : v) x = choices[rng() % kinds];
    uint8_t out[8], decoded[16];
    compress_alpha_block_exact(v, out);
    decode_rgtc1_block(msb_block_to_rgtc1(out).data(), decoded);
    int error = 0;
    for (int p = 0; p < 16; ++p) {
      if (v[p] == 0 || v[p] == 255) {
        ASSERT_EQ(v[p], decoded[p]) << t;
      }
      error += std::abs(v[p] - decoded[p]);
    }
    // No worse than the six-value palette between the middle extremes (the
    // reference decoder rounds interpolated entries, the encoder floors them).
    uint8_t lo = 255, hi = 0;
    for (uint8_t x : v)
      if (x != 0 && x != 255) lo = std::min(lo, x), hi = std::max(hi, x);
    if (lo <= hi) {
      uint8_t palette[8], indices[16];
      build_alpha_palette_6(lo, hi, palette);
      ASSERT_LE(error, match_alpha_palette(v, palette, indices) + 16) << t;
    }
  }
}

TEST(AlphaBlocks, BuildingBlocks) {
  uint8_t palette[8];
  build_alpha_palette_8(255, 0, palette);
  EXPECT_EQ((Bytes{255, 0, 218, 182, 145, 109, 72, 36}), Bytes(palette, palette + 8));
  build_alpha_palette_6(10, 60, palette);
  EXPECT_EQ((Bytes{10, 60, 20, 30, 40, 50, 0, 255}), Bytes(palette, palette + 8));
  uint8_t values[16], indices[16];
  for (int p = 0; p < 16; ++p) values[p] = uint8_t(p * 4);  // 0..60
  EXPECT_EQ(36, match_alpha_palette(values, palette, indices));
  EXPECT_EQ(6, indices[0]);   // 0 is an entry of its own
  EXPECT_EQ(0, indices[3]);   // 12: 10 is nearer than 20
  EXPECT_EQ(2, indices[5]);   // 20 exactly
  EXPECT_EQ(1, indices[15]);  // 60 exactly
  uint8_t out[8];
  uint8_t ramp[16];
  for (int p = 0; p < 16; ++p) ramp[p] = uint8_t(p % 8);
  pack_alpha_block_msb(9, 8, ramp, out);
  // 0 1 2 3 4 5 6 7 twice: octal 01234567 01234567.
  EXPECT_EQ((Bytes{9, 8, 0x05, 0x39, 0x77, 0x05, 0x39, 0x77}), Bytes(out, out + 8));
}

// ------------------------------------------------------------ YCoCg-DXT5

TEST(YcocgRows, BlackAndGreyBlocks) {
  const Bytes black = encode_ycocg(solid_block(0, 0, 0, 7));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x84, 0, 0, 0, 0, 0, 0}), black);
  Test_Image almost = solid_block(0, 0, 0, 255);
  almost.bgra[4 * 9 + 1] = 1;
  EXPECT_NE(black, encode_ycocg(almost));

  for (int g : {1, 77, 254}) {
    const Bytes block = encode_ycocg(solid_block(uint8_t(g), uint8_t(g), uint8_t(g), 255));
    EXPECT_EQ(g + 1, block[0]);
    EXPECT_EQ(g, block[1]);
    EXPECT_EQ(3, u16_at(&block[8]) & 31);  // scale 4
    uint8_t decoded[64];
    decode_ycocg_dxt5_block(block.data(), decoded);
    for (int p = 0; p < 16; ++p)
      for (int c = 0; c < 3; ++c) ASSERT_LE(std::abs(decoded[4 * p + c] - g), 2) << g;
  }
}

TEST(YcocgRows, PictureQualityLayoutsAndStride) {
  const Test_Image im = cut_image("astronaut_512x512.bgra", 96, 64);
  const Bytes blocks = encode_ycocg(im);
  const Bytes decoded = decode_texture(Tex::YcocgDxt5, blocks.data(), im.width, im.height);
  EXPECT_GT(psnr_bgra(im.bgra.data(), decoded.data(), size_t(im.width) * im.height, false), 39.0);

  // Every path and pair mode, both layouts and a bottom-up source, wider
  // block stride: the same bytes at their places.
  const Bytes argb_source = bgra_to_argb(im.bgra);
  const Bytes upside_down = flip_rows(im.bgra, 96, 64);
  for (uint8_t path : {0, 1})
    for (uint32_t pair_mode : {0u, 2u}) {
      Bytes argb(blocks.size()), flipped(blocks.size() * 2, 0xCD);
      compress_ycocg_dxt5_rows_argb(0, argb_source.data(), 96, 64, 64, 384, argb.data(), path, 16, pair_mode);
      compress_ycocg_dxt5_rows_bgra(0, upside_down.data(), 96, 64, 64, 384, flipped.data(), path, 32, 0,
                                    pair_mode);
      EXPECT_EQ(blocks, argb);
      for (size_t b = 0; b < blocks.size() / 16; ++b) {
        ASSERT_EQ(0, std::memcmp(&blocks[16 * b], &flipped[32 * b], 16));
        ASSERT_EQ(Bytes(16, 0xCD), Bytes(&flipped[32 * b + 16], &flipped[32 * b + 32]));
      }
    }
  // Width 12: a pair and a single block per row.
  const Test_Image narrow = cut_image("astronaut_512x512.bgra", 12, 8);
  const Bytes narrow_blocks = encode_ycocg(narrow);
  for (int b = 0; b < 6; ++b) {
    uint8_t bgra[64];
    for (int p = 0; p < 16; ++p)
      std::memcpy(bgra + 4 * p, &narrow.bgra[((b / 3 * 4 + p / 4) * 12 + b % 3 * 4 + p % 4) * 4], 4);
    uint8_t out[16];
    encode_ycocg_dxt5_block(bgra, out);
    EXPECT_EQ(0, std::memcmp(out, &narrow_blocks[16 * b], 16)) << b;
  }
}

// ------------------------------------------------------------ HAP frames

namespace {

// An encoded HAP frame in a padded buffer whose length is its byte count.
struct Stored_Frame {
  Padded_Buffer buffer;
  Stored_Frame(uint32_t w, uint32_t h, uint32_t codec, const Bytes& tex1, const Bytes& tex2 = {},
               uint32_t chunks = 4) {
    Hap_Frame frame;
    init_hap_frame(&frame, w, h, codec, chunks);
    const uint32_t codecs[6] = {Dxt_Codec_DXT1, Dxt_Codec_DXT5, Dxt_Codec_DXT5,
                                Dxt_Codec_DXT5, Dxt_Codec_RGTC1, Dxt_Codec_BC7};
    Dxt_Frame first, second;
    set_dxt_frame_on_pointer(&first, const_cast<uint8_t*>(tex1.data()), w, h, Dxt_Codec(codecs[codec]));
    if (!tex2.empty()) set_dxt_frame_on_pointer(&second, const_cast<uint8_t*>(tex2.data()), w, h, Dxt_Codec_RGTC1);
    encode_hap_frame(&frame, &first, tex2.empty() ? nullptr : &second, chunks, 1);
    alloc_padded_buffer(&buffer, frame.bytes_used);
    std::memcpy(buffer.data, frame.buffer, frame.bytes_used);
    buffer.length = frame.bytes_used;
    free_hap_frame(&frame);
  }
  ~Stored_Frame() { free_padded_buffer(&buffer); }
};

// Work buffers of one process_hap_frame call and the decoding of its output.
struct Process_Run {
  Padded_Buffer target, colour, alpha, cropped_colour, cropped_alpha, converted, check;
  Hap_Process_Params params;
  uint32_t encoded = 0;
  Process_Run(Padded_Buffer* source, uint32_t w, uint32_t h, uint32_t target_codec) {
    alloc_padded_buffer(&target, 4 << 20);
    target.length = 4 << 20;
    params.source = source;
    params.target = &target;
    params.source_width = params.target_width = w;
    params.source_height = params.target_height = h;
    params.colour_texture = &colour;
    params.alpha_texture = &alpha;
    params.cropped_colour = &cropped_colour;
    params.cropped_alpha = &cropped_alpha;
    params.converted = &converted;
    params.target_codec = target_codec;
    params.chunk_count = 2;
  }
  ~Process_Run() {
    for (Padded_Buffer* b : {&target, &colour, &alpha, &cropped_colour, &cropped_alpha, &converted, &check})
      free_padded_buffer(b);
  }
  std::string run(uint32_t* error) {
    return process_hap_frame(params, error, &encoded);
  }
  // Texture index of the target frame, as raw blocks.
  Bytes texture(uint32_t w, uint32_t h, Dxt_Codec codec, uint8_t index = 0) {
    Padded_Buffer stored = target;
    stored.length = encoded;
    Hap_Frame frame;
    set_hap_frame_from_buffer(&frame, w, h, &stored);
    Dxt_Frame out;
    alloc_dxt_frame(&out, &check, w, h, codec);
    decode_hap_texture(&frame, &out, index);
    return Bytes(out.data, out.data + out.length);
  }
};

// Blocks of a box of a block texture (bytes per block b, blocks across n).
Bytes box_of(const Bytes& tex, uint32_t across, uint32_t b, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  Bytes out;
  for (uint32_t r = y; r < y + h; ++r)
    out.insert(out.end(), tex.begin() + (r * across + x) * b, tex.begin() + (r * across + x + w) * b);
  return out;
}

const std::string prefix = "Erreur process frame hap : ";

}  // namespace

TEST(HapProcess, ConvertsBetweenCodecs) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 64, 48);
  const Bytes dxt1 = encode_dxt(im, false, 0), dxt5 = encode_dxt(im, true, 0);
  uint32_t error = 7;

  Stored_Frame hap(64, 48, Hap_Internal_DXT1, dxt1);
  {
    Process_Run to_hapa(&hap.buffer, 64, 48, Hap_Internal_DXT5);
    EXPECT_EQ("", to_hapa.run(&error));
    EXPECT_EQ(0u, error);
    const Bytes out = to_hapa.texture(64, 48, Dxt_Codec_DXT5);
    for (size_t b = 0; b < dxt1.size() / 8; ++b) {
      const uint8_t opaque[8] = {255, 0, 0, 0, 0, 0, 0, 0};
      ASSERT_EQ(0, std::memcmp(opaque, &out[16 * b], 8));
      ASSERT_EQ(0, std::memcmp(&dxt1[8 * b], &out[16 * b + 8], 8));
    }
    Process_Run as_is(&hap.buffer, 64, 48, Hap_Internal_DXT1);
    EXPECT_EQ("", as_is.run(&error));
    EXPECT_EQ(dxt1, as_is.texture(64, 48, Dxt_Codec_DXT1));
  }

  Stored_Frame hapa(64, 48, Hap_Internal_DXT5, dxt5);
  Process_Run to_hap(&hapa.buffer, 64, 48, Hap_Internal_DXT1);
  Process_Run to_alpha(&hapa.buffer, 64, 48, Hap_Internal_RGTC1);
  to_alpha.params.compressor = 0;
  EXPECT_EQ("", to_hap.run(&error));
  EXPECT_EQ("", to_alpha.run(&error));
  const Bytes colour = to_hap.texture(64, 48, Dxt_Codec_DXT1);
  const Bytes alpha = to_alpha.texture(64, 48, Dxt_Codec_RGTC1);
  for (size_t b = 0; b < dxt1.size() / 8; ++b) {
    ASSERT_EQ(0, std::memcmp(&dxt5[16 * b + 8], &colour[8 * b], 8));
    ASSERT_EQ(0, std::memcmp(&dxt5[16 * b], &alpha[8 * b], 8));
  }
  Process_Run refused(&hapa.buffer, 64, 48, Hap_Internal_YCoCg_DXT5);
  EXPECT_EQ(prefix + "src HAPA, impossible a convertir vers le format cible", refused.run(&error));
  EXPECT_EQ(1u, error);
}

TEST(HapProcess, CropsCanonicalisesAndConverts) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 128, 64);
  const Bytes dxt5 = encode_dxt(im, true, 0);
  Stored_Frame hapa(128, 64, Hap_Internal_DXT5, dxt5);
  uint32_t error = 0;
  // A 10 x 6 block box gives a 40 x 24 target, converted at that size.
  Process_Run run(&hapa.buffer, 128, 64, Hap_Internal_DXT1);
  run.params.crop = 1;
  run.params.crop_x = 5, run.params.crop_y = 7, run.params.crop_width = 10, run.params.crop_height = 6;
  EXPECT_EQ("", run.run(&error));
  const Bytes box = box_of(dxt5, 32, 16, 5, 7, 10, 6);
  const Bytes out = run.texture(40, 24, Dxt_Codec_DXT1);
  ASSERT_EQ(60u * 8, out.size());
  for (size_t b = 0; b < 60; ++b) ASSERT_EQ(0, std::memcmp(&box[16 * b + 8], &out[8 * b], 8)) << b;

  // Canonical uniform blocks: the fully transparent rectangle of the picture
  // holds uniform alpha halves, rewritten to (0, 0, ...).
  run.params.target_codec = Hap_Internal_DXT5;
  run.params.crop = 0;
  run.params.canonicalize = 1;
  EXPECT_EQ("", run.run(&error));
  const Bytes canonical = run.texture(128, 64, Dxt_Codec_DXT5);
  int rewritten = 0;
  for (size_t b = 0; b < canonical.size() / 16; ++b) {
    uint8_t value = 0;
    if (dxt_alpha_block_uniform(&dxt5[16 * b], &value)) {
      const uint8_t expected[8] = {value, 0, 0, 0, 0, 0, 0, 0};
      ASSERT_EQ(0, std::memcmp(expected, &canonical[16 * b], 8));
      rewritten += std::memcmp(&dxt5[16 * b], expected, 8) != 0;
    } else {
      ASSERT_EQ(0, std::memcmp(&dxt5[16 * b], &canonical[16 * b], 8));
    }
  }
  EXPECT_GT(rewritten, 0);

  // A box outside the source is refused, not read.
  run.params.crop = 1;
  run.params.crop_x = 30;
  EXPECT_EQ(prefix + "crop dxt : la zone demandee depasse l'image source", run.run(&error));
  EXPECT_EQ(1u, error);
  run.params.crop_width = 0;
  EXPECT_THROW(run.run(&error), std::logic_error);
}

TEST(HapProcess, HapqaRoutesAndFailures) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 64, 32);
  const Bytes ycocg = encode_ycocg(im), alpha = encode_rgtc1(im);
  Stored_Frame hapqa(64, 32, Hap_Internal_YCoCg_DXT5_RGTC1, ycocg, alpha, 2);
  uint32_t error = 0;
  Process_Run both(&hapqa.buffer, 64, 32, Hap_Internal_YCoCg_DXT5_RGTC1);
  both.params.crop = 1, both.params.crop_x = 4, both.params.crop_y = 2;
  both.params.crop_width = 8, both.params.crop_height = 4;
  EXPECT_EQ("", both.run(&error));
  EXPECT_EQ(box_of(ycocg, 16, 16, 4, 2, 8, 4), both.texture(32, 16, Dxt_Codec_DXT5, 0));
  EXPECT_EQ(box_of(alpha, 16, 8, 4, 2, 8, 4), both.texture(32, 16, Dxt_Codec_RGTC1, 1));

  Process_Run colour(&hapqa.buffer, 64, 32, Hap_Internal_YCoCg_DXT5);
  Process_Run alpha_only(&hapqa.buffer, 64, 32, Hap_Internal_RGTC1);
  EXPECT_EQ("", colour.run(&error));
  EXPECT_EQ("", alpha_only.run(&error));
  EXPECT_EQ(ycocg, colour.texture(64, 32, Dxt_Codec_DXT5));
  EXPECT_EQ(alpha, alpha_only.texture(64, 32, Dxt_Codec_RGTC1));

  Process_Run refused(&hapqa.buffer, 64, 32, Hap_Internal_DXT5);
  EXPECT_EQ(prefix + "src HAPQ, impossible a convertir vers le format cible", refused.run(&error));
  EXPECT_EQ(1u, error);
  EXPECT_EQ(0u, refused.colour.capacity);  // nothing decoded

  const Bytes bc7(8 * 4 * 16, 0x40);
  Stored_Frame bc7_frame(32, 16, Hap_Internal_BC7, bc7, {}, 1);
  Process_Run unsupported(&bc7_frame.buffer, 32, 16, Hap_Internal_BC7);
  EXPECT_EQ(prefix + "src codec non supporte, impossible a convertir vers le format cible",
            unsupported.run(&error));

  Process_Run too_small(&hapqa.buffer, 64, 32, Hap_Internal_YCoCg_DXT5);
  too_small.target.length = 100;
  EXPECT_EQ(prefix + "HapResult_Buffer_Too_Small", too_small.run(&error));
  Padded_Buffer garbage;
  alloc_padded_buffer(&garbage, 64);
  std::memset(garbage.data, 0xEE, 64);
  garbage.length = 64;
  Process_Run broken(&garbage, 64, 32, Hap_Internal_YCoCg_DXT5);
  EXPECT_EQ(prefix + "HapResult_Bad_Frame", broken.run(&error));
  EXPECT_EQ(1u, error);
  free_padded_buffer(&garbage);
}

TEST(HapProcess, CheckedDecoding) {
  // Horizontal stripes: textures snappy shrinks, so the chunks are kept.
  Test_Image im = solid_block(0, 0, 0, 0);
  im.width = 32, im.height = 16;
  im.bgra.resize(32 * 16 * 4);
  for (size_t i = 0; i < im.bgra.size(); ++i) im.bgra[i] = uint8_t(i / 128 * 17);
  const Bytes ycocg = encode_ycocg(im), alpha = encode_rgtc1(im);
  Stored_Frame hapqa(32, 16, Hap_Internal_YCoCg_DXT5_RGTC1, ycocg, alpha, 4);
  Padded_Buffer first, second;
  alloc_padded_buffer(&first, uint32_t(ycocg.size()));
  alloc_padded_buffer(&second, uint32_t(alpha.size()));
  uint32_t error = 9;
  EXPECT_EQ("", decode_hap_frame_to_dxt(&hapqa.buffer, &first, &second, Hap_Internal_YCoCg_DXT5_RGTC1, 4, 32,
                                        16, &error));
  EXPECT_EQ(0u, error);
  EXPECT_EQ(ycocg, Bytes(first.data, first.data + first.length));
  EXPECT_EQ(alpha, Bytes(second.data, second.data + second.length));

  EXPECT_EQ("Erreur codec : Attendu : HAPQ ; Trouve : HAPQA",
            decode_hap_frame_to_dxt(&hapqa.buffer, &first, &second, Hap_Internal_YCoCg_DXT5, 4, 32, 16, &error));
  EXPECT_EQ(1u, error);
  EXPECT_EQ("Erreur nombres de chunks (texture 1) : Attendu : 8 ; Trouve : 4",
            decode_hap_frame_to_dxt(&hapqa.buffer, &first, &second, Hap_Internal_YCoCg_DXT5_RGTC1, 8, 32, 16,
                                    &error));
  // Buffers too small for the texture: raised, not reported.
  EXPECT_THROW(decode_hap_frame_to_dxt(&hapqa.buffer, &second, &second, Hap_Internal_YCoCg_DXT5_RGTC1, 4, 32,
                                       16, &error),
               std::runtime_error);
  Padded_Buffer empty;
  alloc_padded_buffer(&empty, 8);
  empty.length = 8;
  std::memset(empty.data, 0, 8);
  EXPECT_EQ("Erreur header : HapResult_Bad_Frame",
            decode_hap_frame_to_dxt(&empty, &first, &second, Hap_Internal_YCoCg_DXT5_RGTC1, 4, 32, 16, &error));
  // A frame cut short fails in its headers; a frame larger than the stated
  // size fails in the decoding of texture 1.
  const Test_Image big = cut_image("astronaut_512x512.bgra", 64, 64);
  Stored_Frame hap(64, 64, Hap_Internal_DXT1, encode_dxt(big, false, 0), {}, 1);
  Padded_Buffer texture;
  alloc_padded_buffer(&texture, 64 * 64 / 2);
  EXPECT_EQ("Erreur decodage (texture 1) : HapResult_Buffer_Too_Small",
            decode_hap_frame_to_dxt(&hap.buffer, &texture, nullptr, Hap_Internal_DXT1, 1, 64, 32, &error));
  EXPECT_EQ(1u, error);
  hap.buffer.length -= 9;
  EXPECT_EQ("Erreur header : HapResult_Bad_Frame",
            decode_hap_frame_to_dxt(&hap.buffer, &texture, nullptr, Hap_Internal_DXT1, 1, 64, 64, &error));
  for (Padded_Buffer* b : {&first, &second, &empty, &texture}) free_padded_buffer(b);
}

TEST(HapProcess, CropAndAlphaDetection) {
  // A picture with a transparent border of 2 block rows on top, 1 below, 3
  // block columns left and 1 right.
  Test_Image im = cut_image("astronaut_512x512.bgra", 64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (y < 8 || y >= 44 || x < 12 || x >= 60) im.bgra[(size_t(y) * 64 + x) * 4 + 3] = 0;
  Stored_Frame hapa(64, 48, Hap_Internal_DXT5, encode_dxt(im, true, 0));
  Stored_Frame hapqa(64, 48, Hap_Internal_YCoCg_DXT5_RGTC1, encode_ycocg(im), encode_rgtc1(im), 1);
  const Test_Image opaque = cut_image("astronaut_512x512.bgra", 64, 48);
  Stored_Frame hapa_opaque(64, 48, Hap_Internal_DXT5, encode_dxt(opaque, true, 0));
  Stored_Frame hap(64, 48, Hap_Internal_DXT1, encode_dxt(opaque, false, 0));
  Padded_Buffer dxt;
  alloc_padded_buffer(&dxt, 64 * 48);
  uint32_t error = 0;
  uint16_t top = 9, bottom = 9, left = 9, right = 9;
  EXPECT_EQ("", detect_hap_frame_crop(&hapa.buffer, &dxt, Hap_Internal_DXT5, 64, 48, 1, &error, &top, &bottom,
                                      &left, &right));
  EXPECT_EQ((std::vector<int>{2, 1, 3, 1}), (std::vector<int>{top, bottom, left, right}));
  top = bottom = left = right = 9;
  EXPECT_EQ("", detect_hap_frame_crop(&hapqa.buffer, &dxt, Hap_Internal_YCoCg_DXT5_RGTC1, 64, 48, 1, &error,
                                      &top, &bottom, &left, &right));
  EXPECT_EQ((std::vector<int>{2, 1, 3, 1}), (std::vector<int>{top, bottom, left, right}));
  EXPECT_EQ("Erreur codec", detect_hap_frame_crop(&hapa.buffer, &dxt, Hap_Internal_DXT1, 64, 48, 1, &error, &top,
                                                  &bottom, &left, &right));
  EXPECT_EQ(1u, error);
  const std::string alpha_on_dxt1 =
      detect_hap_frame_crop(&hap.buffer, &dxt, Hap_Internal_DXT1, 64, 48, 1, &error, &top, &bottom, &left, &right);
  EXPECT_EQ("Erreur process detect crop hap frame : Crop detect alpha DXT non supporte pour detection sur crop "
            "(DXT5(alpha) ou RGTC1 supporte)",
            alpha_on_dxt1);

  uint32_t result = 9;
  EXPECT_EQ("", detect_hap_frame_need_alpha(&hap.buffer, &dxt, 64, 48, &result));
  EXPECT_EQ(0u, result);
  EXPECT_EQ("", detect_hap_frame_need_alpha(&hapa_opaque.buffer, &dxt, 64, 48, &result));
  EXPECT_EQ(2u, result);
  EXPECT_EQ("", detect_hap_frame_need_alpha(&hapa.buffer, &dxt, 64, 48, &result));
  EXPECT_EQ(0u, result);
  EXPECT_EQ("", detect_hap_frame_need_alpha(&hapqa.buffer, &dxt, 64, 48, &result));
  EXPECT_EQ(0u, result);
  Stored_Frame bc7(64, 48, Hap_Internal_BC7, Bytes(64 * 48, 0x40), {}, 1);
  EXPECT_EQ("Erreur process hap frame : Detect need alpha : codec inconnu",
            detect_hap_frame_need_alpha(&bc7.buffer, &dxt, 64, 48, &result));
  EXPECT_EQ(1u, result);
  free_padded_buffer(&dxt);
}
