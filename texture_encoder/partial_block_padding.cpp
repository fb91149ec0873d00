#include "texture_encoder/partial_block_padding.h"

#include <array>
#include <cstdio>
#include <utility>

namespace {

// Instances by format and mode class (edge, black, zeros).
template <uint32_t... Fmt>
constexpr auto make_pad_table(std::integer_sequence<uint32_t, Fmt...>) {
  return std::array<std::array<Pad_Kernel_Fn, 3>, sizeof...(Fmt)>{
      pad_partial_block_modes<Fmt>...};
}
constexpr auto pad_table = make_pad_table(std::make_integer_sequence<uint32_t, 16>{});

}  // namespace

void pad_partial_block(uint8_t* out, const uint8_t* const planes[4], const int64_t strides[4],
                       uint16_t valid_columns, uint16_t valid_rows, uint32_t pix_fmt,
                       uint32_t pad_mode) {
  if (pix_fmt > 15) {
    if (pad_mode == Pad_Mode_Black) {
      std::printf("ERROR : pad_partial_block : pix fmt non gerer 1 : %d\n", int(pix_fmt));
    }
    std::printf("ERROR : pad_partial_block : pix fmt non gerer 2 : %d\n", int(pix_fmt));
    return;
  }
  const int mode = pad_mode == Pad_Mode_Edge || pad_mode == Pad_Mode_Crop ? 0
                   : pad_mode == Pad_Mode_Black                          ? 1
                                                                         : 2;
  pad_table[pix_fmt][mode](out, planes, strides, valid_columns, valid_rows);
}
