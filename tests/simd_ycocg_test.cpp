// Vector twins of the YCoCg-DXT5 and CoCg endpoint kernels against the scalar
// ones: loaders and final pack bit for bit, the others identical on almost
// every block and otherwise no worse; then whole frames through set-up.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/simd/simd_install.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/ycocg_block.h"

namespace {

using Block16 = std::array<uint8_t, 16>;

// Sum of squared B, G, R differences between a decoded block and its source.
int64_t decoded_error(const Block16& block, const Pixels& source) {
  uint8_t decoded[64];
  decode_ycocg_dxt5_block(block.data(), decoded);
  int64_t error = 0;
  for (int i = 0; i < 64; ++i)
    if (i % 4 != 3) error += (int(decoded[i]) - source[i]) * (int(decoded[i]) - source[i]);
  return error;
}

// The scalar YCoCg set of a code and quality with the twins over it under
// mask (none when 0).
Dxt_Kernel_Head ycocg_head(uint32_t code, int quality, uint32_t mask) {
  Dxt_Encoder_Context context{};
  context.texture_code = code;
  context.pix_fmt = Pix_Fmt_Bgra8;
  context.quality = uint8_t(quality);
  EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
  if (mask != 0) install_ycocg_vector_kernels(&context, mask);
  return context.head;
}

Cocg_Endpoint_Kernels cocg_kernels(int quality, uint32_t mask) {
  return ycocg_head(Texture_Code_Ycocg_Dxt5, quality, mask).cocg_endpoint_kernels;
}

// Whole blocks through the scalar set and through the set with the twins under
// mask: at most max_differing blocks in 10000 may differ, and those decode no
// worse than the scalar block but for slack per pixel. At quality 1 a
// difference is one code step at a rounding boundary; at quality 2 and 3 a
// near-tie of the search can also pick a pair whose bit-replicated decode lies
// a little further off.
void expect_blocks_match(int quality, uint32_t mask, int max_differing, int64_t slack_per_pixel) {
  Dxt_Encoder_Context context{};
  EXPECT_EQ(install_ycocg_set(&context, Pix_Fmt_Bgra8, 0, uint8_t(quality)), 0u);
  const Dxt_Kernel_Head heads[2] = {context.head,
                                    ycocg_head(Texture_Code_Ycocg_Dxt5, quality, mask)};
  const auto encode = [&](int k, const Pixels& p) {
    const uint8_t* planes[4] = {p.data(), nullptr, nullptr, nullptr};
    const int64_t strides[4] = {16, 0, 0, 0};
    Block16 out{};
    context.slice_worker(heads[k], out.data(), planes, strides);
    return out;
  };
  const std::vector<Pixels> blocks = test_blocks(4000, 7u + unsigned(quality));
  int differing = 0;
  for (const Pixels& p : blocks) {
    const Block16 s = encode(0, p), v = encode(1, p);
    if (s == v) continue;
    ++differing;
    const int64_t es = decoded_error(s, p), ev = decoded_error(v, p);
    EXPECT_LE(ev, es + es / 20 + 16 * slack_per_pixel) << "block " << (&p - blocks.data());
  }
  EXPECT_LE(differing * 10000, max_differing * int(blocks.size())) << "quality " << quality;
}

TEST(SimdYcocgLoad, RecordsAndFlagsAreBitIdentical) {
  const auto twins = runnable<Ycocg_Load_Block_Fn>(
      {{ycocg_load_block_avx, cpu_has_avx()}, {ycocg_load_block_avx2, cpu_has_avx2()}});
  REQUIRE_CPU(!twins.empty());
  int black = 0;
  for_many_blocks(1, 4400, [&](const Source_Block& block) {
    Ycocg_Block untouched, expected, got;
    std::memset(&untouched, 0x5A, sizeof untouched);
    expected = untouched;
    uint64_t expected_black = 7;
    ycocg_load_block(&expected, block.first_row, block.stride, &expected_black);
    black += expected_black != 0;
    for (const auto load : twins) {
      got = untouched;
      uint64_t got_black = 7;
      load(&got, block.first_row, block.stride, &got_black);
      ASSERT_EQ(got_black, expected_black);
      if (got_black) {
        ASSERT_EQ(std::memcmp(&got, &untouched, sizeof got), 0);
        continue;
      }
      ASSERT_EQ(std::memcmp(got.y, expected.y, sizeof got.y + 2 * sizeof(float)), 0);
      ASSERT_EQ(std::memcmp(&got.cocg, &expected.cocg, sizeof got.cocg), 0);
    }
  });
  EXPECT_GT(black, 100);  // the black blocks were met
}

// AVX at quality 1: the same arithmetic but for 1/14 as a product and the
// endpoint rounding, both visible only on exact ties. AVX2 with FMA: fused
// products move values near a rounding boundary, and a flat chroma exactly
// between two palette points may take the one the decoder rounds further off.
TEST(SimdYcocgBlocks, WholeSetsMatchTheScalarBlocks) {
  REQUIRE_CPU(cpu_has_avx());
  expect_blocks_match(1, 0x28, 10, 3);
  if (!cpu_has_avx2_fma()) return;
  expect_blocks_match(1, 0xF8, 600, 4);
  for (int quality : {2, 3}) expect_blocks_match(quality, 0xF8, 500, 12);
}

TEST(SimdCocgEndpoints, FinalPackIsBitIdentical) {
  REQUIRE_CPU(cpu_has_avx2_fma());
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

// A flat or varying chroma block from a loaded test block.
std::vector<Ycocg_Block> chroma_blocks(bool flat) {
  std::vector<Ycocg_Block> out;
  for (Pixels p : test_blocks(1600, flat ? 21u : 22u)) {
    for (int i = 1; flat && i < 16; ++i) std::memcpy(&p[4 * i], &p[0], 3);
    Ycocg_Block b;
    uint64_t black = 0;
    ycocg_load_block(&b, p.data(), 16, &black);
    if (!black) out.push_back(b);
  }
  return out;
}

// Chroma boxes: flat, at the extremes, and from loaded blocks with the Cg ends
// as loaded and exchanged.
std::vector<std::array<float, 4>> test_boxes() {
  const float lo = 96.0f / 255, hi = 160.0f / 255;
  std::vector<std::array<float, 4>> boxes = {
      {0, 0, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}, {lo, hi, hi, lo}};
  for (const Ycocg_Block& b : chroma_blocks(false)) {
    const float* box = b.cocg.cocg_box;
    boxes.insert(boxes.end(), {{box[0], box[1], box[2], box[3]}, {box[0], box[3], box[2], box[1]}});
  }
  return boxes;
}

TEST(SimdCocgEndpoints, InsetAndWidenedBoxesAgreeWithinOneCode) {
  REQUIRE_CPU(cpu_has_avx2_fma());
  const auto scalar = cocg_endpoint_kernels_scalar(2), vector = cocg_kernels(2, 0xF8);
  const auto boxes = test_boxes();
  for (int k = 0; k < 6; ++k) {
    ASSERT_NE(vector.inset_bbox[k], scalar.inset_bbox[k]);
    int differing = 0;
    for (const auto& box : boxes) {
      alignas(16) float in[4] = {box[0], box[1], box[2], box[3]};
      Cocg_Candidate s, v;
      scalar.inset_bbox[k](in, &s);
      vector.inset_bbox[k](in, &v);
      const int32_t sv[4] = {s.a0, s.b0, s.a1, s.b1}, vv[4] = {v.a0, v.b0, v.a1, v.b1};
      for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(vv[i] >= 0 && vv[i] <= (i % 2 ? 63 : 31) && std::abs(vv[i] - sv[i]) <= 1)
            << "member " << k << " " << vv[i] << " vs " << sv[i];
      differing += std::memcmp(&s, &v, sizeof s) != 0;
    }
    EXPECT_LE(differing * 100, int(boxes.size())) << "member " << k;
  }
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
  const double hi[2] = {decode(c.a1, 31.0f), decode(c.b1, 63.0f)};
  const double lo[2] = {decode(c.a0, 31.0f), decode(c.b0, 63.0f)};
  double error = 0.0;
  for (int i = 0; i < (flat ? 1 : 16); ++i) {
    double e = 1e30;
    for (double t : {0.0, 1.0, 1.0 / 3, 2.0 / 3}) {  // the palette, colour0 first
      const double d_co = b.co[i] - (hi[0] + t * (lo[0] - hi[0]));
      const double d_cg = b.cg[i] - (hi[1] + t * (lo[1] - hi[1]));
      e = std::min(e, d_co * d_co + d_cg * d_cg);
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
};

// Candidates from the box, also pushed to the ends of the code ranges.
std::vector<Cocg_Candidate> candidates_for(const float box[4], int k) {
  Cocg_Candidate c;
  inset_bbox_565_s0_avx_fma(box, &c);
  return {c, {std::max(c.a0 - k, 0), std::max(c.b0 - k, 0), c.a1, c.b1}, {c.a0, c.b0, 31, 63},
          {0, 0, 30, 62}};
}

TEST(SimdCocgEndpoints, QualityTwoTrialsKeepTheFirstBestStep) {
  REQUIRE_CPU(cpu_has_avx2_fma());
  const auto scalar = cocg_endpoint_kernels_scalar(2), vector = cocg_kernels(2, 0xF8);
  int compared = 0, differing = 0;
  for (Ycocg_Block& b : chroma_blocks(true))
    for (int g = 0; g < 3; ++g) {
      ASSERT_NE(vector.endpoint_trial[g], scalar.endpoint_trial[g]);
      for (const Cocg_Candidate& c : candidates_for(b.cocg.cocg_box, g + 1)) {
        Search_State s, v;
        scalar.endpoint_trial[g](&b.cocg, &s.best_error, &c, s.distances, &s.best);
        vector.endpoint_trial[g](&b.cocg, &v.best_error, &c, v.distances, &v.best);
        ++compared;
        if (std::memcmp(&s.best, &v.best, sizeof s.best) != 0) {
          ++differing;
          expect_as_good(b.cocg, v.best, s.best, 1 << g, true);
        }
        // Not strictly better: nothing written.
        Search_State again = v;
        vector.endpoint_trial[g](&b.cocg, &again.best_error, &c, again.distances, &again.best);
        EXPECT_EQ(std::memcmp(&again, &v, sizeof v), 0);
      }
    }
  EXPECT_LE(differing * 20, compared);
}

// The fused search against the plain one from the same start: the same pair
// on almost every block, otherwise one no worse by the exact measure.
TEST(SimdCocgEndpoints, FusedSearchFindsTheSameBestAsThePlainOne) {
  REQUIRE_CPU(cpu_has_avx2_fma());
  for (int quality : {2, 3}) {
    const auto scalar = cocg_kernels(quality, 0), vector = cocg_kernels(quality, 0xF8);
    int compared = 0, differing = 0;
    for (Ycocg_Block& b : chroma_blocks(false))
      for (int g = 0; g < 3; ++g) {
        ASSERT_NE(vector.endpoint_search[g], scalar.endpoint_search[g]);
        for (const Cocg_Candidate& c : candidates_for(b.cocg.cocg_box, g + 2)) {
          Search_State s, v;
          scalar.endpoint_search[g](&b.cocg, &c, &s.best_error, &s.best, s.distances);
          vector.endpoint_search[g](&b.cocg, &c, &v.best_error, &v.best, v.distances);
          ++compared;
          if (std::memcmp(&s.best, &v.best, sizeof s.best) != 0) {
            ++differing;
            expect_as_good(b.cocg, v.best, s.best, 1 << g, false);
          }
        }
      }
    EXPECT_LE(differing * 10, compared) << "quality " << quality;
  }
}

TEST(SimdYcocgInstall, FollowsQualityAndMaskBits) {
  const Dxt_Kernel_Head scalar2 = ycocg_head(Texture_Code_Ycocg_Dxt5, 2, 0),
                        no_enable = ycocg_head(Texture_Code_Ycocg_Dxt5, 2, 0xF0);
  // Without the enable bit nothing changes; AVX alone gives the quality-1
  // encoders; quality 3 keeps its scalar trials.
  EXPECT_EQ(std::memcmp(&no_enable, &scalar2, sizeof scalar2), 0);
  EXPECT_EQ(ycocg_head(Texture_Code_Ycocg_Dxt5, 1, 0x28).ycocg_encode_cocg, &ycocg_encode_cocg_avx);
  EXPECT_EQ(cocg_kernels(3, 0xF8).endpoint_trial[2], cocg_kernels(3, 0).endpoint_trial[2]);
  // AVX alone gives the searches of the scalar rounding.
  for (int quality : {2, 3}) {
    const auto avx = cocg_kernels(quality, 0x28), scalar = cocg_kernels(quality, 0);
    EXPECT_EQ(avx.endpoint_search[1], (quality == 2 ? cocg_endpoint_search_q2_avx
                                                    : cocg_endpoint_search_q3_avx)[1]);
    EXPECT_EQ(avx.inset_bbox[1], scalar.inset_bbox[1]);
  }
}

}  // namespace
