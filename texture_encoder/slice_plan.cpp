#include "texture_encoder/slice_plan.h"

void plan_row_slices(uint16_t height, uint32_t slices, uint16_t* start_rows, uint16_t* row_counts) {
  const uint32_t block_rows = height / 4u;
  const uint32_t share = block_rows / slices;
  const uint32_t remainder = block_rows % slices;
  uint32_t start = 0;
  for (uint32_t i = 0; i < slices; ++i) {
    uint32_t rows = share * 4 + (i < remainder ? 4 : 0);
    if (i + 1 == slices) rows += height % 4u;
    start_rows[i] = uint16_t(start);
    row_counts[i] = uint16_t(rows);
    start += rows;
  }
}
