// Conversion templates over every pixel layout they read, the sample
// reductions and the pad kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/partial_block_padding.h"
#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/ycocg_block.h"

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

TEST(Padding, EdgeBlocksReadRowsAtTheExactStride) {
  // A 5x4 BGRA frame in rows of 22 bytes whose alpha is 40 y + x: the last
  // column's partial block holds the alphas 4, 44, 84, 124 whatever the mode,
  // and so does the same frame stored bottom-up.
  const int64_t stride = 22;
  std::vector<uint8_t> frame(stride * 4, 0xEE);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) frame[y * stride + 4 * x + 3] = uint8_t(40 * y + x);
  const uint8_t* top[4] = {&frame[16], nullptr, nullptr, nullptr};
  const uint8_t* bottom[4] = {&frame[3 * stride + 16], nullptr, nullptr, nullptr};
  const int64_t down[4] = {stride, 0, 0, 0}, up[4] = {-stride, 0, 0, 0};
  const std::tuple<Pad_Kernel_Fn, const uint8_t* const*, const int64_t*, bool> cases[] = {
      {pad_partial_block_fmt1_mode0, top, down, false},
      {pad_partial_block_fmt1_mode1, top, down, false},
      {pad_partial_block_fmt1_mode2, top, down, false},
      {pad_partial_block_fmt2_mode0, bottom, up, true}};
  for (const auto& [kernel, planes, strides, reversed] : cases) {
    uint8_t block[64];
    kernel(block, planes, strides, 1, 4);
    for (int y = 0; y < 4; ++y)
      EXPECT_EQ(block[16 * y + 3], 40 * (reversed ? 3 - y : y) + 4) << y;
  }
}

namespace {

// The opaque-black pixel of each format and plane, as raw bytes.
std::vector<uint8_t> black_pixel(uint32_t fmt, int plane) {
  std::vector<uint8_t> p(size_t(pix_fmt_pixel_bytes(fmt)), 0);
  if (fmt == 0) p[0] = 255;
  if (fmt >= 1 && fmt <= 3) p[3] = 255;
  if (fmt == 4) p[0] = p[1] = 255;           // A = 65535 first
  if (fmt == 5) p[1] = 0x80;                 // A = 32768 first
  if (fmt == 6) p[6] = p[7] = 255;           // A = 65535 last
  if (fmt == 7) p[2] = 0x80, p[3] = 0x3F;    // A = 1.0f first
  if (fmt == 10 && plane == 3) p[0] = 255;
  if (fmt == 14 && plane == 3) p[0] = p[1] = 255;
  return p;
}

}  // namespace

TEST(Padding, EveryFormatAndModeCompletesTheBlock) {
  std::mt19937 random(11);
  for (uint32_t fmt = 0; fmt <= 15; ++fmt) {
    const int bytes = pix_fmt_pixel_bytes(fmt), planes = pix_fmt_plane_count(fmt);
    // Rows longer than the block by a length no wider unit divides: odd for
    // 8-bit samples, even for 16-bit ones, whole floats for format 7.
    const int64_t extra = fmt == 7 ? 12 : pix_fmt_is_16bit(fmt) ? 6 : 5;
    std::vector<uint8_t> source[4];
    const uint8_t* plane_pointers[4] = {};
    int64_t strides[4] = {};
    for (int k = 0; k < planes; ++k) {
      strides[k] = 4 * bytes + extra + 2 * k;
      source[k].resize(size_t(strides[k]) * 4);
      for (uint8_t& v : source[k]) v = uint8_t(random());
      plane_pointers[k] = source[k].data();
    }
    for (uint32_t mode = 0; mode <= 3; ++mode) {
      for (uint16_t columns = 1; columns <= 4; ++columns) {
        for (uint16_t rows = 1; rows <= 4; ++rows) {
          uint8_t block[4 * 4 * 64];
          std::memset(block, 0xCD, sizeof block);
          pad_partial_block(block, plane_pointers, strides, columns, rows, fmt, mode);
          for (int k = 0; k < planes; ++k) {
            for (int i = 0; i < 16; ++i) {
              const int x = i % 4, y = i / 4;
              std::vector<uint8_t> want = black_pixel(fmt, k);
              if (mode == Pad_Mode_Zero) std::fill(want.begin(), want.end(), 0);
              if ((x < columns && y < rows) || mode == Pad_Mode_Edge || mode == Pad_Mode_Crop) {
                const int sx = std::min<int>(x, columns - 1), sy = std::min<int>(y, rows - 1);
                const uint8_t* at = &source[k][size_t(sy * strides[k] + sx * bytes)];
                want.assign(at, at + bytes);
              }
              ASSERT_EQ(0, std::memcmp(block + 16 * k * bytes + i * bytes, want.data(), bytes))
                  << "format " << fmt << " mode " << mode << " " << columns << "x" << rows
                  << " plane " << k << " pixel " << i;
            }
          }
          // Planar RGB8 and RGB16 also have instances of their own.
          if ((fmt == 11 || fmt == 15) && mode < 3) {
            uint8_t again[sizeof block];
            std::memset(again, 0xCD, sizeof again);
            (fmt == 11 ? pad_partial_block_fmt11 : pad_partial_block_fmt15)[mode](
                again, plane_pointers, strides, columns, rows);
            ASSERT_EQ(0, std::memcmp(block, again, sizeof block)) << fmt << " " << mode;
          }
        }
      }
    }
  }

  // An unknown format writes nothing; mode 1 says so twice.
  uint8_t block[64];
  std::memset(block, 0xCD, sizeof block);
  const uint8_t* planes[4] = {block, nullptr, nullptr, nullptr};
  const int64_t strides[4] = {16, 0, 0, 0};
  EXPECT_EQ(printed_by([&] {
              pad_partial_block(block, planes, strides, 2, 2, 16, Pad_Mode_Black);
              pad_partial_block(block, planes, strides, 2, 2, 99, Pad_Mode_Edge);
            }),
            "ERROR : pad_partial_block : pix fmt non gerer 1 : 16\n"
            "ERROR : pad_partial_block : pix fmt non gerer 2 : 16\n"
            "ERROR : pad_partial_block : pix fmt non gerer 2 : 99\n");
  EXPECT_EQ(std::count(block, block + 64, 0xCD), 64);
}

TEST(PixelFormats, IntegerYcocgOfEveryFormat) {
  std::mt19937 random(5);
  Rgba_Block rgba;
  for (uint8_t& v : rgba) v = uint8_t(random());
  const Stored_Block bgra = store(1, rgba, random);
  Ycocg_Block want;
  uint64_t want_black = 9;
  to_ycocg_integer<1>(want.y, bgra.p(0), nullptr, nullptr, bgra.strides[0], 0, 0, &want_black);
  EXPECT_EQ(want_black, 0u);
  const auto low_high = [](const float* v) { return std::minmax_element(v, v + 16); };
  EXPECT_TRUE(*low_high(want.y).first == want.y_min && *low_high(want.y).second == want.y_max);
  const float box[4] = {*low_high(want.cocg.co).first, *low_high(want.cocg.cg).first,
                        *low_high(want.cocg.co).second, *low_high(want.cocg.cg).second};
  EXPECT_EQ(0, std::memcmp(box, want.cocg.cocg_box, sizeof box));
  for (int i = 0; i < 16; ++i) {
    const int r = rgba[4 * i], g = rgba[4 * i + 1], b = rgba[4 * i + 2];
    EXPECT_EQ(want.y[i], float(r + 2 * g + b) / 1020.0f);
    EXPECT_EQ(want.cocg.co[i], float(2 * (r - b + 256)) / 1020.0f);
    EXPECT_EQ(want.cocg.cg[i], float(2 * g - r - b + 512) / 1020.0f);
  }

  // The other layouts: the same values from 8-bit samples, within what the
  // low bits of the wide samples add.
  [&]<uint32_t... Fmt>(std::integer_sequence<uint32_t, Fmt...>) {
    ([&] {
      const Stored_Block s = store(Fmt, rgba, random);
      Ycocg_Block got;
      uint64_t black = 9;
      to_ycocg_integer<Fmt>(got.y, s.p(0), s.p(1), s.p(2), s.strides[0], s.strides[1],
                            s.strides[2], &black);
      EXPECT_EQ(black, 0u) << Fmt;
      const float tolerance = pix_fmt_is_8bit(Fmt) || Fmt == 12 || Fmt == 13 ? 0.0f : 2.0f / 255;
      for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(got.y[i], want.y[i], tolerance) << Fmt << " " << i;
        EXPECT_NEAR(got.cocg.co[i], want.cocg.co[i], tolerance) << Fmt << " " << i;
        EXPECT_NEAR(got.cocg.cg[i], want.cocg.cg[i], tolerance) << Fmt << " " << i;
      }
    }(), ...);
  }(std::integer_sequence<uint32_t, 0, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15>{});

  // Full scale and black in each kind of arithmetic.
  const auto one_pixel = [](auto convert, const void* pixels) {
    Ycocg_Block block;
    uint64_t black = 9;
    convert(block.y, static_cast<const uint8_t*>(pixels), nullptr, nullptr, 0, 0, 0, &black);
    return std::tuple{block.y[0], block.cocg.co[0], block.cocg.cg[0], black};
  };
  const uint8_t white8[64] = {255, 255, 255, 255}, black8[64] = {};
  const uint16_t white16[32] = {65535, 65535, 65535, 65535}, white5[32] = {0, 32768, 32768, 32768};
  const float floats[64] = {1.0f, 2.0f, -1.0f, 0.5f};  // A, R, G, B: clamped first
  const float neutral8 = 512 / 1020.0f;
  EXPECT_EQ(one_pixel(to_ycocg_integer<1>, white8), std::tuple(1.0f, neutral8, neutral8, 0u));
  EXPECT_EQ(one_pixel(to_ycocg_integer<1>, black8), std::tuple(0.0f, neutral8, neutral8, 1u));
  EXPECT_EQ(one_pixel(to_ycocg_integer<4>, white16),
            std::tuple(1.0f, 131072 / 262140.0f, 131072 / 262140.0f, 0u));
  EXPECT_EQ(one_pixel(to_ycocg_integer<5>, white5), std::tuple(1.0f, 0.5f, 0.5f, 0u));
  EXPECT_EQ(one_pixel(to_ycocg_integer<7>, floats), one_pixel(to_ycocg<7>, floats));
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "Unsupported pix fmt ycocg : 16\n";
  EXPECT_EQ(printed_by([&] { one_pixel(to_ycocg_integer<16>, black8); }), sixteen);
}

TEST(PixelFormats, AlphaBlockOfConsecutiveSamples) {
  uint8_t bytes[16];
  uint16_t wide[16];
  for (int i = 0; i < 16; ++i) bytes[i] = uint8_t(60 + 9 * i), wide[i] = uint16_t(4000 * i + 255);
  wide[3] = 32768, wide[4] = 32767;  // both reduce to 255 in format 5
  const auto run = [](auto kernel, const void* samples) {
    std::array<uint8_t, 16> out;
    out.fill(0x42);
    uint64_t min = 1, max = 1;
    kernel(out.data(), static_cast<const uint8_t*>(samples), &min, &max);
    return std::tuple{out, min, max};
  };
  const auto [copied, copy_min, copy_max] = run(to_alpha_block_min_max<10>, bytes);
  EXPECT_TRUE(std::equal(copied.begin(), copied.end(), bytes) && copy_min == 60 && copy_max == 195);
  for (const auto& [out, min, max] : {run(to_alpha_block_min_max<4>, wide),
                                      run(to_alpha_block_min_max<6>, wide),
                                      run(to_alpha_block_min_max<14>, wide)}) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], wide[i] >> 8) << i;
    EXPECT_TRUE(min == 0 && max == 235);
  }
  const auto [reduced, low, high] = run(to_alpha_block_min_max<5>, wide);
  EXPECT_TRUE(reduced[0] == 1 && reduced[1] == 33 && reduced[3] == 255 && reduced[4] == 255);
  EXPECT_TRUE(low == 1 && high == 255);
  // Formats it does not reduce leave the output as it was.
  const auto [kept, kept_min, kept_max] = run(to_alpha_block_min_max<13>, wide);
  EXPECT_TRUE(std::count(kept.begin(), kept.end(), 0x42) == 16 && kept_min == 0x42 &&
              kept_max == 0x42);
}

TEST(PixelFormats, RawBufferSizes) {
  // Blocks of 16 bytes a row rounded up to 32 for 8-bit formats, 32 for 16-bit ones, 64 for floats.
  EXPECT_EQ(get_raw_buffer_line_size(5, 1), 32u);
  EXPECT_EQ(get_raw_buffer_line_size(9, 1), 64u);
  EXPECT_EQ(get_raw_buffer_line_size(9, 3), 64u);
  EXPECT_EQ(get_raw_buffer_line_size(4, 0), 32u);
  EXPECT_EQ(get_raw_buffer_line_size(8, 4), 64u);
  EXPECT_EQ(get_raw_buffer_line_size(5, 6), 64u);
  EXPECT_EQ(get_raw_buffer_line_size(8, 7), 128u);
  EXPECT_EQ(get_raw_buffer_size(9, 5, 1), 64u * 8u);
  EXPECT_EQ(get_raw_buffer_size(8, 8, 5), 64u * 8u);
  for (uint32_t fmt : {8u, 15u, 99u}) {
    EXPECT_EQ(printed_by([fmt] { get_raw_buffer_line_size(8, fmt); }),
              "ERROR : get_raw_buffer_line_size : Unsupported pix fmt\n")
        << fmt;
    EXPECT_EQ(printed_by([fmt] { get_raw_buffer_size(8, 8, fmt); }),
              "ERROR : get_raw_buffer_line_size : Unsupported pix fmt\n")
        << fmt;
  }
}

TEST(PixelFormats, PlanarRgbInstances) {
  std::mt19937 random(3);
  Rgba_Block rgba;
  for (uint8_t& v : rgba) v = uint8_t(random());
  for (uint32_t fmt : {11u, 15u}) {
    const Stored_Block s = store(fmt, rgba, random);
    const auto& alpha = fmt == 11 ? to_alpha_template_alpha_fmt11 : to_alpha_template_alpha_fmt15;
    const auto& luma = fmt == 11 ? to_alpha_template_luma_fmt11 : to_alpha_template_luma_fmt15;
    const auto& block = fmt == 11 ? to_rgba_template_fmt11 : to_rgba_template_fmt15;
    uint8_t plane[16];
    uint64_t min = 0, max = 0;
    alpha(plane, s.p(0), s.p(3), s.strides[0], s.strides[3], &min, &max);
    EXPECT_TRUE(std::count(plane, plane + 16, 255) == 16 && min == 255 && max == 255);
    luma(plane, s.p(0), s.p(1), s.p(2), s.strides[0], s.strides[1], s.strides[2], &min, &max);
    for (int i = 0; i < 16; ++i)
      EXPECT_EQ(plane[i], (rgba[4 * i] + rgba[4 * i + 1] + rgba[4 * i + 2]) / 3) << fmt << " " << i;
    Rgba_Block out{};
    block(out.data(), s.p(0), s.p(1), s.p(2), s.p(3), s.strides[0], s.strides[1], s.strides[2],
          s.strides[3]);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[i], i % 4 == 3 ? 255 : rgba[i]) << fmt << " " << i;
  }
}

TEST(PixelFormats, YcocgLoadersOfBothRowOrders) {
  using Loader = void (*)(Ycocg_Block*, const uint8_t*, int64_t, uint64_t*);
  using Convert = void (*)(float*, const uint8_t*, const uint8_t*, const uint8_t*, int64_t,
                           int64_t, int64_t, uint64_t*);
  // Y, its range, Co, Cg and the box (not the unused floats), then the black flag.
  const auto fields = [](const Ycocg_Block& b, uint64_t black) {
    std::vector<float> v(std::begin(b.y), std::end(b.y));
    v.insert(v.end(), {b.y_min, b.y_max});
    v.insert(v.end(), std::begin(b.cocg.co), std::end(b.cocg.co));
    v.insert(v.end(), std::begin(b.cocg.cg), std::end(b.cocg.cg));
    v.insert(v.end(), std::begin(b.cocg.cocg_box), std::end(b.cocg.cocg_box));
    v.push_back(float(black));
    return v;
  };
  const auto load = [&](Loader loader, const uint8_t* src, int64_t stride) {
    Ycocg_Block b;
    uint64_t black = 9;
    loader(&b, src, stride, &black);
    return fields(b, black);
  };
  const auto convert = [&](Convert conversion, const uint8_t* src, int64_t stride) {
    Ycocg_Block b;
    uint64_t black = 9;
    conversion(b.y, src, nullptr, nullptr, stride, 0, 0, &black);
    return fields(b, black);
  };

  std::mt19937 random(9);
  for (int trial = 0; trial < 20; ++trial) {
    Rgba_Block rgba;
    for (uint8_t& v : rgba) v = uint8_t(random());
    if (trial == 0)
      for (int i = 0; i < 64; ++i) rgba[i] = i % 4 == 3 ? rgba[i] : 0;  // black, any alpha
    const Stored_Block top_down = store(1, rgba, random);
    const int64_t stride = top_down.strides[0];
    // The same rows stored bottom-up, read from the last stored row upwards.
    std::vector<uint8_t> bottom_up(top_down.planes[0].size());
    for (int row = 0; row < 4; ++row)
      std::memcpy(&bottom_up[size_t((3 - row) * stride)], &top_down.planes[0][size_t(row * stride)],
                  size_t(stride));
    const uint8_t* top = top_down.p(0);
    const uint8_t* last_row = bottom_up.data() + 3 * stride;

    const std::vector<float> plain = convert(to_ycocg<1>, top, stride);
    const std::vector<float> integer = convert(to_ycocg_integer<1>, top, stride);
    EXPECT_EQ(plain.back(), trial == 0 ? 1.0f : 0.0f);
    EXPECT_EQ(load(ycocg_load_block, top, stride), plain);
    EXPECT_EQ(load(ycocg_load_block_fmt2, last_row, -stride), plain);
    EXPECT_EQ(load(ycocg_load_block_integer, top, stride), integer);
    EXPECT_EQ(load(ycocg_load_block_integer_fmt2, last_row, -stride), integer);
  }
}
