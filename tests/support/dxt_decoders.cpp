// Reference decoders of the DXT family: DXT1, DXT5, RGTC1 and scaled
// YCoCg-DXT5. Interpolated values are rounded to nearest, as the published
// formats allow; tests compare with a tolerance, never bit for bit against
// a particular GPU.
#include <algorithm>
#include <array>
#include <cmath>

#include "tests/support/test_support.h"

namespace {

uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// 5- and 6-bit fields widened by repeating their top bits.
uint8_t expand5(int v) { return uint8_t((v << 3) | (v >> 2)); }
uint8_t expand6(int v) { return uint8_t((v << 2) | (v >> 4)); }

struct Rgb {
  uint8_t r, g, b;
};

Rgb decode_565(uint16_t c) { return {expand5(c >> 11), expand6((c >> 5) & 63), expand5(c & 31)}; }

// (num·a + (den − num)·b) / den, rounded to nearest.
uint8_t mix(int a, int b, int num, int den) { return uint8_t((num * a + (den - num) * b + den / 2) / den); }

// The 8 values of a single-channel block: 8 interpolated levels when the
// first endpoint is larger, else 6 levels plus 0 and 255.
std::array<uint8_t, 8> single_channel_palette(int a0, int a1) {
  std::array<uint8_t, 8> p{uint8_t(a0), uint8_t(a1)};
  if (a0 > a1) {
    for (int k = 2; k < 8; ++k) p[k] = mix(a0, a1, 8 - k, 7);
  } else {
    for (int k = 2; k < 6; ++k) p[k] = mix(a0, a1, 6 - k, 5);
    p[6] = 0;
    p[7] = 255;
  }
  return p;
}

// Writes one byte per pixel at out[stride * i].
void decode_single_channel(const uint8_t* in8, uint8_t* out, int stride) {
  const auto palette = single_channel_palette(in8[0], in8[1]);
  uint64_t bits = 0;
  for (int k = 0; k < 6; ++k) bits |= uint64_t(in8[2 + k]) << (8 * k);
  for (int i = 0; i < 16; ++i) out[stride * i] = palette[(bits >> (3 * i)) & 7];
}

// The colour half; `allow_three_colour` is false for DXT5 and YCoCg-DXT5,
// whose colour blocks are always read with four colours.
void decode_colour_block(const uint8_t* in8, uint8_t* out64, bool allow_three_colour) {
  const uint16_t c0 = read16(in8), c1 = read16(in8 + 2);
  const Rgb e0 = decode_565(c0), e1 = decode_565(c1);
  std::array<uint8_t, 16> palette{};  // BGRA x 4
  auto set = [&](int k, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    palette[4 * k] = b, palette[4 * k + 1] = g, palette[4 * k + 2] = r, palette[4 * k + 3] = a;
  };
  set(0, e0.r, e0.g, e0.b, 255);
  set(1, e1.r, e1.g, e1.b, 255);
  if (c0 > c1 || !allow_three_colour) {
    set(2, mix(e0.r, e1.r, 2, 3), mix(e0.g, e1.g, 2, 3), mix(e0.b, e1.b, 2, 3), 255);
    set(3, mix(e0.r, e1.r, 1, 3), mix(e0.g, e1.g, 1, 3), mix(e0.b, e1.b, 1, 3), 255);
  } else {
    set(2, mix(e0.r, e1.r, 1, 2), mix(e0.g, e1.g, 1, 2), mix(e0.b, e1.b, 1, 2), 255);
    set(3, 0, 0, 0, 0);
  }
  const uint32_t indices = read32(in8 + 4);
  for (int i = 0; i < 16; ++i) std::copy_n(&palette[4 * ((indices >> (2 * i)) & 3)], 4, out64 + 4 * i);
}

}  // namespace

void decode_dxt1_block(const uint8_t* in8, uint8_t* out64) { decode_colour_block(in8, out64, true); }

void decode_dxt5_block(const uint8_t* in16, uint8_t* out64) {
  decode_colour_block(in16 + 8, out64, false);
  decode_single_channel(in16, out64 + 3, 4);
}

void decode_rgtc1_block(const uint8_t* in8, uint8_t* out16) { decode_single_channel(in8, out16, 1); }

void decode_ycocg_dxt5_block(const uint8_t* in16, uint8_t* out64) {
  std::array<uint8_t, 16> y;
  decode_single_channel(in16, y.data(), 1);
  const uint16_t c0 = read16(in16 + 8), c1 = read16(in16 + 10);
  // Co and Cg were magnified about 128 by the block's scale before being
  // quantised; the scale sits in the blue field of both endpoints.
  const float scale = expand5(c0 & 31) / 8.0f + 1.0f;
  const Rgb e0 = decode_565(c0), e1 = decode_565(c1);
  const uint32_t indices = read32(in16 + 12);
  static const float position[4] = {0.0f, 1.0f, 1.0f / 3.0f, 2.0f / 3.0f};
  for (int i = 0; i < 16; ++i) {
    const float t = position[(indices >> (2 * i)) & 3];
    const float co = (e0.r + (e1.r - e0.r) * t - 128.0f) / scale;
    const float cg = (e0.g + (e1.g - e0.g) * t - 128.0f) / scale;
    const float luma = y[i];
    const auto to_byte = [](float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 255.0f))); };
    out64[4 * i + 0] = to_byte(luma - co - cg);
    out64[4 * i + 1] = to_byte(luma + cg);
    out64[4 * i + 2] = to_byte(luma + co - cg);
    out64[4 * i + 3] = 255;
  }
}
