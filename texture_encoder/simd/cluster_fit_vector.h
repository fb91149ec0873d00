// AVX and AVX-with-FMA twins of the cluster-fit stages A, B, C and F, and of
// the whole 16-colour set (stages B to F). Each has the signature of the slot
// it fills (texture_encoder/dxt_encoder_context.h) and walks the same
// partition lists as the scalar kernels (cluster_fit/partition_tables.h),
// by the lists' plans: stages C to F do not read their entries argument.
//
// Results equal the scalar kernels' except where the arithmetic of the level
// differs:
//   - AVX: a grid level that falls exactly on k + 0.5 rounds to the even
//     neighbour (the scalar kernels round away from zero); stage B of every
//     count and the stage-A scaled fields of counts 4..16 associate their
//     products differently and may differ in the last bits; the 16-colour
//     stage E groups its sums differently in two sections.
//   - AVX+FMA: levels are trunc(x * grid + 0.5) with one rounding; the fused
//     steps change last bits, and with them, rarely, a near tie.
// Within one level, candidates are taken in list order and the best record
// changes only on a strictly smaller error.
#pragma once
#include <cstdint>

#include "texture_encoder/cluster_fit/cluster_fit.h"

// ---- Stage A (AVX only; the FMA set keeps these) ------------------------------

// The partition-sum table of N sorted colours (2..16), each scaled field of a
// run of two or more the product of the run's sum (counts 4..16).
template <uint32_t N>
Cluster_Partition_Sums_Kernel cluster_partition_sums_n_avx;

// ---- Stage B, counts 3..15 ----------------------------------------------------

// The N - 1 splits between the two endpoints, each side at its snapped mean.
template <uint32_t N>
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n_avx;
template <uint32_t N>
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n_avx_fma;

// ---- Stage C, counts 5..15 ----------------------------------------------------

// The five two-cluster shape groups of the count's stage-C list.
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_three_levels_n_avx;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_three_levels_n_avx_fma;

// ---- Stage F: counts 7, 8, 11, 15 (AVX and FMA), 2 (FMA only) -----------------

// The two general entries of the count's stage-F list.
template <uint32_t N>
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n_avx;
template <uint32_t N>
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n_avx_fma;

// The single general entry of the 10-colour stage-F list.
Cluster_Fit_Stage_Kernel dxt_solve_least_squares_n10_avx;
Cluster_Fit_Stage_Kernel dxt_solve_least_squares_n10_avx_fma;

// ---- The 16-colour set --------------------------------------------------------

// Stage B: the 15 splits, taken in the order 2, 3, ..., 14, 1, 15; means by
// the reciprocals of the side lengths.
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n16_avx;
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n16_avx_fma;

// Stages C (60 partitions), D (412), E (476) and F (2) over the 16-colour lists
// and the reciprocal-determinant table.
Cluster_Fit_N16_Stage_Kernel cluster_fit_three_levels_n16_avx;
Cluster_Fit_N16_Stage_Kernel cluster_fit_three_levels_n16_avx_fma;
Cluster_Fit_N16_Stage_Kernel cluster_fit_four_levels_n16_avx;
Cluster_Fit_N16_Stage_Kernel cluster_fit_four_levels_n16_avx_fma;
Cluster_Fit_N16_Stage_Kernel cluster_fit_records_n16_avx;
Cluster_Fit_N16_Stage_Kernel cluster_fit_records_n16_avx_fma;
Cluster_Fit_N16_Stage_Kernel dxt_cluster_fit_block_alt_n16_avx;
Cluster_Fit_N16_Stage_Kernel dxt_cluster_fit_block_alt_n16_avx_fma;
