// The vector twins of the single-channel, DXT1 and cluster set-up kernels
// against the scalar kernels of their slots: bit for bit where they must agree,
// within the documented rounding differences elsewhere, and end to end through
// the frame driver.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/alpha_block.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/simd/alpha_vector.h"
#include "texture_encoder/simd/cs_vector.h"
#include "texture_encoder/simd/dxt1_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

// ---- Single-channel kernels -------------------------------------------------

// Every kernel that reads source pixels, on blocks of every kind, top-down
// and bottom-up in rows wider than the block.
TEST(SimdSourceReaders, MatchScalar) {
  REQUIRE_CPU(cpu_has_avx());
  for_many_blocks(1, 6600, [](const Source_Block& block) {
    alignas(32) uint8_t want[48], got[48];
    uint64_t want_bounds[2] = {7, 7}, got_bounds[2] = {9, 9};
    to_alpha_template_alpha_fmt1(want, block.first_row, nullptr, block.stride, 0, &want_bounds[0],
                                 &want_bounds[1]);
    to_alpha_template_alpha_avx(got, block.first_row, nullptr, block.stride, 0, &got_bounds[0],
                                &got_bounds[1]);
    ASSERT_EQ(0, std::memcmp(want, got, 16));
    ASSERT_EQ(0, std::memcmp(want_bounds, got_bounds, sizeof want_bounds));
    to_alpha_template_luma_fmt1(want, block.first_row, nullptr, nullptr, block.stride, 0, 0,
                                &want_bounds[0], &want_bounds[1]);
    to_alpha_template_luma_avx(got, block.first_row, nullptr, nullptr, block.stride, 0, 0,
                               &got_bounds[0], &got_bounds[1]);
    ASSERT_EQ(0, std::memcmp(want, got, 16));
    ASSERT_EQ(0, std::memcmp(want_bounds, got_bounds, sizeof want_bounds));

    using Pair = std::pair<Dxt_Load_Block_Fn, Dxt_Load_Block_Fn>;
    for (const auto& [scalar, vector] : {Pair{to_rgba_template_dxt_q1, to_rgba_template_dxt_q1_avx},
                                         Pair{to_rgba_template_dxt_q2, to_rgba_template_dxt_q2_avx}}) {
      uint64_t want_result = 77, got_result = 99;
      ASSERT_EQ(scalar(want, block.first_row, nullptr, nullptr, block.stride, 0, 0, &want_result),
                vector(got, block.first_row, nullptr, nullptr, block.stride, 0, 0, &got_result));
      ASSERT_EQ(0, std::memcmp(want, got, 48));
      ASSERT_EQ(want_result, got_result);
    }

    Cs_Gathered_Block want_set{}, got_set{};
    std::memset(&got_set, 0x7F, sizeof got_set);
    cs_gather_block(&want_set, block.first_row, nullptr, nullptr, block.stride, 0, 0);
    cs_gather_block_avx(&got_set, block.first_row, nullptr, nullptr, block.stride, 0, 0);
    ASSERT_EQ(want_set.count, got_set.count);
    for (uint64_t k = 0; k < want_set.count; ++k) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(want_set.colours[k][c], got_set.colours[k][c]);
      ASSERT_EQ(0.0f, got_set.colours[k][3]);
      ASSERT_EQ(want_set.counts[k], got_set.counts[k]);
    }
    ASSERT_EQ(0, std::memcmp(want_set.map, got_set.map, sizeof want_set.map));
  });
}

TEST(SimdSingleChannel, BoundsSkipZeroAndFull) {
  REQUIRE_CPU(cpu_has_avx());
  Block_Maker maker(2);
  for (int n = 0; n < 20000; ++n) {
    uint8_t v[16];
    for (int i = 0; i < 16; ++i) {
      // The first three: all zero, all full, zero and full alternating.
      v[i] = n == 0 ? 0 : n == 1 ? 255 : n == 2 ? (i % 2) * 255
           : maker.below(3) == 0 ? (maker.below(2) ? 0 : 255) : maker.byte();
    }
    uint64_t want[2], got[2] = {1, 1};
    rgtc1_block_min_max(v, &want[0], &want[1]);
    rgtc1_block_min_max_avx(v, &got[0], &got[1]);
    if (n < 3) {
      ASSERT_TRUE(want[0] == 255 && want[1] == 0) << n;
    }
    ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << n;
  }
}

TEST(SimdSingleChannel, FitIndicesMatchScalar) {
  const auto twins = runnable<Rgtc1_Fit_Indices_Fn>(
      {{rgtc1_fit_indices_avx, cpu_has_avx()}, {rgtc1_fit_indices_avx2, cpu_has_avx2()}});
  REQUIRE_CPU(!twins.empty());
  Block_Maker maker(3);
  for (int n = 0; n < 20000; ++n) {
    uint8_t values[16], palette[8] = {};
    if (n > 0) {  // block 0: every value 255 against zeros, the largest error
      for (uint8_t& p : palette) p = maker.byte();
      if (n % 3 == 0) palette[maker.below(8)] = palette[maker.below(8)];  // equal entries tie
    }
    for (uint8_t& v : values) {
      // Values halfway between two entries test the lower-index rule.
      const uint32_t a = palette[maker.below(8)], b = palette[maker.below(8)];
      v = n == 0 ? 255 : maker.below(2) ? uint8_t((a + b) / 2) : maker.byte();
    }
    uint8_t want[16], got[16];
    int64_t want_error = -1, got_error = -2;
    const int64_t want_result = rgtc1_fit_indices(values, palette, want, &want_error);
    if (n == 0) {
      ASSERT_EQ(want_result, 16 * 255 * 255);
    }
    for (const auto twin : twins) {
      ASSERT_EQ(want_result, twin(values, palette, got, &got_error));
      ASSERT_EQ(want_error, got_error);
      ASSERT_EQ(0, std::memcmp(want, got, 16));
    }
  }
}

// ---- DXT1 block kernels -----------------------------------------------------

// Loaded blocks (planar R, G, B) of every kind.
std::vector<std::array<uint8_t, 48>> loaded_blocks(int count, uint32_t seed) {
  std::vector<std::array<uint8_t, 48>> out;
  for (const Pixels& p : test_blocks(count, seed)) {
    alignas(32) std::array<uint8_t, 48> planes;
    uint64_t result;
    to_rgba_template_dxt_q2(planes.data(), p.data(), nullptr, nullptr, 16, 0, 0, &result);
    out.push_back(planes);
  }
  return out;
}

TEST(SimdDxt1, InitialEndpointsAndIndicesMatchScalar) {
  REQUIRE_CPU(cpu_has_avx());
  const auto initial = runnable<Dxt1_Initial_Endpoints_Fn>(
      {{dxt1_initial_endpoints_avx, true}, {dxt1_initial_endpoints_avx2, cpu_has_avx2()}});
  const auto indices = runnable<Dxt1_Compute_Indices_Fn>(
      {{dxt1_compute_indices_avx, true}, {dxt1_compute_indices_avx2, cpu_has_avx2()}});
  Block_Maker maker(5);
  for (const auto& block : loaded_blocks(18000, 5)) {
    uint16_t want0, want1;
    uint32_t want_sums[8] = {};
    dxt1_initial_endpoints(block.data(), &want0, &want1, want_sums);
    for (const auto twin : initial) {
      uint16_t got0 = 1, got1 = 1;
      uint32_t got_sums[8] = {};
      twin(block.data(), &got0, &got1, got_sums);
      ASSERT_EQ(want0, got0);
      ASSERT_EQ(want1, got1);
      ASSERT_EQ(0, std::memcmp(want_sums, got_sums, sizeof want_sums));
    }
    // Indices for the estimate and for arbitrary pairs, equal ones included.
    const uint16_t pairs[3][2] = {{want0, want1},
                                  {uint16_t(maker.below(65536)), uint16_t(maker.below(65536))},
                                  {want0, want0}};
    for (const auto& pair : pairs) {
      uint32_t want_word = 0;
      dxt1_compute_indices(block.data(), pair[0], pair[1], &want_word, dxt_expand_table.data());
      for (const auto twin : indices) {
        uint32_t got_word = ~want_word;
        twin(block.data(), pair[0], pair[1], &got_word, dxt_expand_table.data());
        ASSERT_EQ(want_word, got_word) << pair[0] << " " << pair[1];
      }
    }
  }
  // Pixels 3 and 9 share the brightest colour, 5 and 12 the darkest: the
  // lowest-numbered pixel of each pair gives the endpoint in both forms.
  alignas(32) uint8_t block[48];
  for (int i = 0; i < 48; ++i) block[i] = uint8_t(100 + 3 * (i / 16) + (i % 16 % 3));
  for (int c = 0; c < 3; ++c) {
    block[16 * c + 3] = block[16 * c + 9] = 240;
    block[16 * c + 5] = block[16 * c + 12] = 10;
  }
  uint16_t want0, want1, got0, got1;
  uint32_t sums[8] = {};
  dxt1_initial_endpoints(block, &want0, &want1, sums);
  dxt1_initial_endpoints_avx(block, &got0, &got1, sums);
  EXPECT_EQ(want0, got0);
  EXPECT_EQ(want1, got1);
  EXPECT_NE(got0, got1);
}

// Refinement: the twins use the single-precision 63/31 for green and the FMA
// form one rounding; a field may then land one step away, rarely.
TEST(SimdDxt1, RefineAgreesUpToRoundingTies) {
  REQUIRE_CPU(cpu_has_avx());
  const auto twins = runnable<Dxt1_Refine_Endpoints_Fn>(
      {{dxt1_refine_endpoints_avx, true}, {dxt1_refine_endpoints_avx2_fma, cpu_has_avx2_fma()}});
  const auto near = [](uint16_t a, uint16_t b) {
    return std::abs((a >> 11) - (b >> 11)) <= 1 && std::abs(((a >> 5) & 63) - ((b >> 5) & 63)) <= 1 &&
           std::abs((a & 31) - (b & 31)) <= 1;
  };
  Block_Maker maker(6);
  int blocks = 0, differing[2] = {0, 0};
  for (const auto& block : loaded_blocks(18000, 6)) {
    uint32_t sums[8] = {};
    uint16_t c0, c1;
    dxt1_initial_endpoints(block.data(), &c0, &c1, sums);
    const uint32_t word = uint32_t(maker.below(1u << 16)) << 16 | maker.below(1u << 16);
    if ((word ^ (word << 2)) < 4) continue;  // all indices equal: never refined
    ++blocks;
    uint16_t want0 = 0, want1 = 0;
    dxt1_refine_endpoints(block.data(), &want0, &want1, word, sums);
    for (size_t level = 0; level < twins.size(); ++level) {
      uint16_t got0 = 0, got1 = 0;
      twins[level](block.data(), &got0, &got1, word, sums);
      if (got0 == want0 && got1 == want1) continue;
      ++differing[level];
      ASSERT_TRUE(near(want0, got0) && near(want1, got1)) << word;
    }
  }
  EXPECT_GT(blocks, 10000);
  EXPECT_LT(std::max(differing[0], differing[1]), blocks / 100);

  // Half the pixels black on index 0 (c0), half white on index 1 (c1): the
  // solution is exact. Index 2 (2/3 c0) on the white pixels and 3 on the
  // black instead push the fit past both ends, to be clamped.
  alignas(32) uint8_t block[48];
  for (int i = 0; i < 48; ++i) block[i] = i % 16 < 8 ? 0 : 255;
  uint32_t sums[8] = {8 * 255, 8 * 255, 8 * 255, 0, 128, 128, 128, 0};
  for (const auto& [word, want0, want1] :
       {std::tuple{0x55550000u, 0, 0xFFFF}, std::tuple{0xAAAAFFFFu, 0xFFFF, 0}}) {
    uint16_t c0, c1;
    dxt1_refine_endpoints_avx(block, &c0, &c1, word, sums);
    EXPECT_EQ(c0, want0);
    EXPECT_EQ(c1, want1);
  }
}

// ---- Cluster set-up ---------------------------------------------------------

// Colours and weights of an n-colour set; entries past n hold garbage that the
// kernels must not take in.
struct Colour_Set {
  alignas(32) float colours[16][4];
  alignas(32) float weights[16];
};

Colour_Set random_set(Block_Maker& maker, uint32_t n) {
  Colour_Set set;
  const uint32_t levels = 1 + maker.below(255);  // coarse levels make ties
  for (uint32_t k = 0; k < 16; ++k) {
    for (int c = 0; c < 4; ++c)
      set.colours[k][c] = k < n ? float(maker.below(levels + 1) * 255 / levels) / 255.0f : NAN;
    set.weights[k] = k < n ? std::sqrt(float(1 + maker.below(4))) : 1e30f;
  }
  if (n == 15) {
    std::fill(set.weights, set.weights + 15, 1.0f);
    set.weights[maker.below(15)] = std::sqrt(2.0f);
  }
  return set;
}

bool finite_axis(const float* a) {
  return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]);
}

// Whether the first power-iteration product M (1, 1, 1) of the set is small
// against its covariance (in double precision).
bool nearly_degenerate(const Colour_Set& set, uint32_t n) {
  double total = 0, mean[3] = {}, m[3][3] = {};
  const auto weight = [&](uint32_t k) { return n == 16 ? 1.0 : double(set.weights[k]); };
  for (uint32_t k = 0; k < n; ++k) {
    total += weight(k);
    for (int c = 0; c < 3; ++c) mean[c] += weight(k) * set.colours[k][c];
  }
  for (uint32_t k = 0; k < n; ++k)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        m[i][j] += weight(k) * (set.colours[k][i] - mean[i] / total) *
                   (set.colours[k][j] - mean[j] / total);
  double largest = -1e300;
  for (const auto& row : m) largest = std::max(largest, row[0] + row[1] + row[2]);
  return largest <= 1e-3 * (m[0][0] + m[1][1] + m[2][2]);
}

TEST(SimdClusterSetup, PrincipalAxisAndKeysByCount) {
  REQUIRE_CPU(cpu_has_avx());
  Dxt_Encoder_Context context{};
  install_cs_kernels(&context, Pix_Fmt_Bgra8, 0);
  Block_Maker maker(8);
  int near_degenerate = 0;
  for (uint32_t n = 2; n <= 16; ++n) {
    const uint32_t extent = n <= 4 ? 4 : n <= 8 ? 8 : n == 9 ? 9 : n <= 12 ? 12 : 16;
    for (int trial = 0; trial < 1500; ++trial) {
      const Colour_Set set = random_set(maker, n);
      float want[4] = {}, got[4] = {};
      context.head.cs_kernels.principal_axis[n - 2](want, set.colours, set.weights);
      cs_axis_avx_kernels.principal_axis[n - 2](got, set.colours, set.weights);
      ASSERT_TRUE(finite_axis(want) && finite_axis(got));
      // Near the degenerate case rounding noise decides between an axis and
      // the fallback, differently for each summation order.
      if (nearly_degenerate(set, n)) {
        ++near_degenerate;
        continue;
      }
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(want[c], got[c], 1e-4f) << n << " " << c;

      // Keys equal the scalar projection on the same axis; the written extent
      // is the member's group size, with zeros past n.
      float want_keys[16], got_keys[16];
      std::fill(got_keys, got_keys + 16, -7.0f);
      cs_project_on_axis(want_keys, set.colours, got, n);
      Colour_Set clean = set;
      for (uint32_t k = n; k < 16; ++k) std::fill(clean.colours[k], clean.colours[k] + 4, 0.0f);
      cs_axis_avx_kernels.project_on_axis[n - 2](got_keys, clean.colours, got);
      for (uint32_t k = 0; k < 16; ++k)
        ASSERT_EQ(k < n ? want_keys[k] : k < extent ? 0.0f : -7.0f, got_keys[k]) << n << " " << k;
    }
  }
  EXPECT_LT(near_degenerate, 15 * 1500 / 20);

  // Colours with one R + G + B: M (1, 1, 1) is exactly zero, no direction to
  // follow. A single colour repeated: a zero covariance. Blue alone varying:
  // an axis the power iteration finds. Values are exact in binary so that no
  // rounding can tip the rule either way.
  const float sets[3][4][3] = {
      {{0.75f, 0.25f, 0.5f}, {0.25f, 0.75f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.25f, 0.25f, 1.0f}},
      {{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}},
      {{0.0f, 0.0f, 0.75f}, {0.0f, 0.0f, 0.25f}, {0.0f, 0.0f, 0.5f}, {0.0f, 0.0f, 0.125f}}};
  for (const auto& source : sets)
    for (uint32_t n : {2u, 4u}) {
      Colour_Set set{};
      for (uint32_t k = 0; k < n; ++k) {
        std::copy(source[k], source[k] + 3, set.colours[k]);
        set.weights[k] = 1.0f;
      }
      float want[4] = {}, got[4] = {};
      context.head.cs_kernels.principal_axis[n - 2](want, set.colours, set.weights);
      cs_axis_avx_kernels.principal_axis[n - 2](got, set.colours, set.weights);
      ASSERT_TRUE(finite_axis(got));
      for (int c = 0; c < 3; ++c) EXPECT_EQ(want[c], got[c]) << n;
    }
}

TEST(SimdClusterSetup, PackFromFloatMatchesScalar) {
  REQUIRE_CPU(cpu_has_avx2());
  Block_Maker maker(9);
  for (int n = 0; n < 50000; ++n) {
    alignas(32) float endpoints[8];
    for (int k = 0; k < 8; ++k) {
      const uint32_t levels = k % 4 == 1 ? 63 : 31, way = maker.below(4);
      endpoints[k] = way == 0   ? float(maker.below(levels + 1)) / float(levels)         // on the grid
                     : way == 1 ? (float(maker.below(levels)) + 0.5f) / float(levels)  // halfway
                                : float(maker.below(1u << 24)) / float(1u << 24);
    }
    if (n % 5 == 0) std::copy(endpoints, endpoints + 4, endpoints + 4);
    uint8_t indices[16];
    for (uint8_t& i : indices) i = uint8_t(maker.below(4));
    uint64_t want = 1, got = 2;
    dxt1_pack_block_from_float(endpoints, indices, &want);
    dxt1_pack_block_from_float_avx2(endpoints, indices, &got);
    ASSERT_EQ(want, got);
  }
}

// ---- Installation and whole frames ------------------------------------------

TEST(SimdBlockInstall, SlotsFollowCodeQualityAndMask) {
  REQUIRE_CPU(cpu_has_avx());
  const bool avx2 = cpu_has_avx2(), fma = cpu_has_fma();
  const auto setup = [](uint32_t code, uint8_t quality, uint32_t mask, uint8_t no_alpha = 0) {
    Dxt_Encoder_Context context{};
    context.source_has_no_alpha = no_alpha;
    EXPECT_EQ(0u, setup_dxt_encoder(&context, 64, 64, code, quality, 0, Pix_Fmt_Bgra8, 0, 1, mask));
    return context.head;
  };
  Dxt_Kernel_Head h = setup(Texture_Code_Dxt5, 1, 0xF8);
  EXPECT_EQ(h.rgtc1_fit_indices, avx2 ? rgtc1_fit_indices_avx2 : rgtc1_fit_indices_avx);
  EXPECT_EQ(h.dxt1_refine_endpoints,
            avx2 && fma ? dxt1_refine_endpoints_avx2_fma : dxt1_refine_endpoints_avx);
  EXPECT_EQ(h.cs_kernels.gather_block, nullptr);  // quality 1 has no cluster fit
  EXPECT_EQ(setup(Texture_Code_Dxt5, 1, 0xF8, 1).extract_plane_alpha, fill_opaque_plane);

  h = setup(Texture_Code_Dxt1, 2, Simd_Flag_Enable | Simd_Flag_Avx);
  EXPECT_EQ(h.dxt1_refine_endpoints, dxt1_refine_endpoints_avx);
  EXPECT_EQ(h.cs_kernels.gather_block, cs_gather_block_avx);
  EXPECT_EQ(h.cs_kernels.pack_block_from_float, dxt1_pack_block_from_float);
  if (avx2) {  // no AVX2 kernel for DXT at quality 3
    EXPECT_EQ(setup(Texture_Code_Dxt1, 2, 0xF8).cs_kernels.pack_block_from_float,
              dxt1_pack_block_from_float_avx2);
    EXPECT_EQ(setup(Texture_Code_Dxt1, 3, 0xF8).cs_kernels.pack_block_from_float,
              dxt1_pack_block_from_float);
  }

  h = setup(Texture_Code_Rgtc1_Luma, 1, 0xF8);
  EXPECT_EQ(h.extract_plane_luma, to_alpha_template_luma_avx);
  EXPECT_EQ(h.extract_plane_alpha, nullptr);

  h = setup(Texture_Code_Dxt5, 2, 0xF0);  // no Simd_Flag_Enable: scalar only
  EXPECT_EQ(h.rgtc1_fit_indices, rgtc1_fit_indices);
  EXPECT_EQ(h.dxt1_compute_indices, dxt1_compute_indices);
  EXPECT_EQ(h.cs_kernels.gather_block, cs_gather_block);

  h = setup(Texture_Code_Ycocg_Dxt5, 1, 0xF8);  // none of this family's slots
  EXPECT_EQ(h.rgtc1_fit_indices, nullptr);
  EXPECT_EQ(h.dxt1_compute_indices, nullptr);
}

// Frames with only this family's twins over the scalar set, top-down and
// bottom-up: single-channel textures identical, colour textures within 0.05 dB
// and differing only in the rare blocks a rounding near-tie decides.
TEST(SimdBlockFrames, TexturesMatchScalar) {
  REQUIRE_CPU(cpu_has_avx());
  for (const char* name : {"astronaut_alpha_512x512.bgra", "chelsea_451x300.bgra"}) {
    const Test_Image image = load_test_image(name);
    for (uint32_t code : {Texture_Code_Rgtc1_Luma, Texture_Code_Rgtc1_Alpha, Texture_Code_Dxt1,
                          Texture_Code_Dxt5})
      for (uint8_t quality = 1; quality <= 3; ++quality) {
        const bool single = code == Texture_Code_Rgtc1_Luma || code == Texture_Code_Rgtc1_Alpha;
        if (single && quality > 1) continue;
        const auto twins = [&](Dxt_Encoder_Context* context) {
          uint32_t mask = detect_simd_features(0xF8);
          if (quality == 3 && !single) mask &= ~uint32_t(Simd_Flag_Avx2);
          install_block_vector_kernels(context, mask);
        };
        for (bool bottom_up : {false, true}) {
          if (!single && bottom_up != (quality == 2)) continue;
          SCOPED_TRACE(testing::Message() << name << " code " << code << " q" << int(quality)
                                          << " bottom-up " << bottom_up);
          const auto scalar = encode_with(image, code, quality, 0, {}, bottom_up);
          const auto vector = encode_with(image, code, quality, 0, twins, bottom_up);
          if (single) {
            EXPECT_TRUE(scalar == vector);
            continue;
          }
          EXPECT_NEAR(frame_psnr(code, scalar, image), frame_psnr(code, vector, image), 0.05);
          const size_t block_bytes = code == Texture_Code_Dxt1 ? 8 : 16;
          size_t differing = 0;
          for (size_t at = 0; at < scalar.size(); at += block_bytes)
            differing += std::memcmp(&scalar[at], &vector[at], block_bytes) != 0;
          EXPECT_LT(differing * 100, scalar.size() / block_bytes);
        }
      }
  }
}

}  // namespace
