// Writing a single-channel block: the endpoint bytes, then the 16 indices
// three bits each. The 6- and 8-value forms order the endpoints so that the
// decoder picks the palette the indices were chosen from.
#include "texture_encoder/alpha_block.h"

namespace {

// The decoder's palette for endpoints written the other way round holds the
// same values; these rename an index of the palette as searched (first,
// second, then the inner values from first towards second) to it.
uint8_t renamed_in_six(uint8_t k) { return k < 2 ? k ^ 1 : k < 6 ? uint8_t(7 - k) : k; }
uint8_t renamed_in_eight(uint8_t k) { return k < 2 ? k ^ 1 : uint8_t(9 - k); }

}  // namespace

void alpha_pack_block(uint8_t e0, uint8_t e1, const uint8_t* indices16, uint8_t* out8) {
  out8[0] = e0;
  out8[1] = e1;
  // Three bytes hold eight indices, low bits first.
  for (int group = 0; group < 2; ++group) {
    uint32_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= uint32_t(indices16[8 * group + i] & 7) << (3 * i);
    for (int b = 0; b < 3; ++b) out8[2 + 3 * group + b] = uint8_t(bits >> (8 * b));
  }
}

void alpha_pack_block_6(uint8_t first, uint8_t second, const uint8_t* indices16, uint8_t* out8) {
  if (first <= second) {
    alpha_pack_block(first, second, indices16, out8);
    return;
  }
  uint8_t renamed[16];
  for (int i = 0; i < 16; ++i) renamed[i] = renamed_in_six(indices16[i] & 7);
  alpha_pack_block(second, first, renamed, out8);
}

void alpha_pack_block_8(uint8_t first, uint8_t second, const uint8_t* indices16, uint8_t* out8) {
  if (first > second) {
    alpha_pack_block(first, second, indices16, out8);
    return;
  }
  // Equal endpoints cannot select the 8-value palette; index 0 is their value
  // in the 6-value one.
  uint8_t renamed[16];
  for (int i = 0; i < 16; ++i)
    renamed[i] = first == second ? 0 : renamed_in_eight(indices16[i] & 7);
  alpha_pack_block(second, first, renamed, out8);
}
