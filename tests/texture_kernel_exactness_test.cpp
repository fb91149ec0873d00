// The cluster-fit evaluators and the chroma search kernels work on several
// candidates at once and stop early where the outcome is settled; they must
// still give, bit for bit, what scoring one candidate after another with the
// plain formulas gives. Each test replays the plain formulas as the model.
#include <gtest/gtest.h>

#include "tests/simd_test_support.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"
#include "texture_encoder/cocg_endpoint_kernels.h"

namespace {

// ---- Cluster fit -------------------------------------------------------------

float model_round(float x) {
  const float whole = float(int(x));
  return whole + float(x - whole >= 0.5f);
}

// One general candidate (whole 0, third 1, third 2, whole 3, middle), scored
// and kept as the least-squares stage does it alone.
void model_evaluate(Fit& want, const float* sums, const uint64_t o[5], const float* reciprocal,
                    const uint8_t* code3) {
  const float *w0 = float_at(sums, o[0]), *t1 = float_at(sums, o[1]), *t2 = float_at(sums, o[2]),
              *w3 = float_at(sums, o[3]);
  float x[4], y[4];
  for (int l = 0; l < 4; ++l) {
    x[l] = (t2[l] + t1[4 + l]) + w0[l];
    y[l] = (t1[l] + t2[4 + l]) + w3[l];
  }
  const float A = x[3], B = y[3], C = *float_at(sums, o[4]);
  const float d = reciprocal ? *reciprocal : 1.0f / (A * B - C * C);
  float a[3], b[3], error = 0.0f;
  for (int l = 0; l < 3; ++l) {
    float va = (B * x[l] - C * y[l]) * d, vb = (A * y[l] - C * x[l]) * d;
    va = std::min(va > 0.0f ? va : 0.0f, 1.0f);  // a NaN ends as 0
    vb = std::min(vb > 0.0f ? vb : 0.0f, 1.0f);
    a[l] = model_round(va * grid_levels[l]) * grid_step[l];
    b[l] = model_round(vb * grid_levels[l]) * grid_step[l];
    const float e = (a[l] * a[l] * A + b[l] * b[l] * B) +
                    2.0f * ((a[l] * b[l] * C - a[l] * x[l]) - b[l] * y[l]);
    error = l == 0 ? e : error + e;
  }
  if (!(want.best.error > error)) return;
  want.best = {{a[0], a[1], a[2], 0.0f}, {b[0], b[1], b[2], 0.0f}, error};
  want.code = {code3[0], code3[1], code3[2]};
}

class ClusterFitExactness : public ::testing::Test {
 protected:
  void SetUp() override { install_cluster_fit_kernels(&context_); }
  void sums_of(const Weighted_Colours& c) {
    context_.head.cluster_partition_sums[c.n - 2](c.weighted, &sums_);
  }
  Dxt_Encoder_Context context_{};
  alignas(32) Cluster_Partition_Sums sums_;
};

// A list of n colours whose entries each come twice in a row, under codes of
// their own: equal errors inside and across batches.
struct Doubled_List {
  std::vector<uint64_t> entries;
  std::vector<uint8_t> codes;
};

Doubled_List doubled_records(uint32_t n, uint32_t count) {
  const Partition_List& records = cluster_fit_lists(n).records;
  Doubled_List list;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t* e = records.entries + (i / 2) * records.stride;
    list.entries.insert(list.entries.end(), e, e + records.stride);
    list.codes.insert(list.codes.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  }
  return list;
}

TEST_F(ClusterFitExactness, GeneralEntriesInAnyCountMatchOneByOne) {
  std::mt19937 rng(5);
  for (uint32_t n = 2; n <= 16; ++n) {
    sums_of(random_colours(rng, n));
    const float* reciprocals = n == 16 ? reciprocal_determinant_table() : nullptr;
    const uint32_t stride = general_entry_stride(n);
    // Every length up to 9 (so every partial batch), from a fresh best and
    // from one already equal to the third entry's error (which must stay).
    for (uint32_t count = 1; count <= 9; ++count) {
      if (n == 16 && count % 2) continue;  // sixteen colours are scored in pairs
      const Doubled_List list = doubled_records(n, count);
      for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(testing::Message() << "n " << n << " count " << count << " start " << start);
        Fit want;
        const auto model = [&](uint32_t i) {
          const uint64_t* e = &list.entries[i * stride];
          model_evaluate(want, sums_.data, e, reciprocals ? float_at(reciprocals, e[5]) : nullptr,
                         &list.codes[3 * i]);
        };
        if (start == 1 && count >= 3) {
          model(2);
          want.code = {99, 99, 99};
        }
        Fit got = want;
        for (uint32_t i = 0; i < count; ++i) model(i);
        if (n < 16) {
          cluster_fit_general_entries(&got.best, &got.code, &sums_, list.entries.data(),
                                      list.codes.data(), count);
        } else if (count % 4 == 0) {
          cluster_fit_block_pairs(&got.best, &got.code, &sums_, reciprocals, list.entries.data(),
                                  list.codes.data(), count / 4);
        } else {
          for (uint32_t i = 0; i < count; i += 2)
            dxt_cluster_fit_block_alt(&got.best, &got.code, &sums_, reciprocals,
                                      &list.entries[i * stride], &list.codes[3 * i]);
        }
        EXPECT_TRUE(same_fit(want, got));
      }
    }
  }
}

TEST_F(ClusterFitExactness, CompactEntriesOfEveryShapeMatchTheirGeneralForm) {
  std::mt19937 rng(9);
  const uint8_t shapes[] = {Shape_0011, Shape_0101, Shape_0110, Shape_1010, Shape_1100,
                            Shape_1011, Shape_1101, Shape_0111, Shape_1110, Shape_1111,
                            0b0010,     0b0100};  // the last two only through the general walk
  for (uint32_t n : {5u, 9u, 16u}) {
    sums_of(random_colours(rng, n));
    const float* reciprocals = n == 16 ? reciprocal_determinant_table() : nullptr;
    // Random runs for the clusters in use, random middle weights.
    std::uniform_int_distribution<uint32_t> pick(0, cluster_run_records(n) - 1);
    for (uint8_t shape : shapes) {
      SCOPED_TRACE(testing::Message() << "n " << n << " shape " << int(shape));
      const uint32_t clusters = shape_clusters(shape);
      const uint32_t stride = clusters + (reciprocals ? 2 : 1);
      const uint32_t passes = 3;
      std::vector<uint64_t> entries(4 * passes * stride);
      std::vector<uint8_t> codes(3 * 4 * passes);
      for (uint32_t i = 0; i < 4 * passes; ++i) {
        uint64_t* e = &entries[i * stride];
        uint32_t next = 0;
        for (int k = 0; k < 4; ++k)
          if (shape & (1 << k)) e[next++] = 48ull * pick(rng) + (k == 1 || k == 2 ? 16 : 0);
        e[next++] = cluster_middle_weight_offset(n, 0, 1 + pick(rng) % (n - 1));
        if (reciprocals) e[next] = 4ull * (pick(rng) % 16);
        // Every third entry repeats the one before: equal errors must keep the first.
        if (i % 3 == 1) std::copy_n(e - stride, stride, e);
        for (int b = 0; b < 3; ++b) codes[3 * i + b] = uint8_t(i);
      }
      Fit want, got;
      for (uint32_t i = 0; i < 4 * passes; ++i) {
        const uint64_t* e = &entries[i * stride];
        uint64_t general[5] = {0, 16, 16, 0, 0};
        uint32_t next = 0;
        for (int k = 0; k < 4; ++k)
          if (shape & (1 << k)) general[k] = e[next++];
        general[4] = e[next];
        model_evaluate(want, sums_.data, general,
                       reciprocals ? float_at(reciprocals, e[next + 1]) : nullptr, &codes[3 * i]);
      }
      cluster_fit_eval_pairs(&got.best, &got.code, &sums_, reciprocals, entries.data(),
                             codes.data(), shape, passes);
      EXPECT_TRUE(same_fit(want, got));
    }
  }
}

// ---- Chroma search kernels ---------------------------------------------------

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
