// The chroma search kernels work on two candidates at once and stop early
// where the outcome is settled; they must still give, bit for bit, what
// scoring one candidate after another with the plain formulas gives.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/ycocg_block.h"

namespace {

constexpr float neutral = 128.0f / 255.0f;

// One candidate scored alone in one of the search's two rounding families:
// plain (every product and sum rounded, the error summed pixel after pixel)
// or fused (decode and palette points through fused multiply-adds, the error
// summed as e_j + e_(j+8), then ((p0 + p4) + (p2 + p6)) + ((p1 + p5) + (p3 + p7))).
struct Search_Model {
  bool fused;
  int scale;

  float decode(int32_t code, float max_code) const {
    const float v = float(code), inverse = 1.0f / max_code, s = 1.0f / float(scale);
    if (scale == 1) return v * inverse;
    return fused ? std::fma(std::fma(v, inverse, -neutral), s, neutral)
                 : (v * inverse - neutral) * s + neutral;
  }
  float point(float high, float low, float t) const {
    return fused ? std::fma(low - high, t, high) : high + (low - high) * t;
  }
  float error(const Cocg_Block& b, const Cocg_Candidate& c, float d[64]) const {
    const float hc = decode(c.a1, 31), hg = decode(c.b1, 63), lc = decode(c.a0, 31),
                lg = decode(c.b0, 63);
    const float p_co[4] = {hc, lc, point(hc, lc, 1.0f / 3.0f), point(hc, lc, 2.0f / 3.0f)};
    const float p_cg[4] = {hg, lg, point(hg, lg, 1.0f / 3.0f), point(hg, lg, 2.0f / 3.0f)};
    float e[16];
    for (int i = 0; i < 16; ++i) {
      for (int k = 0; k < 4; ++k) {
        const float dg = b.cg[i] - p_cg[k], dc = b.co[i] - p_co[k];
        d[16 * k + i] = dg * dg + dc * dc;
      }
      const float m = std::min(std::min(d[i], d[16 + i]), std::min(d[32 + i], d[48 + i]));
      e[i] = m * m;
    }
    if (!fused) {
      float sum = 0.0f;
      for (float v : e) sum += v;
      return sum;
    }
    float p[8];
    for (int j = 0; j < 8; ++j) p[j] = e[j] + e[j + 8];
    return ((p[0] + p[4]) + (p[2] + p[6])) + ((p[1] + p[5]) + (p[3] + p[7]));
  }
};

// The candidates in the order the search's loops meet them: each step 0..5,
// clamped, a loop ending where clamping repeats the code of its last step.
std::vector<Cocg_Candidate> search_order(const Cocg_Candidate& init, int quality) {
  std::vector<Cocg_Candidate> out;
  const auto highs = [&](Cocg_Candidate c) {
    for (int k = 0; k < 6; ++k)
      out.push_back({c.a0, c.b0, quality == 2 ? std::min(c.a1 + k, 31) : c.a1,
                     std::min(c.b1 + k, 63)});
  };
  if (quality == 2) {
    for (int d = 0; d < 6; ++d) {
      const Cocg_Candidate c = {std::max(init.a0 - d, 0), std::max(init.b0 - d, 0), init.a1,
                                init.b1};
      if (d > 0 && c.a0 == out.back().a0 && c.b0 == out.back().b0) break;
      highs(c);
    }
    return out;
  }
  for (int d0 = 0; d0 < 6; ++d0) {
    const int32_t a0 = std::max(init.a0 - d0, 0);
    if (d0 > 0 && a0 == std::max(init.a0 - d0 + 1, 0)) break;
    for (int d1 = 0; d1 < 6; ++d1) {
      const int32_t b0 = std::max(init.b0 - d1, 0);
      if (d1 > 0 && b0 == std::max(init.b0 - d1 + 1, 0)) break;
      for (int d2 = 0; d2 < 6; ++d2) {
        const int32_t a1 = std::min(init.a1 + d2, 31);
        if (d2 > 0 && a1 == std::min(init.a1 + d2 - 1, 31)) break;
        highs({a0, b0, a1, init.b1});
      }
    }
  }
  return out;
}

// Chroma blocks: loaded test blocks of every kind, blocks from a test image,
// and blocks whose pixels sit exactly on the decoded low endpoint of the start,
// where every candidate keeping that endpoint ties at error 0.
std::vector<Cocg_Block> search_blocks() {
  std::vector<Cocg_Block> out;
  for (const Pixels& p : test_blocks(180, 41)) {
    Ycocg_Block b;
    uint64_t black = 0;
    ycocg_load_block(&b, p.data(), 16, &black);
    if (!black) out.push_back(b.cocg);
  }
  const Test_Image image = load_test_image("chelsea_451x300.bgra");
  for (int n = 0; n < 60; ++n) {
    const int x = 4 * (n * 37 % 112), y = 4 * (n * 11 % 75);
    Ycocg_Block b;
    uint64_t black = 0;
    ycocg_load_block(&b, &image.bgra[(size_t(y) * image.width + x) * 4], image.width * 4, &black);
    if (!black) out.push_back(b.cocg);
  }
  return out;
}

struct Search_Result {
  float error = -1.0f;
  Cocg_Candidate best{-1, -1, -1, -1};
  float distances[64] = {};
  bool operator==(const Search_Result& o) const {
    return std::memcmp(this, &o, sizeof *this) == 0;
  }
};

Search_Result model_search(const Search_Model& m, const Cocg_Block& b, const Cocg_Candidate& init,
                           int quality) {
  Search_Result r;
  r.error = FLT_MAX;
  float d[64];
  for (const Cocg_Candidate& c : search_order(init, quality)) {
    const float e = m.error(b, c, d);
    if (e < r.error) {
      r.error = e, r.best = c;
      std::copy_n(d, 64, r.distances);
    }
  }
  return r;
}

// Each search kernel against the model of its family: error, codes and the
// 64 distances, bit for bit, from starts inside and at the ends of the code
// ranges.
TEST(CocgSearchExactness, SearchesMatchTheirModelOneCandidateAtATime) {
  struct Kernel_Family {
    bool fused, runnable;
    const Cocg_Endpoint_Search_Fn* q2;
    const Cocg_Endpoint_Search_Fn* q3;
  };
  const Cocg_Endpoint_Kernels scalar2 = cocg_endpoint_kernels_scalar(2),
                              scalar3 = cocg_endpoint_kernels_scalar(3);
  const Kernel_Family families[] = {
      {false, true, scalar2.endpoint_search, scalar3.endpoint_search},
      {false, cpu_has_avx(), cocg_endpoint_search_q2_avx, cocg_endpoint_search_q3_avx},
      {true, cpu_has_avx() && cpu_has_fma(), cocg_endpoint_search_q2_avx_fma,
       cocg_endpoint_search_q3_avx_fma}};
  std::mt19937 rng(5);
  const std::vector<Cocg_Block> blocks = search_blocks();
  int ties = 0;
  for (size_t n = 0; n < blocks.size(); ++n) {
    const int g = int(n % 3), quality = 2 + int(n / 3 % 2);
    Cocg_Block block = blocks[n];
    Cocg_Candidate init;
    scalar2.inset_bbox[g](block.cocg_box, &init);
    const Cocg_Candidate starts[] = {
        init,
        {int32_t(rng() % 32), int32_t(rng() % 64), int32_t(rng() % 32), int32_t(rng() % 64)},
        {int32_t(n % 3), int32_t(n % 4), 31 - int32_t(n % 3), 63 - int32_t(n % 5)}};
    for (const Kernel_Family& f : families) {
      if (!f.runnable) continue;
      const Search_Model model{f.fused, 1 << g};
      for (const Cocg_Candidate& start : starts) {
        Cocg_Block b = block;
        if (&start == &starts[2]) {  // on the low endpoint of the start
          std::fill_n(b.co, 16, model.decode(start.a0, 31));
          std::fill_n(b.cg, 16, model.decode(start.b0, 63));
        }
        const Search_Result want = model_search(model, b, start, quality);
        ties += want.error == 0.0f;
        Search_Result got;
        (quality == 2 ? f.q2 : f.q3)[g](&b, &start, &got.error, &got.best, got.distances);
        ASSERT_TRUE(got == want) << "block " << n << " quality " << quality << " fused "
                                 << f.fused << " start " << start.a0 << " " << start.b0 << " "
                                 << start.a1 << " " << start.b1;
      }
    }
  }
  EXPECT_GT(ties, 100);
}

}  // namespace
