// Block encoding and mode choice. Opaque blocks try mode 6 (one subset,
// 4-bit indices) and mode 1 (two subsets); blocks with alpha try mode 6,
// mode 5 (colour and alpha fitted apart) and mode 7 (two subsets with alpha).
// The smallest error wins; ties keep the earlier mode.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "src/bc7_internal.h"

namespace {

struct Subset_Mode_Settings {
  uint32_t level_count;
  const uint32_t* level_weights;
  const float (*level_factors)[4];
  uint32_t endpoint_bits;
  uint8_t has_alpha, has_p_bits, shared_p_bit;
};

const Subset_Mode_Settings Mode_6_Opaque{16, bc7_weights4, bc7_factors4, 7, 0, 1, 0};
const Subset_Mode_Settings Mode_6_Alpha{16, bc7_weights4, bc7_factors4, 7, 1, 1, 0};
const Subset_Mode_Settings Mode_1{8, bc7_weights3, bc7_factors3, 6, 0, 1, 1};
const Subset_Mode_Settings Mode_7{4, bc7_weights2, bc7_factors2, 5, 1, 1, 0};
const Subset_Mode_Settings Mode_5_Colour{4, bc7_weights2, bc7_factors2, 7, 0, 0, 0};

void apply(const Subset_Mode_Settings& mode, const Bc7_Block_Params& params,
           Bc7_Subset_Params& subset, uint32_t count, const uint8_t* pixels) {
  subset.m_perceptual_metric = params.perceptual;
  subset.m_pixel_count = count;
  subset.m_pixels = pixels;
  subset.m_level_count = mode.level_count;
  subset.m_level_weights = mode.level_weights;
  subset.m_level_factors = mode.level_factors;
  subset.m_endpoint_bits = mode.endpoint_bits;
  subset.m_has_alpha = mode.has_alpha;
  subset.m_has_p_bits = mode.has_p_bits;
  subset.m_shared_p_bit = mode.shared_p_bit;
}

// A one-subset mode over the whole block: indices straight into the choice's
// colour indices, endpoints and p-bits into its subset 0.
uint64_t encode_whole_block(uint32_t mode, const Subset_Mode_Settings& settings,
                            const uint8_t pixels[64], const Bc7_Block_Params& params,
                            Bc7_Subset_Params& subset, Bc7_Block_Choice& out) {
  apply(settings, params, subset, 16, pixels);
  uint8_t trial[16];
  Bc7_Subset_Result result{};
  result.m_selectors = out.m_color_selectors;
  result.m_trial_selectors = trial;
  const uint64_t error = bc7_encode_subset(mode, subset, result, params);
  out.m_mode = mode;
  out.m_partition = 0;
  std::memcpy(out.m_low[0], result.m_low, 4);
  std::memcpy(out.m_high[0], result.m_high, 4);
  out.m_p_bits[0][0] = result.m_p_bits[0];
  out.m_p_bits[0][1] = result.m_p_bits[1];
  return error;
}

// Mode 1 or 7 with the chosen partition. Replaces out when the two subsets
// together beat to_beat; leaves out alone otherwise, stopping as soon as the
// first subset alone cannot win.
void try_two_subsets(uint32_t mode, const uint8_t pixels[64], const Bc7_Block_Params& params,
                     Bc7_Subset_Params& subset, uint64_t to_beat, Bc7_Block_Choice& out) {
  uint32_t words[16];
  std::memcpy(words, pixels, 64);
  const uint32_t partition = bc7_choose_partition(words, params, subset.m_channel_weights, mode);

  uint8_t subset_pixels[2][64];
  uint8_t pixel_numbers[2][16];
  uint32_t counts[2] = {0, 0};
  for (uint32_t k = 0; k < 16; ++k) {
    const uint32_t s = bc7_subset_of(2, partition, k);
    std::memcpy(subset_pixels[s] + 4 * counts[s], pixels + 4 * k, 4);
    pixel_numbers[s][counts[s]++] = uint8_t(k);
  }

  uint8_t selectors[2][16], trial[16];
  Bc7_Subset_Result results[2]{};
  uint64_t sum = 0;
  for (uint32_t s = 0; s < 2; ++s) {
    apply(mode == 1 ? Mode_1 : Mode_7, params, subset, counts[s], subset_pixels[s]);
    results[s].m_selectors = selectors[s];
    results[s].m_trial_selectors = trial;
    sum += bc7_encode_subset(mode, subset, results[s], params);
    if (sum > to_beat) return;
  }
  if (sum >= to_beat) return;

  out.m_mode = mode;
  out.m_partition = partition;
  for (uint32_t s = 0; s < 2; ++s) {
    for (uint32_t i = 0; i < counts[s]; ++i)
      out.m_color_selectors[pixel_numbers[s][i]] = selectors[s][i];
    std::memcpy(out.m_low[s], results[s].m_low, 4);
    std::memcpy(out.m_high[s], results[s].m_high, 4);
    out.m_p_bits[s][0] = results[s].m_p_bits[0];
    out.m_p_bits[s][1] = mode == 1 ? 0 : results[s].m_p_bits[1];
  }
}

}  // namespace

void bc7_try_mode_5(const uint8_t pixels[64], const Bc7_Block_Params& params,
                    Bc7_Subset_Params& subset, uint32_t alpha_min, uint32_t alpha_max,
                    Bc7_Block_Choice& out, uint64_t& mode5_error, uint64_t& alpha_error) {
  const uint64_t colour_error = encode_whole_block(5, Mode_5_Colour, pixels, params, subset, out);
  out.m_rotation = 0;
  out.m_index_selector = 0;
  mode5_error = colour_error;

  if (alpha_min == alpha_max) {
    alpha_error = 0;
    out.m_low[0][3] = out.m_high[0][3] = uint8_t(alpha_min);
    std::memset(out.m_alpha_selectors, 0, 16);
    return;
  }

  alpha_error = Bc7_No_Error;
  const uint64_t w3 = subset.m_channel_weights[3];
  uint32_t lo = alpha_min, hi = alpha_max;
  const int passes = params.level == 0 ? 2 : 3;
  for (int pass = 0; pass < passes; ++pass) {
    const int palette[4] = {int(lo), int((43 * lo + 21 * hi + 32) >> 6),
                            int((21 * lo + 43 * hi + 32) >> 6), int(hi)};
    uint8_t indices[16];
    uint64_t error = 0;
    for (int k = 0; k < 16; ++k) {
      const int alpha = pixels[4 * k + 3];
      int best = 0;
      for (int i = 1; i < 4; ++i)
        if (std::abs(palette[i] - alpha) < std::abs(palette[best] - alpha)) best = i;
      indices[k] = uint8_t(best);
      error += w3 * uint64_t(bc7_square(palette[best] - alpha));
    }
    if (error < alpha_error) {
      alpha_error = error;
      out.m_low[0][3] = uint8_t(lo);
      out.m_high[0][3] = uint8_t(hi);
      std::memcpy(out.m_alpha_selectors, indices, 16);
    }
    if (pass + 1 == passes) break;
    float out1, out2;
    bc7_least_squares_alpha(16, indices, bc7_factors2, &out1, &out2, pixels);
    const uint32_t a = uint32_t(std::clamp(std::floor(out1 + 0.5f), 0.0f, 255.0f));
    const uint32_t b = uint32_t(std::clamp(std::floor(out2 + 0.5f), 0.0f, 255.0f));
    const uint32_t new_lo = bc7_min_u32(a, b), new_hi = bc7_max_u32(a, b);
    if (new_lo == lo && new_hi == hi) break;
    lo = new_lo;
    hi = new_hi;
  }
  mode5_error = colour_error + alpha_error;
}

bool bc7_block_is_opaque(const uint8_t pixels[64]) {
  for (int k = 0; k < 16; ++k)
    if (pixels[4 * k + 3] < 255) return false;
  return true;
}

void bc7_encode_block_opaque(uint8_t out[16], const uint8_t pixels[64],
                             const Bc7_Block_Params& params, Bc7_Subset_Params& subset) {
  Bc7_Block_Choice choice{};
  const uint64_t e6 = encode_whole_block(6, Mode_6_Opaque, pixels, params, subset, choice);
  if (e6 != 0 && params.max_partitions != 0) try_two_subsets(1, pixels, params, subset, e6, choice);
  bc7_pack_block(out, choice);
}

void bc7_encode_block_alpha(uint8_t out[16], const uint8_t pixels[64],
                            const Bc7_Block_Params& params, Bc7_Subset_Params& subset) {
  Bc7_Block_Choice choice{};
  uint64_t best = encode_whole_block(6, Mode_6_Alpha, pixels, params, subset, choice);
  if (best != 0 && params.try_mode_5) {
    uint32_t alpha_min = 255, alpha_max = 0;
    for (int k = 0; k < 16; ++k) {
      alpha_min = bc7_min_u32(alpha_min, pixels[4 * k + 3]);
      alpha_max = bc7_max_u32(alpha_max, pixels[4 * k + 3]);
    }
    Bc7_Block_Choice mode_5{};
    uint64_t e5, alpha_error;
    bc7_try_mode_5(pixels, params, subset, alpha_min, alpha_max, mode_5, e5, alpha_error);
    if (e5 < best) {
      best = e5;
      choice = mode_5;
    }
  }
  if (best != 0 && params.try_mode_7) try_two_subsets(7, pixels, params, subset, best, choice);
  bc7_pack_block(out, choice);
}

bool bc7_encode_block(uint8_t out[16], const uint8_t pixels[64], const Bc7_Block_Params& params) {
  // Cheap once built; makes encoding before any set-up safe instead of wrong.
  bc7_init_tables();
  Bc7_Subset_Params subset{};
  bc7_working_weights(params, subset.m_channel_weights);
  if (bc7_block_is_opaque(pixels)) {
    bc7_encode_block_opaque(out, pixels, params, subset);
    return false;
  }
  bc7_encode_block_alpha(out, pixels, params, subset);
  return true;
}
