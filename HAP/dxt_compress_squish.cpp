// DXT1 and DXT5 block rows over libsquish's colour fits and DXT5 alpha
// compressor.
//
// libsquish takes 16 pixels and builds its own colour set: it merges pixels of
// equal R, G, B and gives each point the square root of its pixel count as
// weight, in order of first appearance. That is our set whenever no colour
// appears with two alphas (always for DXT1, whose key has A = 0), so the
// library's fit over its set is the fit over ours. Only the DXT5 flag is ever
// handed to the library: its DXT1 mode would try the three-colour form, which
// these encoders never write, and read alpha as transparency; the DXT5 colour
// half is four-colour only and ignores alpha without alpha weighting.
// Where a DXT5 block holds one colour with several alphas among other colours,
// the library keeps one point of weight sqrt(n1 + n2 + ...) where our set has
// coincident points of weights sqrt(n1), sqrt(n2), ...: its interface takes
// pixels, not points, so that is as near as it can be brought.
#include <squish.h>

#include <cmath>

#include "HAP/DXT_compress.h"

namespace {

int squish_fit_flag(Dxt_Fit_Mode fit_mode) {
  if (fit_mode == 0) return squish::kColourRangeFit;
  if (fit_mode == 1) return squish::kColourClusterFit;
  return squish::kColourIterativeClusterFit;
}

uint16_t pack_565(const float rgb[3]) {
  auto quantise = [](float v, float levels) {
    const int q = int(v * levels + 0.5f);
    return q < 0 ? 0 : q > int(levels) ? int(levels) : q;
  };
  return uint16_t(quantise(rgb[0], 31.0f) << 11 | quantise(rgb[1], 63.0f) << 5 |
                  quantise(rgb[2], 31.0f));
}

// In a DXT5 block one colour may come with several alphas: our set then holds
// several points at one position, while the library holds one. When that is
// the whole set the library would take its single-colour path; every fit over
// coincident points solves both endpoints to that position, so after rounding
// the block is that colour twice with all indices 0.
bool all_points_coincide(const Colour_Set& set) {
  for (uint32_t i = 1; i < set.count; ++i)
    for (int c = 0; c < 3; ++c)
      if (set.points[i][c] != set.points[0][c]) return false;
  return true;
}

void write_coincident_block(const float rgb[3], uint8_t out[8]) {
  const uint16_t colour = pack_565(rgb);
  const uint8_t block[8] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour),
                            uint8_t(colour >> 8), 0, 0, 0, 0};
  std::memcpy(out, block, 8);
}

struct Byte_Order {
  int r, g, b, a;
};
constexpr Byte_Order argb_order{1, 2, 3, 0};
constexpr Byte_Order bgra_order{2, 1, 0, 3};

// Inlined into every fixed member so that layout, orientation, output and fit
// are constants there; the generic member passes them at run time.
[[gnu::always_inline]] inline void encode_block_row(uint16_t block_row, const uint8_t* source,
                                                    uint16_t width, uint16_t height,
                                                    uint16_t stride, uint8_t* destination,
                                                    Dxt_Fit_Mode fit_mode, uint32_t layout,
                                                    bool top_down, bool colour_only) {
  const Byte_Order order = layout == Dxt_Layout_BGRA ? bgra_order : argb_order;
  const uint32_t block_bytes = colour_only ? 8 : 16;
  uint8_t* out = destination + size_t(block_row) * (width / 4) * block_bytes;
  for (uint32_t x = 0; x < width; x += 4, out += block_bytes) {
    uint8_t raw[64], rgba[64];
    gather_block_pixels(source, stride, height, block_row, x, top_down, raw);
    for (int p = 0; p < 16; ++p) {
      rgba[4 * p + 0] = raw[4 * p + order.r];
      rgba[4 * p + 1] = raw[4 * p + order.g];
      rgba[4 * p + 2] = raw[4 * p + order.b];
      rgba[4 * p + 3] = colour_only ? 0 : raw[4 * p + order.a];
    }
    compress_dxt_block(rgba, out, fit_mode, colour_only);
  }
}

template <uint32_t Layout, bool Colour_Only, Dxt_Fit_Mode Fit>
void fixed_block_row(uint16_t block_row, const uint8_t* source, uint16_t width, uint16_t height,
                     uint16_t stride, uint8_t* destination) {
  encode_block_row(block_row, source, width, height, stride, destination, Fit, Layout, true,
                   Colour_Only);
}

template <uint32_t Layout, bool Colour_Only>
void drive_rows(uint16_t first_block_row, const uint8_t* source, uint16_t width, uint16_t height,
                uint16_t row_count, uint16_t stride, uint8_t* destination, Dxt_Fit_Mode fit_mode,
                uint8_t orientation) {
  using Member = void (*)(uint16_t, const uint8_t*, uint16_t, uint16_t, uint16_t, uint8_t*);
  constexpr Member members[3] = {fixed_block_row<Layout, Colour_Only, 0>,
                                 fixed_block_row<Layout, Colour_Only, 1>,
                                 fixed_block_row<Layout, Colour_Only, 2>};
  const Member member = members[fit_mode < 2 ? fit_mode : 2];
  check_block_rows(source, destination, first_block_row, row_count / 4u, width, height, stride);
  for (uint32_t r = first_block_row; r < first_block_row + row_count / 4u; ++r) {
    if (orientation == 1)
      member(uint16_t(r), source, width, height, stride, destination);
    else
      encode_block_row(uint16_t(r), source, width, height, stride, destination, fit_mode, Layout,
                       false, Colour_Only);
  }
}

}  // namespace

void build_colour_set(const uint8_t rgba[64], Colour_Set* set) {
  uint8_t first_pixel[16];  // per point, the pixel that opened it
  set->count = 0;
  for (int p = 0; p < 16; ++p) {
    uint32_t point = 0;
    while (point < set->count && std::memcmp(rgba + 4 * p, rgba + 4 * first_pixel[point], 4) != 0)
      ++point;
    if (point == set->count) {
      first_pixel[point] = uint8_t(p);
      for (int c = 0; c < 3; ++c) set->points[point][c] = float(rgba[4 * p + c]) / 255.0f;
      set->weights[point] = 0.0f;
      ++set->count;
    }
    set->weights[point] += 1.0f;
    set->remap[p] = uint8_t(point);
  }
  for (uint32_t i = 0; i < set->count; ++i) set->weights[i] = std::sqrt(set->weights[i]);
}

void compress_dxt_block(const uint8_t rgba[64], uint8_t* out, Dxt_Fit_Mode fit_mode,
                        bool colour_only) {
  Colour_Set set;
  build_colour_set(rgba, &set);
  uint8_t block[16];
  squish::Compress(rgba, block, squish::kDxt5 | squish_fit_flag(fit_mode));
  if (set.count > 1 && all_points_coincide(set)) write_coincident_block(set.points[0], block + 8);
  if (colour_only)
    std::memcpy(out, block + 8, 8);
  else
    std::memcpy(out, block, 16);
}

void compress_dxt_block_row(uint16_t block_row, const uint8_t* source, uint16_t width,
                            uint16_t height, uint16_t stride, uint8_t* destination,
                            Dxt_Fit_Mode fit_mode, uint32_t layout, uint8_t orientation,
                            uint8_t colour_only) {
  check_block_rows(source, destination, block_row, 1, width, height, stride);
  encode_block_row(block_row, source, width, height, stride, destination, fit_mode, layout,
                   orientation == 1, colour_only == 1);
}

void compress_dxt1_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t, Dxt_Fit_Mode fit_mode) {
  drive_rows<Dxt_Layout_ARGB, true>(first_block_row, source, width, height, row_count, stride,
                                    destination, fit_mode, 1);
}

void compress_dxt5_rows_argb(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t, Dxt_Fit_Mode fit_mode) {
  drive_rows<Dxt_Layout_ARGB, false>(first_block_row, source, width, height, row_count, stride,
                                     destination, fit_mode, 1);
}

void compress_dxt1_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t, Dxt_Fit_Mode fit_mode,
                             uint8_t orientation) {
  drive_rows<Dxt_Layout_BGRA, true>(first_block_row, source, width, height, row_count, stride,
                                    destination, fit_mode, orientation);
}

void compress_dxt5_rows_bgra(uint16_t first_block_row, const uint8_t* source, uint16_t width,
                             uint16_t height, uint16_t row_count, uint16_t stride,
                             uint8_t* destination, uint8_t, Dxt_Fit_Mode fit_mode,
                             uint8_t orientation) {
  drive_rows<Dxt_Layout_BGRA, false>(first_block_row, source, width, height, row_count, stride,
                                     destination, fit_mode, orientation);
}
