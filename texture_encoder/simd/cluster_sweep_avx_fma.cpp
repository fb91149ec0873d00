// The AVX-with-FMA forms of the cluster-fit partition sweeps.
#include "texture_encoder/simd/cluster_sweep_eval.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"

HAP_CLUSTER_SWEEP_KERNELS(avx_fma, true)

// Snapping the clamped value gives the same level as snapping first and then
// clamping the integer level, for every value these two partitions produce.
void dxt_cluster_fit_block_n3_avx_fma(Cluster_Fit_Best* best, Partition_Code* code,
                                      const Cluster_Partition_Sums* sums, const uint64_t*,
                                      const uint8_t* codes) {
  sweep_list<true>(best, code, sums, cluster_fit_lists(3).final, codes);
}
