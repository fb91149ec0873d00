// YCoCg-DXT5 block encoders: fixed blocks, the single-value and flat paths, the chroma
// scale, and the endpoint searches checked against brute force over their candidate sets.
#include "texture_encoder/ycocg_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "tests/support/test_support.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/installers.h"

namespace {

using Block16 = std::array<uint8_t, 16>;
using Pixels = std::array<uint8_t, 64>;  // 16 BGRA pixels, row-major

Block16 encode(int quality, const Pixels& pixels) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
  const uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {16, 0, 0, 0};
  Block16 out{};
  context.slice_worker(context.head, out.data(), planes, strides);
  return out;
}

void set_pixel(Pixels& p, int i, uint8_t r, uint8_t g, uint8_t b) {
  p[4 * i] = b, p[4 * i + 1] = g, p[4 * i + 2] = r;
}

Pixels solid(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  Pixels p{};
  for (int i = 0; i < 16; ++i) set_pixel(p, i, r, g, b), p[4 * i + 3] = a;
  return p;
}

uint16_t colour0(const Block16& b) { return uint16_t(b[8] | b[9] << 8); }
uint16_t colour1(const Block16& b) { return uint16_t(b[10] | b[11] << 8); }
uint32_t colour_indices(const Block16& b) {
  return uint32_t(b[12] | b[13] << 8 | b[14] << 16) | uint32_t(b[15]) << 24;
}

TEST(YcocgFixedBlocks, BlackWhateverTheAlpha) {
  Pixels black = solid(0, 0, 0, 0);
  for (int i = 0; i < 16; ++i) black[4 * i + 3] = uint8_t(i * 17);
  const Block16 q1 = {0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x84, 0, 0, 0, 0, 0, 0};
  const Block16 hq = {0, 0, 0, 0, 0, 0, 0, 0, 0x23, 0x08, 0xE3, 0xBD, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(encode(1, black), q1);
  EXPECT_EQ(encode(2, black), hq);
  EXPECT_EQ(encode(3, black), hq);

  // Both fixed blocks decode to black, within the chroma rounding.
  for (const Block16& b : {q1, hq}) {
    uint8_t decoded[64];
    decode_ycocg_dxt5_block(b.data(), decoded);
    EXPECT_LE(max_abs_error(decoded, solid(0, 0, 0).data(), 64), 2);
  }

  // One blue step is no longer black.
  set_pixel(black, 5, 0, 0, 1);
  for (int q = 1; q <= 3; ++q) EXPECT_NE(encode(q, black), q == 1 ? q1 : hq) << q;
}

TEST(YcocgYHalf, SingleValueWhenTheCodesAgree) {
  // Equal luma (100.75 on the 0..255 scale) with varying chroma: every
  // quality writes the one code 101.
  Pixels equal_y = solid(101, 100, 100);
  for (int i = 0; i < 16; i += 2) set_pixel(equal_y, i, 99, 100, 102);
  for (int q = 1; q <= 3; ++q) {
    const Block16 b = encode(q, equal_y);
    EXPECT_EQ(b[0], 101) << q;
    for (int k = 1; k < 8; ++k) EXPECT_EQ(b[k], 0) << q << " byte " << k;
  }

  // Luma 100.75 and 101.0 round to one code: quality 2 and 3 take the single value;
  // quality 1 fits both with its inset range, here wider than the data: 100.26 .. 101.49.
  Pixels close_y = solid(101, 100, 100);
  for (int i = 0; i < 16; i += 3) set_pixel(close_y, i, 100, 101, 100);
  for (int q = 2; q <= 3; ++q) {
    const Block16 b = encode(q, close_y);
    EXPECT_EQ(b[0], 101) << q;
    EXPECT_EQ(b[1], 0) << q;
    EXPECT_EQ(std::count(b.begin() + 2, b.begin() + 8, 0), 6) << q;  // every index 0
  }
  const Block16 b1 = encode(1, close_y);
  EXPECT_EQ(b1[0], 101);
  EXPECT_EQ(b1[1], 100);
}

// Quality 2 and 3 keep the inset range unless it fits worse: on equal errors
// (here both infinite, the values lying far off either palette) the inset
// pair 55, 200 is written and kept, not the stored 51, 204.
TEST(YcocgYHalf, EqualErrorsKeepTheInsetRange) {
  Ycocg_Block block{};
  std::fill(std::begin(block.y), std::end(block.y), 1e30f);
  block.y_min = 0.2f, block.y_max = 0.8f;
  uint8_t out[8];
  ycocg_encode_y_alpha_hq(out, &block);
  EXPECT_EQ(out[0], 200);
  EXPECT_EQ(out[1], 55);
  EXPECT_GT(block.y_min, 0.2f);
  EXPECT_LT(block.y_max, 0.8f);
}

TEST(YcocgScale, StrictBoundariesWrittenInBothEndpoints) {
  // In both endpoints: R - B = -129 gives Co exactly 64/255 (scale 1, field 0),
  // R - B = -128 gives 64.5/255 (scale 2); grey-ish blocks take scale 4,
  // saturated ones scale 1.
  Pixels grey = solid(120, 128, 130), saturated = solid(255, 0, 0);
  set_pixel(grey, 3, 130, 126, 122);
  set_pixel(saturated, 7, 0, 0, 255);
  const std::pair<Pixels, int> fields[] = {
      {solid(0, 64, 129), 0}, {solid(0, 64, 128), 1}, {grey, 3}, {saturated, 0}};
  for (int q = 1; q <= 3; ++q)
    for (const auto& [pixels, field] : fields) {
      const Block16 b = encode(q, pixels);
      EXPECT_TRUE((colour0(b) & 31) == field && (colour1(b) & 31) == field) << q << " " << field;
    }
}

TEST(YcocgColourHalf, FlatBlockAtQualityOne) {
  // (R, G, B) = (0, 64, 129): Y 64.75, Co 64, Cg 128.25 (of 255). Scale 1;
  // the zero-range box widens by half a step each way and both ends round to
  // Co code 8, Cg code 32; one index, 0.
  const Block16 expected = {65, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x44, 0x00, 0x44, 0, 0, 0, 0};
  EXPECT_EQ(encode(1, solid(0, 64, 129)), expected);

  // (0, 64, 5): Y 33.75, Co 126, Cg 159.25: scale 4. Scaled and widened, Co is
  // code 15 at both ends, Cg codes 62 and 63: the pixel is nearer the middle points.
  const Block16 between = encode(1, solid(0, 64, 5));
  const Block16 head = {34, 0, 0, 0, 0, 0, 0, 0, 0xE3, 0x7F, 0xC3, 0x7F};
  EXPECT_TRUE(std::equal(head.begin(), head.begin() + 12, between.begin()));
  const uint32_t index = colour_indices(between) & 3;
  EXPECT_GE(index, 2u);
  EXPECT_EQ(colour_indices(between), index * 0x55555555u);
}

TEST(YcocgColourHalf, SaturatedPairsStayClose) {
  // Two corners of the RGB cube, eight pixels each: chroma at the ends of its
  // range, scale 1. A line fits two colours, so only the 1/16 inset of the
  // box and the rounding of the codes remain.
  int worst[4] = {};
  for (int first = 0; first < 8; ++first)
    for (int second = first + 1; second < 8; ++second) {
      Pixels p = solid(0, 0, 0);
      for (int i = 0; i < 16; ++i) {
        const int c = i % 2 ? first : second;
        set_pixel(p, i, uint8_t(c & 1 ? 255 : 0), uint8_t(c & 2 ? 255 : 0),
                  uint8_t(c & 4 ? 255 : 0));
      }
      for (int q = 1; q <= 3; ++q) {
        uint8_t decoded[64];
        decode_ycocg_dxt5_block(encode(q, p).data(), decoded);
        worst[q] = std::max(worst[q], max_abs_error(decoded, p.data(), 64));
      }
    }
  // Measured 24, 22 and 17.
  EXPECT_LE(worst[1], 26);
  EXPECT_LE(worst[2], 24);
  EXPECT_LE(worst[3], 19);
}

// ---- Endpoint searches ----------------------------------------------------

// Counts the kernel calls of the encoders.
int g_trial_calls = 0, g_search_calls = 0;
Cocg_Endpoint_Kernels g_real;

template <int G>
void counting_trial(Cocg_Block* b, float* e, const Cocg_Candidate* c, float* d,
                    Cocg_Candidate* best) {
  ++g_trial_calls;
  g_real.endpoint_trial[G](b, e, c, d, best);
}
template <int G>
void counting_search(const Cocg_Block* b, const Cocg_Candidate* init, float* e,
                     Cocg_Candidate* best, float* d) {
  ++g_search_calls;
  g_real.endpoint_search[G](b, init, e, best, d);
}

Cocg_Endpoint_Kernels counting_kernels(int quality) {
  g_real = cocg_endpoint_kernels_scalar(quality);
  Cocg_Endpoint_Kernels k = g_real;
  [&]<int... G>(std::integer_sequence<int, G...>) {
    ((k.endpoint_search[G] = counting_search<G>), ...);
    ((k.endpoint_trial[G] = counting_trial<G>), ...);
  }(std::make_integer_sequence<int, 3>{});
  g_trial_calls = g_search_calls = 0;
  return k;
}

Cocg_Block block_from(const float co[16], const float cg[16]) {
  Cocg_Block b{};
  std::copy_n(co, 16, b.co);
  std::copy_n(cg, 16, b.cg);
  b.cocg_box[0] = *std::min_element(co, co + 16), b.cocg_box[2] = *std::max_element(co, co + 16);
  b.cocg_box[1] = *std::min_element(cg, cg + 16), b.cocg_box[3] = *std::max_element(cg, cg + 16);
  return b;
}

Cocg_Block flat_block(float co, float cg) {
  float c[16], g[16];
  std::fill_n(c, 16, co), std::fill_n(g, 16, cg);
  return block_from(c, g);
}

std::array<uint8_t, 8> encode_cocg(int quality, const Cocg_Endpoint_Kernels& k, Cocg_Block block) {
  std::array<uint8_t, 8> out{};
  (quality == 2 ? ycocg_encode_cocg_q2 : ycocg_encode_cocg_q3)(k, out.data(), &block);
  return out;
}

TEST(CocgSearch, EqualErrorsKeepTheFirstCandidate) {
  // Flat chroma exactly on the decoded codes (2, 10), scale 1: the first
  // candidate (2, 10, 2, 10) fits with error 0, and so does every later one
  // that keeps the low endpoint; the first must stay.
  const Cocg_Block on_codes = flat_block(2.0f * (1.0f / 31.0f), 10.0f * (1.0f / 63.0f));
  ASSERT_EQ(choose_cocg_scale(on_codes.cocg_box), 1u);
  const std::array<uint8_t, 8> expected = {0x40, 0x11, 0x40, 0x11, 0, 0, 0, 0};
  for (int q = 2; q <= 3; ++q)
    EXPECT_EQ(encode_cocg(q, cocg_endpoint_kernels_scalar(q), on_codes), expected) << q;
}

// Independent model of the search's measure: decode codes as code / 31 and
// code / 63 with the scale undone, palette H, L, 1/3, 2/3, error = sum of
// the fourth powers of the nearest distances.
double candidate_error(const Cocg_Block& b, int scale, int a0, int b0, int a1, int b1, int pixels) {
  const auto undo = [&](double v) { return (v - 128.0 / 255.0) / scale + 128.0 / 255.0; };
  const double lo_co = undo(a0 / 31.0), lo_cg = undo(b0 / 63.0), hi_co = undo(a1 / 31.0),
               hi_cg = undo(b1 / 63.0);
  double error = 0;
  for (int i = 0; i < pixels; ++i) {
    double best = 1e30;
    for (int k = 0; k < 4; ++k) {
      const double t = k == 0 ? 0.0 : k == 1 ? 1.0 : (k - 1) / 3.0;
      const double pc = hi_co + (lo_co - hi_co) * t, pg = hi_cg + (lo_cg - hi_cg) * t;
      best = std::min(best, (b.co[i] - pc) * (b.co[i] - pc) + (b.cg[i] - pg) * (b.cg[i] - pg));
    }
    error += best * best;
  }
  return error;
}

// Smallest error over the whole candidate set the search is meant to visit.
double brute_force_best(const Cocg_Block& b, int quality, int scale, const Cocg_Candidate& init,
                        bool flat) {
  double best = 1e30;
  const int pixels = flat ? 1 : 16;
  for (int d0 = 0; d0 < 6; ++d0)
    for (int d1 = 0; d1 < 6; ++d1)
      for (int d2 = 0; d2 < 6; ++d2)
        for (int k = 0; k < 6; ++k) {
          if (quality == 2 && (d1 != d0 || d2 != k)) continue;
          best = std::min(
              best, candidate_error(b, scale, std::max(init.a0 - d0, 0), std::max(init.b0 - d1, 0),
                                    std::min(init.a1 + d2, 31), std::min(init.b1 + k, 63), pixels));
        }
  return best;
}

TEST(CocgSearch, FindsTheBestCandidateOfItsSetWithinTheCandidateLimits) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int n = 0; n < 60; ++n) {
    const bool flat = n % 4 == 0;
    float co[16], cg[16];
    const float c0 = unit(rng), g0 = unit(rng), spread = flat ? 0.0f : unit(rng) * 0.25f;
    const float slope = unit(rng) - 0.5f;
    for (int i = 0; i < 16; ++i) {
      const float t = unit(rng) - 0.5f;
      co[i] = std::clamp(c0 + spread * t, 0.0f, 1.0f);
      cg[i] = std::clamp(g0 + spread * (slope * t + 0.3f * (unit(rng) - 0.5f)), 0.0f, 1.0f);
    }
    double chosen_by[4] = {};
    for (int q = 2; q <= 3; ++q) {
      const Cocg_Endpoint_Kernels k = counting_kernels(q);
      Cocg_Block block = block_from(co, cg);
      const auto out = encode_cocg(q, k, block);
      // Flat: at most 36 (quality 2) or 1296 candidates, six per trial; else one search.
      if (flat) {
        EXPECT_LE(6 * g_trial_calls, q == 2 ? 36 : 1296);
        EXPECT_EQ(g_search_calls, 0);
      } else {
        EXPECT_EQ(g_trial_calls, 0);
        EXPECT_EQ(g_search_calls, 1);
      }

      // The first endpoints as the encoder derives them.
      Cocg_Block shaped = block;
      if (!flat) select_bbox_diagonal(&shaped);
      const uint32_t scale = choose_cocg_scale(shaped.cocg_box);
      Cocg_Candidate init;
      k.inset_bbox[(flat && q == 2 ? 3 : 0) + scale / 2](shaped.cocg_box, &init);

      const uint16_t c0w = uint16_t(out[0] | out[1] << 8), c1w = uint16_t(out[2] | out[3] << 8);
      ASSERT_EQ(c0w & 31, int(scale - 1));
      ASSERT_EQ(c1w & 31, int(scale - 1));
      const double chosen = candidate_error(block, int(scale), c1w >> 11, (c1w >> 5) & 63,
                                            c0w >> 11, (c0w >> 5) & 63, flat ? 1 : 16);
      const double best = brute_force_best(block, q, int(scale), init, flat);
      EXPECT_LE(chosen, best * (1 + 1e-4) + 1e-12) << "block " << n << " quality " << q;
      // The low endpoint only moves down and the high one up.
      EXPECT_TRUE(c1w >> 11 <= init.a0 && ((c1w >> 5) & 63) <= init.b0) << n;
      EXPECT_TRUE(c0w >> 11 >= init.a1 && ((c0w >> 5) & 63) >= init.b1) << n;
      chosen_by[q] = chosen;
    }
    // Quality 3's candidates include quality 2's.
    EXPECT_LE(chosen_by[3], chosen_by[2] * (1 + 1e-4) + 1e-12) << "block " << n;
  }
}

}  // namespace
