// BC7 block encoder for the HAPR codecs: one 4x4 block of 8-bit RGBA pixels
// becomes one 16-byte block of the published BC7 format. Opaque blocks use
// modes 6 and 1, blocks with alpha modes 6, 5 and 7.
#pragma once
#include <cstdint>

// How hard the encoder tries, and which error metric it minimises.
struct Bc7_Block_Params {
  uint32_t max_partitions;      // two-subset partitions tried for modes 1 and 7 (0: no mode 1)
  uint32_t channel_weights[4];  // R, G, B, A (linear) or luma, Cr, Cb, A (perceptual)
  uint32_t level;               // refinement effort of the endpoint search (engine: 0, 1, 4)
  uint8_t perceptual;           // 1: perceptual metric, 0: weighted squared RGB(A)
  uint8_t use_least_squares;    // refit endpoints from the first indices
  uint8_t prune_partitions;     // skip unlikely partitions after the first 14 tried
  uint8_t try_mode_5;           // blocks with alpha: try separate colour and alpha
  uint8_t try_mode_7;           // blocks with alpha: try two subsets
};

// Defaults: 64 partitions, perceptual weights 128, 64, 16, 32, level 0,
// every switch on.
void bc7_params_init(Bc7_Block_Params& params);
// Weights 1, 1, 1, 1 with the linear metric.
void bc7_params_set_linear_weights(Bc7_Block_Params& params);
// Weights 128, 64, 16, 32 with the perceptual metric.
void bc7_params_set_perceptual_weights(Bc7_Block_Params& params);
// The texture engine's preset: linear weights 1, every switch on, and the
// given level and partition count (quality 1: 0, 4; 2: 1, 16; 3: 4, 64).
Bc7_Block_Params bc7_engine_params(uint32_t level, uint32_t max_partitions);

// Builds the single-colour endpoint tables the encoder reads. The first call
// builds them; later calls, from any thread, return once they are built.
void bc7_init_tables();

// Encodes one block: pixels are 16 RGBA pixels (4 bytes each) in row order.
// Always writes all 16 output bytes. Returns true when the block has an alpha
// below 255 (and so took the alpha path), false for an opaque block.
bool bc7_encode_block(uint8_t out[16], const uint8_t pixels[64], const Bc7_Block_Params& params);
