// Vector twins of the YCoCg-DXT5 and CoCg endpoint kernels against the scalar
// kernels of their slots: the loaders and the final pack bit for bit, the
// others identical on almost every block and, where a rounding makes them
// differ, no worse than the scalar result; then whole frames through set-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/texture_test_frames.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd_features.h"
#include "texture_encoder/ycocg_block.h"

namespace {

using Pixels = std::array<uint8_t, 64>;  // 16 BGRA pixels, row-major
using Block16 = std::array<uint8_t, 16>;

bool has_avx2_fma() { return cpu_has_avx2() && cpu_has_fma(); }

#define REQUIRE_CPU(condition) \
  if (!(condition)) GTEST_SKIP() << "processor lacks " #condition

// Random blocks of several kinds: noise, flat colour, small variations
// around a colour, extremes 0/255, greys, colours on a line, near-neutral
// chroma (large scales), black with any alpha, and chroma right on the
// scale limits.
std::vector<Pixels> test_blocks(int count, unsigned seed) {
  std::mt19937 rng(seed);
  const auto byte = [&] { return uint8_t(rng() & 0xFF); };
  const auto near = [&](int v, int spread) {
    return uint8_t(std::clamp(v + int(rng() % (2 * spread + 1)) - spread, 0, 255));
  };
  std::vector<Pixels> blocks;
  for (int n = 0; n < count; ++n) {
    Pixels p{};
    const int kind = n % 10;
    const uint8_t r0 = byte(), g0 = byte(), b0 = byte();
    for (int i = 0; i < 16; ++i) {
      uint8_t* px = &p[4 * i];
      px[3] = byte();
      switch (kind) {
        case 0:
          px[0] = byte(), px[1] = byte(), px[2] = byte();
          break;
        case 1:
          px[0] = b0, px[1] = g0, px[2] = r0;
          break;
        case 2:
          px[0] = near(b0, 3), px[1] = near(g0, 3), px[2] = near(r0, 3);
          break;
        case 3:
          px[0] = rng() & 1 ? 255 : 0, px[1] = rng() & 1 ? 255 : 0, px[2] = rng() & 1 ? 255 : 0;
          break;
        case 4:
          px[0] = px[1] = px[2] = near(g0, 40);
          break;
        case 5: {
          const int t = int(rng() % 64);
          px[0] = near(b0 / 2 + t, 1), px[1] = near(g0 / 2 + t, 1), px[2] = near(r0 / 2 + 2 * t, 1);
          break;
        }
        case 6:
          px[0] = near(128, 12), px[1] = near(128, 6), px[2] = near(128, 12);
          break;
        case 7:
        case 8:  // Co exactly 32 or 64 codes from neutral: the scale limits
        case 9: {
          const int b = 20 + int(rng() % 100);
          px[0] = uint8_t(b), px[1] = g0;
          px[2] = uint8_t(b + (i % 2 ? (kind == 8 ? 63 : 127) : 0));
          break;
        }
          px[0] = n % 16 ? 0 : byte(), px[1] = 0, px[2] = n % 24 ? 0 : byte();
          break;
      }
    }
    blocks.push_back(p);
  }
  return blocks;
}

// Sum of squared B, G, R differences between a decoded block and its source.
int64_t decoded_error(const Block16& block, const Pixels& source) {
  uint8_t decoded[64];
  decode_ycocg_dxt5_block(block.data(), decoded);
  int64_t error = 0;
  for (int i = 0; i < 64; ++i) {
    if (i % 4 == 3) continue;
    const int d = int(decoded[i]) - int(source[i]);
    error += d * d;
  }
  return error;
}

// A kernel head of the scalar set of one quality, with some slots replaced.
struct Block_Encoder {
  Dxt_Encoder_Context context{};
  Block_Encoder(int quality, const std::function<void(Dxt_Kernel_Head&)>& patch = {}) {
    EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
    if (patch) patch(context.head);
  }
  Block16 encode(const Pixels& pixels) const {
    const uint8_t* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int64_t strides[4] = {16, 0, 0, 0};
    Block16 out{};
    context.slice_worker(context.head, out.data(), planes, strides);
    return out;
  }
};

// Whole blocks through the scalar set and through the set with the vector
// kernels patched in: at most max_differing blocks in 10000 may differ, and
// those decode no worse than the scalar block but for slack per pixel. At
// quality 1 a difference is one code step at a rounding boundary; at quality
// 2 and 3 a near-tie of the search can also pick a pair whose bit-replicated
// decode lies a little further off.
void expect_blocks_match(int quality, const std::function<void(Dxt_Kernel_Head&)>& patch,
                         int max_differing, int64_t slack_per_pixel = 3) {
  const Block_Encoder scalar(quality), vector(quality, patch);
  const std::vector<Pixels> blocks = test_blocks(4000, 7u + unsigned(quality));
  int differing = 0;
  for (const Pixels& p : blocks) {
    const Block16 s = scalar.encode(p), v = vector.encode(p);
    if (s == v) continue;
    ++differing;
    const int64_t es = decoded_error(s, p), ev = decoded_error(v, p);
    EXPECT_LE(ev, es + es / 20 + 16 * slack_per_pixel) << "block " << (&p - blocks.data());
  }
  EXPECT_LE(differing * 10000, max_differing * int(blocks.size()));
}

TEST(SimdYcocgLoad, RecordsAndFlagsAreBitIdentical) {
  const std::vector<Pixels> blocks = test_blocks(2000, 1u);
  for (auto [load, available] : {std::pair{&ycocg_load_block_avx, cpu_has_avx()},
                                 std::pair{&ycocg_load_block_avx2, cpu_has_avx2()}}) {
    if (!available) continue;
    for (const Pixels& p : blocks) {
      for (bool bottom_up : {false, true}) {
        const uint8_t* src = bottom_up ? p.data() + 48 : p.data();
        const int64_t stride = bottom_up ? -16 : 16;
        Ycocg_Block expected, got;
        std::memset(&expected, 0x5A, sizeof expected);
        std::memset(&got, 0x5A, sizeof got);
        uint64_t expected_black = 7, got_black = 7;
        ycocg_load_block(&expected, src, stride, &expected_black);
        load(&got, src, stride, &got_black);
        ASSERT_EQ(got_black, expected_black);
        if (got_black) {
          Ycocg_Block untouched;
          std::memset(&untouched, 0x5A, sizeof untouched);
          EXPECT_EQ(std::memcmp(&got, &untouched, sizeof got), 0);
          continue;
        }
        EXPECT_EQ(std::memcmp(got.y, expected.y, sizeof got.y + 2 * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(&got.cocg, &expected.cocg, sizeof got.cocg), 0);
      }
    }
  }
}

TEST(SimdYcocgQuality1, LumaAndChromaTwinsMatchTheScalarBlocks) {
  REQUIRE_CPU(cpu_has_avx());
  // AVX: the same arithmetic but for 1/14 as a product and the endpoint
  // rounding, both visible only on exact ties.
  expect_blocks_match(
      1, [](Dxt_Kernel_Head& h) { h.ycocg_encode_y_alpha = ycocg_encode_y_alpha_avx; }, 5);
  expect_blocks_match(
      1, [](Dxt_Kernel_Head& h) { h.ycocg_encode_cocg = ycocg_encode_cocg_avx; }, 5);
  if (!has_avx2_fma()) return;
  // Fused products move values near a rounding boundary.
  expect_blocks_match(
      1, [](Dxt_Kernel_Head& h) { h.ycocg_encode_y_alpha = ycocg_encode_y_alpha_avx2_fma; }, 200);
  expect_blocks_match(
      1, [](Dxt_Kernel_Head& h) { h.ycocg_encode_cocg = ycocg_encode_cocg_avx2_fma; }, 200);
  expect_blocks_match(
      1, [](Dxt_Kernel_Head& h) { h.ycocg_encode_cocg_flat = ycocg_encode_cocg_flat_avx2_fma; },
      200);
}

TEST(SimdYcocgQuality1, FlatChromaGetsOneIndexAndTheDiagonalFollowsCovariance) {
  REQUIRE_CPU(has_avx2_fma());
  // Co and Cg constant, Y varying: one index repeated in all 16 places.
  Pixels flat{};
  for (int i = 0; i < 16; ++i)
    flat[4 * i] = flat[4 * i + 1] = flat[4 * i + 2] = uint8_t(40 + 8 * i);
  const Block_Encoder vector(1, [](Dxt_Kernel_Head& h) {
    h.ycocg_encode_cocg_flat = ycocg_encode_cocg_flat_avx2_fma;
    h.ycocg_encode_cocg = ycocg_encode_cocg_avx2_fma;
  });
  const Block16 out = vector.encode(flat);
  uint32_t indices;
  std::memcpy(&indices, &out[12], 4);
  EXPECT_EQ(indices, (indices & 3) * 0x55555555u);
  // Co rising while Cg falls: colour0 carries the Co maximum with the Cg minimum.
  Pixels falling{};
  for (int i = 0; i < 16; ++i) {
    falling[4 * i + 2] = uint8_t(60 + 10 * i);  // R up: Co up, Cg down
    falling[4 * i + 1] = 120;
  }
  const Block16 f = vector.encode(falling);
  const int c0 = f[8] | f[9] << 8, c1 = f[10] | f[11] << 8;
  EXPECT_GT(c0 >> 11, c1 >> 11);
  EXPECT_LT(c0 >> 5 & 63, c1 >> 5 & 63);
}

TEST(SimdYcocgQuality23, WholeSetsMatchTheScalarBlocks) {
  REQUIRE_CPU(has_avx2_fma());
  expect_blocks_match(
      2, [](Dxt_Kernel_Head& h) { h.ycocg_encode_y_alpha = ycocg_encode_y_alpha_hq_avx2_fma; },
      200);
  Dxt_Encoder_Context vector_set{};
  for (int quality : {2, 3}) {
    vector_set.texture_code = Texture_Code_Ycocg_Dxt5;
    vector_set.pix_fmt = Pix_Fmt_Bgra8;
    vector_set.quality = uint8_t(quality);
    ASSERT_EQ(install_ycocg_set(&vector_set, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
    install_ycocg_vector_kernels(&vector_set, 0xF8);
    const Dxt_Kernel_Head head = vector_set.head;
    expect_blocks_match(
        quality, [&](Dxt_Kernel_Head& h) { h = head; }, 500, 12);
  }
}

// ---- CoCg endpoint kernels one by one ------------------------------------------

TEST(SimdCocgEndpoints, FinalPackIsBitIdentical) {
  REQUIRE_CPU(has_avx2_fma());
  const Cocg_Endpoint_Kernels scalar = cocg_endpoint_kernels_scalar(2);
  std::mt19937 rng(3);
  alignas(32) float d[64];
  for (int n = 0; n < 5000; ++n) {
    for (float& v : d) v = float(rng() % (n % 2 ? 4 : 1000)) / 7.0f;  // many ties
    uint32_t expected = 1, got = 2;
    scalar.final_pack(d, &expected);
    cocg_final_pack_avx2(d, &got);
    ASSERT_EQ(got, expected) << n;
  }
}

// Chroma boxes: random, from loaded blocks, with exchanged Cg ends, flat, and
// at the extremes.
std::vector<std::array<float, 4>> test_boxes() {
  std::vector<std::array<float, 4>> boxes;
  for (const Pixels& p : test_blocks(3000, 11u)) {
    Ycocg_Block b;
    uint64_t black = 0;
    ycocg_load_block(&b, p.data(), 16, &black);
    if (black) continue;
    const float* box = b.cocg.cocg_box;
    boxes.push_back({box[0], box[1], box[2], box[3]});
    boxes.push_back({box[0], box[3], box[2], box[1]});
  }
  boxes.push_back({0.0f, 0.0f, 1.0f, 1.0f});
  boxes.push_back({1.0f, 1.0f, 1.0f, 1.0f});
  boxes.push_back({0.0f, 0.0f, 0.0f, 0.0f});
  boxes.push_back({96.0f / 255, 160.0f / 255, 160.0f / 255, 96.0f / 255});
  return boxes;
}

TEST(SimdCocgEndpoints, InsetAndWidenedBoxesAgreeWithinOneCode) {
  REQUIRE_CPU(has_avx2_fma());
  const Cocg_Endpoint_Kernels scalar = cocg_endpoint_kernels_scalar(2);
  const Cocg_Inset_Bbox_Fn vector[6] = {inset_bbox_565_s0_avx_fma, inset_bbox_565_s1_avx_fma,
                                        inset_bbox_565_s2_avx_fma, inset_bbox_565_s3_avx_fma,
                                        inset_bbox_565_s4_avx_fma, inset_bbox_565_s5_avx_fma};
  const auto boxes = test_boxes();
  for (int k = 0; k < 6; ++k) {
    int differing = 0;
    for (const auto& box : boxes) {
      alignas(16) float in[4] = {box[0], box[1], box[2], box[3]};
      Cocg_Candidate s, v;
      scalar.inset_bbox[k](in, &s);
      vector[k](in, &v);
      const int32_t sv[4] = {s.a0, s.b0, s.a1, s.b1}, vv[4] = {v.a0, v.b0, v.a1, v.b1};
      for (int i = 0; i < 4; ++i) {
        EXPECT_GE(vv[i], 0);
        EXPECT_LE(vv[i], i % 2 ? 63 : 31);
        EXPECT_LE(std::abs(vv[i] - sv[i]), 1) << "member " << k;
      }
      differing += std::memcmp(&s, &v, sizeof s) != 0;
    }
    EXPECT_LE(differing * 100, int(boxes.size())) << "member " << k;
  }
}

// A flat or varying chroma block from a loaded test block.
std::vector<Ycocg_Block> chroma_blocks(bool flat) {
  std::vector<Ycocg_Block> out;
  for (Pixels p : test_blocks(1600, flat ? 21u : 22u)) {
    if (flat) {
      for (int i = 1; i < 16; ++i) std::memcpy(&p[4 * i], &p[0], 3);
    }
    Ycocg_Block b;
    uint64_t black = 0;
    ycocg_load_block(&b, p.data(), 16, &black);
    if (!black) out.push_back(b);
  }
  return out;
}

// The error of a candidate in double precision from its single-precision
// palette: the fourth powers of each pixel's smallest distance, over pixel 0
// alone (flat) or all 16. Two candidates whose scalar errors differ by a
// rounding may be ranked either way; this judges them without that rounding.
double reference_error(const Cocg_Block& b, const Cocg_Candidate& c, int scale, bool flat) {
  const auto decode = [scale](int32_t code, float max) {
    const float v = float(code) * (1.0f / max);
    return scale == 1 ? v : (v - ycocg::neutral) * (1.0f / float(scale)) + ycocg::neutral;
  };
  const double hi_co = decode(c.a1, 31.0f), hi_cg = decode(c.b1, 63.0f);
  const double lo_co = decode(c.a0, 31.0f), lo_cg = decode(c.b0, 63.0f);
  const double p_co[4] = {hi_co, lo_co, hi_co + (lo_co - hi_co) / 3,
                          hi_co + 2 * (lo_co - hi_co) / 3};
  const double p_cg[4] = {hi_cg, lo_cg, hi_cg + (lo_cg - hi_cg) / 3,
                          hi_cg + 2 * (lo_cg - hi_cg) / 3};
  double error = 0.0;
  for (int i = 0; i < (flat ? 1 : 16); ++i) {
    double e = 1e30;
    for (int k = 0; k < 4; ++k) {
      e = std::min(
          e, (b.co[i] - p_co[k]) * (b.co[i] - p_co[k]) + (b.cg[i] - p_cg[k]) * (b.cg[i] - p_cg[k]));
    }
    error += e * e;
  }
  return error;
}

// The vector kernel's choice is as good as the scalar one's up to rounding.
void expect_as_good(const Cocg_Block& b, const Cocg_Candidate& vector_best,
                    const Cocg_Candidate& scalar_best, int scale, bool flat) {
  const double v = reference_error(b, vector_best, scale, flat),
               s = reference_error(b, scalar_best, scale, flat);
  EXPECT_LE(v, s * (1 + 1e-4) + 1e-14) << v << " vs " << s;
}

struct Search_State {
  float best_error = FLT_MAX;
  Cocg_Candidate candidate{}, best{-1, -1, -1, -1};
  alignas(32) float distances[64] = {};
  alignas(32) float cache[32] = {};
};

// Candidates from the box, also pushed to the ends of the code ranges.
std::vector<Cocg_Candidate> candidates_for(const float box[4], int k) {
  Cocg_Candidate c;
  inset_bbox_565_s0_avx_fma(box, &c);
  return {c,
          {std::max(c.a0 - k, 0), std::max(c.b0 - k, 0), c.a1, c.b1},
          {c.a0, c.b0, 31, 63},
          {0, 0, 30, 62}};
}

TEST(SimdCocgEndpoints, QualityTwoTrialsKeepTheFirstBestStep) {
  REQUIRE_CPU(has_avx2_fma());
  const Cocg_Endpoint_Kernels scalar = cocg_endpoint_kernels_scalar(2);
  const Cocg_Endpoint_Trial_Fn vector[3] = {cocg_endpoint_trial_s0_q2_avx2_fma,
                                            cocg_endpoint_trial_s1_q2_avx2_fma,
                                            cocg_endpoint_trial_s2_q2_avx2_fma};
  int compared = 0, differing = 0;
  for (Ycocg_Block& b : chroma_blocks(true)) {
    for (int g = 0; g < 3; ++g) {
      for (const Cocg_Candidate& c : candidates_for(b.cocg.cocg_box, g + 1)) {
        Search_State s, v;
        scalar.endpoint_trial[g](&b.cocg, &s.best_error, &c, s.distances, &s.best);
        vector[g](&b.cocg, &v.best_error, &c, v.distances, &v.best);
        ++compared;
        if (std::memcmp(&s.best, &v.best, sizeof s.best) != 0) {
          ++differing;
          expect_as_good(b.cocg, v.best, s.best, 1 << g, true);
        }
        // Not strictly better: nothing written.
        Search_State again = v;
        vector[g](&b.cocg, &again.best_error, &c, again.distances, &again.best);
        EXPECT_EQ(std::memcmp(&again, &v, sizeof v), 0);
      }
    }
  }
  EXPECT_LE(differing * 20, compared);
  // High endpoint already at the top: every lane is the same pair, lane 0 wins.
  Ycocg_Block b = chroma_blocks(true).front();
  Search_State v;
  const Cocg_Candidate top{3, 5, 31, 63};
  cocg_endpoint_trial_s0_q2_avx2_fma(&b.cocg, &v.best_error, &top, v.distances, &v.best);
  EXPECT_EQ(std::memcmp(&v.best, &top, sizeof top), 0);
}

// One low endpoint's walk as the encoders do it: the first pair, then up to
// two next pairs while the high endpoint can still move.
void walk(const Cocg_Endpoint_Kernels& k, int g, int quality, Cocg_Block* block, Search_State* s,
          std::vector<Cocg_Candidate>* trail) {
  k.endpoint_search[g](block, &s->best_error, &s->candidate, s->distances, &s->best, s->cache);
  trail->push_back(s->candidate);
  for (int n = 0; n < 2; ++n) {
    const bool can_move =
        quality == 2 ? s->candidate.a1 < 31 || s->candidate.b1 < 63 : s->candidate.b1 < 63;
    if (!can_move) break;
    k.endpoint_search[3 + g](block, &s->best_error, &s->candidate, s->distances, &s->best,
                             s->cache);
    trail->push_back(s->candidate);
  }
}

TEST(SimdCocgEndpoints, SearchStepsAdvanceLikeTheScalarAndFindTheSameBest) {
  REQUIRE_CPU(has_avx2_fma());
  for (int quality : {2, 3}) {
    Dxt_Encoder_Context context{};
    context.texture_code = Texture_Code_Ycocg_Dxt5;
    context.pix_fmt = Pix_Fmt_Bgra8;
    context.quality = uint8_t(quality);
    ASSERT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
    const Cocg_Endpoint_Kernels scalar = context.head.cocg_endpoint_kernels;
    install_ycocg_vector_kernels(&context, 0xF8);
    const Cocg_Endpoint_Kernels vector = context.head.cocg_endpoint_kernels;
    int compared = 0, differing = 0;
    for (Ycocg_Block& b : chroma_blocks(false)) {
      for (int g = 0; g < 3; ++g) {
        Search_State s, v;
        for (const Cocg_Candidate& c : candidates_for(b.cocg.cocg_box, g + 2)) {
          s.candidate = v.candidate = c;
          std::vector<Cocg_Candidate> s_trail, v_trail;
          walk(scalar, g, quality, &b.cocg, &s, &s_trail);
          walk(vector, g, quality, &b.cocg, &v, &v_trail);
          ASSERT_EQ(v_trail.size(), s_trail.size());
          EXPECT_EQ(
              std::memcmp(v_trail.data(), s_trail.data(), v_trail.size() * sizeof(Cocg_Candidate)),
              0);
        }
        ++compared;
        if (std::memcmp(&s.best, &v.best, sizeof s.best) != 0) {
          ++differing;
          expect_as_good(b.cocg, v.best, s.best, 1 << g, false);
          continue;
        }
        uint32_t s_word, v_word;
        cocg_final_pack_avx2(s.distances, &s_word);
        cocg_final_pack_avx2(v.distances, &v_word);
        EXPECT_EQ(v_word, s_word);
      }
    }
    EXPECT_LE(differing * 10, compared) << "quality " << quality;
  }
}

TEST(SimdCocgEndpoints, SearchWithoutImprovementOnlyAdvancesTheCandidate) {
  REQUIRE_CPU(has_avx2_fma());
  Ycocg_Block b = chroma_blocks(false).front();
  Search_State v;
  v.best_error = 0.0f;  // nothing can beat it
  v.candidate = {2, 3, 29, 62};
  const Search_State before = v;
  cocg_endpoint_search_s0_q2_avx_fma(&b.cocg, &v.best_error, &v.candidate, v.distances, &v.best,
                                     v.cache);
  EXPECT_EQ(v.best_error, 0.0f);
  EXPECT_EQ(std::memcmp(&v.best, &before.best, sizeof v.best), 0);
  EXPECT_EQ(std::memcmp(v.distances, before.distances, sizeof v.distances), 0);
  EXPECT_EQ(v.candidate.a1, 30);
  EXPECT_EQ(v.candidate.b1, 63);
  cocg_endpoint_search_s3_q2_avx_fma(&b.cocg, &v.best_error, &v.candidate, v.distances, &v.best,
                                     v.cache);
  EXPECT_EQ(v.candidate.a1, 31);
  EXPECT_EQ(v.candidate.b1, 63);
  cocg_endpoint_search_s3_q3_avx_fma(&b.cocg, &v.best_error, &v.candidate, v.distances, &v.best,
                                     v.cache);
  EXPECT_EQ(v.candidate.a1, 31);
}

TEST(SimdYcocgInstall, FollowsQualityAndMaskBits) {
  const auto installed = [](uint32_t code, int quality, uint32_t mask) {
    Dxt_Encoder_Context context{};
    context.texture_code = code;
    context.pix_fmt = Pix_Fmt_Bgra8;
    context.quality = uint8_t(quality);
    EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
    install_ycocg_vector_kernels(&context, mask);
    return context.head;
  };
  const Dxt_Kernel_Head scalar2 = installed(Texture_Code_Ycocg_Dxt5, 2, 0);
  const Dxt_Kernel_Head scalar3 = installed(Texture_Code_Ycocg_Dxt5, 3, 0);
  // Without the enable bit, or for another texture, nothing changes.
  const Dxt_Kernel_Head no_enable = installed(Texture_Code_Ycocg_Dxt5, 2, 0xF0);
  EXPECT_EQ(std::memcmp(&no_enable, &scalar2, sizeof scalar2), 0);
  const Dxt_Kernel_Head other = installed(Texture_Code_Dxt5, 2, 0xF8);
  EXPECT_EQ(other.ycocg_load_block, scalar2.ycocg_load_block);
  // AVX alone: the loader and, at quality 1, the luma and chroma encoders.
  const Dxt_Kernel_Head avx1 = installed(Texture_Code_Ycocg_Dxt5, 1, 0x28);
  EXPECT_EQ(avx1.ycocg_load_block, &ycocg_load_block_avx);
  EXPECT_EQ(avx1.ycocg_encode_y_alpha, &ycocg_encode_y_alpha_avx);
  EXPECT_EQ(avx1.ycocg_encode_cocg, &ycocg_encode_cocg_avx);
  EXPECT_EQ(avx1.ycocg_encode_cocg_flat, &ycocg_encode_cocg_flat);
  const Dxt_Kernel_Head avx2 = installed(Texture_Code_Ycocg_Dxt5, 2, 0xA8);
  EXPECT_EQ(avx2.ycocg_load_block, &ycocg_load_block_avx2);
  EXPECT_EQ(std::memcmp(&avx2.cocg_endpoint_kernels, &scalar2.cocg_endpoint_kernels,
                        sizeof scalar2.cocg_endpoint_kernels),
            0);
  // AVX2 with FMA: the whole set, but quality 3 keeps its scalar trials.
  const Dxt_Kernel_Head full1 = installed(Texture_Code_Ycocg_Dxt5_Rgtc1, 1, 0xF8);
  EXPECT_EQ(full1.ycocg_encode_cocg_flat, &ycocg_encode_cocg_flat_avx2_fma);
  const Dxt_Kernel_Head full2 = installed(Texture_Code_Ycocg_Dxt5, 2, 0xF8);
  EXPECT_EQ(full2.ycocg_encode_y_alpha, &ycocg_encode_y_alpha_hq_avx2_fma);
  EXPECT_EQ(full2.cocg_endpoint_kernels.endpoint_trial[1], cocg_endpoint_trial_s1_q2_avx2_fma);
  EXPECT_EQ(full2.cocg_endpoint_kernels.endpoint_search[4], cocg_endpoint_search_s4_q2_avx_fma);
  const Dxt_Kernel_Head full3 = installed(Texture_Code_Ycocg_Dxt5, 3, 0xF8);
  EXPECT_EQ(full3.cocg_endpoint_kernels.endpoint_trial[2],
            scalar3.cocg_endpoint_kernels.endpoint_trial[2]);
  EXPECT_EQ(full3.cocg_endpoint_kernels.endpoint_search[0], cocg_endpoint_search_s0_q3_avx_fma);
  EXPECT_EQ(full3.cocg_endpoint_kernels.inset_bbox[5], inset_bbox_565_s5_avx_fma);
  EXPECT_EQ(full3.cocg_endpoint_kernels.final_pack, &cocg_final_pack_avx2);
}

// ---- Whole frames through set-up ------------------------------------------------

struct Frame_Case {
  uint32_t code;
  uint8_t quality;
};

TEST(SimdYcocgFrames, VectorMaskKeepsTheDecodedQuality) {
  REQUIRE_CPU(has_avx2_fma());
  for (const char* name :
       {"chelsea_451x300.bgra", "coffee_600x400.bgra", "astronaut_alpha_512x512.bgra"}) {
    const Test_Image image = load_test_image(name);
    for (const Frame_Case c :
         {Frame_Case{Texture_Code_Ycocg_Dxt5, 1}, Frame_Case{Texture_Code_Ycocg_Dxt5, 2},
          Frame_Case{Texture_Code_Ycocg_Dxt5, 3}, Frame_Case{Texture_Code_Ycocg_Dxt5_Rgtc1, 2}}) {
      Encode_Request request;
      request.texture_code = c.code;
      request.quality = c.quality;
      const std::vector<uint8_t> scalar = encode_frame(image, request).value();
      request.mask = 0xF8;
      const std::vector<uint8_t> vector = encode_frame(image, request).value();
      request.mask = 0xA8;  // no FMA: at quality 2 and 3 only the loader changes
      const std::vector<uint8_t> no_fma = encode_frame(image, request).value();
      ASSERT_EQ(vector.size(), scalar.size());
      const double s = decoded_psnr(Tex::YcocgDxt5, scalar, image, false);
      const double v = decoded_psnr(Tex::YcocgDxt5, vector, image, false);
      EXPECT_NEAR(v, s, 0.05) << name << " q" << int(c.quality);
      if (c.quality > 1) {
        EXPECT_EQ(no_fma, scalar) << name << " q" << int(c.quality);
      }
    }
  }
}

}  // namespace
