// Parameter presets, working channel weights and the colour distance that
// every BC7 error sum is made of.
#include "src/bc7_internal.h"

void bc7_params_set_linear_weights(Bc7_Block_Params& params) {
  for (uint32_t& w : params.channel_weights) w = 1;
  params.perceptual = 0;
}

void bc7_params_set_perceptual_weights(Bc7_Block_Params& params) {
  params.channel_weights[0] = 128;
  params.channel_weights[1] = 64;
  params.channel_weights[2] = 16;
  params.channel_weights[3] = 32;
  params.perceptual = 1;
}

void bc7_params_init(Bc7_Block_Params& params) {
  params.max_partitions = 64;
  bc7_params_set_perceptual_weights(params);
  params.level = 0;
  params.use_least_squares = 1;
  params.prune_partitions = 1;
  params.try_mode_5 = 1;
  params.try_mode_7 = 1;
}

Bc7_Block_Params bc7_engine_params(uint32_t level, uint32_t max_partitions) {
  Bc7_Block_Params params;
  bc7_params_init(params);
  bc7_params_set_linear_weights(params);
  params.level = level;
  params.max_partitions = max_partitions;
  return params;
}

void bc7_working_weights(const Bc7_Block_Params& params, uint32_t out[4]) {
  const uint32_t* w = params.channel_weights;
  if (!params.perceptual) {
    for (int c = 0; c < 4; ++c) out[c] = w[c];
    return;
  }
  // Chroma differences are scaled up by the metric, so their weights come down.
  out[0] = uint32_t(float(w[0]) * 4.0f);
  out[1] = uint32_t(float(w[1]) * 4.0f * 0.40322658f);
  out[2] = uint32_t(float(w[2]) * 4.0f * 0.29042318f);
  out[3] = w[3] * 4;
}

uint64_t bc7_color_distance_rgb(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                                const uint32_t weights[4]) {
  return perceptual ? bc7_color_distance<3, true>(a, b, weights)
                    : bc7_color_distance<3, false>(a, b, weights);
}

uint64_t bc7_color_distance_rgba(const uint8_t a[4], const uint8_t b[4], bool perceptual,
                                 const uint32_t weights[4]) {
  return perceptual ? bc7_color_distance<4, true>(a, b, weights)
                    : bc7_color_distance<4, false>(a, b, weights);
}
