// Splits the pixel rows of a frame over slices: every slice but the last
// gets whole block rows, equal shares first and the remainder one block row
// at a time to the first slices; the last also takes the rows below the last
// whole block row. Starts are the running sums from 0.
#pragma once
#include <cstdint>

void plan_row_slices(uint16_t height, uint32_t slices, uint16_t* start_rows, uint16_t* row_counts);
