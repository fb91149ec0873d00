// One YCoCg-DXT5 block: load, the fixed block for black, then the Y half and
// the colour half by the kernels of the worker's quality.
#include <cstring>

#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/ycocg_block.h"

namespace {

// Black (letterboxing, fades) skips the encoders: each quality has a fixed
// block for it, within a step of black once decoded.
constexpr uint8_t black_block_q1[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0x84, 0, 0, 0, 0, 0, 0};
constexpr uint8_t black_block_hq[16] = {0,    0,    0,    0,    0,    0,    0,    0,
                                        0x23, 0x08, 0xE3, 0xBD, 0xFF, 0xFF, 0xFF, 0xFF};

template <int Quality>
void encode_ycocg_block(const Dxt_Kernel_Head& head, uint8_t* out, const uint8_t* source,
                        int64_t stride) {
  Ycocg_Block block;
  uint64_t all_black = 0;
  head.ycocg_load_block(&block, source, stride, &all_black);
  if (all_black == 1) {
    std::memcpy(out, Quality == 1 ? black_block_q1 : black_block_hq, 16);
    return;
  }

  if constexpr (Quality == 1) {
    if (block.y_min != block.y_max) {
      head.ycocg_encode_y_alpha(out, &block);
    } else {
      ycocg::write_single_y(out, ycocg::nearest(block.y_min * 255.0f));
    }
    const auto encode_cocg = ycocg::cocg_box_is_flat(block.cocg.cocg_box)
                                 ? head.ycocg_encode_cocg_flat
                                 : head.ycocg_encode_cocg;
    encode_cocg(out + 8, &block.cocg);
  } else {
    // Both ends round to one code: a single-value Y half is exact enough.
    const int low = static_cast<int>(block.y_min * 255.0f + 0.5f);
    const int high = static_cast<int>(block.y_max * 255.0f + 0.5f);
    if ((low & 0xFF) != (high & 0xFF)) {
      head.ycocg_encode_y_alpha(out, &block);
    } else {
      ycocg::write_single_y(out, low);
    }
    if constexpr (Quality == 2) {
      ycocg_encode_cocg_q2(head.cocg_endpoint_kernels, out + 8, &block.cocg);
    } else {
      ycocg_encode_cocg_q3(head.cocg_endpoint_kernels, out + 8, &block.cocg);
    }
  }
}

}  // namespace

void encode_slice_ycocg_q1(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]) {
  encode_ycocg_block<1>(head, out, planes[0], strides[0]);
}

void encode_slice_ycocg_q2(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]) {
  encode_ycocg_block<2>(head, out, planes[0], strides[0]);
}

void encode_slice_ycocg_q3(const Dxt_Kernel_Head& head, uint8_t* out,
                           const uint8_t* const planes[4], const int64_t strides[4]) {
  encode_ycocg_block<3>(head, out, planes[0], strides[0]);
}
