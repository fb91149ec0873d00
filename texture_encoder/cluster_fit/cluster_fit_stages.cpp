// Stage kernels of the cluster fit by colour count, their installation, and the
// order in which a block runs them. Each kernel walks its count's list (one
// template, instantiated per count); which stages exist for a count follows
// from where its lists put the partitions.
#include <cstdio>
#include <utility>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

// Runs the shape groups of a compact list in order, 4 * passes entries each.
template <size_t Groups>
void walk_shape_groups(Cluster_Fit_Best* best, Partition_Code* code,
                       const Cluster_Partition_Sums* sums, const float* reciprocals,
                       const uint64_t* entries, const uint8_t* codes,
                       const Cluster_Shape (&shapes)[Groups], const uint32_t (&sizes)[Groups]) {
  for (size_t g = 0; g < Groups; ++g) {
    const uint32_t stride = shape_clusters(shapes[g]) + (reciprocals ? 2 : 1);
    cluster_fit_eval_pairs(best, code, sums, reciprocals, entries, codes, shapes[g], sizes[g] / 4);
    entries += size_t(sizes[g]) * stride;
    codes += 3 * size_t(sizes[g]);
  }
}

template <uint32_t N>
constexpr uint32_t three_level_sizes[5] = {three_level_group_size(N), three_level_group_size(N),
                                           three_level_group_size(N), three_level_group_size(N),
                                           three_level_group_size(N)};
template <uint32_t N>
constexpr uint32_t four_level_sizes[4] = {four_level_group_sizes[N][0], four_level_group_sizes[N][1],
                                          four_level_group_sizes[N][2], four_level_group_sizes[N][3]};

}  // namespace

template <uint32_t N>
void cluster_fit_mean_pairs_n(Cluster_Fit_Best* best, Partition_Code* code,
                              const Cluster_Partition_Sums* sums) {
  cluster_scan_partitions(best, code, sums, cluster_fit_lists(N).mean_pairs.entries, N);
}

template <uint32_t N>
void cluster_fit_three_levels_n(Cluster_Fit_Best* best, Partition_Code* code,
                                const Cluster_Partition_Sums* sums, const uint64_t* entries,
                                const uint8_t* codes) {
  walk_shape_groups(best, code, sums, nullptr, entries, codes, three_level_shapes,
                    three_level_sizes<N>);
}

template <uint32_t N>
void cluster_fit_four_levels_n(Cluster_Fit_Best* best, Partition_Code* code,
                               const Cluster_Partition_Sums* sums, const uint64_t* entries,
                               const uint8_t* codes) {
  walk_shape_groups(best, code, sums, nullptr, entries, codes, four_level_shapes,
                    four_level_sizes<N>);
}

template <uint32_t N>
void cluster_fit_records_n(Cluster_Fit_Best* best, Partition_Code* code,
                           const Cluster_Partition_Sums* sums, const uint64_t* entries,
                           const uint8_t* codes) {
  cluster_fit_general_entries(best, code, sums, entries, codes, record_counts[N]);
}

void cluster_fit_three_levels_n16(Cluster_Fit_Best* best, Partition_Code* code,
                                  const Cluster_Partition_Sums* sums,
                                  const float* reciprocal_determinant_table,
                                  const uint64_t* entries, const uint8_t* codes) {
  walk_shape_groups(best, code, sums, reciprocal_determinant_table, entries, codes,
                    three_level_shapes, three_level_sizes<16>);
}

void cluster_fit_four_levels_n16(Cluster_Fit_Best* best, Partition_Code* code,
                                 const Cluster_Partition_Sums* sums,
                                 const float* reciprocal_determinant_table,
                                 const uint64_t* entries, const uint8_t* codes) {
  walk_shape_groups(best, code, sums, reciprocal_determinant_table, entries, codes,
                    four_level_shapes, four_level_sizes<16>);
}

void cluster_fit_records_n16(Cluster_Fit_Best* best, Partition_Code* code,
                             const Cluster_Partition_Sums* sums,
                             const float* reciprocal_determinant_table, const uint64_t* entries,
                             const uint8_t* codes) {
  // The list's sections, in passes of four entries.
  for (uint32_t passes : {5u, 79u, 9u, 23u, 3u}) {
    cluster_fit_block_pairs(best, code, sums, reciprocal_determinant_table, entries, codes,
                            passes);
    entries += 24 * passes;
    codes += 12 * passes;
  }
}

namespace {

// The slots of one count that exist for it.
template <uint32_t N>
void install_count(Dxt_Kernel_Head& head) {
  head.cluster_partition_sums[N - 2] = cluster_partition_sums_n<N>;
  if constexpr (N < 16) head.cluster_fit_records[N - 2] = cluster_fit_records_n<N>;
  if constexpr (N >= 3 && N < 16) head.cluster_fit_mean_pairs[N - 2] = cluster_fit_mean_pairs_n<N>;
  if constexpr (N >= 5 && N < 16) {
    head.cluster_fit_three_levels[N - 2] = cluster_fit_three_levels_n<N>;
    head.cluster_fit_four_levels[N - 2] = cluster_fit_four_levels_n<N>;
  }
}

template <uint32_t... I>
void install_counts(Dxt_Kernel_Head& head, std::integer_sequence<uint32_t, I...>) {
  (install_count<I + 2>(head), ...);
}

}  // namespace

void install_cluster_fit_kernels(Dxt_Encoder_Context* context) {
  Dxt_Kernel_Head& head = context->head;
  install_counts(head, std::make_integer_sequence<uint32_t, 15>{});
  for (uint32_t n : {2u, 3u, 7u, 8u, 11u, 15u}) head.cluster_fit_final[n - 2] = dxt_cluster_fit_block;
  head.cluster_fit_final[10 - 2] = dxt_solve_least_squares;
  head.cluster_fit_n16_mean_pairs = cluster_fit_mean_pairs_n16;
  head.cluster_fit_n16_three_levels = cluster_fit_three_levels_n16;
  head.cluster_fit_n16_four_levels = cluster_fit_four_levels_n16;
  head.cluster_fit_n16_records = cluster_fit_records_n16;
  head.cluster_fit_n16_final = dxt_cluster_fit_block_alt;
}

bool cluster_fit_count_supported(uint64_t n) {
  if (n >= 2 && n <= 16) return true;
  std::printf("ERROR : non code pour count : %llu\n", static_cast<unsigned long long>(n));
  return false;
}

uint32_t cluster_fit_run_stages(const Dxt_Kernel_Head& head, uint64_t n,
                                const float* weighted_colours, Cluster_Partition_Sums* sums,
                                Cluster_Fit_Best* best, Partition_Code* code) {
  if (!cluster_fit_count_supported(n)) return 1;
  const Cluster_Fit_Lists& lists = cluster_fit_lists(uint32_t(n));
  const size_t slot = n - 2;
  head.cluster_partition_sums[slot](weighted_colours, sums);
  if (n == 16) {
    const float* reciprocals = reciprocal_determinant_table();
    head.cluster_fit_n16_mean_pairs(best, code, sums);
    head.cluster_fit_n16_three_levels(best, code, sums, reciprocals, lists.three_levels.entries,
                                      lists.three_levels.codes);
    head.cluster_fit_n16_four_levels(best, code, sums, reciprocals, lists.four_levels.entries,
                                     lists.four_levels.codes);
    head.cluster_fit_n16_records(best, code, sums, reciprocals, lists.records.entries,
                                 lists.records.codes);
    head.cluster_fit_n16_final(best, code, sums, reciprocals, lists.final.entries,
                               lists.final.codes);
    return 0;
  }
  if (n >= 3) head.cluster_fit_mean_pairs[slot](best, code, sums);
  if (n >= 5) {
    head.cluster_fit_three_levels[slot](best, code, sums, lists.three_levels.entries,
                                        lists.three_levels.codes);
    head.cluster_fit_four_levels[slot](best, code, sums, lists.four_levels.entries,
                                       lists.four_levels.codes);
  }
  head.cluster_fit_records[slot](best, code, sums, lists.records.entries, lists.records.codes);
  if (final_counts[n] > 0)
    head.cluster_fit_final[slot](best, code, sums, lists.final.entries, lists.final.codes);
  return 0;
}
