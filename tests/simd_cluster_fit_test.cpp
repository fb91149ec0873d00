// The AVX and AVX+FMA cluster-fit stages against the scalar stages of the same
// slots, on random blocks of every colour count, and end to end through the
// frame encoder.
//
// AVX stages must match the scalar ones exactly, unless the block has a
// candidate whose grid level lands exactly on k + 0.5 (half to even against
// half away from zero) or the stage is one whose products are associated
// differently (stage B, the 16-colour stage E); FMA stages must end within a
// tiny tolerance of the scalar error with endpoints on the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "tests/texture_test_frames.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd_features.h"

namespace {

struct Block {
  uint32_t n = 0;
  alignas(16) float weighted[64] = {};  // (w r, w g, w b, w), sorted
};

struct State {
  Cluster_Fit_Best best{};
  Partition_Code code{};
};

State fresh_state() {
  State s;
  s.best.error = FLT_MAX;
  s.code = {0, 0, 1};
  return s;
}

bool same_state(const State& x, const State& y) {
  const auto bits = [](const Cluster_Fit_Best& b) {
    std::array<uint32_t, 9> v{};
    for (int l = 0; l < 4; ++l) {
      v[l] = std::bit_cast<uint32_t>(b.a[l]);
      v[4 + l] = std::bit_cast<uint32_t>(b.b[l]);
    }
    v[8] = std::bit_cast<uint32_t>(b.error);
    return v;
  };
  return bits(x.best) == bits(y.best) && x.code.i1 == y.code.i1 && x.code.i2 == y.code.i2 &&
         x.code.i3 == y.code.i3;
}

std::string describe(const State& s) {
  char text[200];
  std::snprintf(text, sizeof text, "a (%g %g %g %g) b (%g %g %g %g) error %.9g code %d %d %d",
                s.best.a[0], s.best.a[1], s.best.a[2], s.best.a[3], s.best.b[0], s.best.b[1],
                s.best.b[2], s.best.b[3], s.best.error, s.code.i1, s.code.i2, s.code.i3);
  return text;
}

// n distinct colours (some at 0 or 255, some one step apart), multiplicities
// summing to 16 (weights sqrt(m); 1 for 16 colours), sorted by brightness.
Block random_block(std::mt19937& rng, uint32_t n) {
  std::uniform_int_distribution<int> byte(0, 255), pick(0, 9);
  std::vector<std::array<int, 3>> colours;
  while (colours.size() < n) {
    std::array<int, 3> c{};
    for (int& v : c) {
      const int kind = pick(rng);
      v = kind == 0 ? 0 : kind == 1 ? 255 : byte(rng);
    }
    if (!colours.empty() && pick(rng) < 3) {
      c = colours.back();
      c[pick(rng) % 3] ^= 1;
    }
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  std::sort(colours.begin(), colours.end(),
            [](const auto& x, const auto& y) { return x[0] + x[1] + x[2] < y[0] + y[1] + y[2]; });
  std::vector<int> multiplicity(n, 1);
  for (uint32_t extra = 16 - n; extra > 0; --extra)
    ++multiplicity[std::uniform_int_distribution<uint32_t>(0, n - 1)(rng)];
  Block b;
  b.n = n;
  for (uint32_t k = 0; k < n; ++k) {
    const float w = n == 16 ? 1.0f : std::sqrt(float(multiplicity[k]));
    for (int l = 0; l < 3; ++l) b.weighted[4 * k + l] = w * (float(colours[k][l]) / 255.0f);
    b.weighted[4 * k + 3] = w;
  }
  return b;
}

// ---- Exact half levels --------------------------------------------------------

bool half_level(float v, float levels) {
  const float x = std::clamp(v, 0.0f, 1.0f) * levels;
  return x - std::floor(x) == 0.5f;
}

bool any_half_level(const float* v) {
  return half_level(v[0], 31.0f) || half_level(v[1], 63.0f) || half_level(v[2], 31.0f);
}

const float* record_at(const Cluster_Partition_Sums& sums, uint64_t offset) {
  return sums.data + offset / 4;
}

// True when some partition of the block (every split and every partition into
// up to four clusters), solved as the scalar stages solve it, has a channel
// whose level lands exactly on a half.
bool block_has_half_level(uint32_t n, const Cluster_Partition_Sums& sums) {
  for (uint32_t i1 = 0; i1 <= n; ++i1)
    for (uint32_t i2 = i1; i2 <= n; ++i2)
      for (uint32_t i3 = i2; i3 <= n; ++i3) {
        const uint32_t cuts[5] = {0, i1, i2, i3, n};
        int used = 0;
        for (int k = 0; k < 4; ++k) used += cuts[k + 1] > cuts[k];
        if (used < 2) continue;
        const float* w0 = record_at(sums, cluster_run_offset(n, 0, i1));
        const float* m1 = record_at(sums, cluster_run_offset(n, i1, i2));
        const float* m2 = record_at(sums, cluster_run_offset(n, i2, i3));
        const float* w3 = record_at(sums, cluster_run_offset(n, i3, n));
        const float cross = *record_at(sums, cluster_middle_weight_offset(n, i1, i3));
        float x[4], y[4];
        for (int l = 0; l < 4; ++l) {
          x[l] = w0[l] + (m2[4 + l] + m1[8 + l]);
          y[l] = w3[l] + (m1[4 + l] + m2[8 + l]);
        }
        float f = 1.0f / (x[3] * y[3] - cross * cross);
        if (n == 16) {
          const int n0 = int(i1), n2 = int(i2 - i1), n3 = int(i3 - i2), n1 = 16 - int(i3);
          const long long d =
              (9ll * n0 + 4 * n2 + n3) * (9ll * n1 + n2 + 4 * n3) - 4ll * (n2 + n3) * (n2 + n3);
          f = float(81.0 / double(d));
        }
        float a[3], b[3];
        for (int l = 0; l < 3; ++l) {
          a[l] = (y[3] * x[l] - cross * y[l]) * f;
          b[l] = (x[3] * y[l] - cross * x[l]) * f;
        }
        if (any_half_level(a) || any_half_level(b)) return true;
        // The split between the two endpoints at i1, as stage B means it.
        if (i1 == i2 && i2 == i3 && i1 > 0 && i1 < n) {
          float p[3], q[3];
          for (int l = 0; l < 3; ++l) {
            p[l] = n == 16 ? (i1 == 1 ? w0[l] : w0[l] * (1.0f / float(i1))) : w0[l] / w0[3];
            q[l] = n == 16 ? (i1 == 15 ? w3[l] : w3[l] * (1.0f / float(16 - i1))) : w3[l] / w3[3];
          }
          if (any_half_level(p) || any_half_level(q)) return true;
        }
      }
  return false;
}

// ---- The stages of a count, scalar and vector ---------------------------------

enum Stage { Stage_B, Stage_C, Stage_D, Stage_E, Stage_F };

// Runs one stage of the head on the block's (scalar) sums.
void run_stage(const Dxt_Kernel_Head& head, Stage stage, uint32_t n,
               const Cluster_Partition_Sums& sums, State& s) {
  const size_t slot = n - 2;
  if (stage == Stage_B) {
    (n == 16 ? head.cluster_fit_n16_mean_pairs : head.cluster_fit_mean_pairs[slot])(
        &s.best, &s.code, &sums);
    return;
  }
  const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
  const Partition_List list = stage == Stage_C   ? lists.three_levels
                              : stage == Stage_D ? lists.four_levels
                              : stage == Stage_E ? lists.records
                                                 : lists.final;
  if (n == 16) {
    const Cluster_Fit_N16_Stage_Fn kernels[] = {
        head.cluster_fit_n16_three_levels, head.cluster_fit_n16_four_levels,
        head.cluster_fit_n16_records, head.cluster_fit_n16_final};
    kernels[stage - Stage_C](&s.best, &s.code, &sums, reciprocal_determinant_table(),
                             list.entries, list.codes);
    return;
  }
  const Cluster_Fit_Stage_Fn kernels[] = {
      head.cluster_fit_three_levels[slot], head.cluster_fit_four_levels[slot],
      head.cluster_fit_records[slot], head.cluster_fit_final[slot]};
  kernels[stage - Stage_C](&s.best, &s.code, &sums, list.entries, list.codes);
}

bool stage_exists(Stage stage, uint32_t n) {
  switch (stage) {
    case Stage_B:
      return n >= 3;
    case Stage_C:
    case Stage_D:
      return n >= 5;
    case Stage_E:
      return true;
    case Stage_F:
      return final_counts[n] > 0;
  }
  return false;
}

// The stages this family replaces, by count.
bool vector_stage(Stage stage, uint32_t n, bool fma) {
  if (n == 16) return true;
  switch (stage) {
    case Stage_B:
      return n >= 3;
    case Stage_C:
      return n >= 5;
    case Stage_F:
      return n == 7 || n == 8 || n == 10 || n == 11 || n == 15 || (n == 2 && fma);
    default:
      return false;
  }
}

Dxt_Kernel_Head scalar_head() {
  Dxt_Encoder_Context context{};
  install_cluster_fit_kernels(&context);
  return context.head;
}

Dxt_Kernel_Head vector_head(bool fma) {
  Dxt_Encoder_Context context{};
  install_cluster_fit_kernels(&context);
  install_cluster_fit_vector_kernels(
      &context, Simd_Flag_Enable | Simd_Flag_Avx | (fma ? uint32_t(Simd_Flag_Fma) : 0u));
  return context.head;
}

bool on_grid(const float* v) {
  const float levels[3] = {31.0f, 63.0f, 31.0f};
  for (int l = 0; l < 3; ++l) {
    const float x = v[l] * levels[l];
    if (v[l] < 0.0f || v[l] > 1.0f || std::fabs(x - std::round(x)) > 1e-4f) return false;
  }
  return v[3] == 0.0f;
}

bool skip_without(bool fma) { return !cpu_has_avx() || (fma && !cpu_has_fma()); }

class Cluster_Fit_Vector : public testing::TestWithParam<bool> {};

// Each vector stage from the state the scalar stages before it leave, against
// the scalar stage from the same state.
TEST_P(Cluster_Fit_Vector, StagesMatchScalarOnRandomBlocks) {
  const bool fma = GetParam();
  if (skip_without(fma)) GTEST_SKIP() << "processor lacks the instruction set";
  const Dxt_Kernel_Head scalar = scalar_head(), vector = vector_head(fma);
  std::mt19937 rng(fma ? 71 : 17);
  int compared = 0, other_choice = 0;
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 300; ++trial) {
      const Block block = random_block(rng, n);
      Cluster_Partition_Sums sums;
      scalar.cluster_partition_sums[n - 2](block.weighted, &sums);
      const bool half = block_has_half_level(n, sums);
      State before = fresh_state();
      for (Stage stage : {Stage_B, Stage_C, Stage_D, Stage_E, Stage_F}) {
        if (!stage_exists(stage, n)) continue;
        const State incoming = before;
        State expected = before, got = before;
        run_stage(scalar, stage, n, sums, expected);
        run_stage(vector, stage, n, sums, got);
        before = expected;
        if (!vector_stage(stage, n, fma)) continue;
        ++compared;
        SCOPED_TRACE("n " + std::to_string(n) + " stage " + std::to_string(int(stage)) +
                     "\n scalar " + describe(expected) + "\n vector " + describe(got));
        ASSERT_LE(got.best.error, incoming.best.error);
        ASSERT_TRUE(got.best.error == FLT_MAX || (on_grid(got.best.a) && on_grid(got.best.b)));
        const bool associated_apart = stage == Stage_B || (n == 16 && stage == Stage_E);
        if (same_state(expected, got)) continue;
        if (!fma && !associated_apart) {
          ASSERT_TRUE(half) << "differs without a half level";
          continue;
        }
        // Last-bit differences: the errors agree closely, and another
        // partition or endpoint is chosen only on a near tie.
        State chosen = got;
        chosen.best.error = expected.best.error;
        if (!same_state(expected, chosen)) ++other_choice;
        const float tolerance = 2e-5f * std::max(1.0f, std::fabs(expected.best.error));
        if (!half) {
          ASSERT_NEAR(got.best.error, expected.best.error, tolerance);
        }
      }
    }
  // Differences stay rare.
  EXPECT_LT(other_choice, compared / 100) << other_choice << " of " << compared;
}

// A stage whose best candidate only equals the stored error leaves the record.
TEST_P(Cluster_Fit_Vector, EqualErrorKeepsTheRecord) {
  const bool fma = GetParam();
  if (skip_without(fma)) GTEST_SKIP() << "processor lacks the instruction set";
  const Dxt_Kernel_Head scalar = scalar_head(), vector = vector_head(fma);
  std::mt19937 rng(5);
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 20; ++trial) {
      const Block block = random_block(rng, n);
      Cluster_Partition_Sums sums;
      scalar.cluster_partition_sums[n - 2](block.weighted, &sums);
      for (Stage stage : {Stage_B, Stage_C, Stage_D, Stage_E, Stage_F}) {
        if (!vector_stage(stage, n, fma)) continue;
        State first = fresh_state();
        run_stage(vector, stage, n, sums, first);
        // The same error held by a record with other contents.
        State again = fresh_state();
        again.best.error = first.best.error;
        again.code = {7, 7, 7};
        const State kept = again;
        run_stage(vector, stage, n, sums, again);
        ASSERT_TRUE(same_state(kept, again)) << "n " << n << " stage " << int(stage);
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Cluster_Fit_Vector, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AvxFma" : "Avx"; });

// A float whose single-precision product with 31 is exactly level + 0.5.
float half_level_fraction(float level) {
  float x = (level + 0.5f) / 31.0f;
  for (int step = 0; step < 64 && x * 31.0f != level + 0.5f; ++step)
    x = std::nextafter(x, x * 31.0f < level + 0.5f ? 1.0f : 0.0f);
  return x;
}

// Three colours whose best split puts colour 0 alone at the start: its red
// level lands on 14.5 (even neighbour 14 in AVX, 15 in the scalar stage) or on
// 15.5 (16 in both).
TEST(ClusterFitVectorRounding, HalfLevelsRoundToEvenInAvx) {
  if (!cpu_has_avx()) GTEST_SKIP() << "processor lacks AVX";
  const Dxt_Kernel_Head scalar = scalar_head(), avx = vector_head(false);
  const float step = std::bit_cast<float>(0x3D042108u);
  for (float level : {14.0f, 15.0f}) {
    const float red = half_level_fraction(level);
    ASSERT_EQ(red * 31.0f, level + 0.5f);
    Block block;
    block.n = 3;
    const float colours[3][3] = {{red, 0, 0}, {1, 1, 254 / 255.0f}, {1, 1, 1}};
    for (int k = 0; k < 3; ++k) {
      for (int l = 0; l < 3; ++l) block.weighted[4 * k + l] = colours[k][l];
      block.weighted[4 * k + 3] = 1.0f;
    }
    Cluster_Partition_Sums sums;
    scalar.cluster_partition_sums[1](block.weighted, &sums);
    State s = fresh_state(), v = fresh_state();
    run_stage(scalar, Stage_B, 3, sums, s);
    run_stage(avx, Stage_B, 3, sums, v);
    ASSERT_EQ(s.code.i1, 1);
    ASSERT_EQ(v.code.i1, 1);
    EXPECT_EQ(s.best.a[0], (level + 1) * step);
    EXPECT_EQ(v.best.a[0], (level == 14.0f ? 14.0f : 16.0f) * step);
  }
}

// ---- Stage A ------------------------------------------------------------------

// Sums and cross weights bit for bit from count 7 (and the whole table for 2
// and 3); every scaled field within a last-bit tolerance.
TEST(ClusterFitVectorSums, MatchScalarTables) {
  if (!cpu_has_avx()) GTEST_SKIP() << "processor lacks AVX";
  const Dxt_Kernel_Head scalar = scalar_head(), vector = vector_head(false);
  std::mt19937 rng(3);
  for (uint32_t n = 2; n <= 16; ++n)
    for (int trial = 0; trial < 200; ++trial) {
      const Block block = random_block(rng, n);
      Cluster_Partition_Sums expected, got;
      std::memset(&got, 0xFF, sizeof got);
      scalar.cluster_partition_sums[n - 2](block.weighted, &expected);
      vector.cluster_partition_sums[n - 2](block.weighted, &got);
      const size_t floats = cluster_partition_sums_bytes(n) / 4;
      const size_t run_floats = cluster_middle_weights_offset(n) / 4;
      for (size_t i = 0; i < floats; ++i) {
        const float e = expected.data[i], g = got.data[i];
        const bool sum_field = i >= run_floats || i % 12 < 4;
        SCOPED_TRACE("n " + std::to_string(n) + " float " + std::to_string(i));
        if (n <= 3 || (n >= 7 && sum_field))
          ASSERT_EQ(std::bit_cast<uint32_t>(e), std::bit_cast<uint32_t>(g));
        else
          ASSERT_NEAR(g, e, 2e-6f * std::max(1.0f, std::fabs(e)));
      }
    }
}

// Counts 4 to 6 pair some runs from two halves instead of growing them by one
// colour: those entries are exactly the sum of their two halves.
TEST(ClusterFitVectorSums, SmallCountsPairTheirHalves) {
  if (!cpu_has_avx()) GTEST_SKIP() << "processor lacks AVX";
  struct Pairing {
    uint32_t n, first, middle, end;
    bool cross;
  };
  const Pairing pairings[] = {{4, 0, 2, 4, true},  {5, 0, 2, 4, false}, {5, 1, 3, 5, false},
                              {5, 0, 2, 4, true},  {5, 0, 3, 5, true},  {5, 1, 3, 5, true},
                              {6, 0, 2, 4, false}, {6, 0, 3, 6, true},  {6, 1, 4, 6, true}};
  std::mt19937 rng(11);
  for (int trial = 0; trial < 50; ++trial)
    for (const Pairing& p : pairings) {
      const Block block = random_block(rng, p.n);
      Cluster_Partition_Sums sums;
      vector_head(false).cluster_partition_sums[p.n - 2](block.weighted, &sums);
      if (p.cross) {
        const auto at = [&](uint32_t first, uint32_t end) {
          return *record_at(sums, cluster_middle_weight_offset(p.n, first, end));
        };
        EXPECT_EQ(at(p.first, p.end), at(p.first, p.middle) + at(p.middle, p.end));
      } else {
        const auto at = [&](uint32_t first, uint32_t end) {
          return record_at(sums, cluster_run_offset(p.n, first, end));
        };
        for (int l = 0; l < 4; ++l)
          EXPECT_EQ(at(p.first, p.end)[l], at(p.first, p.middle)[l] + at(p.middle, p.end)[l]);
      }
    }
}

TEST(ClusterFitVectorSums, SixteenColoursUseLengthConstants) {
  if (!cpu_has_avx()) GTEST_SKIP() << "processor lacks AVX";
  Block block;
  block.n = 16;
  for (int k = 0; k < 16; ++k)
    for (int l = 0; l < 4; ++l) block.weighted[4 * k + l] = l == 3 ? 2.0f : 0.25f;  // not 1
  Cluster_Partition_Sums sums;
  cluster_partition_sums_n_avx<16>(block.weighted, &sums);
  const float* cross = sums.data + cluster_middle_weights_offset(16) / 4;
  EXPECT_EQ(cross[0], 0.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(cross[1]), 0x3E638E39u);
  EXPECT_EQ(cross[9], 2.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(cross[16]), 0x40638E39u);
}

// ---- Installation -------------------------------------------------------------

TEST(ClusterFitVectorInstall, FillsOnlyWithItsBits) {
  const Dxt_Kernel_Head scalar = scalar_head();
  Dxt_Encoder_Context no_avx{};
  install_cluster_fit_kernels(&no_avx);
  install_cluster_fit_vector_kernels(&no_avx, Simd_Flag_Enable | Simd_Flag_Fma);
  EXPECT_EQ(std::memcmp(&no_avx.head, &scalar, sizeof scalar), 0);
  Dxt_Encoder_Context not_enabled{};
  install_cluster_fit_kernels(&not_enabled);
  install_cluster_fit_vector_kernels(&not_enabled, Simd_Flag_Avx | Simd_Flag_Fma);
  EXPECT_EQ(std::memcmp(&not_enabled.head, &scalar, sizeof scalar), 0);
  // Without the scalar cluster fit (other texture codes) nothing is filled.
  Dxt_Encoder_Context empty{};
  install_cluster_fit_vector_kernels(&empty, Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Fma);
  EXPECT_EQ(empty.head.cluster_partition_sums[5], nullptr);
  EXPECT_EQ(empty.head.cluster_fit_n16_records, nullptr);

  const Dxt_Kernel_Head avx = vector_head(false), fma = vector_head(true);
  EXPECT_EQ(avx.cluster_partition_sums[7 - 2], &cluster_partition_sums_n_avx<7>);
  EXPECT_EQ(fma.cluster_partition_sums[7 - 2], &cluster_partition_sums_n_avx<7>);
  EXPECT_EQ(avx.cluster_fit_mean_pairs[9 - 2], &cluster_fit_mean_pairs_n_avx<9>);
  EXPECT_EQ(fma.cluster_fit_three_levels[12 - 2], &cluster_fit_three_levels_n_avx_fma<12>);
  EXPECT_EQ(avx.cluster_fit_final[2 - 2], scalar.cluster_fit_final[2 - 2]);
  EXPECT_EQ(fma.cluster_fit_final[2 - 2], &dxt_cluster_fit_block_n_avx_fma<2>);
  EXPECT_EQ(avx.cluster_fit_final[3 - 2], scalar.cluster_fit_final[3 - 2]);
  EXPECT_EQ(avx.cluster_fit_final[10 - 2], &dxt_solve_least_squares_n10_avx);
  EXPECT_EQ(fma.cluster_fit_n16_four_levels, &cluster_fit_four_levels_n16_avx_fma);
  EXPECT_EQ(avx.cluster_fit_n16_final, &dxt_cluster_fit_block_alt_n16_avx);
  // Stages D and E below 16 colours belong to the sweep family.
  EXPECT_EQ(avx.cluster_fit_four_levels[9 - 2], scalar.cluster_fit_four_levels[9 - 2]);
  EXPECT_EQ(fma.cluster_fit_records[9 - 2], scalar.cluster_fit_records[9 - 2]);
}

// ---- End to end ---------------------------------------------------------------

// A frame through the scalar set-up with only this family's vector kernels put
// in (mask 0: none), so that the comparison measures this family alone.
std::vector<uint8_t> encode_with_cluster_fit_mask(const Test_Image& image, uint32_t code,
                                                  uint8_t quality, uint32_t mask) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(setup_dxt_encoder(&context, uint16_t(image.width), uint16_t(image.height), code,
                              quality, 0, Pix_Fmt_Bgra8, Pad_Mode_Edge, 1, 0),
            0u);
  install_cluster_fit_vector_kernels(&context, detect_simd_features(mask));
  std::vector<uint8_t> texture(
      dxt_texture_size(uint16_t(image.width), uint16_t(image.height), code, Pad_Mode_Edge));
  const uint8_t* planes[4] = {image.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(image.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, texture.data(), planes, strides);
  return texture;
}

struct Frame_Case {
  const char* file;
  uint32_t code;
  uint8_t quality;
};

class Cluster_Fit_Vector_Frames : public testing::TestWithParam<Frame_Case> {};

// Decoded quality of the vector cluster fit (AVX, then AVX+FMA) within
// 0.05 dB of the scalar one, alone and with every vector family (0xF8).
TEST_P(Cluster_Fit_Vector_Frames, DecodedQualityMatchesScalar) {
  if (!cpu_has_avx()) GTEST_SKIP() << "processor lacks AVX";
  const Frame_Case c = GetParam();
  const Test_Image image = load_test_image(c.file);
  ASSERT_GT(image.width, 0);
  const Tex kind = c.code == Texture_Code_Dxt1 ? Tex::Dxt1 : Tex::Dxt5;
  const double scalar_psnr =
      decoded_psnr(kind, encode_with_cluster_fit_mask(image, c.code, c.quality, 0), image, false);
  for (uint32_t mask : {0x28u, 0x68u}) {
    const double psnr = decoded_psnr(
        kind, encode_with_cluster_fit_mask(image, c.code, c.quality, mask), image, false);
    EXPECT_NEAR(psnr, scalar_psnr, 0.05) << "mask " << mask;
  }
  Encode_Request request;
  request.texture_code = c.code;
  request.quality = c.quality;
  request.mask = 0xF8;
  EXPECT_NEAR(decoded_psnr(kind, encode_frame(image, request).value(), image, false), scalar_psnr,
              0.05)
      << "every vector family";
}

INSTANTIATE_TEST_SUITE_P(Images, Cluster_Fit_Vector_Frames,
                         testing::Values(Frame_Case{"astronaut_512x512.bgra", Texture_Code_Dxt1, 2},
                                         Frame_Case{"astronaut_512x512.bgra", Texture_Code_Dxt1, 3},
                                         Frame_Case{"coffee_600x400.bgra", Texture_Code_Dxt1, 3},
                                         Frame_Case{"chelsea_451x300.bgra", Texture_Code_Dxt5, 2},
                                         Frame_Case{"coffee_600x400.bgra", Texture_Code_Dxt5, 3}));

}  // namespace
