// Block loader of the YCoCg-DXT5 encoders.
#include <cstddef>

#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/ycocg_block.h"

// The conversion writes the record as 60 floats.
static_assert(offsetof(Ycocg_Block, cocg) + offsetof(Cocg_Block, cocg_box) == 56 * sizeof(float));
static_assert(sizeof(Ycocg_Block) >= 60 * sizeof(float));

namespace {

// One packed block through a conversion template; Convert<Fmt> is to_ycocg or
// to_ycocg_integer of that format.
template <auto Convert>
void load_packed(Ycocg_Block* out, const uint8_t* src, int64_t stride, uint64_t* all_black) {
  Convert(reinterpret_cast<float*>(out), src, nullptr, nullptr, stride, 0, 0, all_black);
}

}  // namespace

void ycocg_load_block(Ycocg_Block* out, const uint8_t* src, int64_t stride, uint64_t* all_black) {
  load_packed<to_ycocg<Pix_Fmt_Bgra8>>(out, src, stride, all_black);
}

void ycocg_load_block_fmt2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                           uint64_t* all_black) {
  load_packed<to_ycocg<Pix_Fmt_Bgra8_Bottom_Up>>(out, src, stride, all_black);
}

void ycocg_load_block_integer(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                              uint64_t* all_black) {
  load_packed<to_ycocg_integer<Pix_Fmt_Bgra8>>(out, src, stride, all_black);
}

void ycocg_load_block_integer_fmt2(Ycocg_Block* out, const uint8_t* src, int64_t stride,
                                   uint64_t* all_black) {
  load_packed<to_ycocg_integer<Pix_Fmt_Bgra8_Bottom_Up>>(out, src, stride, all_black);
}
