// Conversion templates over every pixel layout they read, the sample
// reductions, unsupported formats, raw buffer sizes and the pad kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/partial_block_padding.h"
#include "texture_encoder/pixel_formats.h"

namespace {

using Rgba_Block = std::array<uint8_t, 64>;  // 16 pixels R, G, B, A

// One 4x4 block stored in a pixel format, with rows `pad` bytes longer than needed, built
// from 8-bit R, G, B, A values. Low bits that the reduction to 8 bits drops are noise.
struct Stored_Block {
  std::vector<uint8_t> planes[4];
  int64_t strides[4] = {0, 0, 0, 0};
  const uint8_t* p(int k) const { return planes[k].empty() ? nullptr : planes[k].data(); }
};

void put16(uint8_t* at, uint16_t v) { at[0] = uint8_t(v), at[1] = uint8_t(v >> 8); }

Stored_Block store(uint32_t fmt, const Rgba_Block& rgba, std::mt19937& noise) {
  const int pad = 6;
  Stored_Block block;
  // A sample of the format from an 8-bit value, with noise in the bits below it.
  auto sample = [&](uint8_t v) -> uint16_t {
    const int shift = fmt == 5 ? 7 : fmt == 12 ? 2 : fmt == 13 ? 4 : 8;
    return uint16_t(fmt == 5 && v == 255 ? 32768 : v << shift | (noise() & ((1u << shift) - 1)));
  };
  if (fmt <= 9) {  // interleaved; channel order by format, 0 = R .. 3 = A
    static const char* const orders[10] = {"3012", "2103", "2103", "0123", "3012",
                                           "3012", "0123", "",     "012",  "210"};
    const int bpp = fmt <= 3 ? 4 : fmt <= 6 ? 8 : 3;
    block.strides[0] = 4 * bpp + pad;
    block.planes[0].assign(size_t(block.strides[0]) * 4, 0);
    for (int i = 0; i < 16; ++i) {
      uint8_t* o = &block.planes[0][(i / 4) * block.strides[0] + (i % 4) * bpp];
      for (int k = 0; orders[fmt][k]; ++k) {
        const uint8_t v = rgba[4 * i + orders[fmt][k] - '0'];
        if (bpp == 8) put16(o + 2 * k, sample(v));
        else o[k] = v;
      }
    }
    return block;
  }
  const int sample_bytes = fmt <= 11 ? 1 : 2;
  for (int k = 0; k < 4; ++k) {
    block.strides[k] = 4 * sample_bytes + pad + 2 * k;
    block.planes[k].assign(size_t(block.strides[k]) * 4, 0);
    for (int i = 0; i < 16; ++i) {
      uint8_t* o = &block.planes[k][(i / 4) * block.strides[k] + (i % 4) * sample_bytes];
      if (fmt <= 11) *o = rgba[4 * i + k];
      else put16(o, sample(rgba[4 * i + k]));
    }
  }
  return block;
}

// Every 8-bit template reading a stored block agrees with the RGBA it was made from.
template <uint32_t Fmt>
void check_format(const Rgba_Block& rgba, std::mt19937& noise) {
  SCOPED_TRACE("format " + std::to_string(Fmt));
  const Stored_Block s = store(Fmt, rgba, noise);
  Rgba_Block expected = rgba;
  if (pix_fmt_has_no_alpha(Fmt))
    for (int i = 0; i < 16; ++i) expected[4 * i + 3] = 255;

  auto read = [&](auto kernel, uint8_t* out, auto... results) {
    kernel(out, s.p(0), s.p(1), s.p(2), s.p(3), s.strides[0], s.strides[1], s.strides[2],
           s.strides[3], results...);
  };
  Rgba_Block out{};
  read(to_rgba_template<Fmt, false>, out.data());
  EXPECT_EQ(out, expected);
  read(to_rgba_template<Fmt, true>, out.data());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(out[4 * i + 3], 255);

  uint8_t plane[16];
  uint64_t min = 0, max = 0;
  read(to_alpha_template<Fmt, 0>, plane, &min, &max);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(plane[i], expected[4 * i + 3]);
  read(to_alpha_template<Fmt, 1>, plane, &min, &max);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(plane[i], (rgba[4 * i] + rgba[4 * i + 1] + rgba[4 * i + 2]) / 3) << i;
  const auto [lo, hi] = std::minmax_element(plane, plane + 16);
  EXPECT_TRUE(min == *lo && max == *hi);

  uint8_t planar[48];
  uint64_t range = 0;
  const uint64_t returned = to_planar_rgb_template_c<Fmt, 1>(
      planar, s.p(0), s.p(1), s.p(2), s.strides[0], s.strides[1], s.strides[2], &range);
  EXPECT_EQ(returned, range);
  int widest = 0;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(planar[16 * c + i], rgba[4 * i + c]);
    const auto [cl, ch] = std::minmax_element(planar + 16 * c, planar + 16 * c + 16);
    widest = std::max(widest, *ch - *cl);
  }
  EXPECT_EQ(range, uint64_t(widest));

  if constexpr (pix_fmt_is_8bit(Fmt) || Fmt == 12 || Fmt == 13) {
    Ycocg_Block from_format, from_bgra;
    uint64_t black_a = 0, black_b = 0;
    to_ycocg<Fmt>(&from_format.y[0], s.p(0), s.p(1), s.p(2), s.strides[0], s.strides[1],
                  s.strides[2], &black_a);
    const Stored_Block bgra = store(1, rgba, noise);
    to_ycocg<1>(&from_bgra.y[0], bgra.p(0), nullptr, nullptr, bgra.strides[0], 0, 0, &black_b);
    EXPECT_EQ(std::memcmp(from_format.y, from_bgra.y, sizeof from_bgra.y), 0);
    // co, cg and box; not the padding
    EXPECT_EQ(std::memcmp(&from_format.cocg, &from_bgra.cocg, sizeof(float) * (16 + 16 + 4)), 0);
    EXPECT_EQ(black_a, black_b);
  }
}

}  // namespace

TEST(PixelFormats, EveryReadableFormatGivesTheSameChannels) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 50 && !HasFailure(); ++trial) {
    Rgba_Block rgba;
    for (uint8_t& v : rgba) v = uint8_t(random());
    rgba[5] = 255, rgba[6] = 0;  // full scale and zero appear in every block
    [&]<uint32_t... Fmt>(std::integer_sequence<uint32_t, Fmt...>) {
      (check_format<Fmt>(rgba, random), ...);
    }(std::integer_sequence<uint32_t, 0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15>{});
  }
}

TEST(PixelFormats, AlphaLayoutsAndEdgeSamples) {
  // The reductions at the ends of their ranges, which random samples rarely meet.
  static_assert(sample32768_to_8(32767) == 255 && sample32768_to_8(128) == 1);
  static_assert(sample10_to_8(1024) == 0 && sample10_to_8(1023) == 255);
  for (uint32_t f = 0; f < 17; ++f)
    EXPECT_EQ(pix_fmt_has_no_alpha(f), f == 8 || f == 9 || f == 11 || f == 12 || f == 13 || f == 15);
  uint8_t plane[16] = {};
  uint64_t min = 0, max = 0;
  fill_opaque_plane(plane, nullptr, nullptr, 0, 0, &min, &max);
  EXPECT_EQ(std::count(plane, plane + 16, 255), 16);
  EXPECT_TRUE(min == 255 && max == 255);
}

TEST(PixelFormats, YcocgOfWideSamples) {
  // Full-range 16-bit samples are divided by 255: full scale clamps to 1.
  Rgba_Block white;
  white.fill(255);
  std::mt19937 noise(2);
  const Stored_Block s = store(4, white, noise);
  Ycocg_Block block;
  uint64_t all_black = 0;
  to_ycocg<4>(block.y, s.p(0), nullptr, nullptr, s.strides[0], 0, 0, &all_black);
  EXPECT_EQ(block.y_max, 1.0f);
  // Float samples are clamped to 0..1 first.
  const float pixels[16 * 4] = {1.0f, 2.0f, -1.0f, 0.5f};
  to_ycocg<7>(block.y, reinterpret_cast<const uint8_t*>(pixels), nullptr, nullptr, 0, 0, 0,
              &all_black);
  EXPECT_EQ(block.y[0], ((255.0f + 2.0f * 0.0f + 127.5f + 2.0f) * 0.25f) / 255.0f);  // R 1, G 0
  EXPECT_EQ(block.y[1], 0.5f / 255.0f);  // the other pixels are all zero
}

TEST(PixelFormats, UnsupportedFormatsLeaveZeros) {
  std::vector<uint8_t> source(256, 0x77);
  const uint8_t* p = source.data();
  uint8_t alpha[64], rgba[64], planar[64];
  std::memset(alpha, 0xEE, 64), std::memset(rgba, 0xEE, 64), std::memset(planar, 0xEE, 64);
  uint64_t min = 99, max = 99, result = 99;
  EXPECT_EQ(printed_by([&] {
              to_alpha_template<7, 0>(alpha, p, p, p, p, 64, 64, 64, 64, &min, &max);
              to_rgba_template<16, false>(rgba, p, p, p, p, 64, 64, 64, 64);
              EXPECT_EQ((to_planar_rgb_template_c<7, 1>(planar, p, p, p, 64, 64, 64, &result)), 0u);
              EXPECT_EQ(get_raw_buffer_line_size(16, 8), 0u);
            }),
            "ERROR : to_alpha_template : pix fmt non gere : 7\n"
            "ERROR : to_rgba_template : pix fmt non gere : 16\n"
            "ERROR : to_planar_rgb_template_c : pix fmt non implemente : 7\n"
            "ERROR : get_raw_buffer_line_size : Unsupported pix fmt\n");
  EXPECT_EQ(std::count(alpha, alpha + 16, 0) + std::count(rgba, rgba + 64, 0) +
                std::count(planar, planar + 48, 0), 16 + 64 + 48);
  EXPECT_TRUE(min == 0 && max == 0);
}

TEST(PixelFormats, RawBufferSizes) {
  EXPECT_EQ(get_raw_buffer_line_size(5, 1), 32u);
  EXPECT_EQ(get_raw_buffer_line_size(9, 1), 64u);
  EXPECT_EQ(get_raw_buffer_line_size(8, 7), 128u);
  EXPECT_EQ(get_raw_buffer_size(9, 5, 1), 64u * 8u);
}

TEST(Padding, EachModeCompletesTheBlock) {
  // A 7x7 BGRA frame whose pixel (x, y) is (x, y, x + y, 100 + x).
  std::vector<uint8_t> frame(7 * 7 * 4);
  for (int i = 0; i < 49; ++i) {
    const int x = i % 7, y = i / 7;
    frame[4 * i] = uint8_t(x), frame[4 * i + 1] = uint8_t(y);
    frame[4 * i + 2] = uint8_t(x + y), frame[4 * i + 3] = uint8_t(100 + x);
  }
  auto source = [&](int x, int y) { return &frame[(y * 7 + x) * 4]; };
  const uint8_t black[4] = {0, 0, 0, 255}, zero[4] = {0, 0, 0, 0};
  const int64_t down[4] = {7 * 4, 0, 0, 0}, up[4] = {-7 * 4, 0, 0, 0};
  // The partial block at (4, 4): 3 valid columns, 3 valid rows.
  const uint8_t* partial[4] = {source(4, 4), nullptr, nullptr, nullptr};
  const uint8_t* top_left[4] = {source(0, 0), nullptr, nullptr, nullptr};
  // Rows stored bottom-up are walked with a negative stride from the last stored row.
  const uint8_t* bottom[4] = {source(4, 6), nullptr, nullptr, nullptr};
  const struct {
    Pad_Kernel_Fn kernel;
    const uint8_t* const* planes;
    const int64_t* strides;
    int columns, rows;
    std::function<const uint8_t*(int, int)> expected;
  } cases[] = {
      {pad_partial_block_fmt1_mode0, partial, down, 3, 3,
       [&](int x, int y) { return source(4 + std::min(x, 2), 4 + std::min(y, 2)); }},
      {pad_partial_block_fmt1_mode1, partial, down, 3, 3,
       [&](int x, int y) { return x < 3 && y < 3 ? source(4 + x, 4 + y) : black; }},
      {pad_partial_block_fmt2_mode2, partial, down, 3, 3,
       [&](int x, int y) { return x < 3 && y < 3 ? source(4 + x, 4 + y) : zero; }},
      // A whole block is a plain copy.
      {pad_partial_block_fmt1_mode2, top_left, down, 4, 4,
       [&](int x, int y) { return source(x, y); }},
      {pad_partial_block_fmt2_mode0, bottom, up, 3, 2,
       [&](int x, int y) { return source(4 + std::min(x, 2), 6 - std::min(y, 1)); }},
  };
  for (const auto& c : cases) {
    uint8_t block[64];
    c.kernel(block, c.planes, c.strides, c.columns, c.rows);
    for (int i = 0; i < 16; ++i)
      EXPECT_EQ(std::memcmp(block + 4 * i, c.expected(i % 4, i / 4), 4), 0)
          << "case " << &c - cases << " pixel " << i;
  }
}
