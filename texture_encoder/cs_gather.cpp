// Gather of a block's distinct colours: the cluster fit searches over colours,
// not pixels, so repeated colours are merged and counted.
#include <cstdio>

#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/pixel_formats.h"

template <uint32_t Fmt>
void cs_template(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t* plane1,
                 const uint8_t* plane2, int64_t stride0, int64_t stride1, int64_t stride2) {
  if constexpr (!pix_fmt_has_8bit_channels(Fmt)) {
    std::printf("ERROR : cs_template : pix fmt non gere : %d\n", int(Fmt));
  } else {
    Block_Reader<Fmt> rows(plane0, plane1, plane2, nullptr, stride0, stride1, stride2, 0);
    Pixel8 seen[16];
    uint32_t n = 0;
    for (int y = 0; y < 4; ++y, rows.next_row()) {
      for (int x = 0; x < 4; ++x) {
        const Pixel8 p = rows.pixel8(x);
        uint32_t colour = 0;
        while (colour < n && (seen[colour].r != p.r || seen[colour].g != p.g || seen[colour].b != p.b))
          ++colour;
        if (colour == n) {
          seen[n] = p;
          out->colours[n][0] = float(p.r) / 255.0f;
          out->colours[n][1] = float(p.g) / 255.0f;
          out->colours[n][2] = float(p.b) / 255.0f;
          out->counts[n] = 0;
          ++n;
        }
        ++out->counts[colour];
        out->map[4 * y + x] = colour;
      }
    }
    out->count = n;
  }
}

void cs_gather_block(Cs_Gathered_Block* out, const uint8_t* plane0, const uint8_t* plane1,
                     const uint8_t* plane2, int64_t stride0, int64_t stride1, int64_t stride2) {
  cs_template<1>(out, plane0, plane1, plane2, stride0, stride1, stride2);
}

template void cs_template<7>(Cs_Gathered_Block*, const uint8_t*, const uint8_t*, const uint8_t*,
                             int64_t, int64_t, int64_t);
