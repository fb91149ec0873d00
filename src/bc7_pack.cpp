// Writes a chosen encoding as one 16-byte BC7 block. The format leaves out the
// top bit of every anchor index, so subsets whose anchor index has it set are
// flipped first (indices mirrored, endpoints and p-bits exchanged), which
// decodes to the same colours.
#include <algorithm>

#include "src/bc7_internal.h"

void bc7_put_bits(uint8_t block[16], uint32_t value, uint32_t bit_count, uint32_t& offset) {
  // The low bits of value, shifted to the offset, OR-ed into the bytes they span.
  const uint32_t bits = bit_count >= 32 ? value : value & ((1u << bit_count) - 1);
  const uint64_t placed = uint64_t(bits) << (offset & 7);
  for (uint32_t byte = offset >> 3; byte < 16 && byte <= (offset + bit_count - 1) >> 3; ++byte)
    block[byte] |= uint8_t(placed >> (8 * (byte - (offset >> 3))));
  offset += bit_count;
}

namespace {

uint32_t anchor_pixel(uint32_t subsets, uint32_t partition, uint32_t subset) {
  if (subset == 0) return 0;
  return subsets == 2 ? bc7_anchors2[partition] : bc7_anchors3[partition][subset - 1];
}

bool is_anchor(uint32_t subsets, uint32_t partition, uint32_t pixel) {
  for (uint32_t s = 0; s < subsets; ++s)
    if (anchor_pixel(subsets, partition, s) == pixel) return true;
  return false;
}

}  // namespace

void bc7_pack_block(uint8_t out[16], const Bc7_Block_Choice& original) {
  Bc7_Block_Choice c = original;
  const Bc7_Mode_Info& mode = bc7_modes[c.m_mode];
  const bool rotation_mode = bc7_mode_has_rotation(c.m_mode);
  const uint32_t color_index_bits = bc7_color_index_bits(c.m_mode, c.m_index_selector);
  const uint32_t alpha_index_bits = bc7_alpha_index_bits(c.m_mode, c.m_index_selector);

  for (uint32_t s = 0; s < mode.subsets; ++s) {
    const uint32_t anchor = anchor_pixel(mode.subsets, c.m_partition, s);
    const uint32_t levels = 1u << color_index_bits;
    if (c.m_color_selectors[anchor] & (levels >> 1)) {
      for (uint32_t k = 0; k < 16; ++k)
        if (bc7_subset_of(mode.subsets, c.m_partition, k) == s)
          c.m_color_selectors[k] = uint8_t(levels - 1 - c.m_color_selectors[k]);
      std::swap_ranges(c.m_low[s], c.m_low[s] + (rotation_mode ? 3 : 4), c.m_high[s]);
      if (!mode.p_bit_shared) bc7_swap_u32(c.m_p_bits[s][0], c.m_p_bits[s][1]);
    }
    if (rotation_mode) {
      const uint32_t alpha_levels = 1u << alpha_index_bits;
      if (c.m_alpha_selectors[anchor] & (alpha_levels >> 1)) {
        for (uint8_t& index : c.m_alpha_selectors) index = uint8_t(alpha_levels - 1 - index);
        std::swap(c.m_low[s][3], c.m_high[s][3]);
      }
    }
  }

  std::fill(out, out + 16, uint8_t{0});
  uint32_t offset = 0;
  bc7_put_bits(out, 1u << c.m_mode, c.m_mode + 1, offset);
  if (rotation_mode) {
    bc7_put_bits(out, c.m_rotation, 2, offset);
    if (mode.index_selector_bits) bc7_put_bits(out, c.m_index_selector, 1, offset);
  }
  if (mode.subsets > 1) bc7_put_bits(out, c.m_partition, mode.partition_bits, offset);

  const uint32_t channels = mode.alpha_bits ? 4 : 3;
  for (uint32_t ch = 0; ch < channels; ++ch) {
    const uint32_t bits = ch == 3 ? mode.alpha_bits : mode.color_bits;
    for (uint32_t s = 0; s < mode.subsets; ++s) {
      bc7_put_bits(out, c.m_low[s][ch], bits, offset);
      bc7_put_bits(out, c.m_high[s][ch], bits, offset);
    }
  }
  if (mode.p_bit_per_endpoint || mode.p_bit_shared)
    for (uint32_t s = 0; s < mode.subsets; ++s) {
      bc7_put_bits(out, c.m_p_bits[s][0], 1, offset);
      if (!mode.p_bit_shared) bc7_put_bits(out, c.m_p_bits[s][1], 1, offset);
    }

  const uint8_t* first_set = c.m_index_selector ? c.m_alpha_selectors : c.m_color_selectors;
  const uint32_t first_bits = c.m_index_selector ? alpha_index_bits : color_index_bits;
  for (uint32_t k = 0; k < 16; ++k)
    bc7_put_bits(out, first_set[k],
                 first_bits - (is_anchor(mode.subsets, c.m_partition, k) ? 1 : 0), offset);
  if (rotation_mode) {
    const uint8_t* second_set = c.m_index_selector ? c.m_color_selectors : c.m_alpha_selectors;
    const uint32_t second_bits = c.m_index_selector ? color_index_bits : alpha_index_bits;
    for (uint32_t k = 0; k < 16; ++k)
      bc7_put_bits(out, second_set[k], second_bits - (k == 0 ? 1 : 0), offset);
  }
}
