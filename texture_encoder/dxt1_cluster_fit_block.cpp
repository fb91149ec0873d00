// The cluster-fit colour block: gather the block's distinct colours, weight
// them by the square root of their occurrence counts, order them along their
// principal axis, search the partitions and pack the winner. Blocks of one
// colour take the single-colour lookup instead.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "texture_encoder/alpha_block.h"
#include "texture_encoder/cluster_fit/cluster_fit.h"
#include "texture_encoder/cs_kernels.h"
#include "texture_encoder/dxt1_encoder.h"
#include "texture_encoder/numeric_ops.h"

namespace {

uint8_t to_byte(float c) { return uint8_t(nearest_clamped(c * 255.0f, 255)); }

}  // namespace

void encode_single_colour_block(const Dxt_Kernel_Head& head, const Cs_Gathered_Block* block,
                                uint8_t* out8) {
  const Dxt1_Tables& tables = dxt1_tables();
  const auto& red = tables.lookup5[to_byte(block->colours[0][0])];
  const auto& green = tables.lookup6[to_byte(block->colours[0][1])];
  const auto& blue = tables.lookup5[to_byte(block->colours[0][2])];
  int error[2];
  for (int k = 0; k < 2; ++k)
    error[k] = red[k].error * red[k].error + green[k].error * green[k].error +
               blue[k].error * blue[k].error;
  const int k = error[1] < error[0] ? 1 : 0;
  const uint8_t endpoints[8] = {red[k].start, green[k].start, blue[k].start, 0,
                                red[k].end,   green[k].end,   blue[k].end,   0};
  const uint8_t colour_index[1] = {uint8_t(k == 0 ? 0 : 2)};
  alignas(32) uint8_t indices[16];
  expand_colour_indices(block, colour_index, indices);
  uint64_t packed;
  head.cs_kernels.pack_block_from_565(endpoints, indices, &packed);
  std::memcpy(out8, &packed, 8);
}

void cluster_fit_by_count(const Dxt_Kernel_Head& head, Cs_Gathered_Block* block, uint8_t* out8,
                          uint64_t n) {
  // Checked before any count-indexed slot is touched.
  if (!cluster_fit_count_supported(n)) {
    std::memset(out8, 0, 8);
    return;
  }
  Cluster_Fit_Best best = {{0, 0, 0, 0}, {0, 0, 0, 0}, 3.4028235e38f};
  Partition_Code code = {0, 0, 1};
  alignas(32) uint8_t order[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  alignas(32) float axis[4], keys[16];
  const size_t slot = n - 2;
  head.cs_kernels.principal_axis[slot](axis, block->colours, block->weights);
  head.cs_project_on_axis[slot](keys, block->colours, axis);
  head.cs_sort_order[slot](keys, order);

  alignas(32) float points[64];
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t colour = order[i];
    const float w = n == 16 ? 1.0f : block->weights[colour];
    for (int c = 0; c < 3; ++c) points[4 * i + c] = w * block->colours[colour][c];
    points[4 * i + 3] = w;
  }
  alignas(32) Cluster_Partition_Sums sums;
  cluster_fit_run_stages(head, n, points, &sums, &best, &code);
  dxt1_pack_from_partition(head, block, out8, &best, &code, n, order);
}

void encode_color_block_cluster_fit(const Dxt_Kernel_Head& head, uint8_t* out,
                                    const uint8_t* const planes[4], const int64_t strides[4],
                                    bool dxt5) {
  if (dxt5) {
    encode_slice_rgtc1(head, out, planes, strides);  // the alpha half is an RGTC1 block
    out += 8;
  }
  alignas(32) Cs_Gathered_Block block;
  head.cs_kernels.gather_block(&block, planes[0], planes[1], planes[2], strides[0], strides[1],
                               strides[2]);
  std::fill(std::begin(block.weights), std::end(block.weights), 0.0f);
  for (uint64_t i = 0; i < block.count && i < 16; ++i)
    block.weights[i] = std::sqrt(float(block.counts[i]));
  if (block.count == 1)
    encode_single_colour_block(head, &block, out);
  else
    cluster_fit_by_count(head, &block, out, block.count);
}
