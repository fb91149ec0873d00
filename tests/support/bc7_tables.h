// BC7 constant tables used by the reference decoder.
#pragma once
#include <cstdint>

namespace bc7_tables {

// Bit layout of one BC7 mode.
struct Mode_Info {
  int subsets;
  int partition_bits;
  int rotation_bits;
  int index_selection_bits;
  int color_bits;  // per channel per endpoint, without the p-bit
  int alpha_bits;  // 0 when the mode has no alpha (alpha decodes as 255)
  int pbit_per_endpoint;
  int pbit_per_subset;
  int index_bits;
  int index2_bits;  // second index set of modes 4 and 5, else 0
};

extern const uint8_t weights2[4];   // out of 64
extern const uint8_t weights3[8];
extern const uint8_t weights4[16];
extern const Mode_Info modes[8];
extern const char* const partitions2[64];  // 16 digits: subset of each pixel
extern const char* const partitions3[64];
extern const uint8_t anchors2[64];     // anchor pixel of subset 1
extern const uint8_t anchors3[64][2];  // anchor pixels of subsets 1 and 2

}  // namespace bc7_tables
