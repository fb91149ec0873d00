// Installs the YCoCg-DXT5 worker and kernels for one quality.
#include <cstdio>

#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/installers.h"
#include "texture_encoder/ycocg_block.h"

uint32_t install_ycocg_set(Dxt_Encoder_Context* context, uint32_t /*pix_fmt*/, uint32_t /*mask*/,
                           uint8_t quality) {
  Dxt_Kernel_Head& head = context->head;
  switch (quality) {
    case 1:
      context->slice_worker = encode_slice_ycocg_q1;
      head.ycocg_encode_y_alpha = ycocg_encode_y_alpha;
      head.ycocg_encode_cocg = ycocg_encode_cocg;
      head.ycocg_encode_cocg_flat = ycocg_encode_cocg_flat;
      break;
    case 2:
    case 3:
      context->slice_worker = quality == 2 ? encode_slice_ycocg_q2 : encode_slice_ycocg_q3;
      head.ycocg_encode_y_alpha = ycocg_encode_y_alpha_hq;
      head.cocg_endpoint_kernels = cocg_endpoint_kernels_scalar(quality);
      break;
    default:
      std::printf("DxtEnc DXT5 ycocg unknown quality : %d\n", quality);
      return 1;
  }
  // Both accepted layouts are BGRA8: the driver reads bottom-up frames with a
  // negative stride.
  head.ycocg_load_block = ycocg_load_block;
  return 0;
}
