// BC7 blocks through the reference decoder: the encoder's promises at each
// quality preset on synthetic and photographic blocks, through the block
// routine and through its opaque and alpha paths; the partition estimates and
// the vector form of the partition choice; the index fit of single candidates
// in its vector and scalar forms; per-endpoint p-bits and ties between modes,
// on blocks built for them; and the encoder's small colour, mode, scalar and
// vector helpers against their definitions. The pinned texture digests hold
// the encoder's exact choices and packing.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "src/bc7_internal.h"
#include "tests/support/test_support.h"

namespace {

using Block = std::array<uint8_t, 64>;  // 16 RGBA pixels

// Decodes a BC7 block into RGBA.
Block decode(const uint8_t encoded[16]) {
  Block rgba;
  decode_bc7_block(encoded, rgba.data());
  for (int k = 0; k < 16; ++k) std::swap(rgba[4 * k], rgba[4 * k + 2]);
  return rgba;
}

uint32_t mode_of(const uint8_t encoded[16]) { return uint32_t(std::countr_zero(encoded[0])); }

// The partition field right after the mode bit (modes 1 and 7 only).
uint32_t partition_of(const uint8_t encoded[16]) {
  return uint32_t((encoded[0] | encoded[1] << 8) >> (mode_of(encoded) + 1)) & 63;
}

struct Preset { int quality; Bc7_Block_Params params; };

// The engine's three.
std::vector<Preset> engine_presets() {
  return {{1, bc7_engine_params(0, 4)}, {2, bc7_engine_params(1, 16)},
          {3, bc7_engine_params(4, 64)}};
}

// The engine's three, and the encoder's own defaults (perceptual metric) as quality 0.
std::vector<Preset> presets() {
  Bc7_Block_Params defaults;
  bc7_params_init(defaults);
  std::vector<Preset> all = engine_presets();
  all.push_back({0, defaults});
  return all;
}

bool in_first(uint32_t partition, uint32_t count) {
  for (uint32_t i = 0; i < count && i < 64; ++i)
    if (bc7_partition_order[i] == partition) return true;
  return false;
}

// Encodes a block through its opaque or alpha path directly. Only the working
// weights of the subset record are set: every trial fills the rest.
void encode_through_path(const Block& pixels, const Bc7_Block_Params& params, uint8_t out[16]) {
  Bc7_Subset_Params subset;
  std::memset(&subset, 0xA5, sizeof subset);
  bc7_working_weights(params, subset.m_channel_weights);
  if (bc7_block_is_opaque(pixels.data()))
    bc7_encode_block_opaque(out, pixels.data(), params, subset);
  else
    bc7_encode_block_alpha(out, pixels.data(), params, subset);
}

// Encodes a block with a preset and checks everything the encoder promises;
// returns the mode.
uint32_t check_block(const Block& pixels, const Preset& preset) {
  uint8_t encoded[16];
  const bool alpha_path = bc7_encode_block(encoded, pixels.data(), preset.params);
  const bool opaque = bc7_block_is_opaque(pixels.data());
  EXPECT_EQ(alpha_path, !opaque);

  // The path's own entry writes the same block.
  uint8_t direct[16];
  encode_through_path(pixels, preset.params, direct);
  EXPECT_EQ(std::memcmp(direct, encoded, 16), 0) << "quality " << preset.quality;
  const Block decoded = decode(encoded);

  const uint32_t mode = mode_of(encoded);
  if (opaque) {
    EXPECT_TRUE(mode == 6 || mode == 1) << mode;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(decoded[4 * k + 3], 255);
  } else {
    EXPECT_TRUE(mode == 6 || mode == 5 || mode == 7) << mode;
  }
  if (mode == 1 || mode == 7) {
    EXPECT_TRUE(in_first(partition_of(encoded), preset.params.max_partitions))
        << "partition " << partition_of(encoded) << " quality " << preset.quality;
  }
  return mode;
}

std::vector<Block> synthetic_blocks() {
  std::mt19937 rng(2024);
  std::vector<Block> blocks;
  auto byte = [&] { return uint8_t(rng()); };
  for (int n = 0; n < 40; ++n) {
    Block noise, opaque_noise, two_colours, gradient, flat_alpha;
    const uint8_t a[4] = {byte(), byte(), byte(), byte()}, b[4] = {byte(), byte(), byte(), byte()};
    const uint8_t fixed_alpha = uint8_t(rng() % 255);
    for (int k = 0; k < 16; ++k)
      for (int c = 0; c < 4; ++c) {
        noise[4 * k + c] = byte();
        opaque_noise[4 * k + c] = c == 3 ? 255 : byte();
        two_colours[4 * k + c] = c == 3 ? 255 : ((k * 5 + n) % 7 < 3) ? a[c] : b[c];
        gradient[4 * k + c] = uint8_t((a[c] * (15 - k) + b[c] * k) / 15);
        flat_alpha[4 * k + c] = c == 3 ? fixed_alpha : uint8_t((a[c] * (15 - k) + b[c] * k) / 15);
      }
    blocks.insert(blocks.end(), {noise, opaque_noise, two_colours, gradient, flat_alpha});
  }
  // Solid and nearly solid blocks: one channel steps by one.
  for (int v : {0, 1, 127, 128, 254, 255}) {
    Block near;
    for (int i = 0; i < 64; ++i)
      near[i] = uint8_t(i % 4 == 0 ? v : i % 4 == 1 ? 255 - v : i % 4 == 2 ? v ^ 0x55 : 255);
    blocks.push_back(near);  // solid blocks normally go elsewhere, but still work here
    near[0] = uint8_t(v == 255 ? 254 : v + 1);
    blocks.push_back(near);
    near[3] = 254;  // one alpha below 255 sends it down the alpha path
    blocks.push_back(near);
  }
  return blocks;
}

// Every 23rd block of a picture, as RGBA.
std::vector<Block> image_blocks(const char* name) {
  const Test_Image image = load_test_image(name);
  std::vector<Block> blocks;
  const int across = image.width / 4, down = image.height / 4;
  for (int b = 0; b < across * down; b += 23) {
    Block block;
    for (int k = 0; k < 16; ++k) {
      const size_t x = 4 * (b % across) + k % 4, y = 4 * (b / across) + k / 4;
      for (int c = 0; c < 4; ++c)
        block[4 * k + c] = image.bgra[(y * image.width + x) * 4 + (c == 3 ? 3 : 2 - c)];
    }
    blocks.push_back(block);
  }
  return blocks;
}

TEST(Bc7Encode, BlocksRoundTrip) {
  for (const Preset& preset : presets())
    for (const Block& block : synthetic_blocks()) check_block(block, preset);
  // On the pictures every path of the mode choice is taken somewhere.
  const std::pair<const char*, std::vector<uint32_t>> pictures[] = {
      {"astronaut_alpha_512x512.bgra", {1, 5, 6, 7}}, {"coffee_600x400.bgra", {1, 6}}};
  for (const auto& [name, modes] : pictures) {
    const std::vector<Block> blocks = image_blocks(name);
    for (const Preset& preset : presets()) {
      std::map<uint32_t, int> used;
      for (const Block& block : blocks) ++used[check_block(block, preset)];
      for (uint32_t mode : modes)
        EXPECT_GT(used[mode], 0) << name << " mode " << mode << " quality " << preset.quality;
    }
  }
}

// Through the two paths directly: modes their switches turn off never come out.
TEST(Bc7Encode, PathsHonourTheirSwitches) {
  auto mode_through_path = [](const Block& pixels, const Bc7_Block_Params& params) {
    uint8_t encoded[16];
    encode_through_path(pixels, params, encoded);
    return std::pair(mode_of(encoded), partition_of(encoded));
  };
  const Bc7_Block_Params engine = bc7_engine_params(1, 16);
  Bc7_Block_Params no_partitions = engine, no_mode_5 = engine, no_mode_7 = engine;
  no_partitions.max_partitions = 0;
  no_mode_5.try_mode_5 = 0;
  no_mode_7.try_mode_7 = 0;
  std::map<uint32_t, int> used;
  for (const Block& block : synthetic_blocks()) {
    const bool opaque = bc7_block_is_opaque(block.data());
    const auto [mode, partition] = mode_through_path(block, no_partitions);
    // No mode 1 without partitions; mode 7 still runs, on partition 0.
    EXPECT_TRUE(!opaque || mode == 6) << mode;
    EXPECT_TRUE(mode != 7 || partition == 0) << partition;
    ++used[mode];
    if (!opaque) {
      EXPECT_NE(mode_through_path(block, no_mode_5).first, 5u);
      EXPECT_NE(mode_through_path(block, no_mode_7).first, 7u);
    }
  }
  EXPECT_GT(used[7], 0);
}

// A subset's estimate sums each pixel's distance to the palette level its
// projection reaches, and stops at the pixel whose running sum passes the bound.
TEST(Bc7PartitionEstimate, StopsAtThePixelThatPassesTheBound) {
  // Black and white span the palette; grey 100 takes level 108 of the eight
  // (RGB: 3 * 8 * 8 from it) and level 84 of the four (RGBA: 4 * 16 * 16).
  const uint8_t greys[5] = {0, 255, 100, 100, 100};
  uint8_t pixels[20];
  for (int k = 0; k < 5; ++k) std::fill_n(pixels + 4 * k, 4, greys[k]);
  const uint32_t weights[4] = {1, 1, 1, 1};
  using Estimate = uint64_t(uint32_t, const uint8_t[], bool, const uint32_t[4], uint64_t);
  const std::pair<Estimate*, uint64_t> estimates[] = {{bc7_partition_error_rgb, 192},
                                                      {bc7_partition_error_rgba, 1024}};
  for (const auto& [estimate, step] : estimates) {
    EXPECT_EQ(estimate(5, pixels, false, weights, Bc7_No_Error), 3 * step);
    EXPECT_EQ(estimate(5, pixels, false, weights, 3 * step), 3 * step);  // reached, not passed
    EXPECT_EQ(estimate(5, pixels, false, weights, 2 * step), 3 * step);
    EXPECT_EQ(estimate(5, pixels, false, weights, 2 * step - 1), 2 * step);
    EXPECT_EQ(estimate(5, pixels, false, weights, 0), step);
    EXPECT_EQ(estimate(2, pixels, false, weights, 0), 0u);
  }
}

// With the linear metric and weights up to 128 the partition choice estimates
// in its vector form. Weights 129 times as large take the named estimates
// instead and scale every sum and bound alike, so the choice must not change.
TEST(Bc7PartitionChoice, VectorFormChoosesAsTheNamedEstimates) {
  std::mt19937 rng(606);
  std::map<uint32_t, int> chosen;
  for (int trial = 0; trial < 1500; ++trial) {
    // Two colours laid out by a random partition, with noise.
    const uint32_t layout = rng() % 64;
    uint8_t colours[2][4];
    for (auto& colour : colours)
      for (uint8_t& c : colour) c = uint8_t(rng());
    uint32_t pixels[16];
    for (uint32_t k = 0; k < 16; ++k) {
      uint8_t pixel[4];
      for (int c = 0; c < 4; ++c)
        pixel[c] = uint8_t(std::clamp<int>(colours[bc7_subset_of(2, layout, k)][c] +
                                               int(rng() % 41) - 20, 0, 255));
      std::memcpy(&pixels[k], pixel, 4);
    }
    Bc7_Block_Params params = bc7_engine_params(0, trial % 3 ? 64 : 16);
    params.prune_partitions = uint8_t(trial % 2);
    uint32_t weights[4], scaled[4];
    for (int c = 0; c < 4; ++c) {
      weights[c] = 1 + rng() % 128;
      scaled[c] = 129 * weights[c];
    }
    for (uint32_t mode : {1u, 7u}) {
      const uint32_t partition = bc7_choose_partition(pixels, params, weights, mode);
      ASSERT_EQ(bc7_choose_partition(pixels, params, scaled, mode), partition)
          << "trial " << trial << " mode " << mode;
      ++chosen[partition];
    }
  }
  EXPECT_GT(chosen.size(), 32u);
}

// Index fitting of one mode-7 candidate: stored 5-bit endpoints with their
// p-bits widen to 0 and 255 (palette 0, 84, 171, 255 in every channel).
class Bc7FitSelectors : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t k = 0; k < 6; ++k) std::fill_n(pixels_ + 4 * k, 4, greys_[k]);
    params_ = {6, pixels_, 4, bc7_weights2, bc7_factors2, 5, {1, 1, 1, 1}, 1, 1, 0, 0};
    result_ = {Bc7_No_Error, {}, {}, {}, selectors_, trial_};
  }

  uint64_t fit(const uint32_t p_bits[2], uint64_t bound = Bc7_No_Error) {
    const uint8_t low[4] = {0, 0, 0, 0}, high[4] = {31, 31, 31, 31};
    return bound == Bc7_No_Error ? bc7_fit_selectors(low, high, p_bits, params_, result_)
                                 : bc7_fit_selectors(low, high, p_bits, params_, result_, bound);
  }

  // On the palette, then 100 (16 from 84 in four channels), then 127.5 as
  // (127, 128, 127, 128): as far from 84 as from 171, which takes the upper.
  const uint8_t greys_[6] = {0, 84, 171, 255, 100, 127};
  uint8_t pixels_[24];
  uint8_t selectors_[6], trial_[6];
  Bc7_Subset_Params params_;
  Bc7_Subset_Result result_;
};

TEST_F(Bc7FitSelectors, ErrorIndicesAndTheBestHeld) {
  pixels_[21] = pixels_[23] = 128;
  const uint32_t plain[2] = {0, 1};
  const uint64_t plain_error = 4 * 16 * 16 + 2 * (43 * 43 + 44 * 44);
  EXPECT_EQ(fit(plain), plain_error);
  EXPECT_EQ(result_.m_best_overall_err, plain_error);
  EXPECT_EQ(std::vector<uint8_t>(selectors_, selectors_ + 6),
            (std::vector<uint8_t>{0, 1, 2, 3, 1, 2}));
  EXPECT_EQ(result_.m_p_bits[0], 0u);
  EXPECT_EQ(result_.m_p_bits[1], 1u);
  EXPECT_EQ(result_.m_high[0], 31);

  // Each endpoint takes its own p-bit: 1 on the first widens it to 4, which
  // moves the palette to 4, 86, 173, 255.
  const uint32_t raised[2] = {1, 1};
  const uint64_t raised_error = 4 * (16 + 4 + 4 + 0 + 196) + 2 * (41 * 41 + 42 * 42);
  EXPECT_EQ(fit(raised), raised_error);
  EXPECT_EQ(result_.m_best_overall_err, raised_error);
  EXPECT_EQ(std::vector<uint8_t>(selectors_, selectors_ + 6),
            (std::vector<uint8_t>{0, 1, 2, 3, 1, 1}));
  EXPECT_EQ(result_.m_p_bits[0], 1u);

  // Not better: returned, not kept; an equal error keeps the candidate held.
  std::fill_n(selectors_, 6, uint8_t{9});
  EXPECT_EQ(fit(plain), plain_error);
  EXPECT_EQ(fit(raised), raised_error);
  EXPECT_EQ(result_.m_best_overall_err, raised_error);
  EXPECT_EQ(selectors_[0], 9);
  EXPECT_EQ(result_.m_p_bits[0], 1u);

  // With the held error as the bound the fit may stop short, at or past it.
  EXPECT_GE(fit(plain, raised_error), raised_error);
  EXPECT_EQ(fit(plain, 1u << 20), plain_error);
  EXPECT_EQ(result_.m_best_overall_err, raised_error);
  EXPECT_EQ(selectors_[0], 9);
}

// A shared p-bit is the first endpoint's for both.
TEST_F(Bc7FitSelectors, SharedPBitIsTheFirst) {
  params_.m_shared_p_bit = 1;
  const uint32_t first_set[2] = {1, 0}, both_set[2] = {1, 1}, neither[2] = {0, 0};
  const uint64_t shared = fit(first_set);
  EXPECT_EQ(result_.m_p_bits[1], 0u);  // kept as given
  EXPECT_EQ(fit(both_set), shared);
  EXPECT_NE(fit(neither), shared);
}

// Weights above 128 overflow the vector form's 16-bit products, so the fit
// runs in its scalar form: the same indices, the tie at 127.5 included, and
// every distance scaled by the weight.
TEST_F(Bc7FitSelectors, WideWeightsTakeTheUpperLevelOnATie) {
  pixels_[21] = pixels_[23] = 128;
  std::fill_n(params_.m_channel_weights, 4, 200u);
  const uint32_t plain[2] = {0, 1};
  EXPECT_EQ(fit(plain), 200 * (4 * 16 * 16 + 2 * (43 * 43 + 44 * 44)));
  EXPECT_EQ(std::vector<uint8_t>(selectors_, selectors_ + 6),
            (std::vector<uint8_t>{0, 1, 2, 3, 1, 2}));
}

// Bit k of a written block (the stream starts at bit 0 of byte 0).
uint32_t bit_at(const uint8_t encoded[16], uint32_t k) { return (encoded[k / 8] >> (k % 8)) & 1; }

// With alpha, each endpoint of modes 6 and 7 takes the p-bit that suits it
// alone. These blocks decode exactly only with different p-bits on the two
// endpoints of a subset.
TEST(Bc7PBits, Mode6WithAlphaTakesOneForEachEndpoint) {
  // Every channel even in one colour and odd in the other; red spans 0..255,
  // so the endpoints must be the two colours themselves.
  const uint8_t even[4] = {0, 64, 128, 32}, odd[4] = {255, 191, 127, 223};
  Block block;
  for (int k = 0; k < 16; ++k) std::memcpy(&block[4 * k], k % 3 ? odd : even, 4);
  for (const Preset& preset : presets()) {
    uint8_t encoded[16];
    bc7_encode_block(encoded, block.data(), preset.params);
    ASSERT_EQ(mode_of(encoded), 6u) << "quality " << preset.quality;
    EXPECT_EQ(decode(encoded), block) << "quality " << preset.quality;
    // The p-bits follow the eight 7-bit endpoint fields: first the endpoint
    // of pixel 0 (even), then the other.
    EXPECT_EQ(bit_at(encoded, 63), 0u);
    EXPECT_EQ(bit_at(encoded, 64), 1u);
  }
}

TEST(Bc7PBits, Mode7TakesOneForEachEndpoint) {
  // Partition 0 (columns 2 and 3 apart). Grey and alpha 0 and 255 need p-bits
  // 0 and 1 on the 5-bit endpoints; 4 (6-bit 1) and 251 (6-bit 62) need 1 and 0.
  const uint8_t black[4] = {0, 0, 0, 0}, white[4] = {255, 255, 255, 255};
  const uint8_t dark[4] = {4, 4, 4, 4}, light[4] = {251, 251, 251, 251};
  Block block;
  for (int k = 0; k < 16; ++k) {  // anchors: pixel 0 black, pixel 15 dark
    const bool right = k % 4 >= 2, even_row = k / 4 % 2 == 0;
    std::memcpy(&block[4 * k], right ? (even_row ? light : dark) : (even_row ? black : white), 4);
  }
  for (const Preset& preset : presets()) {
    uint8_t encoded[16];
    bc7_encode_block(encoded, block.data(), preset.params);
    ASSERT_EQ(mode_of(encoded), 7u) << "quality " << preset.quality;
    EXPECT_EQ(partition_of(encoded), 0u);
    EXPECT_EQ(decode(encoded), block) << "quality " << preset.quality;
    // The p-bits follow the 5-bit endpoint fields, subset by subset, each
    // subset's anchor endpoint first.
    EXPECT_EQ(bit_at(encoded, 94), 0u);
    EXPECT_EQ(bit_at(encoded, 95), 1u);
    EXPECT_EQ(bit_at(encoded, 96), 1u);
    EXPECT_EQ(bit_at(encoded, 97), 0u);
  }
}

// Ties between modes keep the mode tried first. Solid colours that no mode
// reaches exactly tie often: both competing modes leave one step in one
// channel on every pixel, an error of 16 under the engine presets' metric
// (linear, weights 1). Modes 1 and 7 code a solid block through the
// single-colour tables; mode 6 is what comes out with every other mode off.
class Bc7ModeTies : public ::testing::Test {
 protected:
  void SetUp() override { bc7_init_tables(); }

  static Block solid(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    const uint8_t colour[4] = {r, g, b, a};
    Block block;
    for (int k = 0; k < 16; ++k) std::memcpy(&block[4 * k], colour, 4);
    return block;
  }

  // Squared differences over R, G, B and A; an opaque source adds nothing for
  // alpha, which modes 6 and 1 decode as 255.
  static uint64_t decoded_error(const uint8_t encoded[16], const Block& source) {
    const Block decoded = decode(encoded);
    uint64_t error = 0;
    for (int i = 0; i < 64; ++i) error += uint64_t(bc7_square(decoded[i] - source[i]));
    return error;
  }

  // The mode written, after checking that it leaves the tied error.
  static uint32_t written_mode(const Block& block, const Bc7_Block_Params& params) {
    uint8_t encoded[16];
    bc7_encode_block(encoded, block.data(), params);
    EXPECT_EQ(decoded_error(encoded, block), 16u);
    return mode_of(encoded);
  }

  // The error each mode the block's path tries reaches on it.
  static std::map<uint32_t, uint64_t> errors_of_modes_tried(const Block& block,
                                                           const Bc7_Block_Params& params) {
    std::map<uint32_t, uint64_t> errors = {{6, mode_6_error(block, params)}};
    if (bc7_block_is_opaque(block.data())) {
      if (params.max_partitions != 0) errors[1] = mode_1_error(block);
    } else {
      if (params.try_mode_5) errors[5] = mode_5_error(block, params);
      if (params.try_mode_7) errors[7] = mode_7_error(block);
    }
    return errors;
  }

  static uint64_t mode_6_error(const Block& block, Bc7_Block_Params params) {
    params.max_partitions = 0;
    params.try_mode_5 = params.try_mode_7 = 0;
    uint8_t encoded[16];
    bc7_encode_block(encoded, block.data(), params);
    EXPECT_EQ(mode_of(encoded), 6u);
    return decoded_error(encoded, block);
  }

  static uint64_t mode_5_error(const Block& block, const Bc7_Block_Params& params) {
    Bc7_Subset_Params subset{};
    bc7_working_weights(params, subset.m_channel_weights);
    Bc7_Block_Choice choice{};
    uint64_t error, alpha_error;
    bc7_try_mode_5(block.data(), params, subset, block[3], block[3], choice, error, alpha_error);
    return error;
  }

  // Every pixel the same: the best p-bits' total of the channel errors, 16 times.
  static uint64_t mode_1_error(const Block& block) {
    uint64_t best = Bc7_No_Error;
    for (uint32_t p : {0u, 1u}) {
      uint64_t sum = 0;
      for (int c = 0; c < 3; ++c) sum += g_bc7_mode_1_optimal_endpoints[block[c]][p].m_error;
      best = std::min(best, sum);
    }
    return 16 * best;
  }
  static uint64_t mode_7_error(const Block& block) {
    uint64_t best = Bc7_No_Error;
    for (uint32_t high : {0u, 1u})
      for (uint32_t low : {0u, 1u}) {
        uint64_t sum = 0;
        for (int c = 0; c < 4; ++c)
          sum += g_bc7_mode_7_optimal_endpoints[block[c]][high][low].m_error;
        best = std::min(best, sum);
      }
    return 16 * best;
  }
};

TEST_F(Bc7ModeTies, TheModeTriedFirstWins) {
  struct Tie {
    Block block;
    uint8_t try_mode_5, try_mode_7;
    uint32_t first, second;  // the tied modes, in the order they are tried
  };
  const Tie ties[] = {
      {solid(217, 254, 1, 255), 1, 1, 6, 1},
      {solid(15, 237, 72, 22), 1, 0, 6, 5},     // mode 7 off
      {solid(229, 202, 200, 218), 1, 1, 6, 7},  // mode 5 tried and worse
      {solid(229, 202, 200, 218), 0, 1, 6, 7},
      {solid(83, 10, 80, 3), 1, 1, 5, 7},       // mode 5 beats mode 6
  };
  for (const Tie& tie : ties)
    for (const Preset& preset : engine_presets()) {
      Bc7_Block_Params params = preset.params;
      params.try_mode_5 = tie.try_mode_5;
      params.try_mode_7 = tie.try_mode_7;
      const std::map<uint32_t, uint64_t> errors = errors_of_modes_tried(tie.block, params);
      ASSERT_TRUE(errors.count(tie.first) && errors.count(tie.second));
      for (const auto& [mode, error] : errors) {
        if (mode == tie.first || mode == tie.second)
          ASSERT_EQ(error, 16u) << "mode " << mode << " quality " << preset.quality;
        else
          ASSERT_GT(error, 16u) << "mode " << mode << " quality " << preset.quality;
      }
      EXPECT_EQ(written_mode(tie.block, params), tie.first)
          << tie.first << " against " << tie.second << ", quality " << preset.quality;
    }
}

TEST(Bc7Helpers, ColoursAndModeFields) {
  using Colour = std::array<uint8_t, 4>;
  Colour colour;
  bc7_set_color(colour.data(), 0, 255, 17, 200);
  EXPECT_EQ(colour, (Colour{0, 255, 17, 200}));
  bc7_set_color_clamped(colour.data(), -1, 256, 128, INT32_MIN);
  EXPECT_EQ(colour, (Colour{0, 255, 128, 0}));
  bc7_set_color_clamped(colour.data(), INT32_MAX, 0, 255, 1);
  EXPECT_EQ(colour, (Colour{255, 0, 255, 1}));

  const uint8_t base[4] = {10, 20, 30, 40};
  EXPECT_FALSE(bc7_colors_differ(base, base));
  for (int c = 0; c < 4; ++c) {
    uint8_t other[4] = {10, 20, 30, 40};
    other[c] ^= 1;
    EXPECT_TRUE(bc7_colors_differ(base, other)) << "channel " << c;
  }

  // Index bits of modes 0..7 in the BC7 format: colour, then alpha (the
  // second index set of modes 4 and 5); only those two modes rotate.
  const uint32_t colour_bits[8] = {3, 3, 2, 2, 2, 2, 4, 2};
  const uint32_t alpha_bits[8] = {0, 0, 0, 0, 3, 2, 0, 0};
  for (uint32_t mode = 0; mode < 8; ++mode) {
    EXPECT_EQ(bc7_color_index_bits(mode, 0), colour_bits[mode]) << mode;
    EXPECT_EQ(bc7_alpha_index_bits(mode, 0), alpha_bits[mode]) << mode;
    EXPECT_EQ(bc7_mode_has_rotation(mode), mode == 4 || mode == 5) << mode;
  }
  // Mode 4's index selector gives the colour the 3-bit set, alpha the 2-bit one.
  EXPECT_EQ(bc7_color_index_bits(4, 1), 3u);
  EXPECT_EQ(bc7_alpha_index_bits(4, 1), 2u);
}

TEST(Bc7Helpers, ScalarsAndFourFloatVectors) {
  EXPECT_EQ(bc7_absf(-2.5f), 2.5f);
  EXPECT_FALSE(std::signbit(bc7_absf(-0.0f)));
  EXPECT_EQ(bc7_minf(-1.0f, 0.5f), -1.0f);
  EXPECT_EQ(bc7_maxf(-1.0f, 0.5f), 0.5f);
  EXPECT_EQ(bc7_min_u32(0xFFFFFFFFu, 1u), 1u);  // unsigned: all-ones is the largest
  EXPECT_EQ(bc7_max_u32(1u, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(bc7_clamp01(-0.25f), 0.0f);
  EXPECT_EQ(bc7_clamp01(1.5f), 1.0f);
  EXPECT_EQ(bc7_clamp01(0.75f), 0.75f);
  EXPECT_TRUE(std::isnan(bc7_clamp01(std::nanf(""))));
  EXPECT_EQ(bc7_squaref(-1.5f), 2.25f);
  EXPECT_EQ(bc7_square(-255), 65025);
  uint32_t x = 3, y = 0xFFFFFFFFu;
  bc7_swap_u32(x, y);
  EXPECT_EQ(x, 0xFFFFFFFFu);
  EXPECT_EQ(y, 3u);

  auto expect_lanes = [](const Bc7_Vec4& v, float r, float g, float b, float a) {
    EXPECT_EQ(v.v[0], r);
    EXPECT_EQ(v.v[1], g);
    EXPECT_EQ(v.v[2], b);
    EXPECT_EQ(v.v[3], a);
  };
  const Bc7_Vec4 p = bc7_vec4_set(1.0f, 2.0f, 3.0f, 4.0f);
  const Bc7_Vec4 q = bc7_vec4_set(0.5f, -1.0f, 8.0f, -2.0f);
  expect_lanes(p, 1.0f, 2.0f, 3.0f, 4.0f);
  expect_lanes(bc7_vec4_splat(-0.5f), -0.5f, -0.5f, -0.5f, -0.5f);
  const uint8_t pixel[4] = {0, 1, 128, 255};
  expect_lanes(bc7_vec4_from_u8(pixel), 0.0f, 1.0f, 128.0f, 255.0f);
  expect_lanes(bc7_vec4_add(p, q), 1.5f, 1.0f, 11.0f, 2.0f);
  expect_lanes(bc7_vec4_sub(p, q), 0.5f, 3.0f, -5.0f, 6.0f);
  EXPECT_EQ(bc7_vec4_dot(p, q), 0.5f - 2.0f + 24.0f - 8.0f);  // alpha takes part
  expect_lanes(bc7_vec4_scale(p, -2.0f), -2.0f, -4.0f, -6.0f, -8.0f);
  expect_lanes(bc7_vec4_normalize(bc7_vec4_set(0.0f, 3.0f, 0.0f, -4.0f)), 0.0f, 0.6f, 0.0f, -0.8f);
  expect_lanes(bc7_vec4_normalize(bc7_vec4_splat(0.0f)), 0.0f, 0.0f, 0.0f, 0.0f);  // no NaN

  Bc7_Vec4 v = bc7_vec4_set(-0.5f, 0.25f, 1.0f, 7.0f);
  expect_lanes(bc7_vec4_clamped01(v), 0.0f, 0.25f, 1.0f, 1.0f);
  expect_lanes(v, -0.5f, 0.25f, 1.0f, 7.0f);  // the copy leaves its source alone
  bc7_vec4_clamp01(v);
  expect_lanes(v, 0.0f, 0.25f, 1.0f, 1.0f);
}

}  // namespace
