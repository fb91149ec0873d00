// YCoCg-DXT5 block encoders: the luma tie rule, the decoded error of saturated
// pairs, and the endpoint searches checked against brute force over their
// candidate sets. The pinned texture digests hold the exact bytes of whole frames.
#include "texture_encoder/ycocg_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
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

// The block by reference: a 32-byte aligned one passed by value draws an ABI
// note from GCC.
std::array<uint8_t, 8> encode_cocg(int quality, const Cocg_Endpoint_Kernels& k, const Cocg_Block& block) {
  std::array<uint8_t, 8> out{};
  Cocg_Block worked = block;
  (quality == 2 ? ycocg_encode_cocg_q2 : ycocg_encode_cocg_q3)(k, out.data(), &worked);
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

TEST(YcocgColourHalf, ChromaScaleAtItsBounds) {
  // Co = (R - B + 1) / 2 + 128 and Cg = (2G - R - B + 2) / 4 + 128, over 255.
  // Co or Cg 64 lies exactly 64/255 from neutral (128/255 is twice 64/255 in
  // single precision too): scale 1. 96 is 32/255 away: scale 2; 96.5 is
  // closer: scale 4. The other channel stays within a quarter of neutral.
  struct Case { uint8_t r, g, b; uint32_t scale; };
  const Case cases[] = {{0, 64, 129, 1}, {129, 0, 129, 1}, {0, 32, 65, 2}, {65, 0, 65, 2}, {0, 32, 64, 4}};
  const uint32_t masks[] = {0, 0xF8};  // scalar, and every vector level the processor has
  for (const Case& c : cases)
    for (bool beside_grey : {false, true}) {
      Test_Image image = solid_image(c.r, c.g, c.b);
      if (beside_grey)
        for (int i = 0; i < 8; ++i) std::fill_n(&image.bgra[4 * i], 3, 128);
      for (uint8_t quality = 1; quality <= 3; ++quality)
        for (uint32_t mask : masks) {
          Encode_Request request;
          request.texture_code = Texture_Code_Ycocg_Dxt5;
          request.quality = quality, request.mask = mask;
          const std::vector<uint8_t> block = encode_frame(image, request).value();
          EXPECT_EQ(block[8] & 31, int(c.scale - 1)) << int(c.r) << " " << int(c.g) << " " << int(c.b)
                                                     << " quality " << int(quality) << " mask " << mask
                                                     << (beside_grey ? " beside grey" : "");
          EXPECT_EQ(block[10] & 31, int(c.scale - 1));
        }
    }
}

// ---- Box helpers ---------------------------------------------------------

TEST(CocgBox, WidenedBoxesAndDecodedCandidates) {
  const float h = 1.0f / 510.0f;
  float box[4] = {0.3f, 0.0f, 0.6f, 1.0f};
  widen_cocg_box(box);
  EXPECT_EQ(box[0], 0.3f - h);
  EXPECT_EQ(box[1], 0.0f);
  EXPECT_EQ(box[2], 0.6f + h);
  EXPECT_EQ(box[3], 1.0f);
  // A box of no size: the inset widens it by the same half step.
  float inset[4] = {0.4f, 0.7f, 0.4f, 0.7f}, widened[4] = {0.4f, 0.7f, 0.4f, 0.7f};
  inset_cocg_box(inset);
  widen_cocg_box(widened);
  EXPECT_TRUE(std::equal(inset, inset + 4, widened));

  // Candidates decoded with scale 2 and 4 undone; magnifying them again and
  // quantising gives back the codes.
  std::mt19937 rng(12);
  for (int n = 0; n < 200; ++n) {
    const Cocg_Candidate c{int32_t(rng() % 32), int32_t(rng() % 64), int32_t(rng() % 32),
                           int32_t(rng() % 64)};
    const int codes[4] = {c.a0, c.b0, c.a1, c.b1}, tops[4] = {31, 63, 31, 63};
    for (const int scale : {2, 4}) {
      float decoded[4];
      (scale == 2 ? cocg_candidate_to_box_s1 : cocg_candidate_to_box_s2)(decoded, &c);
      for (int i = 0; i < 4; ++i) {
        const double neutral = 128.0 / 255.0;
        const double model = (double(codes[i]) / tops[i] - neutral) / scale + neutral;
        EXPECT_NEAR(decoded[i], model, 1e-6) << n << " " << scale << " " << i;
        EXPECT_EQ(std::lround(((decoded[i] - neutral) * scale + neutral) * tops[i]), codes[i]);
      }
    }
  }
}
