// The frame utilities: DXT1 / DXT5 block rows over libsquish, RGTC1 and the
// exact alpha encoder, YCoCg-DXT5 block rows, and the processing of encoded
// HAP frames (re-encoding, checked decoding, border and alpha detection).
#include <gtest/gtest.h>
#include <squish.h>

#include <algorithm>
#include <array>
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
#include "tests/support/exact_colour_half_oracle.h"
#include "tests/support/test_support.h"
#include "tests/support/three_colour_dxt1.h"
#include "tests/texture_test_frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A test image cut to whole blocks (w x h from the top-left corner).
Test_Image cut_image(const std::string& name, int w, int h) { return crop(load_test_image(name), w, h); }

// Each pixel's bytes reversed: BGRA <-> ARGB.
Bytes reversed_pixels(const Bytes& in) {
  Bytes out(in.size());
  for (size_t i = 0; i < in.size(); ++i) out[i] = in[(i & ~size_t(3)) + 3 - i % 4];
  return out;
}

size_t blocks_of(const Test_Image& im) { return size_t(im.width / 4) * (im.height / 4); }

Bytes encode_dxt(const Test_Image& im, bool dxt5, uint8_t fit, uint8_t orientation = 1) {
  Bytes out(blocks_of(im) * (dxt5 ? 16 : 8));
  const Bytes source = orientation == 1 ? im.bgra : flip_rows(im).bgra;
  const uint16_t w = uint16_t(im.width), h = uint16_t(im.height);
  (dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra)(0, source.data(), w, h, h, uint16_t(w * 4), out.data(), 0,
                                                             fit, orientation);
  return out;
}

Bytes encode_ycocg(const Test_Image& im) {
  Bytes out(blocks_of(im) * 16);
  const uint16_t w = uint16_t(im.width), h = uint16_t(im.height);
  compress_ycocg_dxt5_rows_bgra(0, im.bgra.data(), w, h, h, uint16_t(w * 4), out.data(), 0, 16, 1, 0);
  return out;
}

Bytes encode_rgtc1(const Test_Image& im) {
  Bytes out(blocks_of(im) * 8);
  const uint16_t w = uint16_t(im.width), h = uint16_t(im.height);
  compress_rgtc1_rows_bgra(0, im.bgra.data(), w, h, h, uint16_t(w * 4), out.data(), 0, 1);
  return out;
}


// A message followed by the values reported with it, for one comparison.
template <class... Values>
std::string with(const std::string& message, Values... values) {
  std::string out = message;
  ((out += " " + std::to_string(values)), ...);
  return out;
}

// Channel c of a BGRA picture.
Bytes channel(const Bytes& bgra, int c) {
  Bytes a(bgra.size() / 4);
  for (size_t i = 0; i < a.size(); ++i) a[i] = bgra[4 * i + c];
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

// A padded buffer of its own.
struct Buffer : Padded_Buffer {
  explicit Buffer(uint32_t size = 0, int fill = -1) {
    if (size) alloc_padded_buffer(this, size);
    if (fill >= 0) std::memset(data, fill, length = size);
  }
  ~Buffer() { free_padded_buffer(this); }
  Buffer(const Buffer&) = delete;
  Bytes bytes() const { return Bytes(data, data + length); }
};

// An encoded HAP frame in a padded buffer whose length is its byte count.
struct Stored_Frame {
  Buffer buffer;
  Stored_Frame(uint32_t w, uint32_t h, uint32_t codec, const Bytes& tex1, const Bytes& tex2 = {}, uint32_t chunks = 4) {
    const Dxt_Codec codecs[6] = {Dxt_Codec_DXT1,  Dxt_Codec_DXT5,  Dxt_Codec_DXT5,
                                 Dxt_Codec_DXT5, Dxt_Codec_RGTC1, Dxt_Codec_BC7};
    Hap_Frame frame;
    Dxt_Frame first, second;
    init_hap_frame(&frame, w, h, codec, chunks);
    set_dxt_frame_on_pointer(&first, const_cast<uint8_t*>(tex1.data()), w, h, codecs[codec]);
    if (!tex2.empty()) set_dxt_frame_on_pointer(&second, const_cast<uint8_t*>(tex2.data()), w, h, Dxt_Codec_RGTC1);
    encode_hap_frame(&frame, &first, tex2.empty() ? nullptr : &second, chunks, 1);
    alloc_padded_buffer(&buffer, frame.bytes_used);
    std::memcpy(buffer.data, frame.buffer, buffer.length = frame.bytes_used);
    free_hap_frame(&frame);
  }
};

// Work buffers of one process_hap_frame call and the decoding of its output.
struct Process_Run {
  Buffer target{4 << 20}, colour, alpha, cropped_colour, cropped_alpha, converted, check;
  Hap_Process_Params params;
  uint32_t encoded = 0;
  Process_Run(Padded_Buffer* source, uint32_t w, uint32_t h, uint32_t target_codec)
      : params{.source = source, .target = &target, .source_width = w, .source_height = h, .target_width = w,
               .target_height = h, .colour_texture = &colour, .alpha_texture = &alpha,
               .cropped_colour = &cropped_colour, .cropped_alpha = &cropped_alpha, .converted = &converted,
               .target_codec = target_codec, .chunk_count = 2} {
    target.length = 4 << 20;
  }
  // The message and the error flag.
  std::string run() {
    uint32_t error = 7;
    const std::string message = process_hap_frame(params, &error, &encoded);
    return with(message, error);
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

// Half `half` (0 or 1) of every 16-byte block.
Bytes halves(const Bytes& tex, int half) {
  Bytes out;
  for (size_t b = 0; b < tex.size(); b += 16) out.insert(out.end(), &tex[b + 8 * half], &tex[b + 8 * half + 8]);
  return out;
}

// The colours a DXT1 or DXT5 texture shows, R, G, B for the 16 pixels of each
// block in turn, read with the frame utilities' own block decoders.
Bytes shown_colours(Bytes tex, uint32_t w, uint32_t h, Dxt_Codec codec) {
  Dxt_Frame frame;
  set_dxt_frame_on_pointer(&frame, tex.data(), w, h, codec);
  Bytes out;
  uint8_t pixels[64];
  for (uint64_t offset = 0; offset < frame.length; offset += dxt_block_bytes(codec)) {
    if (codec == Dxt_Codec_DXT1) {
      decode_dxt1_block(&frame, offset, pixels);
      out.insert(out.end(), pixels, pixels + 48);
      continue;
    }
    decode_dxt5_block(&frame, offset, pixels);
    for (int i = 0; i < 16; ++i) out.insert(out.end(), &pixels[4 * i + 1], &pixels[4 * i + 4]);
  }
  return out;
}

// A colour block: colour 0, colour 1 and the sixteen 2-bit indices.
Bytes colour_block(uint32_t c0, uint32_t c1, uint32_t indices) {
  return {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8),
          uint8_t(indices), uint8_t(indices >> 8), uint8_t(indices >> 16), uint8_t(indices >> 24)};
}

// The colour half that converting one DXT1 block to DXT5 writes.
Bytes converted_colour_half(Bytes dxt1) {
  Bytes dxt5(16);
  Dxt_Frame source, target;
  set_dxt_frame_on_pointer(&source, dxt1.data(), 4, 4, Dxt_Codec_DXT1);
  set_dxt_frame_on_pointer(&target, dxt5.data(), 4, 4, Dxt_Codec_DXT5);
  convert_dxt_frame(&source, &target);
  return halves(dxt5, 1);
}

// Squared error over R, G and B of what a DXT5 colour half shows against
// what a DXT1 block shows.
int shown_error(const Bytes& colour_half, const Bytes& dxt1) {
  Bytes dxt5(8, 0);
  dxt5.insert(dxt5.end(), colour_half.begin(), colour_half.end());
  const Bytes shown = shown_colours(dxt5, 4, 4, Dxt_Codec_DXT5), wanted = shown_colours(dxt1, 4, 4, Dxt_Codec_DXT1);
  int sum = 0;
  for (size_t i = 0; i < shown.size(); ++i) sum += (shown[i] - wanted[i]) * (shown[i] - wanted[i]);
  return sum;
}

// Whether some four-colour DXT5 colour half shows exactly what a DXT1 block shows.
bool exact_half_exists(const Bytes& dxt1) {
  return has_exact_colour_half(shown_colours(dxt1, 4, 4, Dxt_Codec_DXT1).data());
}

// A random DXT1 block in three-colour form (colour 0 not above colour 1)
// whose pixels take random entries of a random set: the midpoint and any of
// the endpoints and black.
Bytes random_three_colour_block(std::mt19937& rng) {
  uint32_t c0 = rng() & 0xFFFF, c1 = rng() & 0xFFFF, indices = 0;
  if (c0 > c1) std::swap(c0, c1);
  const uint32_t entries = 4 | (rng() & 0xB);
  std::vector<uint32_t> used;
  for (uint32_t e = 0; e < 4; ++e)
    if (entries >> e & 1) used.push_back(e);
  for (int p = 0; p < 16; ++p) indices |= used[rng() % used.size()] << (2 * p);
  return colour_block(c0, c1, indices);
}

// Whether a DXT1 block shows one colour, or one colour and black.
bool shows_one_colour_and_black(const Bytes& dxt1) {
  const auto colours = distinct_colours(shown_colours(dxt1, 4, 4, Dxt_Codec_DXT1).data());
  return colours.size() == 1 || (colours.size() == 2 && std::count(colours.begin(), colours.end(), std::array{0, 0, 0}));
}

// What the cluster fit writes for the colours a DXT1 block shows.
Bytes fitted_colour_half(const Bytes& dxt1) {
  const Bytes shown = shown_colours(dxt1, 4, 4, Dxt_Codec_DXT1);
  uint8_t rgba[64];
  for (int p = 0; p < 16; ++p) {
    std::copy(&shown[3 * p], &shown[3 * p + 3], rgba + 4 * p);
    rgba[4 * p + 3] = 255;
  }
  Bytes half(8);
  compress_dxt_block(rgba, half.data(), 1, true);
  return half;
}

const std::string prefix = "Erreur process frame hap : ";

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
    // The DXT5 colour halves are the DXT1 blocks of the same pixels when every
    // colour comes with one alpha (an opaque picture).
    const Bytes dxt5 = encode_dxt(im, true, fit);
    for (size_t b = 0; b < dxt1.size() / 8; ++b) ASSERT_EQ(0, std::memcmp(&dxt1[8 * b], &dxt5[16 * b + 8], 8)) << b;
  }
  EXPECT_GE(psnr[2], psnr[1] - 0.1);

  const Test_Image alpha = cut_image("astronaut_alpha_512x512.bgra", 512, 64);
  const Bytes dxt5 = encode_dxt(alpha, true, 1);
  const Bytes decoded = decode_texture(Tex::Dxt5, dxt5.data(), alpha.width, alpha.height);
  EXPECT_GT(psnr_bgra(alpha.bgra.data(), decoded.data(), decoded.size() / 4, true), 37.0);
  EXPECT_LE(max_abs_error(channel(alpha.bgra, 3).data(), channel(decoded, 3).data(), decoded.size() / 4), 12);
}

// Each fit mode gives, block for block, libsquish's own compressor with that
// mode's fit: 0 the range fit, 1 the single-iteration cluster fit, any other
// value the iterative one. The library's DXT5 colour half is the four-colour
// block these encoders write for DXT1 too, under its default uniform metric
// and without alpha weighting. The picture's alpha follows its colour, so it
// varies but no colour comes with two alphas (where our colour set and the
// library's would part). Both the fixed members (top-down) and the generic
// one (bottom-up) are run.
TEST(DxtSquishRows, EachFitModeIsLibsquishWithItsFit) {
  Test_Image im = cut_image("coffee_600x400.bgra", 64, 64);
  for (size_t i = 0; i < im.bgra.size(); i += 4)
    im.bgra[i + 3] = uint8_t(im.bgra[i] + 2 * im.bgra[i + 1] + 3 * im.bgra[i + 2]);
  const int fits[3] = {squish::kColourRangeFit, squish::kColourClusterFit, squish::kColourIterativeClusterFit};
  std::vector<Bytes> dxt5(3), dxt1(3);  // by fit
  for (uint32_t row = 0; row < 16; ++row)
    for (uint32_t x = 0; x < 64; x += 4) {
      uint8_t pixels[64], rgba[64];
      gather_block_pixels(im.bgra.data(), 256, 64, row, x, true, pixels);
      for (int i = 0; i < 64; ++i) rgba[i] = pixels[i % 2 ? i : i ^ 2];  // B, G, R, A -> R, G, B, A
      for (int f = 0; f < 3; ++f) {
        uint8_t block[16];
        squish::Compress(rgba, block, squish::kDxt5 | fits[f]);
        dxt5[f].insert(dxt5[f].end(), block, block + 16);
        dxt1[f].insert(dxt1[f].end(), block + 8, block + 16);
      }
    }
  // The three fits part on these pixels, so no mode could pass with another's fit.
  EXPECT_NE(dxt1[0], dxt1[1]);
  EXPECT_NE(dxt1[1], dxt1[2]);

  const std::pair<uint8_t, int> modes[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {255, 2}};  // mode, fit
  for (const auto& [mode, fit] : modes)
    for (uint8_t orientation : {1, 0}) {
      SCOPED_TRACE(with("mode", mode, orientation));
      EXPECT_EQ(encode_dxt(im, true, mode, orientation), dxt5[fit]);
      EXPECT_EQ(encode_dxt(im, false, mode, orientation), dxt1[fit]);
    }
}

TEST(DxtSquishRows, LayoutsOrientationAndRowRanges) {
  const Test_Image im = cut_image("chelsea_451x300.bgra", 64, 24);
  const Bytes argb_source = reversed_pixels(im.bgra);
  for (bool dxt5 : {false, true}) {
    const Bytes bgra = encode_dxt(im, dxt5, 2);
    Bytes argb(bgra.size());
    (dxt5 ? compress_dxt5_rows_argb : compress_dxt1_rows_argb)(0, argb_source.data(), 64, 24, 24, 256, argb.data(),
                                                               1, 2);
    EXPECT_EQ(bgra, argb);
    EXPECT_EQ(bgra, encode_dxt(im, dxt5, 2, 0));  // a bottom-up source: same blocks
    // Row count 7 encodes one block row at its place; 3 encodes none.
    const auto rows = dxt5 ? compress_dxt5_rows_bgra : compress_dxt1_rows_bgra;
    const size_t row_bytes = 16 * (dxt5 ? 16 : 8);
    Bytes partial(bgra.size(), 0xAB);
    rows(2, im.bgra.data(), 64, 24, 7, 256, partial.data(), 0, 2, 1);
    rows(4, im.bgra.data(), 64, 24, 3, 256, partial.data(), 0, 2, 1);
    for (size_t i = 0; i < partial.size(); ++i)
      ASSERT_EQ(i / row_bytes == 2 ? bgra[i] : 0xAB, partial[i]) << i;
  }
}

TEST(DxtSquishRows, OneColourAtSeveralAlphasBesideOthers) {
  // In DXT5 one colour under four alphas is four coincident points; beside a
  // second colour the fit of the fit mode still has two places to reach.
  // Colours of 0 and 255 lie on the 5:6:5 grid and the four alphas fit the
  // six-value alpha palette, so the block comes back exactly, whichever colour
  // comes first and whichever channel tells them apart.
  const uint8_t alphas[4] = {255, 128, 64, 0};
  for (int channel = 0; channel < 3; ++channel)
    for (bool several_first : {true, false}) {
      Test_Image im = solid_image(255, 0, 255);
      for (int p = 0; p < 16; ++p) {
        const bool several = (p < 8) == several_first;
        if (!several) im.bgra[4 * p + channel] ^= 255;
        im.bgra[4 * p + 3] = several ? alphas[p % 4] : 255;
      }
      for (uint8_t fit = 0; fit < 3; ++fit) {
        uint8_t decoded[64];
        decode_dxt5_block(encode_dxt(im, true, fit).data(), decoded);
        EXPECT_EQ(Bytes(decoded, decoded + 64), im.bgra)
            << "channel " << channel << " first " << several_first << " fit " << int(fit);
      }
    }
}

TEST(DxtSquishRows, OneColourUnderSeveralAlphasIsThatColourTwice) {
  // Sixteen pixels of (130, 100, 70) under two or four alphas are coincident
  // points, not one colour: every fit solves both endpoints to the colour, so
  // the colour half is the colour rounded to 5:6:5 twice with every index 0.
  // Each channel lies past a half step (15.8, 24.7, 8.5), so truncation would
  // show.
  const uint16_t rounded = 16 << 11 | 25 << 5 | 9;
  const Bytes colour_half = {uint8_t(rounded), uint8_t(rounded >> 8), uint8_t(rounded), uint8_t(rounded >> 8),
                             0, 0, 0, 0};
  const Bytes shown = {74, 101, 132};  // B, G, R of the rounded colour
  const std::vector<Bytes> alpha_sets = {{255, 0}, {0, 255, 128, 64}};
  for (const Bytes& alphas : alpha_sets) {
    Test_Image im = solid_image(130, 100, 70);
    for (int p = 0; p < 16; ++p) im.bgra[4 * p + 3] = alphas[p % alphas.size()];
    for (uint8_t fit = 0; fit < 3; ++fit) {
      const Bytes block = encode_dxt(im, true, fit);
      EXPECT_EQ(Bytes(block.begin() + 8, block.end()), colour_half) << alphas.size() << " alphas, fit " << int(fit);
      uint8_t decoded[64];
      decode_dxt5_block(block.data(), decoded);
      for (int p = 0; p < 16; ++p) {
        EXPECT_EQ(Bytes(decoded + 4 * p, decoded + 4 * p + 3), shown) << p;
        EXPECT_EQ(decoded[4 * p + 3], im.bgra[4 * p + 3]) << p;
      }
    }
  }
}

// ------------------------------------------------------------ RGTC1 / alpha

TEST(AlphaBlocks, Rgtc1RowsMatchBlocksInEveryLayout) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 256, 32);
  const Bytes bgra = encode_rgtc1(im);
  const Bytes decoded = decode_texture(Tex::Rgtc1, bgra.data(), im.width, im.height);
  EXPECT_LE(max_abs_error(channel(im.bgra, 3).data(), channel(decoded, 0).data(), decoded.size() / 4), 10);
  const Bytes argb_source = reversed_pixels(im.bgra), upside_down = flip_rows(im).bgra;
  Bytes argb(bgra.size()), flipped(bgra.size());
  compress_rgtc1_rows_argb(0, argb_source.data(), 256, 32, 32, 1024, argb.data(), 1);
  compress_rgtc1_rows_bgra(0, upside_down.data(), 256, 32, 32, 1024, flipped.data(), 0, 0);
  EXPECT_EQ(bgra, argb);
  EXPECT_EQ(bgra, flipped);
}

TEST(AlphaBlocks, EncoderCases) {
  uint8_t values[16], out[8], decoded[16];
  for (int p = 0; p < 16; ++p) values[p] = p % 3 ? 10 : 200;
  compress_alpha_block_fast(values, out);
  decode_rgtc1_block(out, decoded);
  EXPECT_EQ((Bytes{200, 10}), Bytes(out, out + 2));
  EXPECT_EQ(0, std::memcmp(values, decoded, 16));

  auto encode = [&](const Bytes& v) {
    compress_alpha_block_exact(v.data(), out);
    return Bytes(out, out + 8);
  };
  Bytes v(16);
  for (int p = 0; p < 16; ++p) v[p] = p < 8 ? 0 : 255;
  // luma0 0, luma1 255; indices 0 then 1, most significant first: pixels 8..15
  // hold 1 in the low 24 bits (octal 1111 1111).
  EXPECT_EQ((Bytes{0, 255, 0, 0, 0, 0x24, 0x92, 0x49}), encode(v));
  for (int p = 0; p < 16; ++p) v[p] = p % 3 == 0 ? 0 : p % 3 == 1 ? 255 : 128;
  Bytes block = encode(v);
  EXPECT_EQ((Bytes{0, 128}), Bytes(block.begin(), block.begin() + 2));
  decode_rgtc1_block(msb_block_to_rgtc1(block.data()).data(), decoded);
  EXPECT_EQ(v, Bytes(decoded, decoded + 16));
  for (uint8_t flat : {0, 42}) EXPECT_EQ((Bytes{flat, 0, 0, 0, 0, 0, 0, 0}), encode(Bytes(16, flat)));
  // 10, 15 and 80: 15 is 5 from its nearest entry in both palettes (10, 20,
  // ..., 80 and 10, 24, ..., 80); equal errors take the eight-value form.
  for (int p = 0; p < 16; ++p) v[p] = p < 5 ? 10 : p < 10 ? 80 : 15;
  block = encode(v);
  EXPECT_EQ((Bytes{80, 10}), Bytes(block.begin(), block.begin() + 2));
}

TEST(AlphaBlocks, ExactEncoderTakesTheCloserPalette) {
  auto decode_exact = [](const Bytes& v) {
    uint8_t out[8], decoded[16];
    compress_alpha_block_exact(v.data(), out);
    decode_rgtc1_block(msb_block_to_rgtc1(out).data(), decoded);
    return Bytes(decoded, decoded + 16);
  };
  // Four 0s and values 100 to 130: the six-value palette spans 100..130 in
  // steps of 6 and keeps 0 exact; the eight-value one would have to span
  // 0..130 in steps of about 19.
  Bytes v{0, 0, 0, 0, 115};
  for (int x = 100; x <= 130; x += 3) v.push_back(uint8_t(x));
  Bytes decoded = decode_exact(v);
  for (int p = 0; p < 16; ++p) EXPECT_LE(std::abs(decoded[p] - v[p]), v[p] ? 3 : 0) << int(v[p]);
  // 0 to 140 in steps of 20 lies on the eight-value palette from 0 to 140;
  // the six-value one from 20 to 140 misses most of them.
  for (int p = 0; p < 16; ++p) v[p] = uint8_t(20 * (p % 8));
  EXPECT_EQ(v, decode_exact(v));
}

// ------------------------------------------------------------ YCoCg-DXT5

TEST(YcocgRows, PictureQualityLayoutsAndStride) {
  const Test_Image im = cut_image("astronaut_512x512.bgra", 96, 64);
  const Bytes blocks = encode_ycocg(im);
  const Bytes decoded = decode_texture(Tex::YcocgDxt5, blocks.data(), im.width, im.height);
  EXPECT_GT(psnr_bgra(im.bgra.data(), decoded.data(), decoded.size() / 4, false), 39.0);
  // Every path and pair mode, both layouts and a bottom-up source, wider
  // block stride: the same bytes at their places.
  const Bytes argb_source = reversed_pixels(im.bgra), upside_down = flip_rows(im).bgra;
  for (uint8_t path : {0, 1})
    for (uint32_t pair_mode : {0u, 2u}) {
      Bytes argb(blocks.size()), flipped(blocks.size() * 2, 0xCD);
      compress_ycocg_dxt5_rows_argb(0, argb_source.data(), 96, 64, 64, 384, argb.data(), path, 16, pair_mode);
      compress_ycocg_dxt5_rows_bgra(0, upside_down.data(), 96, 64, 64, 384, flipped.data(), path, 32, 0, pair_mode);
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
    uint8_t bgra[64], out[16];
    for (int p = 0; p < 16; ++p)
      std::memcpy(bgra + 4 * p, &narrow.bgra[((b / 3 * 4 + p / 4) * 12 + b % 3 * 4 + p % 4) * 4], 4);
    encode_ycocg_dxt5_block(bgra, out);
    EXPECT_EQ(0, std::memcmp(out, &narrow_blocks[16 * b], 16)) << b;
  }
}

// ------------------------------------------------------------ HAP frames

TEST(HapProcess, ConvertsBetweenCodecs) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 64, 48);
  const Bytes dxt1 = encode_dxt(im, false, 0), dxt5 = encode_dxt(im, true, 0);
  Stored_Frame hap(64, 48, Hap_Internal_DXT1, dxt1), hapa(64, 48, Hap_Internal_DXT5, dxt5);
  Process_Run to_hapa(&hap.buffer, 64, 48, Hap_Internal_DXT5), to_hap(&hapa.buffer, 64, 48, Hap_Internal_DXT1),
      to_alpha(&hapa.buffer, 64, 48, Hap_Internal_RGTC1);
  to_alpha.params.compressor = 0;
  for (Process_Run* run : {&to_hapa, &to_hap, &to_alpha}) EXPECT_EQ(with("", 0), run->run());
  const Bytes out = to_hapa.texture(64, 48, Dxt_Codec_DXT5);
  for (size_t b = 0; b < out.size(); b += 16) ASSERT_EQ((Bytes{255, 0, 0, 0, 0, 0, 0, 0}), Bytes(&out[b], &out[b + 8]));
  EXPECT_EQ(halves(out, 1), dxt1);
  EXPECT_EQ(halves(dxt5, 1), to_hap.texture(64, 48, Dxt_Codec_DXT1));
  EXPECT_EQ(halves(dxt5, 0), to_alpha.texture(64, 48, Dxt_Codec_RGTC1));
  EXPECT_EQ(with(prefix + "src HAPA, impossible a convertir vers le format cible", 1),
            Process_Run(&hapa.buffer, 64, 48, Hap_Internal_YCoCg_DXT5).run());
}

TEST(HapProcess, DxtFiveColourHalvesKeepTheirColours) {
  // Four hand-made 8 x 8 HAPA blocks whose colour 0 is not above colour 1:
  // blue..red all index 3 (170, 0, 85), green..magenta all index 2 (85, 170,
  // 85), equal endpoints with every index, and the same with mixed indices.
  const Bytes opaque = {255, 0, 0, 0, 0, 0, 0, 0};
  const Bytes halves_in[4] = {{0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF},
                              {0xE0, 0x07, 0x1F, 0xF8, 0xAA, 0xAA, 0xAA, 0xAA},
                              {0x34, 0x12, 0x34, 0x12, 0xE4, 0x1B, 0x4E, 0xB1},
                              {0x00, 0x00, 0xFF, 0xFF, 0xE4, 0x1B, 0x4E, 0xB1}};
  Bytes dxt5;
  for (const Bytes& h : halves_in) dxt5.insert(dxt5.end(), opaque.begin(), opaque.end()), dxt5.insert(dxt5.end(), h.begin(), h.end());
  Stored_Frame hapa(8, 8, Hap_Internal_DXT5, dxt5, {}, 1);
  Process_Run to_hap(&hapa.buffer, 8, 8, Hap_Internal_DXT1), canonical(&hapa.buffer, 8, 8, Hap_Internal_DXT5);
  canonical.params.canonicalize = 1;
  ASSERT_EQ(with("", 0), to_hap.run());
  ASSERT_EQ(with("", 0), canonical.run());
  const Bytes dxt1 = to_hap.texture(8, 8, Dxt_Codec_DXT1), rewritten = canonical.texture(8, 8, Dxt_Codec_DXT5);
  for (int b = 0; b < 4; ++b) {
    uint8_t expected[64], converted[64], kept[64];
    decode_dxt5_block(&dxt5[16 * b], expected);
    decode_dxt1_block(&dxt1[8 * b], converted);
    decode_dxt5_block(&rewritten[16 * b], kept);
    EXPECT_EQ(Bytes(expected, expected + 64), Bytes(converted, converted + 64)) << b;
    EXPECT_EQ(Bytes(expected, expected + 64), Bytes(kept, kept + 64)) << b;
    if (b == 0) {
      EXPECT_EQ((Bytes{85, 0, 170, 255}), Bytes(converted, converted + 4));  // B, G, R, A
    }
  }
}

TEST(HapProcess, DxtOneThreeColourBlocksKeepTheirColours) {
  // Blocks whose colour 0 is not above colour 1 (three colours and black):
  // blue..red all at the midpoint (127, 0, 127), blue..red all black, green
  // twice with black pixels; then two blocks a DXT5 colour half shows as
  // they are: four-colour, and endpoints only.
  const Bytes blocks = {0x1F, 0x00, 0x00, 0xF8, 0xAA, 0xAA, 0xAA, 0xAA, 0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xE0, 0x07, 0xE0, 0x07, 0xE4, 0x1B, 0x4E, 0xB1, 0x00, 0xF8, 0x1F, 0x00,
                        0xE4, 0x1B, 0x4E, 0xB1, 0x1F, 0x00, 0x00, 0xF8, 0x44, 0x11, 0x14, 0x41};
  Stored_Frame hap(20, 4, Hap_Internal_DXT1, blocks, {}, 1);
  Process_Run to_hapa(&hap.buffer, 20, 4, Hap_Internal_DXT5);
  ASSERT_EQ(with("", 0), to_hapa.run());
  const Bytes dxt5 = to_hapa.texture(20, 4, Dxt_Codec_DXT5);
  const Bytes before = shown_colours(blocks, 20, 4, Dxt_Codec_DXT1), after = shown_colours(dxt5, 20, 4, Dxt_Codec_DXT5);
  std::vector<int> errors;
  for (size_t b = 0; b < 5; ++b) errors.push_back(max_abs_error(&before[48 * b], &after[48 * b], 48));
  EXPECT_LE(errors[0], 1);  // four colours have no midpoint: fitted again
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), std::vector<int>(errors.begin() + 1, errors.end()));
  const Bytes colour_halves = halves(dxt5, 1);
  EXPECT_EQ(Bytes(blocks.begin() + 24, blocks.end()), Bytes(colour_halves.begin() + 24, colour_halves.end()));
}

TEST(HapProcess, ThreeColourFrameKeepsItsColoursInDxtFive) {
  const Test_Image im = load_test_image("coffee_600x400.bgra");
  Bytes dxt1 = three_colour_dxt1(im.bgra.data(), im.width, im.height), dxt5(dxt1.size() * 2);
  Dxt_Frame source, target;
  set_dxt_frame_on_pointer(&source, dxt1.data(), 600, 400, Dxt_Codec_DXT1);
  set_dxt_frame_on_pointer(&target, dxt5.data(), 600, 400, Dxt_Codec_DXT5);
  convert_dxt_frame(&source, &target);
  const Bytes before = shown_colours(dxt1, 600, 400, Dxt_Codec_DXT1);
  const Bytes after = shown_colours(dxt5, 600, 400, Dxt_Codec_DXT5);
  // The same bytes shown as four colours would be 34 dB from what the DXT1
  // frame shows, every midpoint pixel a sixth of its block's range away.
  EXPECT_GT(psnr_bgra(before.data(), after.data(), before.size() / 4, false), 40.0);
  // Blocks a DXT5 half holds exactly (equal endpoints, or endpoints only) keep every pixel.
  int exact_blocks = 0;
  for (size_t b = 0; b < dxt1.size() / 8; ++b) {
    const uint8_t* block = &dxt1[8 * b];
    if ((block[0] != block[2] || block[1] != block[3]) && (dxt_colour_index_word(block) & 0xAAAAAAAAu) != 0) continue;
    ++exact_blocks;
    ASSERT_EQ(0, max_abs_error(&before[48 * b], &after[48 * b], 48)) << b;
  }
  EXPECT_GT(exact_blocks, 100);
}

TEST(HapProcess, DxtOneColourAndBlackBlocksConvertExactly) {
  auto exact = [](const Bytes& dxt1) { return shown_error(converted_colour_half(dxt1), dxt1) == 0; };
  // Colour 0 (82, 97, 165) and black, which a fit to four colours shows as
  // (82, 97, 164); green (0, 65, 0), the midpoint of black and colour 1, a
  // 5:6:5 colour too, with black and alone; black alone.
  EXPECT_TRUE(exact({0x14, 0x53, 0x9A, 0xA2, 0xCC, 0xCC, 0xCC, 0xCC}));
  EXPECT_TRUE(exact(colour_block(0, 0x0400, 0xEEEEEEEE)));
  EXPECT_TRUE(exact(colour_block(0, 0x0400, 0xAAAAAAAA)));
  EXPECT_TRUE(exact(colour_block(0x001F, 0xF800, 0xFFFFFFFF)));
  // Every 5:6:5 colour with black, as colour 0 (indices 0 and 3) and as
  // colour 1 (indices 1 and 3).
  std::vector<uint32_t> missed;
  for (uint32_t colour = 0; colour < 0x10000; ++colour) {
    if (colour < 0xFFFF && !exact(colour_block(colour, colour + 1, 0xCCCCCCCC))) missed.push_back(colour);
    if (colour > 0 && !exact(colour_block(colour - 1, colour, 0xDDDDDDDD))) missed.push_back(colour);
  }
  EXPECT_EQ(missed.size(), 0u) << "first: " << (missed.empty() ? 0 : missed[0]);
}

TEST(HapProcess, DxtOneBlocksFittedAgainShowNoWorseThanTheirBytes) {
  // Squared errors, fitted against the bytes as they are: 37,537 against
  // 36,358, and 1,030 against 1,030. Both keep their bytes.
  for (const Bytes& block : {Bytes{0x30, 0x34, 0xF0, 0x88, 0xB2, 0x02, 0xA4, 0x42},
                             Bytes{0x08, 0x10, 0xE1, 0x48, 0x6A, 0x45, 0x04, 0x1A}})
    EXPECT_EQ(converted_colour_half(block), block);
  // Random three-colour blocks that use the midpoint or black: a block is
  // rewritten only when that shows it strictly better.
  std::mt19937 rng(25);
  int kept = 0, rewritten = 0;
  while (kept + rewritten < 20000) {
    const uint32_t a = rng() & 0xFFFF, b = rng() & 0xFFFF, indices = rng();
    if (a >= b || (indices & 0xAAAAAAAAu) == 0) continue;
    const Bytes block = colour_block(a, b, indices), half = converted_colour_half(block);
    if (half == block) {
      ++kept;
      continue;
    }
    ++rewritten;
    ASSERT_LT(shown_error(half, block), shown_error(block, block)) << with("block", a, b, indices);
  }
  EXPECT_GT(kept, 0);
  EXPECT_GT(rewritten, 0);
}

TEST(HapProcess, DxtOneBlocksBesideTheirMidpointConvertExactly) {
  // An endpoint, or black, with the midpoint needs endpoints beyond the
  // colours shown, such as d0 7e 90 dc and 6c 6a 9b b3: a fit lands beside
  // them (squared errors 11 and 20).
  for (const Bytes& block : {Bytes{0xD0, 0x7E, 0x50, 0xBD, 0x44, 0x02, 0x44, 0x00},
                             Bytes{0x6C, 0x6A, 0x36, 0x9B, 0x28, 0xA0, 0xA0, 0x45}}) {
    const Bytes half = converted_colour_half(block);
    EXPECT_EQ(0, shown_error(half, block));
    EXPECT_GT(half[0] | half[1] << 8, half[2] | half[3] << 8);  // the form the fit writes
  }
}

TEST(HapProcess, DxtOneBlocksConvertExactlyWheneverSomeHalfShowsThem) {
  // Every random three-colour block that the slow search finds a half for
  // converts exactly, among them some that neither the fit nor the bytes show.
  std::mt19937 rng(41);
  int with_half = 0, exact = 0, neither_fit_nor_bytes = 0;
  for (int n = 0; n < 3000; ++n) {
    const Bytes block = random_three_colour_block(rng);
    const bool has_half = exact_half_exists(block);
    const bool converted_exactly = shown_error(converted_colour_half(block), block) == 0;
    ASSERT_TRUE(has_half || !converted_exactly) << n;  // the slow search misses none
    with_half += has_half, exact += converted_exactly;
    neither_fit_nor_bytes += has_half && !shows_one_colour_and_black(block) &&
                             shown_error(fitted_colour_half(block), block) > 0 && shown_error(block, block) > 0;
  }
  EXPECT_EQ(with_half, exact);
  EXPECT_GT(with_half, 100);
  EXPECT_GT(neither_fit_nor_bytes, 10);
}

TEST(HapProcess, DxtOneBlocksExactBeforeOrWithoutAnExactHalfConvertAsBefore) {
  // One colour and black: the colour, black and index 1 on the black pixels.
  EXPECT_EQ(colour_block(0x1234, 0, 0x44444444), converted_colour_half(colour_block(0x1234, 0x1235, 0xCCCCCCCC)));
  // Otherwise the bytes, or the fit where it shows the block strictly
  // better, whenever one of them is exact or no half is.
  std::mt19937 rng(43);
  int exact_before = 0, without_half = 0;
  for (int n = 0; n < 4000; ++n) {
    const Bytes block = random_three_colour_block(rng);
    if (shows_one_colour_and_black(block)) continue;
    const Bytes fitted = fitted_colour_half(block);
    const Bytes before = shown_error(fitted, block) < shown_error(block, block) ? fitted : block;
    if (shown_error(before, block) == 0)
      ++exact_before;
    else if (!exact_half_exists(block))
      ++without_half;
    else
      continue;
    ASSERT_EQ(before, converted_colour_half(block)) << n;
  }
  EXPECT_GT(exact_before, 50);
  EXPECT_GT(without_half, 1000);
}

TEST(HapProcess, CropsCanonicalisesAndConverts) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 128, 64);
  const Bytes dxt5 = encode_dxt(im, true, 0);
  Stored_Frame hapa(128, 64, Hap_Internal_DXT5, dxt5);
  // A 10 x 6 block box gives a 40 x 24 target, converted at that size.
  Process_Run run(&hapa.buffer, 128, 64, Hap_Internal_DXT1);
  run.params.crop = 1, run.params.crop_x = 5, run.params.crop_y = 7, run.params.crop_width = 10;
  run.params.crop_height = 6;
  EXPECT_EQ(with("", 0), run.run());
  EXPECT_EQ(halves(box_of(dxt5, 32, 16, 5, 7, 10, 6), 1), run.texture(40, 24, Dxt_Codec_DXT1));

  // The fully transparent rectangle of the picture holds uniform alpha
  // halves, rewritten to (value, 0, ...).
  run.params.target_codec = Hap_Internal_DXT5, run.params.crop = 0, run.params.canonicalize = 1;
  EXPECT_EQ(with("", 0), run.run());
  const Bytes canonical = run.texture(128, 64, Dxt_Codec_DXT5);
  int rewritten = 0;
  for (size_t b = 0; b < canonical.size(); b += 16) {
    uint8_t value = 0;
    Bytes expected(&dxt5[b], &dxt5[b + 8]);
    if (dxt_alpha_block_uniform(&dxt5[b], &value)) expected = {value, 0, 0, 0, 0, 0, 0, 0};
    rewritten += std::memcmp(&dxt5[b], expected.data(), 8) != 0;
    ASSERT_EQ(expected, Bytes(&canonical[b], &canonical[b + 8])) << b / 16;
  }
  EXPECT_GT(rewritten, 0);

  // A box outside the source is refused, not read.
  run.params.crop = 1, run.params.crop_x = 30;
  EXPECT_EQ(with(prefix + "crop dxt : la zone demandee depasse l'image source", 1), run.run());
  run.params.crop_width = 0;
  EXPECT_THROW(run.run(), std::logic_error);
}

TEST(HapProcess, HapqaRoutesAndFailures) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 64, 32);
  const Bytes ycocg = encode_ycocg(im), alpha = encode_rgtc1(im);
  Stored_Frame hapqa(64, 32, Hap_Internal_YCoCg_DXT5_RGTC1, ycocg, alpha, 2);
  Process_Run both(&hapqa.buffer, 64, 32, Hap_Internal_YCoCg_DXT5_RGTC1);
  Process_Run colour(&hapqa.buffer, 64, 32, Hap_Internal_YCoCg_DXT5), refused(&hapqa.buffer, 64, 32, Hap_Internal_DXT5),
      alpha_only(&hapqa.buffer, 64, 32, Hap_Internal_RGTC1);
  both.params.crop = 1, both.params.crop_x = 4, both.params.crop_y = 2, both.params.crop_width = 8;
  both.params.crop_height = 4;
  EXPECT_EQ(with("", 0), both.run());
  EXPECT_EQ(with("", 0), colour.run());
  EXPECT_EQ(box_of(ycocg, 16, 16, 4, 2, 8, 4), both.texture(32, 16, Dxt_Codec_DXT5, 0));
  EXPECT_EQ(box_of(alpha, 16, 8, 4, 2, 8, 4), both.texture(32, 16, Dxt_Codec_RGTC1, 1));
  EXPECT_EQ(ycocg, colour.texture(64, 32, Dxt_Codec_DXT5));
  EXPECT_EQ(with("", 0), alpha_only.run());
  EXPECT_EQ(alpha, alpha_only.texture(64, 32, Dxt_Codec_RGTC1));

  EXPECT_EQ(with(prefix + "src HAPQ, impossible a convertir vers le format cible", 1), refused.run());
  EXPECT_EQ(0u, refused.colour.capacity);  // nothing decoded
  Stored_Frame bc7_frame(32, 16, Hap_Internal_BC7, Bytes(8 * 4 * 16, 0x40), {}, 1);
  EXPECT_EQ(with(prefix + "src codec non supporte, impossible a convertir vers le format cible", 1),
            Process_Run(&bc7_frame.buffer, 32, 16, Hap_Internal_BC7).run());
  colour.target.length = 100;
  EXPECT_EQ(with(prefix + "HapResult_Buffer_Too_Small", 1), colour.run());
  Buffer garbage(64, 0xEE);
  EXPECT_EQ(with(prefix + "HapResult_Bad_Frame", 1), Process_Run(&garbage, 64, 32, Hap_Internal_YCoCg_DXT5).run());
}

TEST(HapProcess, CheckedDecoding) {
  // Horizontal stripes: textures snappy shrinks, so the chunks are kept.
  Test_Image im{32, 16, Bytes(32 * 16 * 4)};
  for (size_t i = 0; i < im.bgra.size(); ++i) im.bgra[i] = uint8_t(i / 128 * 17);
  const Bytes ycocg = encode_ycocg(im), alpha = encode_rgtc1(im);
  Stored_Frame hapqa(32, 16, Hap_Internal_YCoCg_DXT5_RGTC1, ycocg, alpha, 4);
  Buffer first(uint32_t(ycocg.size())), second(uint32_t(alpha.size())), texture(64 * 64 / 2);
  auto decode = [&](Padded_Buffer* frame, Padded_Buffer* one, uint32_t codec, uint32_t chunks, uint32_t w = 32,
                    uint32_t h = 16) {
    uint32_t error = 9;
    Padded_Buffer* two = codec == Hap_Internal_DXT1 ? nullptr : &second;
    const std::string message = decode_hap_frame_to_dxt(frame, one, two, codec, chunks, w, h, &error);
    return with(message, error);
  };
  const uint32_t hapqa_codec = Hap_Internal_YCoCg_DXT5_RGTC1;
  EXPECT_EQ(with("", 0), decode(&hapqa.buffer, &first, hapqa_codec, 4));
  EXPECT_EQ(ycocg, first.bytes());
  EXPECT_EQ(alpha, second.bytes());
  EXPECT_EQ(with("Erreur codec : Attendu : HAPQ ; Trouve : HAPQA", 1),
            decode(&hapqa.buffer, &first, Hap_Internal_YCoCg_DXT5, 4));
  EXPECT_EQ(with("Erreur nombres de chunks (texture 1) : Attendu : 8 ; Trouve : 4", 1),
            decode(&hapqa.buffer, &first, hapqa_codec, 8));
  // Buffers too small for the texture: raised, not reported.
  EXPECT_THROW(decode(&hapqa.buffer, &second, hapqa_codec, 4), std::runtime_error);
  // A frame larger than the stated size fails in the decoding of texture 1; a
  // frame cut short fails in its headers.
  const Test_Image big = cut_image("astronaut_512x512.bgra", 64, 64);
  Stored_Frame hap(64, 64, Hap_Internal_DXT1, encode_dxt(big, false, 0), {}, 1);
  EXPECT_EQ(with("Erreur decodage (texture 1) : HapResult_Buffer_Too_Small", 1),
            decode(&hap.buffer, &texture, Hap_Internal_DXT1, 1, 64, 32));
  hap.buffer.length -= 9;
  EXPECT_EQ(with("Erreur header : HapResult_Bad_Frame", 1),
            decode(&hap.buffer, &texture, Hap_Internal_DXT1, 1, 64, 64));
}

TEST(HapProcess, UnsafeBuffersRefused) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 32, 16);
  Stored_Frame hapa(32, 16, Hap_Internal_DXT5, encode_dxt(im, true, 0), {}, 1);
  // Lengths beyond the blocks, absent records, one record in two roles.
  Process_Run long_target(&hapa.buffer, 32, 16, Hap_Internal_DXT5);
  long_target.target.length = long_target.target.capacity + 1;
  EXPECT_EQ(with(prefix + "init_hap_frame_on_buffer, longueur du buffer cible > sa capacite", 1), long_target.run());
  Buffer short_source(hapa.buffer.length);
  std::memcpy(short_source.data, hapa.buffer.data, short_source.length = hapa.buffer.length);
  short_source.length = short_source.capacity + 64;
  EXPECT_EQ(with(prefix + "set_hap_frame_from_buffer, longueur du buffer > sa capacite", 1),
            Process_Run(&short_source, 32, 16, Hap_Internal_DXT5).run());
  Process_Run no_source(nullptr, 32, 16, Hap_Internal_DXT5), no_target(&hapa.buffer, 32, 16, Hap_Internal_DXT5),
      shared(&hapa.buffer, 32, 16, Hap_Internal_DXT1);
  no_target.params.target = nullptr;
  shared.params.colour_texture = &hapa.buffer;
  EXPECT_EQ(with(prefix + "set_hap_frame_from_buffer, buffer de la frame hap absent", 1), no_source.run());
  EXPECT_EQ(with(prefix + "init_hap_frame_on_buffer, buffer cible absent", 1), no_target.run());
  EXPECT_EQ(with(prefix + "buffers de travail : un meme buffer est donne pour deux roles", 1), shared.run());
  uint32_t error = 0;
  uint16_t border[4];
  Buffer dxt(32 * 16);
  EXPECT_EQ("Erreur header : set_hap_frame_from_buffer, buffer de la frame hap absent",
            decode_hap_frame_to_dxt(nullptr, &dxt, nullptr, Hap_Internal_DXT5, 1, 32, 16, &error));
  EXPECT_THROW(decode_hap_frame_to_dxt(&hapa.buffer, nullptr, nullptr, Hap_Internal_DXT5, 1, 32, 16, &error),
               std::runtime_error);
  EXPECT_EQ("Erreur process detect crop hap frame : set_dxt_frame_from_buffer, buffer absent",
            detect_hap_frame_crop(&hapa.buffer, nullptr, Hap_Internal_DXT5, 32, 16, 1, &error, &border[0], &border[1],
                                  &border[2], &border[3]));
  EXPECT_EQ("Erreur process hap frame : set_hap_frame_from_buffer, buffer de la frame hap absent",
            detect_hap_frame_need_alpha(nullptr, &dxt, 32, 16, &error));
  EXPECT_EQ(1u, error);
  // The frame's own buffer given as the texture buffer.
  const std::string shared_text = "buffers de travail : un meme buffer est donne pour deux roles";
  EXPECT_EQ(shared_text, error_text([&] {
              decode_hap_frame_to_dxt(&hapa.buffer, &hapa.buffer, nullptr, Hap_Internal_DXT5, 1, 32, 16, &error);
            }));
  EXPECT_EQ("Erreur process detect crop hap frame : " + shared_text,
            detect_hap_frame_crop(&hapa.buffer, &hapa.buffer, Hap_Internal_DXT5, 32, 16, 1, &error, &border[0],
                                  &border[1], &border[2], &border[3]));
  EXPECT_EQ("Erreur process hap frame : " + shared_text,
            detect_hap_frame_need_alpha(&hapa.buffer, &hapa.buffer, 32, 16, &error));
}

TEST(HapProcess, OverlappingBuffersAndNullFlagsRefused) {
  const Test_Image im = cut_image("astronaut_alpha_512x512.bgra", 64, 64);
  Stored_Frame hapa(64, 64, Hap_Internal_DXT5, encode_dxt(im, true, 0), {}, 1);
  const std::string overlap = "buffers de travail : deux buffers partagent la meme memoire";
  // A work record borrowing the source's block, which growing it would free.
  Process_Run borrowing(&hapa.buffer, 64, 64, Hap_Internal_DXT1);
  Padded_Buffer borrowed = hapa.buffer;
  borrowed.capacity = 16;
  borrowing.params.colour_texture = &borrowed;
  EXPECT_EQ(with(prefix + overlap, 1), borrowing.run());
  // The converted texture inside the target's block.
  Process_Run inside(&hapa.buffer, 64, 64, Hap_Internal_DXT1);
  Padded_Buffer converted = inside.target;
  converted.data += converted.capacity / 2, converted.capacity /= 2;
  inside.params.converted = &converted;
  EXPECT_EQ(with(prefix + overlap, 1), inside.run());
  // The frame and the texture buffer in one block, the texture's start within
  // the frame's part.
  Buffer shared(1 << 16);
  std::memcpy(shared.data, hapa.buffer.data, hapa.buffer.length);
  Padded_Buffer frame = shared, texture = shared;
  frame.length = hapa.buffer.length, frame.capacity = 1 << 15;
  texture.data += 1 << 10, texture.capacity = 1 << 15;
  uint32_t result = 9, error = 9;
  uint16_t border[4];
  EXPECT_EQ("Erreur process hap frame : " + overlap, detect_hap_frame_need_alpha(&frame, &texture, 64, 64, &result));
  EXPECT_EQ(1u, result);
  EXPECT_EQ("Erreur process detect crop hap frame : " + overlap,
            detect_hap_frame_crop(&frame, &shared, Hap_Internal_DXT5, 64, 64, 1, &error, &border[0], &border[1],
                                  &border[2], &border[3]));
  EXPECT_EQ(overlap, error_text([&] {
              decode_hap_frame_to_dxt(&frame, &texture, nullptr, Hap_Internal_DXT5, 1, 64, 64, &error);
            }));
  // Records side by side in one block are accepted.
  texture.data = shared.data + frame.capacity;
  EXPECT_EQ("", detect_hap_frame_need_alpha(&frame, &texture, 64, 64, &result));

  // A null flag or result is refused without being written through.
  Process_Run run(&hapa.buffer, 64, 64, Hap_Internal_DXT5);
  EXPECT_EQ(prefix + "drapeau d'erreur absent", process_hap_frame(run.params, nullptr));
  EXPECT_EQ("decode_hap_frame_to_dxt, drapeau d'erreur absent", error_text([&] {
              decode_hap_frame_to_dxt(&hapa.buffer, &texture, nullptr, Hap_Internal_DXT5, 1, 64, 64, nullptr);
            }));
  EXPECT_EQ("Erreur process detect crop hap frame : drapeau d'erreur absent",
            detect_hap_frame_crop(&hapa.buffer, &texture, Hap_Internal_DXT5, 64, 64, 1, nullptr, &border[0],
                                  &border[1], &border[2], &border[3]));
  EXPECT_EQ("Erreur process detect crop hap frame : Crop detect : sortie absente",
            detect_hap_frame_crop(&hapa.buffer, &texture, Hap_Internal_DXT5, 64, 64, 1, &error, &border[0], nullptr,
                                  &border[2], &border[3]));
  EXPECT_EQ(1u, error);
  EXPECT_EQ("Erreur process hap frame : resultat absent",
            detect_hap_frame_need_alpha(&hapa.buffer, &texture, 64, 64, nullptr));
}

TEST(HapProcess, RowEncodersRefuseRowsOutsideTheSource) {
  // 6 pixels wide: the second block of a row would reach into the next row.
  Bytes source(6 * 4 * 8, 0x40), out(64 * 4, 0);
  const std::string narrow = "encodeur dxt : largeur non multiple de 4";
  EXPECT_EQ(narrow, error_text([&] { compress_dxt1_rows_bgra(0, source.data(), 6, 8, 8, 24, out.data(), 0, 0, 1); }));
  EXPECT_EQ(narrow, error_text([&] { compress_dxt5_rows_argb(0, source.data(), 6, 8, 8, 24, out.data(), 0, 1); }));
  EXPECT_EQ(narrow, error_text([&] { compress_rgtc1_rows_argb(0, source.data(), 6, 8, 8, 24, out.data(), 0); }));
  EXPECT_EQ(narrow, error_text([&] { compress_ycocg_dxt5_rows_bgra(0, source.data(), 6, 8, 8, 24, out.data(), 1, 16, 1, 2); }));
  // Bottom-up rows below the picture, rows shorter than the width, blocks
  // written closer than their size.
  EXPECT_EQ("encodeur dxt : lignes source hors de l'image",
            error_text([&] { compress_rgtc1_rows_bgra(1, source.data(), 4, 6, 4, 24, out.data(), 0, 0); }));
  EXPECT_EQ("encodeur dxt : stride inferieur a une ligne de pixels",
            error_text([&] { compress_dxt_block_row(0, source.data(), 8, 8, 24, out.data(), 0, 1, 1, 1); }));
  EXPECT_EQ("encodeur ycocg : pas de bloc inferieur a 16",
            error_text([&] { compress_ycocg_dxt5_block_row(0, source.data(), 4, 8, 24, out.data(), 0, 8, 2, 1, 0); }));
  // The same calls within bounds, and no block row at all, are accepted.
  EXPECT_EQ("(no exception)", error_text([&] { compress_rgtc1_rows_bgra(0, source.data(), 4, 8, 8, 24, out.data(), 0, 0); }));
  EXPECT_EQ("(no exception)", error_text([&] { compress_dxt1_rows_bgra(0, source.data(), 6, 8, 3, 24, out.data(), 0, 0, 1); }));
}

TEST(HapProcess, RowEncodersRefuseRowsPastThePictureAndNullBuffers) {
  // A 4 x 8 top-down picture of exactly 8 rows, given to every family's
  // drivers and block-row functions.
  Bytes source(16 * 8, 0x40), out(16 * 4, 0);
  using Rows = void (*)(uint16_t first, uint16_t count, const uint8_t* src, uint8_t* dst);
  // The block-row functions are called once per block row.
  using U16 = uint16_t;
  using P = const uint8_t*;
  const Rows rows[] = {
      [](U16 f, U16 n, P s, uint8_t* d) { compress_dxt1_rows_argb(f, s, 4, 8, n, 16, d, 0, 1); },
      [](U16 f, U16 n, P s, uint8_t* d) { compress_dxt5_rows_bgra(f, s, 4, 8, n, 16, d, 1, 2, 1); },
      [](U16 f, U16 n, P s, uint8_t* d) {
        for (uint32_t r = f; r < f + n / 4u; ++r) compress_dxt_block_row(U16(r), s, 4, 8, 16, d, 0, 2, 1, 0);
      },
      [](U16 f, U16 n, P s, uint8_t* d) { compress_rgtc1_rows_argb(f, s, 4, 8, n, 16, d, 1); },
      [](U16 f, U16 n, P s, uint8_t* d) { compress_rgtc1_rows_bgra(f, s, 4, 8, n, 16, d, 0, 1); },
      [](U16 f, U16 n, P s, uint8_t* d) { compress_ycocg_dxt5_rows_argb(f, s, 4, 8, n, 16, d, 1, 16, 2); },
      [](U16 f, U16 n, P s, uint8_t* d) { compress_ycocg_dxt5_rows_bgra(f, s, 4, 8, n, 16, d, 0, 16, 1, 0); },
      [](U16 f, U16 n, P s, uint8_t* d) {
        for (uint32_t r = f; r < f + n / 4u; ++r) compress_ycocg_dxt5_block_row(U16(r), s, 4, 8, 16, d, 0, 16, 1, 1, 0);
      },
  };
  const std::string outside = "encodeur dxt : lignes source hors de l'image";
  const std::string null = "encodeur dxt : source ou destination nulle";
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto call = [&](uint16_t first, uint16_t count, const uint8_t* src, uint8_t* dst) {
      return error_text([&] { rows[i](first, count, src, dst); });
    };
    EXPECT_EQ("(no exception)", call(1, 4, source.data(), out.data())) << i;  // the last block row
    EXPECT_EQ(outside, call(0, 12, source.data(), out.data())) << i;
    EXPECT_EQ(outside, call(2, 4, source.data(), out.data())) << i;
    EXPECT_EQ(null, call(0, 8, nullptr, out.data())) << i;
    EXPECT_EQ(null, call(0, 8, source.data(), nullptr)) << i;
    // Block row 65535, whose successor would wrap to 0.
    EXPECT_EQ(outside, call(65535, 8, source.data(), out.data())) << i;
  }
}

TEST(HapProcess, CropAndAlphaDetection) {
  // A transparent border of 2 block rows on top, 1 below, 3 block columns
  // left and 1 right.
  const Test_Image opaque = cut_image("astronaut_512x512.bgra", 64, 48);
  Test_Image im = opaque;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      if (y < 8 || y >= 44 || x < 12 || x >= 60) im.bgra[(size_t(y) * 64 + x) * 4 + 3] = 0;
  Stored_Frame hapa(64, 48, Hap_Internal_DXT5, encode_dxt(im, true, 0));
  Stored_Frame hapqa(64, 48, Hap_Internal_YCoCg_DXT5_RGTC1, encode_ycocg(im), encode_rgtc1(im), 1);
  Stored_Frame hapa_opaque(64, 48, Hap_Internal_DXT5, encode_dxt(opaque, true, 0));
  Stored_Frame hap(64, 48, Hap_Internal_DXT1, encode_dxt(opaque, false, 0));
  Stored_Frame bc7(64, 48, Hap_Internal_BC7, Bytes(64 * 48, 0x40), {}, 1);
  // The same border in black over opaque alpha.
  Test_Image black = opaque;
  for (size_t p = 0; p < black.bgra.size() / 4; ++p)
    if (im.bgra[4 * p + 3] == 0) std::fill_n(&black.bgra[4 * p], 3, 0);
  Stored_Frame hap_black(64, 48, Hap_Internal_DXT1, encode_dxt(black, false, 0));
  Stored_Frame hapqa_black(64, 48, Hap_Internal_YCoCg_DXT5_RGTC1, encode_ycocg(black), encode_rgtc1(black), 1);
  Stored_Frame alpha_only(64, 48, Hap_Internal_RGTC1, encode_rgtc1(im));
  Buffer dxt(64 * 48);
  std::vector<int> borders;
  auto crop = [&](Stored_Frame& f, uint32_t codec, uint8_t mode = 1) {
    uint32_t error = 0;
    uint16_t top = 9, bottom = 9, left = 9, right = 9;
    const std::string message =
        detect_hap_frame_crop(&f.buffer, &dxt, codec, 64, 48, mode, &error, &top, &bottom, &left, &right);
    borders = {top, bottom, left, right};
    return with(message, error);
  };
  for (auto [frame, codec] : {std::pair{&hapa, Hap_Internal_DXT5}, {&hapqa, Hap_Internal_YCoCg_DXT5_RGTC1}}) {
    EXPECT_EQ(with("", 0), crop(*frame, codec));
    EXPECT_EQ((std::vector<int>{2, 1, 3, 1}), borders);
  }
  EXPECT_EQ(with("Erreur codec", 1), crop(hapa, Hap_Internal_DXT1));
  EXPECT_EQ(with("Erreur process detect crop hap frame : Crop detect alpha DXT non supporte pour detection sur crop "
                 "(DXT5(alpha) ou RGTC1 supporte)", 1),
            crop(hap, Hap_Internal_DXT1));
  // Any other mode: black blocks of DXT1, transparent blocks of DXT5 (for
  // HAPQA the first texture, whose alpha half is the luma), nothing for RGTC1
  // and BC7.
  for (uint8_t mode : {0, 2}) {
    for (auto [frame, codec] : {std::pair{&hap_black, Hap_Internal_DXT1}, {&hapa, Hap_Internal_DXT5},
                                {&hapqa_black, Hap_Internal_YCoCg_DXT5_RGTC1}}) {
      EXPECT_EQ(with("", 0), crop(*frame, codec, mode));
      EXPECT_EQ((std::vector<int>{2, 1, 3, 1}), borders) << codec << " mode " << int(mode);
    }
    for (auto [frame, codec] : {std::pair{&alpha_only, Hap_Internal_RGTC1}, {&bc7, Hap_Internal_BC7}}) {
      EXPECT_EQ(with("", 0), crop(*frame, codec, mode));
      EXPECT_EQ((std::vector<int>{9, 9, 9, 9}), borders) << codec << " mode " << int(mode);
    }
  }
  EXPECT_EQ(with("", 0), crop(hapqa_black, Hap_Internal_YCoCg_DXT5_RGTC1));  // its alpha is opaque
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), borders);

  // Need-alpha results: 0 when the alpha is needed or absent, 2 when the
  // alpha is all opaque, 1 on failure.
  auto need_alpha = [&](Stored_Frame& f) {
    uint32_t result = 9;
    const std::string message = detect_hap_frame_need_alpha(&f.buffer, &dxt, 64, 48, &result);
    return with(message, result);
  };
  EXPECT_EQ(with("", 0), need_alpha(hap));
  EXPECT_EQ(with("", 2), need_alpha(hapa_opaque));
  EXPECT_EQ(with("", 0), need_alpha(hapa));
  EXPECT_EQ(with("", 0), need_alpha(hapqa));
  EXPECT_EQ(with("Erreur process hap frame : Detect need alpha : codec inconnu", 1), need_alpha(bc7));
}
