// The chroma search kernels work on two candidates at once and stop early
// where the outcome is settled; they must still give, bit for bit, what
// scoring one candidate after another with the plain formulas gives.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/cocg_endpoint_kernels.h"

namespace {

constexpr float neutral = 128.0f / 255.0f;

float model_decode(int32_t code, float max_code, int scale) {
  const float v = static_cast<float>(code) * (1.0f / max_code);
  return scale == 1 ? v : (v - neutral) * (1.0f / float(scale)) + neutral;
}

// Block error of one candidate with its 64 distances, one pixel after another.
float model_block_error(const Cocg_Block& b, float lo_co, float lo_cg, float hi_co, float hi_cg,
                        float d[64]) {
  // Palette order: colour0 (high), colour1 (low), then a third and two thirds of the way.
  const float p_co[4] = {hi_co, lo_co, hi_co + (lo_co - hi_co) * (1.0f / 3.0f),
                         hi_co + (lo_co - hi_co) * (2.0f / 3.0f)};
  const float p_cg[4] = {hi_cg, lo_cg, hi_cg + (lo_cg - hi_cg) * (1.0f / 3.0f),
                         hi_cg + (lo_cg - hi_cg) * (2.0f / 3.0f)};
  float error = 0.0f;
  for (int i = 0; i < 16; ++i) {
    for (int k = 0; k < 4; ++k) {
      const float dg = b.cg[i] - p_cg[k], dc = b.co[i] - p_co[k];
      d[16 * k + i] = dg * dg + dc * dc;
    }
    const float e = std::min(std::min(d[32 + i], d[48 + i]), std::min(d[i], d[16 + i]));
    error += e * e;
  }
  return error;
}

TEST(CocgSearchExactness, SearchKernelsMatchPlainBlockErrors) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int quality = 2; quality <= 3; ++quality) {
    const Cocg_Endpoint_Kernels kernels = cocg_endpoint_kernels_scalar(quality);
    for (int trial = 0; trial < 300; ++trial) {
      const int g = trial % 3, scale = 1 << g;
      Cocg_Block block{};
      const float c0 = unit(rng), g0 = unit(rng), spread = unit(rng) * 0.3f;
      for (int i = 0; i < 16; ++i) {
        block.co[i] = std::clamp(c0 + spread * (unit(rng) - 0.5f), 0.0f, 1.0f);
        block.cg[i] = std::clamp(g0 + spread * (unit(rng) - 0.5f), 0.0f, 1.0f);
      }
      const Cocg_Candidate start = {int32_t(rng() % 32), int32_t(rng() % 64), int32_t(rng() % 32),
                                    int32_t(rng() % 64)};
      // The two candidates of the first pair, then those of the next pair.
      for (int step = 0; step < 2; ++step) {
        const int first = step;  // steps above the start of X
        Cocg_Candidate pair[2];
        float e[2], d[2][64];
        const float lo_co = model_decode(start.a0, 31.0f, scale);
        const float lo_cg = model_decode(start.b0, 63.0f, scale);
        for (int k = 0; k < 2; ++k) {
          pair[k] = start;
          if (quality == 2) pair[k].a1 = std::min(start.a1 + first + k, 31);
          pair[k].b1 = std::min(start.b1 + first + k, 63);
          const float hi_co = model_decode(quality == 3 ? start.a1 : pair[k].a1, 31.0f, scale);
          e[k] = model_block_error(block, lo_co, lo_cg, hi_co,
                                   model_decode(pair[k].b1, 63.0f, scale), d[k]);
        }
        // A best error above both, equal to each, between them, and below both.
        const float lower = std::min(e[0], e[1]), upper = std::max(e[0], e[1]);
        const float limits[] = {FLT_MAX, e[0], e[1], lower + (upper - lower) * 0.5f, lower * 0.5f};
        for (float limit : limits) {
          SCOPED_TRACE(testing::Message() << "q " << quality << " trial " << trial << " step "
                                          << step << " limit " << limit);
          alignas(32) float cache[cocg_cache::size];
          Cocg_Candidate candidate = start;
          if (step == 1) {
            float unused_error = -1.0f;
            float unused[64];
            Cocg_Candidate unused_best{};
            kernels.endpoint_search[g](&block, &unused_error, &candidate, unused, &unused_best,
                                       cache);
            candidate = start;  // the next pair starts from the same candidate
          }
          float best_error = limit, distances[64] = {};
          Cocg_Candidate best = {-1, -1, -1, -1};
          kernels.endpoint_search[3 * step + g](&block, &best_error, &candidate, distances, &best,
                                                cache);
          const float m = e[1] < e[0] ? e[1] : e[0];
          if (limit > m) {
            const int winner = e[0] == m ? 0 : 1;
            EXPECT_EQ(std::bit_cast<uint32_t>(best_error), std::bit_cast<uint32_t>(m));
            EXPECT_EQ(std::memcmp(&best, &pair[winner], sizeof best), 0);
            EXPECT_EQ(std::memcmp(distances, d[winner], sizeof distances), 0);
          } else {
            EXPECT_EQ(std::bit_cast<uint32_t>(best_error), std::bit_cast<uint32_t>(limit));
            EXPECT_EQ(best.a0, -1);
          }
          EXPECT_EQ(candidate.a1, pair[1].a1);
          EXPECT_EQ(candidate.b1, pair[1].b1);
        }
      }
    }
  }
}

}  // namespace
