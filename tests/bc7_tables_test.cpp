// The BC7 encoder's building blocks: constant tables, parameter presets, metric,
// single-colour tables, the opaque mode-6 rule, index fitting and least squares.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "src/bc7_internal.h"
#include "tests/support/bc7_tables.h"

namespace {

// The encoder's constant tables equal the shared table file the reference
// decoder reads.
TEST(Bc7Tables, EqualTheSharedTableFile) {
  const bc7_tables::Tables& file = bc7_tables::shared();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(bc7_weights2[k], file.weights2[k]) << k;
  for (int k = 0; k < 8; ++k) EXPECT_EQ(bc7_weights3[k], file.weights3[k]) << k;
  for (int k = 0; k < 16; ++k) EXPECT_EQ(bc7_weights4[k], file.weights4[k]) << k;
  for (int mode = 0; mode < 8; ++mode) {
    const Bc7_Mode_Info& m = bc7_modes[mode];
    const bc7_tables::Mode_Info& f = file.modes[mode];
    const uint32_t ours[10] = {m.subsets,    m.partition_bits, m.rotation_bits, m.index_selector_bits,
                               m.color_bits, m.alpha_bits, m.p_bit_per_endpoint, m.p_bit_shared,
                               m.index_bits, m.index2_bits};
    const int theirs[10] = {f.subsets,    f.partition_bits, f.rotation_bits,     f.index_selection_bits,
                            f.color_bits, f.alpha_bits,     f.pbit_per_endpoint, f.pbit_per_subset,
                            f.index_bits, f.index2_bits};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(ours[k], uint32_t(theirs[k])) << "mode " << mode;
  }
  for (uint32_t partition = 0; partition < 64; ++partition) {
    for (uint32_t pixel = 0; pixel < 16; ++pixel) {
      EXPECT_EQ(bc7_subset_of(2, partition, pixel), file.partitions2[partition][pixel]) << partition;
      EXPECT_EQ(bc7_subset_of(3, partition, pixel), file.partitions3[partition][pixel]) << partition;
    }
    EXPECT_EQ(bc7_anchors2[partition], file.anchors2[partition]) << partition;
    EXPECT_EQ(bc7_anchors3[partition][0], file.anchors3[partition][0]) << partition;
    EXPECT_EQ(bc7_anchors3[partition][1], file.anchors3[partition][1]) << partition;
  }
}

TEST(Bc7Params, WorkingWeights) {
  Bc7_Block_Params params;
  bc7_params_init(params);
  std::array<uint32_t, 4> w;
  bc7_working_weights(params, w.data());
  EXPECT_EQ(w, (std::array<uint32_t, 4>{512, 103, 18, 128}));
  bc7_working_weights(bc7_engine_params(4, 64), w.data());
  EXPECT_EQ(w, (std::array<uint32_t, 4>{1, 1, 1, 1}));
}

TEST(Bc7Metric, LinearPerceptualAndAlpha) {
  const uint32_t ones[4] = {1, 1, 1, 1};
  const uint8_t a[4] = {10, 20, 30, 40}, b[4] = {10, 20, 30, 47};
  EXPECT_EQ(bc7_color_distance_rgb(a, b, false, ones), 0u);
  EXPECT_EQ(bc7_color_distance_rgba(a, b, false, ones), 49u);
  EXPECT_EQ(bc7_color_distance_rgba(a, b, true, ones), 49u);

  const uint32_t w[4] = {512, 103, 18, 128};
  const uint8_t grey10[4] = {10, 10, 10, 255}, black[4] = {0, 0, 0, 255};
  // Pure luma step: dY = 5120 >> 8 = 20, no chroma.
  EXPECT_EQ(bc7_color_distance_rgb(grey10, black, true, w), 512u * 400);
  EXPECT_EQ(bc7_color_distance_rgb(black, grey10, true, w), 512u * 400);  // -5120 >> 8 = -20
  // Arithmetic shifts make the metric depend on the order.
  const uint8_t c[4] = {1, 0, 0, 255};
  // dL = 109: dY = 0, dCr = 403 >> 8 = 1, dCb = -109 >> 8 = -1.
  EXPECT_EQ(bc7_color_distance_rgb(c, black, true, w), 103u + 18u);
  // dL = -109: dY = -1, dCr = -403 >> 8 = -2, dCb = 109 >> 8 = 0.
  EXPECT_EQ(bc7_color_distance_rgb(black, c, true, w), 512u + 103u * 4);
}

TEST(Bc7Tables, SingleColourRowsAndRebuild) {
  bc7_init_tables();
  struct Row { int value, p, error, lo, hi; };
  const Row rows[] = {{0, 0, 0, 0, 0},     {0, 1, 4, 0, 0},     {1, 0, 0, 0, 1},
                      {1, 1, 1, 0, 0},     {128, 0, 0, 20, 62}, {128, 1, 0, 19, 63},
                      {255, 0, 4, 63, 63}, {255, 1, 0, 63, 63}};
  for (const Row& r : rows) {
    const Bc7_Single_Color_Entry& e = g_bc7_mode_1_optimal_endpoints[r.value][r.p];
    EXPECT_EQ(e.m_error, r.error) << r.value << " p " << r.p;
    EXPECT_EQ(e.m_lo, r.lo) << r.value << " p " << r.p;
    EXPECT_EQ(e.m_hi, r.hi) << r.value << " p " << r.p;
  }
  const int white_errors[2][2] = {{16, 1}, {9, 0}};  // [high p][low p]
  for (int hp = 0; hp < 2; ++hp)
    for (int lp = 0; lp < 2; ++lp) {
      const Bc7_Single_Color_Entry& e = g_bc7_mode_7_optimal_endpoints[255][hp][lp];
      EXPECT_EQ(e.m_error, white_errors[hp][lp]);
      EXPECT_EQ(e.m_lo, 31);
      EXPECT_EQ(e.m_hi, 31);
    }

  // Many encoders opening at once: every caller returns with the tables built.
  std::vector<Bc7_Single_Color_Entry> before(&g_bc7_mode_7_optimal_endpoints[0][0][0],
                                             &g_bc7_mode_7_optimal_endpoints[0][0][0] + 1024);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      bc7_init_tables();
      EXPECT_EQ(g_bc7_mode_1_optimal_endpoints[255][0].m_hi, 63);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(std::memcmp(before.data(), g_bc7_mode_7_optimal_endpoints, sizeof(before[0]) * 1024), 0);
}

// A subset description for one mode over the given pixels.
Bc7_Subset_Params subset_for(uint32_t mode, const uint8_t* pixels, uint32_t count, bool alpha) {
  Bc7_Subset_Params s{};
  s.m_pixel_count = count;
  s.m_pixels = pixels;
  for (uint32_t& w : s.m_channel_weights) w = 1;
  s.m_has_alpha = alpha;
  s.m_has_p_bits = mode != 5;
  s.m_shared_p_bit = mode == 1;
  s.m_level_count = mode == 1 ? 8 : mode == 6 ? 16 : 4;
  s.m_level_weights = mode == 1 ? bc7_weights3 : mode == 6 ? bc7_weights4 : bc7_weights2;
  s.m_level_factors = mode == 1 ? bc7_factors3 : mode == 6 ? bc7_factors4 : bc7_factors2;
  s.m_endpoint_bits = mode == 1 ? 6 : mode == 7 ? 5 : 7;
  return s;
}

// A result holding nothing yet, with its index storage.
Bc7_Subset_Result empty_result(uint8_t* selectors, uint8_t* trial) {
  Bc7_Subset_Result r{};
  r.m_best_overall_err = Bc7_No_Error;
  r.m_selectors = selectors;
  r.m_trial_selectors = trial;
  return r;
}

TEST(Bc7Subset, SingleColourShortcuts) {
  bc7_init_tables();
  const Bc7_Block_Params params = bc7_engine_params(0, 4);
  uint8_t pixels[64];
  uint8_t selectors[16], trial[16];

  for (int k = 0; k < 16; ++k) std::memcpy(pixels + 4 * k, "\x80\x80\x80\xFF", 4);
  Bc7_Subset_Params s1 = subset_for(1, pixels, 16, false);
  Bc7_Subset_Result r = empty_result(selectors, trial);
  EXPECT_EQ(bc7_encode_subset(1, s1, r, params), 0u);
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(r.m_low[c] == 20 && r.m_high[c] == 62) << c;
  EXPECT_EQ(r.m_p_bits[0], 0u);
  for (uint8_t i : selectors) EXPECT_EQ(i, 2);

  std::memset(pixels, 255, 64);
  Bc7_Subset_Params s7 = subset_for(7, pixels, 16, true);
  EXPECT_EQ(bc7_encode_subset(7, s7, r, params), 0u);
  for (int c = 0; c < 4; ++c) EXPECT_TRUE(r.m_low[c] == 31 && r.m_high[c] == 31) << c;
  EXPECT_EQ(r.m_p_bits[0], 1u);
  EXPECT_EQ(r.m_p_bits[1], 1u);
  for (uint8_t i : selectors) EXPECT_EQ(i, 1);
}

TEST(Bc7Quantize, OpaqueMode6KeepsAlpha255) {
  // Colours whose best p-bit would be 0 on both endpoints.
  uint8_t pixels[64];
  for (int i = 0; i < 64; ++i) pixels[i] = uint8_t(i % 4 == 3 ? 255 : i < 32 ? 100 : 200);
  Bc7_Subset_Params s = subset_for(6, pixels, 16, false);
  uint8_t selectors[16], trial[16];
  Bc7_Subset_Result r = empty_result(selectors, trial);
  float first[4] = {100 / 255.0f, 100 / 255.0f, 100 / 255.0f, 1.0f};
  float second[4] = {200 / 255.0f, 200 / 255.0f, 200 / 255.0f, 1.0f};
  bc7_quantize_and_fit(6, first, second, s, r);
  EXPECT_EQ(r.m_p_bits[0], 1u);
  EXPECT_EQ(r.m_p_bits[1], 1u);
  EXPECT_EQ(r.m_low[3], 127);
  EXPECT_EQ(r.m_high[3], 127);
}

// The index fit (four pixels a step for small linear weights) against a plain
// per-pixel search under the same rules, over random subsets and palettes.
TEST(Bc7Quantize, IndexFitMatchesPlainSearch) {
  std::mt19937 random(99);
  const uint32_t* level_weights[3] = {bc7_weights2, bc7_weights3, bc7_weights4};
  for (int trial_number = 0; trial_number < 3000; ++trial_number) {
    const uint32_t n = 4u << (trial_number % 3);
    const uint32_t count = 1 + random() % 16;
    uint8_t pixels[64];
    for (uint8_t& v : pixels) v = uint8_t(random());
    Bc7_Subset_Params s = subset_for(6, pixels, count, random() & 1);
    s.m_perceptual_metric = trial_number % 7 == 0;
    // Mostly weights the vector form takes, some it leaves to the scalar one.
    for (uint32_t& w : s.m_channel_weights) w = random() % (trial_number % 5 == 0 ? 1000 : 129);
    uint8_t low[4], high[4];
    for (int c = 0; c < 4; ++c) {
      low[c] = uint8_t(random());
      high[c] = random() % 4 == 0 ? low[c] : uint8_t(random());
    }
    alignas(16) uint8_t palette[16][4];
    for (uint32_t k = 0; k < n; ++k)
      for (int c = 0; c < 4; ++c) {
        const uint32_t w = level_weights[trial_number % 3][k];
        palette[k][c] = uint8_t(((64 - w) * low[c] + w * high[c] + 32) >> 6);
      }

    auto distance = s.m_has_alpha ? bc7_color_distance_rgba : bc7_color_distance_rgb;
    const uint32_t channels = s.m_has_alpha ? 4 : 3;
    uint8_t expected[16];
    uint64_t expected_total = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* pixel = pixels + 4 * i;
      uint32_t best = 0;
      if (s.m_perceptual_metric) {
        for (uint32_t k = 1; k < n; ++k)
          if (distance(palette[k], pixel, true, s.m_channel_weights) <
              distance(palette[best], pixel, true, s.m_channel_weights))
            best = k;
      } else {
        int32_t dot = 0, length2 = 0;
        for (uint32_t c = 0; c < channels; ++c) {
          const int32_t d = palette[n - 1][c] - palette[0][c];
          dot += (pixel[c] - palette[0][c]) * d;
          length2 += d * d;
        }
        const float scale = float(n) / (float(length2) + 1.25e-6f);
        const int32_t level = std::clamp(int32_t(float(dot) * scale + 0.5f), 1, int32_t(n) - 1);
        best = distance(palette[level], pixel, false, s.m_channel_weights) <=
                       distance(palette[level - 1], pixel, false, s.m_channel_weights)
                   ? level
                   : level - 1;
      }
      expected[i] = uint8_t(best);
      expected_total += distance(palette[best], pixel, s.m_perceptual_metric, s.m_channel_weights);
    }

    uint8_t indices[16];
    ASSERT_EQ(bc7_fit_indices(palette, n, s, indices, Bc7_No_Error), expected_total) << trial_number;
    ASSERT_EQ(std::memcmp(indices, expected, count), 0) << trial_number;
    // A bound it reaches may cut the search short, never below the bound.
    if (expected_total > 0) {
      EXPECT_GE(bc7_fit_indices(palette, n, s, indices, expected_total), expected_total);
    }
  }
}

TEST(Bc7LeastSquares, SingularSystems) {
  // Every pixel on one index: no line to fit, the endpoints come out as zeros.
  uint8_t pixels[64];
  for (int k = 0; k < 16; ++k) {
    const uint8_t px[4] = {uint8_t(10 * k), 50, uint8_t(255 - k), uint8_t(k)};
    std::memcpy(pixels + 4 * k, px, 4);
  }
  uint8_t zeros[16] = {}, tops[16];
  std::memset(tops, 3, 16);
  float out1[4], out2[4];
  for (const uint8_t* indices : {zeros, tops}) {
    bc7_least_squares_rgb(16, indices, bc7_factors2, out1, out2, pixels);
    EXPECT_EQ(out1[0], 0.0f);
    EXPECT_EQ(out2[2], 0.0f);
    EXPECT_EQ(out1[3], 255.0f);
    bc7_least_squares_rgba(16, indices, bc7_factors2, out1, out2, pixels);
    EXPECT_EQ(out1[3], 0.0f);
    EXPECT_EQ(out2[3], 0.0f);
  }
  float a1, a2;
  bc7_least_squares_alpha(16, zeros, bc7_factors2, &a1, &a2, pixels);
  EXPECT_EQ(a1, 0.0f);
  EXPECT_EQ(a2, 0.0f);
}

}  // namespace
