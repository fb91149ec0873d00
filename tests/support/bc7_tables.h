// BC7 constant tables of the reference decoder. They are read at run time from
// the shared table file (HAP_BC7_TABLES) instead of being taken from the
// encoder, so that a slip in the encoder's tables shows up as a round-trip
// mismatch; bc7_tables_test checks the encoder's tables against the same file.
#pragma once
#include <cstdint>
#include <string>

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

// Pixel p = 4 * row + column.
struct Tables {
  uint8_t weights2[4];  // out of 64
  uint8_t weights3[8];
  uint8_t weights4[16];
  Mode_Info modes[8];
  uint8_t partitions2[64][16];  // subset of each pixel
  uint8_t partitions3[64][16];
  uint8_t anchors2[64];     // anchor pixel of subset 1
  uint8_t anchors3[64][2];  // anchor pixels of subsets 1 and 2
};

// Reads a table file (its syntax is described at its top). Throws
// std::runtime_error naming the file and line when the file is missing, a
// section is unknown, missing or of the wrong length, or a value is out of
// range.
Tables read_file(const std::string& path);

// The tables of the shared file, read on first use.
const Tables& shared();

}  // namespace bc7_tables
