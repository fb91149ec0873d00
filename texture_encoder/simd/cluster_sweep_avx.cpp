// The AVX forms (no fused multiply-add) of the cluster-fit partition sweeps.
#include "texture_encoder/simd/cluster_sweep_eval.h"
#include "texture_encoder/simd/cluster_sweep_vector.h"

HAP_CLUSTER_SWEEP_KERNELS(avx, false)

void dxt_cluster_fit_block_n2_avx(Cluster_Fit_Best* best, Partition_Code* code,
                                  const Cluster_Partition_Sums* sums, const uint64_t*,
                                  const uint8_t* codes) {
  sweep_list<false>(best, code, sums, cluster_fit_lists(2).final, codes);
}

void dxt_cluster_fit_block_n3_avx(Cluster_Fit_Best* best, Partition_Code* code,
                                  const Cluster_Partition_Sums* sums, const uint64_t*,
                                  const uint8_t* codes) {
  sweep_list<false>(best, code, sums, cluster_fit_lists(3).final, codes);
}
