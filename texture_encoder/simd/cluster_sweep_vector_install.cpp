// Puts the vector partition sweeps (stages D and E, stage F of two and three
// colours) in the cluster-fit slots of DXT1 and DXT5 at quality 2 and 3: the
// AVX forms with Simd_Flag_Avx, the AVX-with-FMA forms with Simd_Flag_Fma too.
// Built without AVX flags: it only takes the kernels' addresses.
#include <utility>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

template <uint32_t N>
void install_count(Dxt_Kernel_Head& head, bool fma) {
  head.cluster_fit_records[N - 2] =
      fma ? cluster_fit_records_n_avx_fma<N> : cluster_fit_records_n_avx<N>;
  if constexpr (N >= 5)
    head.cluster_fit_four_levels[N - 2] =
        fma ? cluster_fit_four_levels_n_avx_fma<N> : cluster_fit_four_levels_n_avx<N>;
}

template <uint32_t... I>
void install_counts(Dxt_Kernel_Head& head, bool fma, std::integer_sequence<uint32_t, I...>) {
  (install_count<I + 2>(head, fma), ...);
}

}  // namespace

void install_cluster_sweep_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  const bool dxt =
      context->texture_code == Texture_Code_Dxt1 || context->texture_code == Texture_Code_Dxt5;
  const bool searched = context->quality == 2 || context->quality == 3;
  constexpr uint32_t avx = Simd_Flag_Enable | Simd_Flag_Avx;
  if (!dxt || !searched || (mask & avx) != avx) return;
  const bool fma = (mask & Simd_Flag_Fma) != 0;
  Dxt_Kernel_Head& head = context->head;
  install_counts(head, fma, std::make_integer_sequence<uint32_t, 14>{});
  head.cluster_fit_final[3 - 2] =
      fma ? dxt_cluster_fit_block_n3_avx_fma : dxt_cluster_fit_block_n3_avx;
  // The two-colour FMA form belongs to the stage-F family installed before;
  // the AVX form only replaces the scalar kernel, never that one.
  if (head.cluster_fit_final[2 - 2] == dxt_cluster_fit_block)
    head.cluster_fit_final[2 - 2] = dxt_cluster_fit_block_n2_avx;
}
