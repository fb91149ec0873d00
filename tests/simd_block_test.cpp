// The vector twins of the cluster set-up kernels against a model of their
// arithmetic and against the scalar packs, the single-channel and DXT1 twins
// against the scalar kernels on random blocks (ties included), and a DXT1
// block whose endpoints hang on the precision of the initial axis.
// The pinned texture digests hold every form's bytes on whole frames.
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
  if (n == 15) {  // fifteen colours from sixteen pixels: one of them twice
    std::fill(set.weights, set.weights + 15, 1.0f);
    set.weights[maker.below(15)] = std::sqrt(2.0f);
  }
  return set;
}

// An infinity or NaN in any channel makes the sum one too.
bool finite_axis(const float* a) { return std::isfinite(a[0] + a[1] + a[2]); }

// Sum of the per-colour terms t[0..n) in the grouping of the vector axis
// kernels: pairs t_k + t_(k+4) for 5 to 7 colours and t_k + t_(k+8) above 8,
// then a tree of pairs.
float vector_group_sum(const float t[16], uint32_t n) {
  if (n == 2) return t[0] + t[1];
  if (n == 3) return (t[0] + t[1]) + t[2];
  float a[8] = {};
  const uint32_t width = n <= 4 ? 4 : n <= 8 ? (n == 8 ? 8 : 4) : 8;
  for (uint32_t k = 0; k < n; ++k) a[k % width] += t[k];  // at most two terms a lane
  if (width == 4) return (a[0] + a[1]) + (a[2] + a[3]);
  return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}

// The vector kernels' axis: weighted means, centred covariance with w dX dY
// formed as (w dX) dY, start at the row sums, four normalisations by the
// signed largest component with three products between them. Sixteen colours
// are unweighted; fifteen take the total weight 14 + sqrt(2). False when a
// step has no positive largest component (the kernels then fall back).
bool vector_axis_model(const Colour_Set& set, uint32_t n, float axis[3]) {
  float w[16] = {}, t[16];
  for (uint32_t k = 0; k < n; ++k) w[k] = n == 16 ? 1.0f : set.weights[k];
  const auto sum = [&](auto term) {
    for (uint32_t k = 0; k < n; ++k) t[k] = term(k);
    return vector_group_sum(t, n);
  };
  const float total = n == 16 ? 16.0f : n == 15 ? 15.414213f : sum([&](uint32_t k) { return w[k]; });
  float mean[3], m[3][3];
  for (int c = 0; c < 3; ++c)
    mean[c] = sum([&](uint32_t k) { return n == 16 ? set.colours[k][c] : w[k] * set.colours[k][c]; }) /
              total;
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j)
      m[i][j] = m[j][i] = sum([&](uint32_t k) {
        const float di = set.colours[k][i] - mean[i], dj = set.colours[k][j] - mean[j];
        return n == 16 ? dj * di : (w[k] * dj) * di;
      });
  float v[3];
  for (int i = 0; i < 3; ++i) v[i] = (m[0][i] + m[1][i]) + m[2][i];
  for (int pass = 0; pass < 4; ++pass) {
    const float largest = std::max(std::max(v[1], v[0]), v[2]);
    if (!(largest > 0.0f)) return false;
    for (float& x : v) x *= 1.0f / largest;
    if (pass == 3) break;
    float next[3];
    for (int i = 0; i < 3; ++i) next[i] = (m[0][i] * v[0] + m[1][i] * v[1]) + m[2][i] * v[2];
    std::copy(next, next + 3, v);
  }
  std::copy(v, v + 3, axis);
  return finite_axis(axis);
}

TEST(SimdClusterSetup, PrincipalAxisAndKeysByCount) {
  REQUIRE_CPU(cpu_has_avx());
  Dxt_Encoder_Context context{};
  install_cs_kernels(&context, Pix_Fmt_Bgra8, 0);
  Block_Maker maker(8);
  for (uint32_t n = 2; n <= 16; ++n) {
    const uint32_t extent = n <= 4 ? 4 : n <= 8 ? 8 : n == 9 ? 9 : n <= 12 ? 12 : 16;
    for (int trial = 0; trial < 1500; ++trial) {
      const Colour_Set set = random_set(maker, n);
      float want[4] = {}, got[4] = {};
      context.head.cs_kernels.principal_axis[n - 2](want, set.colours, set.weights);
      cs_axis_avx_kernels.principal_axis[n - 2](got, set.colours, set.weights);
      ASSERT_TRUE(finite_axis(want) && finite_axis(got));
      float model[3];
      // Where the model has no direction the kernel falls back (checked below).
      if (vector_axis_model(set, n, model)) {
        ASSERT_EQ(std::memcmp(model, got, sizeof model), 0) << n << " trial " << trial;
      }

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

  // Exact in binary, so no rounding tips the rule: one R + G + B, so that
  // M (1, 1, 1) is exactly zero, no direction to follow.
  const float source[4][3] = {
      {0.75f, 0.25f, 0.5f}, {0.25f, 0.75f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.25f, 0.25f, 1.0f}};
  for (uint32_t n : {2u, 4u}) {
    Colour_Set set{};
    for (uint32_t k = 0; k < n; ++k) std::copy(source[k], source[k] + 3, set.colours[k]);
    std::fill(set.weights, set.weights + n, 1.0f);
    float want[4] = {}, got[4] = {};
    context.head.cs_kernels.principal_axis[n - 2](want, set.colours, set.weights);
    cs_axis_avx_kernels.principal_axis[n - 2](got, set.colours, set.weights);
    ASSERT_TRUE(finite_axis(got) && std::memcmp(want, got, 12) == 0) << n;
  }
}

TEST(SimdClusterSetup, PacksMatchScalar) {
  REQUIRE_CPU(cpu_has_avx2());
  Block_Maker maker(9);
  for (int n = 0; n < 50000; ++n) {
    alignas(32) float endpoints[8];
    for (int k = 0; k < 8; ++k) {  // on the grid, halfway between two levels, or anywhere
      const uint32_t levels = k % 4 == 1 ? 63 : 31, way = maker.below(4);
      endpoints[k] = way == 0   ? float(maker.below(levels + 1)) / float(levels)
                     : way == 1 ? (float(maker.below(levels)) + 0.5f) / float(levels)
                                : float(maker.below(1u << 24)) / float(1u << 24);
    }
    // 5:6:5 fields: the second endpoint equal to the first, one step away, or anywhere.
    uint8_t fields[8] = {uint8_t(maker.below(32)), uint8_t(maker.below(64)),
                         uint8_t(maker.below(32)), 0};
    std::copy(fields, fields + 4, fields + 4);
    const uint32_t way = maker.below(3), field = maker.below(3);
    if (way == 1) fields[4 + field] = uint8_t(fields[field] ^ 1);
    for (int c = 0; c < 3 && way == 2; ++c) fields[4 + c] = uint8_t(maker.below(c == 1 ? 64 : 32));
    if (n % 5 == 0) std::copy(endpoints, endpoints + 4, endpoints + 4);
    uint8_t indices[16];
    for (uint8_t& i : indices) i = uint8_t(maker.below(4));
    uint64_t want = 1, got = 2;
    dxt1_pack_block_from_float(endpoints, indices, &want);
    dxt1_pack_block_from_float_avx2(endpoints, indices, &got);
    ASSERT_EQ(want, got);
    dxt1_pack_block_from_565(fields, indices, &want);
    dxt1_pack_block_from_565_avx2(fields, indices, &got);
    ASSERT_EQ(want, got);
  }
  // The fourth byte of an endpoint is OR-ed into its colour word unshifted.
  const uint8_t marked[8] = {0, 0, 0, 1, 0, 0, 0, 0}, indices[16] = {2, 0, 3};
  uint64_t block = 0;
  dxt1_pack_block_from_565_avx2(marked, indices, &block);
  EXPECT_EQ(block, 1u | uint64_t(2 | 3 << 4) << 32);
}

TEST(SimdSingleChannel, FitIndicesMatchScalar) {
  const auto twins = runnable<Rgtc1_Fit_Indices_Fn>(
      {{rgtc1_fit_indices_avx, cpu_has_avx()}, {rgtc1_fit_indices_avx2, cpu_has_avx2()}});
  REQUIRE_CPU(!twins.empty());
  Block_Maker maker(3);
  for (int n = 0; n < 5000; ++n) {
    uint8_t values[16], palette[8] = {};
    for (uint8_t& p : palette) p = n > 0 ? maker.byte() : 0;  // block 0: the largest error
    if (n % 3 == 0) palette[maker.below(8)] = palette[maker.below(8)];  // equal entries tie
    for (uint8_t& v : values) {
      // Values halfway between two entries test the lower-index rule.
      const uint32_t a = palette[maker.below(8)], b = palette[maker.below(8)];
      v = n == 0 ? 255 : maker.below(2) ? uint8_t((a + b) / 2) : maker.byte();
    }
    uint8_t want[16], got[16];
    int64_t want_error = -1, got_error = -2;
    const int64_t want_result = rgtc1_fit_indices(values, palette, want, &want_error);
    ASSERT_TRUE(n > 0 || want_result == 16 * 255 * 255);
    for (const auto twin : twins) {
      ASSERT_EQ(want_result, twin(values, palette, got, &got_error));
      ASSERT_TRUE(want_error == got_error && std::memcmp(want, got, 16) == 0);
    }
  }
}

// Loaded blocks (planar R, G, B) of every kind.
std::vector<std::array<uint8_t, 48>> loaded_blocks(int count, uint32_t seed) {
  std::vector<std::array<uint8_t, 48>> out;
  uint64_t result;
  for (const Pixels& p : test_blocks(count, seed))
    to_rgba_template_dxt_q2(out.emplace_back().data(), p.data(), nullptr, nullptr, 16, 0, 0,
                            &result);
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
      ASSERT_TRUE(want0 == got0 && want1 == got1);
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
}

// A block whose initial axis has 512 as its largest weight only when the scale
// is taken in double (in single precision it comes out at 511): every kernel
// form gives these endpoints and this colour block.
TEST(SimdDxt1, InitialAxisScaledInDoubleFixesTheseEndpoints) {
  const uint8_t bgra[64] = {
      198, 71, 136, 255, 200, 80, 127, 255, 193, 81, 128, 255, 197, 75, 130, 255,
      201, 79, 130, 255, 193, 84, 127, 255, 197, 74, 137, 255, 201, 78, 135, 255,
      201, 75, 137, 255, 202, 73, 135, 255, 193, 76, 132, 255, 193, 81, 124, 255,
      197, 76, 133, 255, 193, 75, 131, 255, 192, 73, 126, 255, 204, 76, 135, 255};
  Dxt_Kernel_Head scalar{};
  scalar.dxt_load_block_q1 = to_rgba_template_dxt_q1;
  scalar.dxt_load_block_q2 = to_rgba_template_dxt_q2;
  scalar.dxt1_compute_indices = dxt1_compute_indices;
  scalar.dxt1_initial_endpoints = dxt1_initial_endpoints;
  scalar.dxt1_refine_endpoints = dxt1_refine_endpoints;
  std::vector<std::pair<const char*, Dxt_Kernel_Head>> forms = {{"scalar", scalar}};
  if (cpu_has_avx()) {
    Dxt_Kernel_Head avx = scalar;
    avx.dxt_load_block_q1 = to_rgba_template_dxt_q1_avx;
    avx.dxt_load_block_q2 = to_rgba_template_dxt_q2_avx;
    avx.dxt1_compute_indices = dxt1_compute_indices_avx;
    avx.dxt1_initial_endpoints = dxt1_initial_endpoints_avx;
    avx.dxt1_refine_endpoints = dxt1_refine_endpoints_avx;
    forms.emplace_back("avx", avx);
    if (cpu_has_avx2()) {
      Dxt_Kernel_Head avx2 = avx;
      avx2.dxt1_compute_indices = dxt1_compute_indices_avx2;
      avx2.dxt1_initial_endpoints = dxt1_initial_endpoints_avx2;
      if (cpu_has_fma()) avx2.dxt1_refine_endpoints = dxt1_refine_endpoints_avx2_fma;
      forms.emplace_back("avx2", avx2);
    }
  }
  for (const auto& [name, head] : forms) {
    alignas(32) uint8_t block[48];
    uint64_t range = 0;
    head.dxt_load_block_q2(block, bgra, nullptr, nullptr, 16, 0, 0, &range);
    uint16_t c0 = 0, c1 = 0;
    uint32_t sums[8] = {};
    head.dxt1_initial_endpoints(block, &c0, &c1, sums);
    // Single precision gives 0x8259 for c0, and the block 59 8A 97 7A FE AE 7A BE.
    EXPECT_TRUE(range == 13 && c0 == 0x8A78 && c1 == 0x7A97) << name << " " << c0 << " " << c1;
    for (uint8_t quality : {1, 2}) {  // a span below 15 keeps quality 2 off the cluster fit
      const uint8_t* planes[4] = {bgra, nullptr, nullptr, nullptr};
      const int64_t strides[4] = {16, 0, 0, 0};
      uint8_t out[8];
      encode_dxt1_color_block(head, out, planes, strides, quality);
      const uint8_t want[8] = {0x58, 0x82, 0x97, 0x7A, 0xB8, 0x0E, 0xE0, 0x28};
      EXPECT_EQ(0, std::memcmp(out, want, 8)) << name << " q" << int(quality);
    }
  }
}

}  // namespace
