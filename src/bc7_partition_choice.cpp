// Picks the two-subset partition for modes 1 and 7 by a quick integer
// estimate of each candidate: every subset is fitted to its bounding-box
// diagonal, and estimates stop as soon as they pass the best so far.
#include <algorithm>

#include "src/bc7_internal.h"

namespace {

// Channels 3 (RGB, 8 levels) or 4 (RGBA, 4 levels).
template <int Channels, uint32_t Levels>
uint64_t partition_error(uint32_t count, const uint8_t pixels[], bool perceptual,
                         const uint32_t weights[4], uint64_t bound, const uint32_t* level_weights) {
  int32_t lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
  for (uint32_t i = 0; i < count; ++i)
    for (int c = 0; c < Channels; ++c) {
      lo[c] = std::min<int32_t>(lo[c], pixels[4 * i + c]);
      hi[c] = std::max<int32_t>(hi[c], pixels[4 * i + c]);
    }
  uint8_t palette[Levels][4] = {};
  int32_t dir[Channels];
  for (int c = 0; c < Channels; ++c) {
    dir[c] = hi[c] - lo[c];
    for (uint32_t k = 0; k < Levels; ++k)
      palette[k][c] = uint8_t(((64 - int32_t(level_weights[k])) * lo[c] +
                               int32_t(level_weights[k]) * hi[c] + 32) >> 6);
  }
  auto project = [&](const uint8_t* colour) {
    int32_t d = 0;
    for (int c = 0; c < Channels; ++c) d += dir[c] * colour[c];
    return d;
  };
  // A pixel takes level k + 1 once its projection reaches halfway between levels k and k + 1.
  int32_t thresholds[Levels - 1];
  for (uint32_t k = 0; k + 1 < Levels; ++k)
    thresholds[k] = (project(palette[k]) + project(palette[k + 1]) + 1) >> 1;

  auto distance = Channels == 4 ? bc7_color_distance_rgba : bc7_color_distance_rgb;
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* pixel = pixels + 4 * i;
    const int32_t d = project(pixel);
    uint32_t index = 0;
    while (index + 1 < Levels && d >= thresholds[index]) ++index;
    total += distance(palette[index], pixel, perceptual, weights);
    if (total > bound) break;
  }
  return total;
}

}  // namespace

uint64_t bc7_partition_error_rgb(uint32_t count, const uint8_t pixels[], bool perceptual,
                                 const uint32_t weights[4], uint64_t bound) {
  return partition_error<3, 8>(count, pixels, perceptual, weights, bound, bc7_weights3);
}

uint64_t bc7_partition_error_rgba(uint32_t count, const uint8_t pixels[], bool perceptual,
                                  const uint32_t weights[4], uint64_t bound) {
  return partition_error<4, 4>(count, pixels, perceptual, weights, bound, bc7_weights2);
}

uint32_t bc7_choose_partition(const uint32_t pixels[16], const Bc7_Block_Params& params,
                              const uint32_t weights[4], uint32_t mode) {
  const uint32_t candidates = std::min<uint32_t>(params.max_partitions, 64);
  if (candidates < 2) return 0;
  auto estimate = mode == 7 ? bc7_partition_error_rgba : bc7_partition_error_rgb;

  uint64_t best = Bc7_No_Error;
  uint32_t winner = 0;
  uint32_t early_winner = 0;  // winner among the first 14 candidates
  for (uint32_t i = 0; i < candidates && best > 0; ++i) {
    const uint32_t p = bc7_partition_order[i];
    const bool prunable = params.prune_partitions && i >= 14 && i <= 34;
    if (prunable && !((bc7_partition_prune_masks[p] >> (early_winner + 1)) & 1)) {
      if (i == 34) break;
      continue;
    }
    uint32_t subset_pixels[2][16];
    uint32_t subset_count[2] = {0, 0};
    for (uint32_t k = 0; k < 16; ++k) {
      const uint32_t s = bc7_subset_of(2, p, k);
      subset_pixels[s][subset_count[s]++] = pixels[k];
    }
    uint64_t sum = 0;
    for (uint32_t s = 0; s < 2 && sum < best; ++s)
      sum += estimate(subset_count[s], reinterpret_cast<const uint8_t*>(subset_pixels[s]),
                      params.perceptual, weights, best);
    if (sum < best) {
      best = sum;
      winner = p;
    }
    if (i == 13) early_winner = winner;
    // The later partitions rarely win unless partition 34 already did.
    if (i == 34 && winner != 34) break;
  }
  return winner;
}
