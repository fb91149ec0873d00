// The vector partition sweeps of the cluster fit (stages D, E and the stage F
// of two and three colours) against a one-candidate-at-a-time reference that
// follows each form's rounding, against the scalar kernels of their slots, and
// end to end through the encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/texture_test_frames.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"
#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd_features.h"

namespace {

// How a form snaps to the grid: the scalar kernels half away from zero, the
// AVX kernels half to even, the FMA kernels by truncating a fused v*s + 0.5
// (with products fused into sums as well).
enum class Rounding { Away, Even, Fused };

struct Outcome {
  Cluster_Fit_Best best;
  Partition_Code code;
  bool tie = false;  // some grid product fell exactly on a half
};

const Cluster_Fit_Best Initial_Best = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
const Partition_Code Initial_Code = {0, 0, 1};

const float* sums_at(const Cluster_Partition_Sums& sums, uint64_t byte_offset) {
  return reinterpret_cast<const float*>(reinterpret_cast<const char*>(sums.data) + byte_offset);
}

float fused_or_not(Rounding r, float x, float y, float z) {  // x * y + z
  return r == Rounding::Fused ? std::fma(x, y, z) : x * y + z;
}

// Offers partition (i1, i2, i3) of n colours to out, computed from its bounds
// alone with the formulas of the given rounding.
void offer(Outcome& out, const Cluster_Partition_Sums& sums, uint32_t n, const uint8_t* bounds,
           Rounding rounding) {
  const uint32_t i1 = bounds[0], i2 = bounds[1], i3 = bounds[2];
  const float* whole0 = sums_at(sums, cluster_run_offset(n, 0, i1));
  const float* third1 = sums_at(sums, cluster_run_offset(n, i1, i2) + 16);
  const float* third2 = sums_at(sums, cluster_run_offset(n, i2, i3) + 16);
  const float* whole3 = sums_at(sums, cluster_run_offset(n, i3, n));
  const float x = *sums_at(sums, cluster_middle_weight_offset(n, i1, i3));
  float alpha[4], beta[4];
  for (int l = 0; l < 4; ++l) {
    alpha[l] = (third1[4 + l] + third2[l]) + whole0[l];
    beta[l] = (third1[l] + third2[4 + l]) + whole3[l];
  }
  const float aa = alpha[3], bb = beta[3];
  const float r = 1.0f / fused_or_not(rounding, -x, x, aa * bb);
  const float scale[3] = {31.0f, 63.0f, 31.0f};
  const float step[3] = {std::bit_cast<float>(0x3D042108u), std::bit_cast<float>(0x3C820821u),
                         std::bit_cast<float>(0x3D042108u)};
  float a[3], b[3], error = 0.0f;
  bool tie = false;
  const auto snap = [&](float v, int l) {
    v = std::max(std::min(v, 1.0f), 0.0f);
    const float level = v * scale[l];
    tie = tie || level - std::floor(level) == 0.5f;
    switch (rounding) {
      case Rounding::Away:
        return std::round(level) * step[l];
      case Rounding::Even:
        return std::nearbyint(level) * step[l];
      default:
        return std::trunc(std::fma(v, scale[l], 0.5f)) * step[l];
    }
  };
  for (int l = 0; l < 3; ++l) {
    a[l] = snap(fused_or_not(rounding, -x, beta[l], bb * alpha[l]) * r, l);
    b[l] = snap(fused_or_not(rounding, -x, alpha[l], aa * beta[l]) * r, l);
    float t = (a[l] * b[l]) * x;
    t = fused_or_not(rounding, -a[l], alpha[l], t);
    t = fused_or_not(rounding, -b[l], beta[l], t);
    const float u = fused_or_not(rounding, a[l] * a[l], aa, (b[l] * b[l]) * bb);
    const float e = fused_or_not(rounding, 2.0f, t, u);
    error = l == 0 ? e : error + e;
  }
  out.tie = out.tie || tie;
  if (!(error < out.best.error)) return;
  out.best = {{a[0], a[1], a[2], 0.0f}, {b[0], b[1], b[2], 0.0f}, error};
  out.code = {bounds[0], bounds[1], bounds[2]};
}

Outcome reference(const Outcome& start, const Cluster_Partition_Sums& sums, uint32_t n,
                  const Partition_List& list, Rounding rounding) {
  Outcome out = start;
  for (uint32_t i = 0; i < list.count; ++i) offer(out, sums, n, list.codes + 3 * i, rounding);
  return out;
}

Outcome run(Cluster_Fit_Stage_Fn kernel, const Outcome& start, const Cluster_Partition_Sums& sums,
            const Partition_List& list) {
  Outcome out = start;
  kernel(&out.best, &out.code, &sums, list.entries, list.codes);
  return out;
}

// Bit for bit, endpoints with their fourth lanes included.
void expect_same(const Outcome& x, const Outcome& y, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(std::memcmp(&x.best, &y.best, offsetof(Cluster_Fit_Best, error) + 4), 0)
      << x.best.error << " vs " << y.best.error;
  EXPECT_EQ(x.code.i1, y.code.i1);
  EXPECT_EQ(x.code.i2, y.code.i2);
  EXPECT_EQ(x.code.i3, y.code.i3);
}

struct Block {
  uint32_t n;
  float weighted[64];
};

// n distinct colours (some blocks on the extremes 0 and 255 only, others
// clustered tightly), weights the square roots of counts summing to 16,
// ordered by brightness as a stand-in for the principal axis.
Block random_block(std::mt19937& rng, uint32_t n) {
  Block block{n, {}};
  std::uniform_int_distribution<int> byte(0, 255);
  const int kind = byte(rng) % 3;
  const int base = byte(rng), spread = kind == 1 ? 12 : 256;
  std::vector<std::array<int, 3>> colours;
  while (colours.size() < n) {
    std::array<int, 3> c;
    for (int& v : c)
      v = kind == 0 && n <= 8 ? (byte(rng) & 1) * 255
                              : std::clamp(base + byte(rng) % spread - spread / 2, 0, 255);
    if (kind == 0 && n > 8) c[byte(rng) % 3] = byte(rng) & 1 ? 255 : 0;
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  std::sort(colours.begin(), colours.end(),
            [](const auto& p, const auto& q) { return p[0] + p[1] + p[2] < q[0] + q[1] + q[2]; });
  uint32_t counts[16];
  std::fill(counts, counts + n, 1u);
  for (uint32_t extra = 16 - n; extra > 0; --extra) ++counts[rng() % n];
  for (uint32_t k = 0; k < n; ++k) {
    const float w = std::sqrt(float(counts[k]));
    for (int l = 0; l < 3; ++l) block.weighted[4 * k + l] = w * (float(colours[k][l]) / 255.0f);
    block.weighted[4 * k + 3] = w;
  }
  return block;
}

class ClusterSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!cpu_has_avx()) GTEST_SKIP() << "no AVX";
    for (Dxt_Encoder_Context* c : {&scalar_, &avx_, &fma_}) {
      c->texture_code = Texture_Code_Dxt1;
      c->quality = 3;
      install_cluster_fit_kernels(c);
    }
    install_cluster_sweep_vector_kernels(&avx_, Simd_Flag_Enable | Simd_Flag_Avx);
    has_fma_ = cpu_has_fma();
    if (has_fma_)
      install_cluster_sweep_vector_kernels(&fma_, Simd_Flag_Enable | Simd_Flag_Avx | Simd_Flag_Fma);
  }

  // Stage A, then (when warm) the scalar stages B and C so that the best held
  // comes from earlier stages as in a real block.
  Outcome prepare(const Block& block, bool warm) {
    scalar_.head.cluster_partition_sums[block.n - 2](block.weighted, &sums_);
    Outcome start{Initial_Best, Initial_Code};
    if (!warm || block.n < 3) return start;
    const Dxt_Kernel_Head& h = scalar_.head;
    const Cluster_Fit_Lists& lists = cluster_fit_lists(block.n);
    h.cluster_fit_mean_pairs[block.n - 2](&start.best, &start.code, &sums_);
    if (block.n >= 5)
      h.cluster_fit_three_levels[block.n - 2](&start.best, &start.code, &sums_,
                                              lists.three_levels.entries, lists.three_levels.codes);
    return start;
  }

  // One stage of one block in every form; returns whether a grid tie occurred.
  bool check_stage(uint32_t n, const Outcome& start, const Partition_List& list,
                   const Cluster_Fit_Stage_Fn* (*slot_of)(const Dxt_Kernel_Head&, uint32_t)) {
    const Outcome scalar = run(*slot_of(scalar_.head, n), start, sums_, list);
    const Outcome away = reference(start, sums_, n, list, Rounding::Away);
    expect_same(scalar, away, "scalar kernel vs reference");
    const Outcome even = reference(start, sums_, n, list, Rounding::Even);
    const Outcome avx = run(*slot_of(avx_.head, n), start, sums_, list);
    expect_same(avx, even, "AVX kernel vs reference");
    if (!even.tie) expect_same(avx, scalar, "AVX kernel vs scalar kernel");
    if (has_fma_) {
      // Two colours keep the AVX stage F here: its FMA form is another family's.
      const Cluster_Fit_Stage_Fn kernel = *slot_of(fma_.head, n);
      const Rounding rounding = kernel == *slot_of(avx_.head, n) ? Rounding::Even : Rounding::Fused;
      const Outcome fused = run(kernel, start, sums_, list);
      expect_same(fused, reference(start, sums_, n, list, rounding), "FMA vs reference");
      EXPECT_NEAR(fused.best.error, scalar.best.error, 2e-6 * (1.0 + std::fabs(scalar.best.error)));
    }
    return even.tie;
  }

  Dxt_Encoder_Context scalar_{}, avx_{}, fma_{};
  bool has_fma_ = false;
  Cluster_Partition_Sums sums_;
};

const Cluster_Fit_Stage_Fn* four_levels_slot(const Dxt_Kernel_Head& h, uint32_t n) {
  return &h.cluster_fit_four_levels[n - 2];
}
const Cluster_Fit_Stage_Fn* records_slot(const Dxt_Kernel_Head& h, uint32_t n) {
  return &h.cluster_fit_records[n - 2];
}
const Cluster_Fit_Stage_Fn* final_slot(const Dxt_Kernel_Head& h, uint32_t n) {
  return &h.cluster_fit_final[n - 2];
}

}  // namespace

TEST_F(ClusterSweep, EveryCountAndStageMatchesItsReference) {
  std::mt19937 rng(20261206);
  int ties = 0;
  for (uint32_t n = 2; n <= 15; ++n) {
    const Cluster_Fit_Lists& lists = cluster_fit_lists(n);
    for (int trial = 0; trial < 200; ++trial) {
      SCOPED_TRACE(testing::Message() << "n " << n << " trial " << trial);
      const Block block = random_block(rng, n);
      const Outcome start = prepare(block, trial % 2 == 1);
      if (n >= 5) ties += check_stage(n, start, lists.four_levels, four_levels_slot);
      ties += check_stage(n, start, lists.records, records_slot);
      if (n <= 3) ties += check_stage(n, start, lists.final, final_slot);
      if (HasFailure()) return;
    }
  }
  RecordProperty("grid_ties", ties);
}

// The documented difference: a product that is exactly k + 0.5 snaps to the
// even level in the AVX form and away from zero in the scalar form.
TEST_F(ClusterSweep, HalfwayGridProductsRoundToEvenInTheAvxForm) {
  float red = 0.0f;
  for (int k = 2; k < 31 && red == 0.0f; k += 2)
    for (float v = (k + 0.5f) / 31.0f, tries = 0; tries < 8; ++tries, v = std::nextafter(v, 1.0f))
      if (v * 31.0f == k + 0.5f) {
        red = v;
        break;
      }
  ASSERT_GT(red, 0.0f);
  // Two colours of weight 1: partition (1, 1, 1) puts A exactly on colour 0.
  const Block block{2, {red, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f}};
  const Outcome start = prepare(block, false);
  const Partition_List& last = cluster_fit_lists(2).final;
  const Outcome scalar = run(*final_slot(scalar_.head, 2), start, sums_, last);
  const Outcome avx = run(dxt_cluster_fit_block_n2_avx, start, sums_, last);
  ASSERT_EQ(avx.code.i1, 1);
  ASSERT_EQ(scalar.code.i1, 1);
  const float level = red * 31.0f;
  EXPECT_EQ(avx.best.a[0] * 31.0f, std::nearbyint(level));
  EXPECT_EQ(scalar.best.a[0] * 31.0f, std::round(level));
  EXPECT_NE(avx.best.a[0], scalar.best.a[0]);
  EXPECT_EQ(avx.best.b[2], 1.0f);
}

TEST_F(ClusterSweep, EqualErrorsKeepTheFirstAndTheBestHeld) {
  // Red and blue, weight 1: the middle two of the four two-colour records tie
  // at -16/9 and the first of them stays.
  const Block block{2, {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f}};
  const Outcome start = prepare(block, false);
  const Partition_List& records = cluster_fit_lists(2).records;
  std::vector<const Cluster_Fit_Stage_Fn*> kernels = {records_slot(avx_.head, 2)};
  if (has_fma_) kernels.push_back(records_slot(fma_.head, 2));
  for (const Cluster_Fit_Stage_Fn* kernel : kernels) {
    Outcome out = run(*kernel, start, sums_, records);
    EXPECT_EQ(out.code.i1, 1);
    EXPECT_EQ(out.code.i2, 1);
    EXPECT_EQ(out.code.i3, 2);
    EXPECT_EQ(out.best.error, -1.7777778f);
    const float a[4] = {1, 0, 0, 0}, b[4] = {0, 0, 1, 0};
    EXPECT_EQ(std::memcmp(out.best.a, a, 16), 0);
    EXPECT_EQ(std::memcmp(out.best.b, b, 16), 0);
    // Run again over its own result: an equal error writes nothing.
    std::fill_n(out.best.a, 4, 0.5f);
    out.code = {7, 7, 7};
    const Outcome again = run(*kernel, out, sums_, records);
    EXPECT_EQ(std::memcmp(&again.best, &out.best, sizeof out.best), 0);
    EXPECT_EQ(again.code.i1, 7);
  }
}

TEST_F(ClusterSweep, TwoColoursBlackAndWhiteEndOnTheColours) {
  const Block block{2, {0.0f, 0.0f, 0.0f, 1.0f, 2.0f, 2.0f, 2.0f, 2.0f}};
  const Outcome start = prepare(block, false);
  const Cluster_Fit_Lists& lists = cluster_fit_lists(2);
  Outcome out = run(*records_slot(avx_.head, 2), start, sums_, lists.records);
  out = run(dxt_cluster_fit_block_n2_avx, out, sums_, lists.final);
  EXPECT_EQ(out.code.i1, 1);
  EXPECT_EQ(out.code.i2, 1);
  EXPECT_EQ(out.code.i3, 1);
  for (int l = 0; l < 3; ++l) {
    EXPECT_EQ(out.best.a[l], 0.0f);
    EXPECT_EQ(out.best.b[l], 1.0f);
  }
}

TEST(ClusterSweepInstall, FillsItsSlotsOnlyForSearchedDxtCodes) {
  const auto installed = [](uint32_t code, uint8_t quality, uint32_t mask) {
    Dxt_Encoder_Context c{};
    c.texture_code = code;
    c.quality = quality;
    install_cluster_fit_kernels(&c);
    install_cluster_sweep_vector_kernels(&c, mask);
    return c.head;
  };
  const uint32_t avx = Simd_Flag_Enable | Simd_Flag_Avx, fma = avx | Simd_Flag_Fma;
  Dxt_Kernel_Head h = installed(Texture_Code_Dxt5, 2, avx);
  EXPECT_EQ(h.cluster_fit_four_levels[9 - 2], cluster_fit_four_levels_n_avx<9>);
  EXPECT_EQ(h.cluster_fit_records[14 - 2], cluster_fit_records_n_avx<14>);
  EXPECT_EQ(h.cluster_fit_final[2 - 2], dxt_cluster_fit_block_n2_avx);
  EXPECT_EQ(h.cluster_fit_final[3 - 2], dxt_cluster_fit_block_n3_avx);
  EXPECT_EQ(h.cluster_fit_final[7 - 2], dxt_cluster_fit_block);  // another family's slot
  h = installed(Texture_Code_Dxt1, 3, fma);
  EXPECT_EQ(h.cluster_fit_four_levels[5 - 2], cluster_fit_four_levels_n_avx_fma<5>);
  EXPECT_EQ(h.cluster_fit_records[2 - 2], cluster_fit_records_n_avx_fma<2>);
  EXPECT_EQ(h.cluster_fit_final[3 - 2], dxt_cluster_fit_block_n3_avx_fma);
  const Dxt_Kernel_Head scalar = installed(Texture_Code_Dxt1, 3, 0);
  for (auto [code, quality, mask] :
       {std::tuple{Texture_Code_Dxt1, 1, fma}, std::tuple{Texture_Code_Ycocg_Dxt5, 3, fma},
        std::tuple{Texture_Code_Dxt1, 3, uint32_t(Simd_Flag_Avx)},
        std::tuple{Texture_Code_Dxt5, 2, uint32_t(Simd_Flag_Enable)}}) {
    h = installed(code, uint8_t(quality), mask);
    EXPECT_EQ(std::memcmp(&h, &scalar, sizeof h), 0) << code << " q" << quality;
  }
}

// A DXT1 texture of the image with the given set-up mask, then with this
// family's kernels installed over it under sweep_mask (none when 0).
std::vector<uint8_t> encode_dxt1(const Test_Image& image, uint8_t quality, uint32_t mask,
                                 uint32_t sweep_mask) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(setup_dxt_encoder(&context, uint16_t(image.width), uint16_t(image.height),
                              Texture_Code_Dxt1, quality, 0, Pix_Fmt_Bgra8, Pad_Mode_Edge, 1, mask),
            0u);
  if (sweep_mask != 0) install_cluster_sweep_vector_kernels(&context, sweep_mask);
  std::vector<uint8_t> texture(dxt_texture_size(uint16_t(image.width), uint16_t(image.height),
                                                Texture_Code_Dxt1, Pad_Mode_Edge));
  const uint8_t* planes[4] = {image.bgra.data(), nullptr, nullptr, nullptr};
  const int64_t strides[4] = {int64_t(image.width) * 4, 0, 0, 0};
  encode_dxt_frame(&context, texture.data(), planes, strides);
  return texture;
}

// Whole frames with vector kernels against none: the decoded pictures stay as
// close to their sources, with this family alone (AVX, then AVX with FMA) and
// with every family the processor allows (mask 0xF8).
TEST(ClusterSweepFrames, VectorKernelsKeepDxt1Quality) {
  if (!cpu_has_avx()) GTEST_SKIP() << "no AVX";
  const uint32_t avx = Simd_Flag_Enable | Simd_Flag_Avx;
  std::vector<std::pair<uint32_t, uint32_t>> masks = {{0x00, avx}};
  if (cpu_has_fma()) masks.push_back({0x00, avx | Simd_Flag_Fma});
  masks.push_back({0xF8, 0});
  for (const char* name : {"astronaut_512x512.bgra", "chelsea_451x300.bgra"}) {
    const Test_Image image = load_test_image(name);
    for (uint8_t quality : {2, 3}) {
      const double scalar =
          decoded_psnr(Tex::Dxt1, encode_dxt1(image, quality, 0, 0), image, false);
      EXPECT_GT(scalar, 25.0);
      for (auto [mask, sweep_mask] : masks) {
        SCOPED_TRACE(testing::Message() << name << " q" << int(quality) << " mask " << mask
                                        << " sweep mask " << sweep_mask);
        const std::vector<uint8_t> texture = encode_dxt1(image, quality, mask, sweep_mask);
        EXPECT_NEAR(decoded_psnr(Tex::Dxt1, texture, image, false), scalar, 0.05);
      }
    }
  }
}
