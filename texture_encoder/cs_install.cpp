// Installation of the cluster set-up kernels, one instance per colour count.
#include <cstdio>
#include <utility>

#include "texture_encoder/cs_kernels.h"

namespace {

template <uint32_t... I>
void install_by_count(Dxt_Kernel_Head& head, std::integer_sequence<uint32_t, I...>) {
  ((head.cs_kernels.principal_axis[I] = cs_principal_axis_n<I + 2>), ...);
  ((head.cs_sort_order[I] = cs_sort_order_n<I + 2>), ...);
}

template <uint32_t... I>
void install_projections(Dxt_Kernel_Head& head, std::integer_sequence<uint32_t, I...>) {
  ((head.cs_project_on_axis[I] = cs_project_on_axis_n<I + 2>), ...);
}

}  // namespace

uint32_t install_cs_kernels(Dxt_Encoder_Context* context, uint32_t pix_fmt, uint32_t) {
  if (pix_fmt != Pix_Fmt_Bgra8 && pix_fmt != Pix_Fmt_Bgra8_Bottom_Up) {
    std::printf("Cs unsupported : %d\n", int(pix_fmt));
    return 1;
  }
  Dxt_Kernel_Head& head = context->head;
  head.cs_kernels.gather_block = cs_gather_block;
  head.cs_kernels.pack_block_from_float = dxt1_pack_block_from_float;
  head.cs_kernels.pack_block_from_565 = dxt1_pack_block_from_565;
  install_by_count(head, std::make_integer_sequence<uint32_t, 15>{});
  return 0;
}

void install_cs_projections(Dxt_Encoder_Context* context) {
  install_projections(context->head, std::make_integer_sequence<uint32_t, 15>{});
}
