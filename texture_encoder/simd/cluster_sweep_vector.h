// Vector twins of the partition-table sweeps of the cluster fit (stages D and
// E for 2..15 colours, stage F for two and three colours). Each has exactly
// the signature and contract of the scalar kernel of its slot
// (cluster_fit/cluster_fit.h): the same tables, the same candidates in the
// same order, and the best replaced only on a strictly smaller error. They
// walk their list's plan, so of the table arguments only the code bytes are
// read, not the entries. They differ from the scalar kernels only in
// rounding: the AVX forms snap to the 5:6:5 grid half-to-even, the
// AVX-with-FMA forms truncate a fused v * scale + 0.5 and fuse products into
// sums, so near-ties may resolve differently.
//
// Call the _avx kernels only with AVX, the _avx_fma kernels only with AVX and
// FMA (texture_encoder/simd_features.h).
#pragma once
#include <cstdint>

#include "texture_encoder/cluster_fit/cluster_fit.h"

// Stage D of N = 5..15 colours over that count's compact four-level list.
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_four_levels_n_avx;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_four_levels_n_avx_fma;

// Stage E of N = 2..15 colours over that count's general record list.
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_records_n_avx;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_records_n_avx_fma;

// Stage F of two colours, partitions (0,1,2) then (1,1,1), and of three
// colours, (1,3,3) then (2,3,3).
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n2_avx;
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n3_avx;
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block_n3_avx_fma;
