// Block loader of the YCoCg-DXT5 encoders.
#include <cstddef>

#include "texture_encoder/pixel_formats.h"
#include "texture_encoder/ycocg_block.h"

// The conversion writes the record as 60 floats.
static_assert(offsetof(Ycocg_Block, cocg) + offsetof(Cocg_Block, cocg_box) == 56 * sizeof(float));
static_assert(sizeof(Ycocg_Block) >= 60 * sizeof(float));

void ycocg_load_block(Ycocg_Block* out, const uint8_t* src, int64_t stride, uint64_t* all_black) {
  to_ycocg<Pix_Fmt_Bgra8>(reinterpret_cast<float*>(out), src, nullptr, nullptr, stride, 0, 0,
                          all_black);
}
