// Source pixel layouts and the conversion templates through which every block
// kernel reads its 4x4 block: one 8-bit plane (alpha or luma), planar R, G, B
// bytes, RGBA bytes, or YCoCg floats. Each template takes the pixel format (and
// its mode) as template arguments, so an installed instance has no per-pixel
// format dispatch. The engine installs the instances for formats 1 and 2 only;
// format 2 reads exactly like format 1 because the frame driver hands it the
// last stored row and a negative stride.
//
// Source blocks: plane pointers p0..p3 and signed byte strides s0..s3. Packed
// formats use p0/s0; planar ones p0 = R, p1 = G, p2 = B, p3 = A.
//
// A template that meets a format it cannot read prints its message and writes
// what it would write for an all-zero block, so its outputs are always defined.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "texture_encoder/dxt_encoder_context.h"

// ---- Format predicates -----------------------------------------------------
//  0 ARGB8  1 BGRA8  2 BGRA8 bottom-up  3 RGBA8  4 ARGB16  5 ARGB16 (0..32768)
//  6 RGBA16  7 ARGB float  8 RGB8  9 BGR8  10 planar RGBA8  11 planar RGB8
//  12 planar RGB10  13 planar RGB12  14 planar RGBA16  15 planar RGB16

constexpr bool pix_fmt_is_8bit(uint32_t f) { return f <= 3 || (f >= 8 && f <= 11); }
constexpr bool pix_fmt_is_16bit(uint32_t f) { return (f >= 4 && f <= 6) || (f >= 12 && f <= 15); }
constexpr bool pix_fmt_is_float(uint32_t f) { return f == 7; }
constexpr bool pix_fmt_is_packed(uint32_t f) { return f <= 9; }
constexpr bool pix_fmt_has_no_alpha(uint32_t f) { return f < 16 && ((0xBB00u >> f) & 1u); }
// Formats whose channels reduce to 8 bits (all but the float one).
constexpr bool pix_fmt_has_8bit_channels(uint32_t f) { return f <= 15 && f != 7; }

// Planes of a format: packed ones use plane 0 only, planar RGBA four, the rest three.
constexpr int pix_fmt_plane_count(uint32_t f) {
  return pix_fmt_is_packed(f) ? 1 : (f == 10 || f == 14) ? 4 : 3;
}
// Bytes of one pixel within one plane.
constexpr int pix_fmt_pixel_bytes(uint32_t f) {
  if (f <= 3) return 4;
  if (f <= 6) return 8;
  if (f == 7) return 16;
  if (f <= 9) return 3;
  return f <= 11 ? 1 : 2;
}
// What a row pointer advances for a stride: 16-bit formats round the stride
// toward zero to even bytes, the float format to whole floats; 8-bit formats
// take it as it is. Every reader of a format's rows steps this way.
constexpr int64_t pix_fmt_row_step(uint32_t f, int64_t stride) {
  if (pix_fmt_is_float(f)) return stride / 4 * 4;
  if (pix_fmt_is_16bit(f)) return stride / 2 * 2;
  return stride;
}

inline uint16_t load_le16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

// ---- Sample reductions to 8 bits -------------------------------------------

constexpr uint8_t sample16_to_8(uint16_t v) { return uint8_t(v >> 8); }
constexpr uint8_t sample32768_to_8(uint16_t v) {
  return v == 32768 ? 255 : uint8_t((v >> 7) & 255);
}
constexpr uint8_t sample10_to_8(uint16_t v) { return uint8_t(v >> 2); }
constexpr uint8_t sample12_to_8(uint16_t v) { return uint8_t(v >> 4); }
inline float clamp_float_0_255(float v) { return std::clamp(v, 0.0f, 255.0f); }

// ---- Reading one block -----------------------------------------------------

struct Pixel8 {
  uint8_t r, g, b, a;
};

// The four row pointers of one block, stepped row by row with the stride rule
// of the format (16-bit formats round strides to even bytes, the float format
// to whole floats).
template <uint32_t Fmt>
class Block_Reader {
 public:
  Block_Reader(const uint8_t* p0, const uint8_t* p1, const uint8_t* p2, const uint8_t* p3,
               int64_t s0, int64_t s1, int64_t s2, int64_t s3)
      : plane_{p0, p1, p2, p3},
        stride_{pix_fmt_row_step(Fmt, s0), pix_fmt_row_step(Fmt, s1), pix_fmt_row_step(Fmt, s2),
                pix_fmt_row_step(Fmt, s3)} {}

  void next_row() {
    for (int k = 0; k < pix_fmt_plane_count(Fmt); ++k) plane_[k] += stride_[k];
  }

  // Channels of pixel x of the current row, reduced to 8 bits.
  Pixel8 pixel8(int x) const {
    const uint8_t* p = plane_[0] + x * pix_fmt_pixel_bytes(Fmt);
    if constexpr (Fmt == 0) return {p[1], p[2], p[3], p[0]};
    if constexpr (Fmt == 1 || Fmt == 2) return {p[2], p[1], p[0], p[3]};
    if constexpr (Fmt == 3) return {p[0], p[1], p[2], p[3]};
    if constexpr (Fmt == 4) return {p[3], p[5], p[7], p[1]};
    if constexpr (Fmt == 5) {
      return {sample32768_to_8(packed16(x, 1)), sample32768_to_8(packed16(x, 2)),
              sample32768_to_8(packed16(x, 3)), sample32768_to_8(packed16(x, 0))};
    }
    if constexpr (Fmt == 6) return {p[1], p[3], p[5], p[7]};
    if constexpr (Fmt == 8) return {p[0], p[1], p[2], 255};
    if constexpr (Fmt == 9) return {p[2], p[1], p[0], 255};
    // The RGB-only readers are handed no alpha plane; their alpha is opaque.
    if constexpr (Fmt == 10) {
      return {plane_[0][x], plane_[1][x], plane_[2][x], plane_[3] ? plane_[3][x] : uint8_t(255)};
    }
    if constexpr (Fmt == 11) return {plane_[0][x], plane_[1][x], plane_[2][x], 255};
    if constexpr (Fmt == 12) {
      return {sample10_to_8(planar16(0, x)), sample10_to_8(planar16(1, x)),
              sample10_to_8(planar16(2, x)), 255};
    }
    if constexpr (Fmt == 13) {
      return {sample12_to_8(planar16(0, x)), sample12_to_8(planar16(1, x)),
              sample12_to_8(planar16(2, x)), 255};
    }
    if constexpr (Fmt == 14 || Fmt == 15) {
      return {sample16_to_8(planar16(0, x)), sample16_to_8(planar16(1, x)),
              sample16_to_8(planar16(2, x)),
              Fmt == 14 && plane_[3] ? sample16_to_8(planar16(3, x)) : uint8_t(255)};
    }
    return {0, 0, 0, 0};
  }

  // R, G, B of pixel x on the scale 0..255 as floats: 8-bit values for the
  // 8-bit formats and 12, 13; raw / 255 for the full-range 16-bit formats;
  // raw x 255/32768 for format 5; clamped floats x 255 for format 7.
  void rgb_scaled(int x, float rgb[3]) const {
    if constexpr (Fmt == 4 || Fmt == 6) {
      const int first = Fmt == 4 ? 1 : 0;
      for (int c = 0; c < 3; ++c) rgb[c] = float(packed16(x, first + c)) / 255.0f;
    } else if constexpr (Fmt == 5) {
      for (int c = 0; c < 3; ++c) rgb[c] = float(packed16(x, 1 + c)) * 0.0077819824f;
    } else if constexpr (Fmt == 14 || Fmt == 15) {
      for (int c = 0; c < 3; ++c) rgb[c] = float(planar16(c, x)) / 255.0f;
    } else if constexpr (Fmt == 7) {
      float argb[4];
      std::memcpy(argb, plane_[0] + x * 16, sizeof argb);
      for (int c = 0; c < 3; ++c) rgb[c] = std::clamp(argb[1 + c], 0.0f, 1.0f) * 255.0f;
    } else {
      const Pixel8 p = pixel8(x);
      rgb[0] = p.r;
      rgb[1] = p.g;
      rgb[2] = p.b;
    }
  }

  // R, G, B of pixel x as integers: the raw samples of the 16-bit formats
  // other than 12 and 13, the 8-bit values otherwise (format 7 excepted).
  void rgb_integer(int x, int32_t rgb[3]) const {
    if constexpr (Fmt >= 4 && Fmt <= 6) {
      const int first = Fmt == 6 ? 0 : 1;
      for (int c = 0; c < 3; ++c) rgb[c] = packed16(x, first + c);
    } else if constexpr (Fmt == 14 || Fmt == 15) {
      for (int c = 0; c < 3; ++c) rgb[c] = planar16(c, x);
    } else {
      const Pixel8 p = pixel8(x);
      rgb[0] = p.r;
      rgb[1] = p.g;
      rgb[2] = p.b;
    }
  }

 private:
  uint16_t packed16(int x, int k) const { return load_le16(plane_[0] + x * 8 + 2 * k); }
  uint16_t planar16(int k, int x) const { return load_le16(plane_[k] + 2 * x); }

  const uint8_t* plane_[4];
  int64_t stride_[4];
};

// ---- Conversion templates --------------------------------------------------

// One 8-bit plane of the block in raster order: Mode 0 alpha, Mode 1 luma
// (R + G + B) / 3, with its minimum and maximum. Alpha of a format without
// alpha is 16 x 255.
template <uint32_t Fmt, uint32_t Mode>
void to_alpha_template(uint8_t* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                       const uint8_t* p3, int64_t s0, int64_t s1, int64_t s2, int64_t s3,
                       uint64_t* min, uint64_t* max) {
  static_assert(Mode <= 1);
  if constexpr (!pix_fmt_has_8bit_channels(Fmt)) {
    std::printf("ERROR : to_alpha_template : pix fmt non gere : %d\n", int(Fmt));
    std::memset(out, 0, 16);
    *min = 0;
    *max = 0;
  } else if constexpr (Mode == 0 && pix_fmt_has_no_alpha(Fmt)) {
    std::memset(out, 255, 16);
    *min = 255;
    *max = 255;
  } else {
    Block_Reader<Fmt> rows(p0, p1, p2, p3, s0, s1, s2, s3);
    uint8_t lo = 255, hi = 0;
    for (int y = 0; y < 4; ++y, rows.next_row()) {
      for (int x = 0; x < 4; ++x) {
        const Pixel8 p = rows.pixel8(x);
        const uint8_t v = Mode == 0 ? p.a : uint8_t((p.r + p.g + p.b) / 3);
        out[4 * y + x] = v;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
    *min = lo;
    *max = hi;
  }
}

// 16 pixels in raster order as R, G, B, A bytes; A is 255 when Force_Opaque is
// set or the format has no alpha.
template <uint32_t Fmt, bool Force_Opaque>
void to_rgba_template(uint8_t* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                      const uint8_t* p3, int64_t s0, int64_t s1, int64_t s2, int64_t s3) {
  if constexpr (!pix_fmt_has_8bit_channels(Fmt)) {
    std::printf("ERROR : to_rgba_template : pix fmt non gere : %d\n", int(Fmt));
    std::memset(out, 0, 64);
  } else {
    Block_Reader<Fmt> rows(p0, p1, p2, p3, s0, s1, s2, s3);
    for (int y = 0; y < 4; ++y, rows.next_row()) {
      for (int x = 0; x < 4; ++x) {
        const Pixel8 p = rows.pixel8(x);
        uint8_t* o = out + 16 * y + 4 * x;
        o[0] = p.r;
        o[1] = p.g;
        o[2] = p.b;
        o[3] = Force_Opaque ? uint8_t(255) : p.a;
      }
    }
  }
}

// Planar R (bytes 0..15), G (16..31), B (32..47) of the block. Mode 0: result 1
// when all 16 pixels equal the first, else 0. Mode 1: result = the largest of
// the three channel ranges. The result is also returned.
template <uint32_t Fmt, uint32_t Mode>
uint64_t to_planar_rgb_template_c(uint8_t* out, const uint8_t* p0, const uint8_t* p1,
                                  const uint8_t* p2, int64_t s0, int64_t s1, int64_t s2,
                                  uint64_t* result) {
  static_assert(Mode <= 1);
  *result = 1;
  if constexpr (!pix_fmt_has_8bit_channels(Fmt)) {
    std::printf("ERROR : to_planar_rgb_template_c : pix fmt non implemente : %d\n", int(Fmt));
    std::memset(out, 0, 48);
    *result = Mode == 0 ? 1 : 0;  // an all-zero block is flat, with range 0
  } else {
    Block_Reader<Fmt> rows(p0, p1, p2, nullptr, s0, s1, s2, 0);
    const Pixel8 first = rows.pixel8(0);
    uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (int y = 0; y < 4; ++y, rows.next_row()) {
      for (int x = 0; x < 4; ++x) {
        const Pixel8 p = rows.pixel8(x);
        const uint8_t rgb[3] = {p.r, p.g, p.b};
        const int i = 4 * y + x;
        for (int c = 0; c < 3; ++c) {
          out[16 * c + i] = rgb[c];
          lo[c] = std::min(lo[c], rgb[c]);
          hi[c] = std::max(hi[c], rgb[c]);
        }
        if (Mode == 0 && (p.r != first.r || p.g != first.g || p.b != first.b)) *result = 0;
      }
    }
    if constexpr (Mode == 1) {
      *result = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    }
  }
  return *result;
}

// The block walk of both YCoCg conversions: pixel(rows, x, ycocg) converts one
// pixel and says whether its R, G or B is nonzero. Layout as Ycocg_Block: y
// [0..15], y min [16], y max [17], co [24..39], cg [40..55], box [56..59] (Co
// min, Cg min, Co max, Cg max); [18..23] untouched. all_black ends 1 when no
// pixel has a nonzero R, G or B. A format above 15 prints its message for every
// pixel and reads as zeros.
template <uint32_t Fmt, class Pixel>
void ycocg_block_walk(float* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                      int64_t s0, int64_t s1, int64_t s2, uint64_t* all_black, Pixel pixel) {
  Block_Reader<Fmt> rows(p0, p1, p2, nullptr, s0, s1, s2, 0);
  *all_black = 1;
  float low[3] = {1.0f, 1.0f, 1.0f}, high[3] = {0.0f, 0.0f, 0.0f};  // Y, Co, Cg
  for (int row = 0; row < 4; ++row, rows.next_row()) {
    for (int x = 0; x < 4; ++x) {
      if constexpr (Fmt > 15) std::printf("Unsupported pix fmt ycocg : %d\n", int(Fmt));
      float ycocg[3];
      if (pixel(rows, x, ycocg)) *all_black = 0;
      const int i = 4 * row + x;
      out[i] = ycocg[0];
      out[24 + i] = ycocg[1];
      out[40 + i] = ycocg[2];
      for (int c = 0; c < 3; ++c) {
        low[c] = std::min(low[c], ycocg[c]);
        high[c] = std::max(high[c], ycocg[c]);
      }
    }
  }
  out[16] = low[0];
  out[17] = high[0];
  out[56] = low[1];
  out[57] = low[2];
  out[58] = high[1];
  out[59] = high[2];
}

// YCoCg of R, G, B on the scale 0..255, in single precision, each clamped to
// 0..255 and divided by 255. Returns whether any channel is nonzero.
inline bool ycocg_of_scaled(const float rgb[3], float ycocg[3]) {
  const float r = rgb[0], g = rgb[1], b = rgb[2];
  const float co_product = float(double(2.0f * r - 2.0f * b + 2.0f) * 0.25);
  ycocg[0] = clamp_float_0_255((r + 2.0f * g + b + 2.0f) * 0.25f) / 255.0f;
  ycocg[1] = clamp_float_0_255(co_product + 128.0f) / 255.0f;
  ycocg[2] = clamp_float_0_255((2.0f * g - r - b + 2.0f) * 0.25f + 128.0f) / 255.0f;
  return r != 0.0f || g != 0.0f || b != 0.0f;
}

// YCoCg of the block in 0..1 (the conversion the encoder uses): the R, G, B of
// Block_Reader::rgb_scaled through ycocg_of_scaled.
template <uint32_t Fmt>
void to_ycocg(float* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2, int64_t s0,
              int64_t s1, int64_t s2, uint64_t* all_black) {
  ycocg_block_walk<Fmt>(out, p0, p1, p2, s0, s1, s2, all_black,
                        [](const Block_Reader<Fmt>& rows, int x, float ycocg[3]) {
                          float rgb[3];
                          rows.rgb_scaled(x, rgb);
                          return ycocg_of_scaled(rgb, ycocg);
                        });
}

// The same block in integer arithmetic divided in single precision, without
// clamping: 8-bit values (and formats 12, 13) give Y = (R + 2G + B) / 1020,
// Co = 2 (R - B + 256) / 1020, Cg = (2G - R - B + 512) / 1020; the raw
// full-range 16-bit samples Y = (R + 2G + B) / 262140, Co = (2 (R - B) +
// 131072) / 262140, Cg = (2G - R - B + 131072) / 262140; format 5 the same
// sums with 65536 for 131072, times 1 / 131072; format 7 as to_ycocg. Installed
// nowhere.
template <uint32_t Fmt>
void to_ycocg_integer(float* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                      int64_t s0, int64_t s1, int64_t s2, uint64_t* all_black) {
  const auto pixel = [](const Block_Reader<Fmt>& rows, int x, float ycocg[3]) {
    if constexpr (pix_fmt_is_float(Fmt)) {
      float rgb[3];
      rows.rgb_scaled(x, rgb);
      return ycocg_of_scaled(rgb, ycocg);
    } else {
      int32_t rgb[3];
      rows.rgb_integer(x, rgb);
      const int32_t r = rgb[0], g = rgb[1], b = rgb[2];
      const int32_t luma = r + 2 * g + b, co = 2 * (r - b), cg = 2 * g - r - b;
      if constexpr (Fmt == 5) {
        const float scale = 1.0f / 131072.0f;
        ycocg[0] = float(luma) * scale;
        ycocg[1] = float(co + 65536) * scale;
        ycocg[2] = float(cg + 65536) * scale;
      } else if constexpr (pix_fmt_is_16bit(Fmt) && Fmt != 12 && Fmt != 13) {
        ycocg[0] = float(luma) / 262140.0f;
        ycocg[1] = float(co + 131072) / 262140.0f;
        ycocg[2] = float(cg + 131072) / 262140.0f;
      } else {
        ycocg[0] = float(luma) / 1020.0f;
        ycocg[1] = float(co + 512) / 1020.0f;
        ycocg[2] = float(cg + 512) / 1020.0f;
      }
      return r != 0 || g != 0 || b != 0;
    }
  };
  ycocg_block_walk<Fmt>(out, p0, p1, p2, s0, s1, s2, all_black, pixel);
}

// 16 consecutive single-channel samples of the format reduced to 8 bits
// (8-bit formats copied, 4, 6 and 14 by the high byte, 5 by
// sample32768_to_8; any other format leaves out16 as it was), then the
// minimum and maximum of out16. Installed nowhere.
template <uint32_t Fmt>
void to_alpha_block_min_max(uint8_t* out16, const uint8_t* samples, uint64_t* min,
                            uint64_t* max) {
  for (int i = 0; i < 16; ++i) {
    if constexpr (pix_fmt_is_8bit(Fmt)) out16[i] = samples[i];
    if constexpr (Fmt == 4 || Fmt == 6 || Fmt == 14) {
      out16[i] = sample16_to_8(load_le16(samples + 2 * i));
    }
    if constexpr (Fmt == 5) out16[i] = sample32768_to_8(load_le16(samples + 2 * i));
  }
  const auto [lo, hi] = std::minmax_element(out16, out16 + 16);
  *min = *lo;
  *max = *hi;
}

// ---- Installed instances ---------------------------------------------------

template <uint32_t Fmt>
void alpha_plane_instance(uint8_t* out, const uint8_t* p0, const uint8_t* p3, int64_t s0,
                          int64_t s3, uint64_t* min, uint64_t* max) {
  to_alpha_template<Fmt, 0>(out, p0, nullptr, nullptr, p3, s0, 0, 0, s3, min, max);
}

template <uint32_t Fmt>
void luma_plane_instance(uint8_t* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                         int64_t s0, int64_t s1, int64_t s2, uint64_t* min, uint64_t* max) {
  to_alpha_template<Fmt, 1>(out, p0, p1, p2, nullptr, s0, s1, s2, 0, min, max);
}

template <uint32_t Fmt, bool Force_Opaque>
void rgba_block_instance(uint8_t* out, const uint8_t* p0, const uint8_t* p1, const uint8_t* p2,
                         const uint8_t* p3, int64_t s0) {
  to_rgba_template<Fmt, Force_Opaque>(out, p0, p1, p2, p3, s0, 0, 0, 0);
}

inline constexpr Extract_Plane_Alpha_Fn to_alpha_template_alpha_fmt1 = alpha_plane_instance<1>;
inline constexpr Extract_Plane_Alpha_Fn to_alpha_template_alpha_fmt2 = alpha_plane_instance<2>;
inline constexpr Extract_Plane_Luma_Fn to_alpha_template_luma_fmt1 = luma_plane_instance<1>;
inline constexpr Extract_Plane_Luma_Fn to_alpha_template_luma_fmt2 = luma_plane_instance<2>;
// The DXT loaders serve formats 1 and 2 alike.
inline constexpr Dxt_Load_Block_Fn to_rgba_template_dxt_q1 = to_planar_rgb_template_c<1, 0>;
inline constexpr Dxt_Load_Block_Fn to_rgba_template_dxt_q2 = to_planar_rgb_template_c<1, 1>;
inline constexpr Bc7_Row_Converter_Fn to_rgba_template_bc7_fmt1 = rgba_block_instance<1, false>;
inline constexpr Bc7_Row_Converter_Fn to_rgba_template_bc7_fmt2 = rgba_block_instance<2, false>;
inline constexpr Bc7_Row_Converter_Fn to_rgba_template_bc7_fmt1_noalpha =
    rgba_block_instance<1, true>;
inline constexpr Bc7_Row_Converter_Fn to_rgba_template_bc7_fmt2_noalpha =
    rgba_block_instance<2, true>;

// Instances for planar RGB8 (11) and planar RGB16 (15), installed nowhere:
// their alpha planes are 16 x 255; their RGBA blocks have alpha 255 and read
// each plane with its own stride.
using Rgba_Block_Fn = void (*)(uint8_t* rgba64, const uint8_t* p0, const uint8_t* p1,
                               const uint8_t* p2, const uint8_t* p3, int64_t s0, int64_t s1,
                               int64_t s2, int64_t s3);
inline constexpr Extract_Plane_Alpha_Fn to_alpha_template_alpha_fmt11 = alpha_plane_instance<11>;
inline constexpr Extract_Plane_Alpha_Fn to_alpha_template_alpha_fmt15 = alpha_plane_instance<15>;
inline constexpr Extract_Plane_Luma_Fn to_alpha_template_luma_fmt11 = luma_plane_instance<11>;
inline constexpr Extract_Plane_Luma_Fn to_alpha_template_luma_fmt15 = luma_plane_instance<15>;
inline constexpr Rgba_Block_Fn to_rgba_template_fmt11 = to_rgba_template<11, false>;
inline constexpr Rgba_Block_Fn to_rgba_template_fmt15 = to_rgba_template<15, false>;

// The alpha plane of a source without alpha: 16 x 255, minimum = maximum = 255.
void fill_opaque_plane(uint8_t* out, const uint8_t* p0, const uint8_t* p3, int64_t s0, int64_t s3,
                       uint64_t* min, uint64_t* max);

// ---- Raw frame buffers -----------------------------------------------------

// Bytes of one row of blocks' worth of a raw frame buffer: formats 0..3 give
// 16 bytes a block rounded up to 32, 4..6 32 bytes, 7 64 bytes a block.
// Formats above 7 print "ERROR : get_raw_buffer_line_size : Unsupported pix fmt\n"
// and give 0.
uint32_t get_raw_buffer_line_size(uint16_t width, uint32_t pix_fmt);
// The line size times the height rounded up to a multiple of 4, in 64 bits.
uint64_t get_raw_buffer_size(uint16_t width, uint16_t height, uint32_t pix_fmt);
