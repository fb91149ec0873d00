// Puts the AVX cluster-fit twins into the slots the scalar installation filled
// for the quality-2/3 DXT colour search, and with FMA the AVX+FMA twins over
// them (stage A keeps its AVX kernels). Runs on any processor: it only takes
// the kernels' addresses.
#include <utility>

#include "texture_encoder/simd/cluster_fit_vector.h"
#include "texture_encoder/simd/simd_install.h"

namespace {

template <uint32_t N>
void install_count(Dxt_Kernel_Head& head, bool fma) {
  constexpr size_t slot = N - 2;
  head.cluster_partition_sums[slot] = cluster_partition_sums_n_avx<N>;
  if constexpr (N >= 3 && N < 16)
    head.cluster_fit_mean_pairs[slot] =
        fma ? cluster_fit_mean_pairs_n_avx_fma<N> : cluster_fit_mean_pairs_n_avx<N>;
  if constexpr (N >= 5 && N < 16)
    head.cluster_fit_three_levels[slot] =
        fma ? cluster_fit_three_levels_n_avx_fma<N> : cluster_fit_three_levels_n_avx<N>;
  if constexpr (N == 7 || N == 8 || N == 11 || N == 15)
    head.cluster_fit_final[slot] =
        fma ? dxt_cluster_fit_block_n_avx_fma<N> : dxt_cluster_fit_block_n_avx<N>;
}

template <uint32_t... I>
void install_counts(Dxt_Kernel_Head& head, bool fma, std::integer_sequence<uint32_t, I...>) {
  (install_count<I + 2>(head, fma), ...);
}

// The scalar installation fills the cluster-fit slots only where the colour
// search is the cluster fit (DXT1 and DXT5 colour, quality 2 and 3).
bool uses_cluster_fit(const Dxt_Encoder_Context& context) {
  return context.head.cluster_partition_sums[0] != nullptr;
}

}  // namespace

void install_cluster_fit_vector_kernels(Dxt_Encoder_Context* context, uint32_t mask) {
  if (!(mask & Simd_Flag_Enable) || !(mask & Simd_Flag_Avx) || !uses_cluster_fit(*context)) return;
  const bool fma = (mask & Simd_Flag_Fma) != 0;
  Dxt_Kernel_Head& head = context->head;
  install_counts(head, fma, std::make_integer_sequence<uint32_t, 15>{});
  if (fma) head.cluster_fit_final[2 - 2] = dxt_cluster_fit_block_n_avx_fma<2>;
  head.cluster_fit_final[10 - 2] =
      fma ? dxt_solve_least_squares_n10_avx_fma : dxt_solve_least_squares_n10_avx;
  head.cluster_fit_n16_mean_pairs =
      fma ? cluster_fit_mean_pairs_n16_avx_fma : cluster_fit_mean_pairs_n16_avx;
  head.cluster_fit_n16_three_levels =
      fma ? cluster_fit_three_levels_n16_avx_fma : cluster_fit_three_levels_n16_avx;
  head.cluster_fit_n16_four_levels =
      fma ? cluster_fit_four_levels_n16_avx_fma : cluster_fit_four_levels_n16_avx;
  head.cluster_fit_n16_records =
      fma ? cluster_fit_records_n16_avx_fma : cluster_fit_records_n16_avx;
  head.cluster_fit_n16_final =
      fma ? dxt_cluster_fit_block_alt_n16_avx_fma : dxt_cluster_fit_block_alt_n16_avx;
}
