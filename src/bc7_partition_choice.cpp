// Picks the two-subset partition for modes 1 and 7 by a quick integer
// estimate of each candidate: every subset is fitted to its bounding-box
// diagonal, and estimates stop as soon as they pass the best so far.
#include <algorithm>

#include "src/bc7_internal.h"
#include "src/bc7_sse2.h"

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

  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* pixel = pixels + 4 * i;
    const int32_t d = project(pixel);
    uint32_t index = 0;
    while (index + 1 < Levels && d >= thresholds[index]) ++index;
    total += perceptual ? bc7_color_distance<Channels, true>(palette[index], pixel, weights)
                        : bc7_color_distance<Channels, false>(palette[index], pixel, weights);
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

namespace {

// Which lanes of four pixels belong to a subset, for each 4-bit group of its map.
struct Lane_Masks {
  alignas(16) uint32_t lanes[16][4];
  constexpr Lane_Masks() : lanes{} {
    for (uint32_t bits = 0; bits < 16; ++bits)
      for (uint32_t k = 0; k < 4; ++k) lanes[bits][k] = (bits >> k) & 1 ? ~0u : 0u;
  }
};
constexpr Lane_Masks Lane_Mask_Table;

// The vector form of bc7_partition_error_rgb and bc7_partition_error_rgba for
// the linear metric, over the pixels of the block selected by members (bit k:
// pixel k), four pixels a step with SSE2; the pixels and the weights come
// loaded, once for all the candidates of a block. It gives the same sum, or,
// once the sum reaches bound, where the partition cannot win, some sum at or
// past it. The levels' thresholds rise with the level, so counting the
// thresholds a projection reaches finds the same level as stepping up them.
template <int Channels, uint32_t Levels>
uint64_t subset_error_sse2(const __m128i pixels[4], uint32_t members, __m128i weights,
                           uint64_t bound, const uint32_t* level_weights) {
  const __m128i ones = _mm_set1_epi32(-1);
  __m128i low = ones, high = _mm_setzero_si128();
  __m128i lane_masks[4];
  for (int g = 0; g < 4; ++g) {
    lane_masks[g] = _mm_load_si128(
        reinterpret_cast<const __m128i*>(Lane_Mask_Table.lanes[(members >> (4 * g)) & 15]));
    low = _mm_min_epu8(low, _mm_or_si128(pixels[g], _mm_andnot_si128(lane_masks[g], ones)));
    high = _mm_max_epu8(high, _mm_and_si128(pixels[g], lane_masks[g]));
  }
  low = _mm_min_epu8(low, _mm_shuffle_epi32(low, _MM_SHUFFLE(1, 0, 3, 2)));
  low = _mm_min_epu8(low, _mm_shuffle_epi32(low, _MM_SHUFFLE(2, 3, 0, 1)));
  high = _mm_max_epu8(high, _mm_shuffle_epi32(high, _MM_SHUFFLE(1, 0, 3, 2)));
  high = _mm_max_epu8(high, _mm_shuffle_epi32(high, _MM_SHUFFLE(2, 3, 0, 1)));
  const uint32_t low_word = uint32_t(_mm_cvtsi128_si32(low));
  const uint32_t high_word = uint32_t(_mm_cvtsi128_si32(high));

  int16_t dir[4] = {0, 0, 0, 0};
  for (int c = 0; c < Channels; ++c)
    dir[c] =
        int16_t(int32_t((high_word >> (8 * c)) & 0xFF) - int32_t((low_word >> (8 * c)) & 0xFF));
  const __m128i dir_v = bc7_channel_factors(dir), zero = _mm_setzero_si128();

  alignas(16) uint8_t palette[Levels][4];
  alignas(16) int32_t projections[Levels];
  bc7_palette_sse2(low_word, high_word, level_weights, Levels, palette);
  for (uint32_t k = 0; k < Levels; k += 4) {
    const __m128i colours = _mm_load_si128(reinterpret_cast<const __m128i*>(palette[k]));
    _mm_store_si128(reinterpret_cast<__m128i*>(projections + k),
                    bc7_weighted_sums(colours, zero, dir_v));
  }
  __m128i thresholds[Levels - 1];
  for (uint32_t k = 0; k + 1 < Levels; ++k)
    thresholds[k] = _mm_set1_epi32((projections[k] + projections[k + 1] + 1) >> 1);

  uint64_t total = 0;
  for (int g = 0; g < 4; ++g) {
    if (((members >> (4 * g)) & 15) == 0) continue;
    const __m128i d = bc7_weighted_sums(pixels[g], zero, dir_v);
    __m128i level = _mm_set1_epi32(Levels - 1);
    for (uint32_t k = 0; k + 1 < Levels; ++k)
      level = _mm_add_epi32(level, _mm_cmpgt_epi32(thresholds[k], d));
    alignas(16) int32_t levels[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(levels), level);
    const __m128i error = _mm_and_si128(
        bc7_squared_distances(bc7_gather_colours(palette, levels), pixels[g], weights),
        lane_masks[g]);
    alignas(16) uint32_t errors[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(errors), error);
    total += uint64_t(errors[0]) + errors[1] + errors[2] + errors[3];
    if (total >= bound) break;
  }
  return total;
}

// Tries the candidates in their order; estimate(p, s, bound) measures subset s
// of partition p and may stop once it reaches bound, where the partition can
// no longer win.
template <typename Estimate>
uint32_t choose_partition(const Bc7_Block_Params& params, Estimate estimate) {
  const uint32_t candidates = bc7_min_u32(params.max_partitions, 64);
  if (candidates < 2) return 0;

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
    uint64_t sum = 0;
    for (uint32_t s = 0; s < 2 && sum < best; ++s) sum += estimate(p, s, best - sum);
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

// Estimate is the named estimate of the mode; Channels and Levels its own.
template <auto Estimate, int Channels, uint32_t Levels>
uint32_t choose_partition_for(const uint32_t pixels[16], const Bc7_Block_Params& params,
                              const uint32_t weights[4], const uint32_t* level_weights) {
  if (!params.perceptual && bc7_weights_fit_sse2(weights)) {
    __m128i vectors[4];
    for (int g = 0; g < 4; ++g)
      vectors[g] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * g));
    int16_t used[4] = {0, 0, 0, 0};
    for (int c = 0; c < Channels; ++c) used[c] = int16_t(weights[c]);
    const __m128i weights_v = bc7_channel_factors(used);
    return choose_partition(params, [&](uint32_t p, uint32_t s, uint64_t bound) {
      const uint32_t map = bc7_partitions2[p];
      return subset_error_sse2<Channels, Levels>(vectors, s ? map : ~map & 0xFFFF, weights_v,
                                                 bound, level_weights);
    });
  }
  return choose_partition(params, [&](uint32_t p, uint32_t s, uint64_t bound) {
    uint32_t subset_pixels[16];
    uint32_t count = 0;
    for (uint32_t k = 0; k < 16; ++k)
      if (bc7_subset_of(2, p, k) == s) subset_pixels[count++] = pixels[k];
    return Estimate(count, reinterpret_cast<const uint8_t*>(subset_pixels), params.perceptual,
                    weights, bound);
  });
}

}  // namespace

uint32_t bc7_choose_partition(const uint32_t pixels[16], const Bc7_Block_Params& params,
                              const uint32_t weights[4], uint32_t mode) {
  return mode == 7 ? choose_partition_for<bc7_partition_error_rgba, 4, 4>(pixels, params, weights,
                                                                        bc7_weights2)
                   : choose_partition_for<bc7_partition_error_rgb, 3, 8>(pixels, params, weights,
                                                                       bc7_weights3);
}
