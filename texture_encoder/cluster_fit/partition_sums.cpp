// Stage A: the sums of every contiguous run of the sorted colours, so that any
// partition is later scored from a handful of record additions.
//
// Each run record is built left to right from single-colour records, the scaled
// fields included (the third of a run is the sum of its colours' thirds, not a
// third of its sum); the vector twins rely on this association.
#include <xmmintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>

#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cluster_fit/partition_tables.h"

namespace {

constexpr float third = std::bit_cast<float>(0x3EAAAAABu);
constexpr float two_thirds = std::bit_cast<float>(0x3F2AAAABu);
constexpr float ninth = std::bit_cast<float>(0x3DE38E39u);
constexpr float four_ninths = std::bit_cast<float>(0x3EE38E39u);
constexpr float two_ninths = std::bit_cast<float>(0x3E638E39u);

float* run_record(Cluster_Partition_Sums* sums, uint32_t index) { return sums->data + 12 * index; }

}  // namespace

void cluster_sums_add_runs(Cluster_Partition_Sums* sums, uint32_t dest, uint32_t first,
                           uint32_t second) {
  float* out = run_record(sums, dest);
  const float* x = run_record(sums, first);
  const float* y = run_record(sums, second);
  // Four fields per SSE addition, each rounded as a lone float addition.
  for (int i = 0; i < 12; i += 4)
    _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(x + i), _mm_loadu_ps(y + i)));
}

namespace {

// Channel c of the field at `field` (0 whole, 4 third, 8 two thirds) of the
// four runs at records[0..3] to out[c * cluster_lane_block + 0..3].
[[gnu::always_inline]] inline void transpose_field(const float* const (&records)[4],
                                                   uint32_t field, float* out) {
  __m128 r0 = _mm_loadu_ps(records[0] + field), r1 = _mm_loadu_ps(records[1] + field);
  __m128 r2 = _mm_loadu_ps(records[2] + field), r3 = _mm_loadu_ps(records[3] + field);
  _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
  _mm_storeu_ps(out, r0);
  _mm_storeu_ps(out + cluster_lane_block, r1);
  _mm_storeu_ps(out + 2 * cluster_lane_block, r2);
  _mm_storeu_ps(out + 3 * cluster_lane_block, r3);
}

}  // namespace

template <uint32_t N>
void cluster_sums_fill_lanes(Cluster_Partition_Sums* sums) {
  float* const lanes = sums->lanes;
  // The runs to the last colour, by their start, first: their quads write past
  // the row into cells that the rows below then set.
  for (uint32_t i = 1; i < N; i += 4) {
    const float* const records[4] = {
        run_record(sums, cluster_run_index(N, i, N)),
        run_record(sums, cluster_run_index(N, std::min(i + 1, N - 1), N)),
        run_record(sums, cluster_run_index(N, std::min(i + 2, N - 1), N)),
        run_record(sums, cluster_run_index(N, std::min(i + 3, N - 1), N))};
    transpose_field(records, 0, lanes + lane_suffix_whole + i);
    transpose_field(records, 4, lanes + lane_third_by_end + N * 17 + i);
    transpose_field(records, 8, lanes + lane_third_by_end + lane_two_thirds + N * 17 + i);
  }
  // Rows by start, four runs at a time; the records of one start are
  // consecutive (row 0 stops before the whole set). A last short quad writes
  // past its row into cells of no run, and reads the spare records.
  for (uint32_t i = 0; i <= N; ++i) {
    // The empty run [i, i).
    for (uint32_t c = 0; c < 4; ++c)
      for (uint32_t field : {0u, lane_two_thirds}) lanes[c * cluster_lane_block + field + i * 18] = 0;
    lanes[lane_cross_by_start + i * 18] = 0.0f;
    if (i == N) break;
    const uint32_t last = i == 0 ? N - 1 : N;
    const float* first = run_record(sums, cluster_run_index(N, i, i + 1));
    for (uint32_t j = i + 1; j <= last; j += 4) {
      const float* records[4] = {first, first + 12, first + 24, first + 36};
      for (uint32_t field : {4u, 8u})
        transpose_field(records, field, lanes + (field == 4 ? 0 : lane_two_thirds) + i * 17 + j);
      if (i == 0) transpose_field(records, 0, lanes + lane_prefix_whole + j);
      first += 48;
    }
    const float* cross = sums->data + cluster_middle_weight_offset(N, i, i + 1) / 4;
    std::memcpy(lanes + lane_cross_by_start + i * 17 + i + 1, cross, 4 * (N - i));
  }
  for (uint32_t i = 0; i <= N; ++i)
    lanes[lane_cross_by_end + N * 17 + i] =
        sums->data[cluster_middle_weight_offset(N, i, N) / 4];
  for (uint32_t c = 0; c < 4; ++c) {
    float* block = lanes + c * cluster_lane_block;
    block[lane_prefix_whole] = block[lane_suffix_whole + N] = 0.0f;
    block[lane_third_by_end + N * 17 + N] = 0.0f;
    block[lane_third_by_end + lane_two_thirds + N * 17 + N] = 0.0f;
  }
}

template <uint32_t N>
void cluster_partition_sums_n(const float* weighted_colours, Cluster_Partition_Sums* sums) {
  static_assert(N >= 2 && N <= 16);
  float* middle = sums->data + cluster_middle_weights_offset(N) / 4;
  std::memset(run_record(sums, 0), 0, 48);
  middle[0] = 0.0f;

  for (uint32_t k = 0; k < N; ++k) {
    const float* c = weighted_colours + 4 * k;
    float* record = run_record(sums, cluster_run_index(N, k, k + 1));
    for (int l = 0; l < 3; ++l) {
      record[l] = c[l];
      record[4 + l] = c[l] * third;
      record[8 + l] = c[l] * two_thirds;
    }
    record[3] = c[3];
    record[7] = c[3] * ninth;
    record[11] = c[3] * four_ninths;
    if constexpr (N < 16) middle[cluster_middle_weight_index(N, k, k + 1)] = c[3] * two_ninths;
  }

  // Runs of two or more, each from the run one shorter; the records of one
  // start are consecutive (the whole set has none).
  for (uint32_t first = 0; first + 2 <= N; ++first) {
    const uint32_t last_end = first == 0 ? N - 1 : N;
    for (uint32_t end = first + 2, dest = cluster_run_index(N, first, end); end <= last_end;
         ++end, ++dest)
      cluster_sums_add_runs(sums, dest, dest - 1, cluster_run_index(N, end - 1, end));
  }

  if constexpr (N < 16) {
    for (uint32_t length = 2; length <= N; ++length)
      for (uint32_t first = 0; first + length <= N; ++first) {
        const uint32_t end = first + length;
        middle[cluster_middle_weight_index(N, first, end)] =
            middle[cluster_middle_weight_index(N, first, end - 1)] +
            middle[cluster_middle_weight_index(N, end - 1, end)];
      }
  } else {
    // Every weight is 1: the middle weight of a run depends on its length only.
    for (uint32_t length = 0; length <= 16; ++length) middle[length] = float(length) * two_ninths;
  }
  cluster_sums_fill_lanes<N>(sums);
}

#define HAP_INSTANTIATE_SUMS(n)                                          \
  template Cluster_Partition_Sums_Kernel cluster_partition_sums_n<n>; \
  template void cluster_sums_fill_lanes<n>(Cluster_Partition_Sums * sums);
HAP_INSTANTIATE_SUMS(2)
HAP_INSTANTIATE_SUMS(3)
HAP_INSTANTIATE_SUMS(4)
HAP_INSTANTIATE_SUMS(5)
HAP_INSTANTIATE_SUMS(6)
HAP_INSTANTIATE_SUMS(7)
HAP_INSTANTIATE_SUMS(8)
HAP_INSTANTIATE_SUMS(9)
HAP_INSTANTIATE_SUMS(10)
HAP_INSTANTIATE_SUMS(11)
HAP_INSTANTIATE_SUMS(12)
HAP_INSTANTIATE_SUMS(13)
HAP_INSTANTIATE_SUMS(14)
HAP_INSTANTIATE_SUMS(15)
HAP_INSTANTIATE_SUMS(16)
