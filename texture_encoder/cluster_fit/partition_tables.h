// Constant partition tables of the cluster fit, shared by the scalar stage
// kernels and their vector twins.
//
// A block with n distinct colours (2..16), sorted along its principal axis, is
// cut into four contiguous clusters on the four levels of the DXT palette; a
// partition is written by its three boundaries (i1, i2, i3): cluster 0 holds the
// sorted positions [0, i1), cluster 1 [i1, i2), cluster 2 [i2, i3), cluster 3
// [i3, n). Every stage of one count walks its own list of partitions; the lists
// of stages B to F of one count together hold every partition with at least two
// clusters in use exactly once (the last pair of stage E repeats one partition
// for 6 and 14 colours).
//
// Entries are byte offsets into that count's Cluster_Partition_Sums:
//   - general entry (stages E, F): whole of cluster 0, third of cluster 1, third
//     of cluster 2, whole of cluster 3, middle weight of clusters 1 and 2
//     together; for 16 colours a sixth offset into the reciprocal-determinant
//     table;
//   - compact entry (stages C, D): only the clusters of the list's shape, in
//     cluster order (outer clusters at their whole, middle clusters at their
//     third), then the middle weight (then, for 16 colours, the reciprocal);
//   - split pair (stage B, 3..15 colours): whole of [0, k) and whole of [k, n).
// An empty cluster points at the all-zero record 0 (offset 0, or 16 for a middle
// cluster); an empty middle union at middle weight 0.
#pragma once
#include <cstdint>

// ---- Layout of Cluster_Partition_Sums ---------------------------------------

// Run records of n colours: the empty run plus every run but the whole set.
constexpr uint32_t cluster_run_records(uint32_t n) { return n * (n + 1) / 2; }

// Byte offset of the middle weights (right after the run records).
constexpr uint64_t cluster_middle_weights_offset(uint32_t n) {
  return 48ull * cluster_run_records(n);
}

// Bytes the stage-A kernel of n colours writes.
constexpr uint64_t cluster_partition_sums_bytes(uint32_t n) {
  return cluster_middle_weights_offset(n) + 4ull * (n == 16 ? 17 : cluster_run_records(n) + 1);
}

// Index of the run record of sorted positions [first, end): 0 for an empty run;
// the whole set [0, n) has no record.
constexpr uint32_t cluster_run_index(uint32_t n, uint32_t first, uint32_t end) {
  if (first == end) return 0;
  const uint32_t last = end - 1;
  if (first == 0) return last + 1;
  return first * n - first * (first - 1) / 2 + (last - first);
}

// Index of the middle weight of [first, end), the whole set included; 0 when
// empty. For 16 colours the middle weights are indexed by run length.
constexpr uint32_t cluster_middle_weight_index(uint32_t n, uint32_t first, uint32_t end) {
  if (n == 16) return end - first;
  if (first == end) return 0;
  return 1 + first * n - first * (first - 1) / 2 + (end - 1 - first);
}

constexpr uint64_t cluster_run_offset(uint32_t n, uint32_t first, uint32_t end) {
  return 48ull * cluster_run_index(n, first, end);
}

constexpr uint64_t cluster_middle_weight_offset(uint32_t n, uint32_t first, uint32_t end) {
  return cluster_middle_weights_offset(n) + 4ull * cluster_middle_weight_index(n, first, end);
}

// ---- Channel-major copy of the sums (Cluster_Partition_Sums::lanes) -------------
// Channel c (R, G, B, weight lane) of every run owns the block of floats from
// c * cluster_lane_block; the run [i, j) (empty when i == j, value 0) sits at:
//   third       i * 17 + j            (by start: runs of one start side by side)
//               578 + n * 17 + i      (j = n only: the runs to the last colour)
//   two thirds  289 further than its third, in either order
//   whole       1156 + j for [0, j), 1173 + i for [i, n)
// and its middle weight (block 0 only) at 1190 + i * 17 + j, and for j = n also
// at 1479 + n * 17 + i. Cells of no run hold anything.
inline constexpr uint32_t cluster_lane_block = 1768;
inline constexpr uint32_t lane_third_by_start = 0, lane_third_by_end = 578;
inline constexpr uint32_t lane_two_thirds = 289;
inline constexpr uint32_t lane_prefix_whole = 1156, lane_suffix_whole = 1173;
inline constexpr uint32_t lane_cross_by_start = 1190, lane_cross_by_end = 1479;

// ---- How the vector stages walk a list ----------------------------------------
// A list is cut into groups of four consecutive candidates. In a group each
// term (whole of cluster 0, middle clusters 1 and 2, whole of cluster 3, cross
// weight) is either absent, shared by the four, or four neighbouring runs of
// the channel-major copy; the base of each term (its lane index in block 0) is
// kept per group. Runs of groups of one kind form a section; groups that fit
// no kind form gathered sections, read record by record.
enum Lane_Load : uint8_t { Lane_Absent, Lane_Shared, Lane_Run };

// How the three records of a side are added: whole + (middle parts), or, in
// two sections of the 16-colour stage E, the whole and one two-thirds part first.
enum Lane_Grouping : uint8_t { Grouping_Usual, Grouping_Start_Two_Thirds, Grouping_End_Two_Thirds };

struct Lane_Section {
  uint32_t first, count;  // candidates
  uint8_t loads[5];       // whole 0, middle 1, middle 2, whole 3, cross (never absent)
  uint8_t grouping;
  bool gathered;
};

struct Lane_Plan {
  const Lane_Section* sections;
  uint32_t section_count;
  const uint16_t* bases;        // per group: the five terms' lane indices
  const uint16_t* offsets;      // per candidate: general-entry byte offsets (five)
  const float* reciprocals;     // per candidate, 16 colours only (else null); 8 spare
};

// ---- Lists per stage and count ------------------------------------------------

// Shapes: bit k set when cluster k is in use (bit 0 = cluster 0).
enum Cluster_Shape : uint8_t {
  Shape_0011 = 0b1100,  // clusters 2 and 3
  Shape_0101 = 0b1010,  // clusters 1 and 3
  Shape_0110 = 0b0110,  // clusters 1 and 2
  Shape_1010 = 0b0101,  // clusters 0 and 2
  Shape_1100 = 0b0011,  // clusters 0 and 1
  Shape_1011 = 0b1101,  // clusters 0, 2, 3
  Shape_1101 = 0b1011,  // clusters 0, 1, 3
  Shape_0111 = 0b1110,  // clusters 1, 2, 3
  Shape_1110 = 0b0111,  // clusters 0, 1, 2
  Shape_1111 = 0b1111,
};

// Clusters in use in a shape.
constexpr uint32_t shape_clusters(uint8_t shape) {
  return (shape & 1u) + (shape >> 1 & 1u) + (shape >> 2 & 1u) + (shape >> 3 & 1u);
}

// Shape order of the groups of stage C (two clusters) and stage D (three).
inline constexpr Cluster_Shape three_level_shapes[5] = {Shape_0011, Shape_0101, Shape_0110,
                                                        Shape_1010, Shape_1100};
inline constexpr Cluster_Shape four_level_shapes[4] = {Shape_1011, Shape_1101, Shape_0111,
                                                       Shape_1110};

// Partitions per group of stage C: 4 * floor((n - 1) / 4), 12 for 16 colours.
constexpr uint32_t three_level_group_size(uint32_t n) { return n >= 16 ? 12 : 4 * ((n - 1) / 4); }

// Partitions per shape group of stage D, by count (0 where there is no stage D).
inline constexpr uint16_t four_level_group_sizes[17][4] = {
    {}, {}, {}, {}, {},
    {4, 4, 4, 4},         // 5
    {12, 12, 8, 8},       // 6
    {12, 12, 12, 12},     // 7
    {20, 20, 20, 16},     // 8
    {28, 28, 28, 28},     // 9
    {36, 36, 36, 36},     // 10
    {44, 44, 44, 44},     // 11
    {52, 52, 52, 52},     // 12
    {64, 64, 64, 64},     // 13
    {80, 80, 76, 76},     // 14
    {88, 88, 88, 88},     // 15
    {104, 104, 104, 100}, // 16
};

// Partitions of stage E and stage F by count.
inline constexpr uint16_t record_counts[17] = {0,  0,  4,   12,  28,  12,  16,  40, 56,
                                               56, 88, 132, 192, 228, 292, 384, 476};
inline constexpr uint16_t final_counts[17] = {0, 0, 2, 2, 0, 0, 0, 2, 2, 0, 1, 2, 0, 0, 0, 2, 2};

// Offsets per entry (the stride) of each list form.
constexpr uint32_t general_entry_stride(uint32_t n) { return n == 16 ? 6 : 5; }
constexpr uint32_t compact_entry_stride(uint32_t clusters, uint32_t n) {
  return clusters + (n == 16 ? 2 : 1);
}

// One list: entries of `stride` offsets and 3 code bytes per partition, in
// evaluation order. Zero entries follow the last one.
struct Partition_List {
  const uint64_t* entries;
  const uint8_t* codes;
  uint32_t count;
  uint32_t stride;
  Lane_Plan plan;  // stages C to F
};

struct Cluster_Fit_Lists {
  Partition_List mean_pairs;    // stage B split pairs, 3..15 colours
  Partition_List three_levels;  // stage C, 5..16, five shape groups and a zero group
  Partition_List four_levels;   // stage D, 5..16
  Partition_List records;       // stage E, 2..16
  Partition_List final;         // stage F, 2, 3, 7, 8, 10, 11, 15, 16
};

// The lists of n colours (2..16), built on first use and constant afterwards.
const Cluster_Fit_Lists& cluster_fit_lists(uint32_t n);

// 1 / (A B - C^2) of every 16-colour partition shape, addressed by the last
// offset of the 16-colour entries.
const float* reciprocal_determinant_table();
