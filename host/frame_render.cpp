// Rendering a source frame at the export size: nearest-sample scaling through
// a table of source columns, the flip to bottom-up rows and premultiplication
// by a multiply and a shift, in bands of rows run in parallel on large frames.
#include <algorithm>
#include <cstring>
#include <vector>

#include "host/stand_in_host.h"
#include "platform/parallel_for.h"

namespace host {
namespace {

constexpr int band_rows = 32;
// Below this many pixels handing bands to other threads costs more than it saves.
constexpr int64_t parallel_pixels = int64_t(1) << 17;

// One output row from one source row. `columns` gives the source byte offset
// of every output pixel, or is null when the row is copied as it is.
void render_row(const uint8_t* source, const uint32_t* columns, int width, bool premultiplied, uint8_t* out) {
  if (!columns && !premultiplied) {
    std::memcpy(out, source, size_t(width) * 4);
    return;
  }
  for (int x = 0; x < width; ++x) {
    const uint8_t* s = source + (columns ? columns[x] : uint32_t(x) * 4);
    uint8_t* d = out + size_t(x) * 4;
    const uint8_t a = s[3];
    if (premultiplied && a != 255) {
      d[0] = premultiply(s[0], a);
      d[1] = premultiply(s[1], a);
      d[2] = premultiply(s[2], a);
      d[3] = a;
    } else {
      std::memcpy(d, s, 4);
    }
  }
}

}  // namespace

void render_frame(const uint8_t* source, int source_width, int source_height, bool premultiplied, int width,
                  int height, uint8_t* out, size_t row_bytes) {
  std::vector<uint32_t> columns;
  if (width != source_width) {
    columns.resize(size_t(width));
    for (int x = 0; x < width; ++x) columns[size_t(x)] = uint32_t(int64_t(x) * source_width / width) * 4;
  }
  const uint32_t* column_table = columns.empty() ? nullptr : columns.data();
  auto render_band = [&](int64_t band) {
    const int first = int(band) * band_rows, last = std::min(height, first + band_rows);
    for (int y = first; y < last; ++y) {
      const int64_t sy = height == source_height ? y : int64_t(y) * source_height / height;
      render_row(source + size_t(sy) * size_t(source_width) * 4, column_table, width, premultiplied,
                 out + size_t(height - 1 - y) * row_bytes);
    }
  };
  const int64_t bands = (height + band_rows - 1) / band_rows;
  if (int64_t(width) * height < parallel_pixels) {
    for (int64_t band = 0; band < bands; ++band) render_band(band);
  } else {
    platform::parallel_for(0, bands, render_band);
  }
}

}  // namespace host
