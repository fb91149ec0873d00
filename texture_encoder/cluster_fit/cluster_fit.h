// The cluster fit of a DXT colour block: for a block with n distinct colours
// (2..16), weighted and sorted along their principal axis, every partition of
// the sorted colours into four contiguous clusters on the four levels of the
// DXT palette (at least two clusters in use) is scored by least squares with
// 5:6:5 endpoints, and the best one is kept in a Cluster_Fit_Best and its
// Partition_Code. The three-colour mode of DXT1 is never searched.
//
// The search runs in stages, each a kernel per count walking its own list
// (partition_tables.h), in the order A, B, C, D, E, F where they exist:
//   A  cluster_partition_sums   sums of every contiguous run of sorted colours
//   B  cluster_fit_mean_pairs   the n - 1 splits between the two endpoints
//   C  cluster_fit_three_levels groups of two-cluster partitions
//   D  cluster_fit_four_levels  groups of three-cluster partitions
//   E  cluster_fit_records      the remaining partitions, general entries
//   F  cluster_fit_final        the last one or two entries
// Errors leave out the block constant sum(w |c|^2), so they can be negative.
// Every stage replaces the best only on a strictly smaller error: of equal
// errors the one met first stays.
#pragma once
#include <cstdint>
#include <type_traits>

#include "texture_encoder/dxt_encoder_context.h"

// The function types of the stage slots (dxt_encoder_context.h): the kernels
// here and their vector twins are declared by the slot they fill.
using Cluster_Partition_Sums_Kernel = std::remove_pointer_t<Cluster_Partition_Sums_Fn>;
using Cluster_Fit_Mean_Pairs_Kernel = std::remove_pointer_t<Cluster_Fit_Mean_Pairs_Fn>;
using Cluster_Fit_Stage_Kernel = std::remove_pointer_t<Cluster_Fit_Stage_Fn>;
using Cluster_Fit_N16_Stage_Kernel = std::remove_pointer_t<Cluster_Fit_N16_Stage_Fn>;

// ---- Stage A -------------------------------------------------------------------

// Sums of the runs of n sorted colours given as (w r, w g, w b, w); for 16
// colours every w is 1 and the middle weights are the length-indexed constants.
template <uint32_t N>
Cluster_Partition_Sums_Kernel cluster_partition_sums_n;

// Copies the run records and middle weights of N colours into the channel-major
// lanes (partition_tables.h); every stage-A kernel ends with it.
template <uint32_t N>
void cluster_sums_fill_lanes(Cluster_Partition_Sums* sums);

// Run record dest = run record first + run record second (all twelve floats).
void cluster_sums_add_runs(Cluster_Partition_Sums* sums, uint32_t dest, uint32_t first,
                           uint32_t second);

// ---- Evaluators ----------------------------------------------------------------

// Two general entries (five offsets each) and their six code bytes. The last
// stage of 2, 3, 7, 8, 11 and 15 colours.
Cluster_Fit_Stage_Kernel dxt_cluster_fit_block;
// The first count general entries of a list below 16 colours, in order: stage
// E below 16 colours.
void cluster_fit_general_entries(Cluster_Fit_Best* best, Partition_Code* code,
                                 const Cluster_Partition_Sums* sums, const uint64_t* entries,
                                 const uint8_t* codes, uint32_t count);
// One general entry. The last stage of 10 colours.
Cluster_Fit_Stage_Kernel dxt_solve_least_squares;
// Two 16-colour general entries, the determinant read from the reciprocal
// table. The last stage of 16 colours.
Cluster_Fit_N16_Stage_Kernel dxt_cluster_fit_block_alt;

// Two compact entries of one shape (partition_tables.h), or that many pairs of
// them one after the other; reciprocal table null below 16 colours. A shape
// without a middle cluster is refused with "ERREUR : ALPHAX need part 1 et 2\n".
void cluster_fit_eval_partition(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums,
                                const float* reciprocal_determinant_table,
                                const uint64_t* entries, const uint8_t* codes, uint8_t shape,
                                uint32_t pairs = 1);
// 4 * passes compact entries of one shape: 2 * passes pairs in one call of
// cluster_fit_eval_partition.
void cluster_fit_eval_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                            const Cluster_Partition_Sums* sums,
                            const float* reciprocal_determinant_table, const uint64_t* entries,
                            const uint8_t* codes, uint8_t shape, uint32_t passes);
// 4 * passes 16-colour general entries, two at a time.
void cluster_fit_block_pairs(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums,
                             const float* reciprocal_determinant_table, const uint64_t* entries,
                             const uint8_t* codes, uint32_t passes);

// Stage B body below 16 colours: the splits k = 1..n-1 of a split-pair list,
// each endpoint the mean of its side.
void cluster_scan_partitions(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums, const uint64_t* split_pairs,
                             uint32_t n);

// ---- Stage kernels by count ------------------------------------------------------

template <uint32_t N>
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_three_levels_n;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_four_levels_n;
template <uint32_t N>
Cluster_Fit_Stage_Kernel cluster_fit_records_n;

// Stage B of 16 colours: the splits k = 1, 15, 2, 3, ..., 14 in that order,
// means by the reciprocals of k and 16 - k; the single colour of a side of one
// (k = 1 or 15) is taken as it is.
Cluster_Fit_Mean_Pairs_Kernel cluster_fit_mean_pairs_n16;
Cluster_Fit_N16_Stage_Kernel cluster_fit_three_levels_n16;
Cluster_Fit_N16_Stage_Kernel cluster_fit_four_levels_n16;
Cluster_Fit_N16_Stage_Kernel cluster_fit_records_n16;

// Fills every scalar cluster-fit slot (stages A to F, all counts).
void install_cluster_fit_kernels(Dxt_Encoder_Context* context);

// True for the counts the stages exist for (2..16); otherwise prints
// "ERROR : non code pour count : %llu\n" with n.
bool cluster_fit_count_supported(uint64_t n);

// Runs the stages of n colours (2..16) through the head on weighted, sorted
// colours, leaving the result in best and code (which the caller initialises).
// Returns 1, after "ERROR : non code pour count : %llu\n", for any other n.
uint32_t cluster_fit_run_stages(const Dxt_Kernel_Head& head, uint64_t n,
                                const float* weighted_colours, Cluster_Partition_Sums* sums,
                                Cluster_Fit_Best* best, Partition_Code* code);
