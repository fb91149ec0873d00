// The single-colour tables: for every 8-bit value, the endpoint pair whose
// colour at a fixed index comes closest to it. A subset of one colour then
// needs three (or four) look-ups instead of a search.
#include <mutex>

#include "src/bc7_internal.h"

namespace {

// Searches Bits-wide endpoints (low in the outer loop, high in the inner one)
// carrying the given p-bits; the first strictly smallest error wins.
template <uint32_t Bits>
Bc7_Single_Color_Entry best_endpoint_pair(int value, uint32_t weight, uint32_t low_p_bit,
                                          uint32_t high_p_bit) {
  Bc7_Single_Color_Entry best{65535, 0, 0};
  for (uint32_t lo = 0; lo < (1u << Bits); ++lo) {
    const int low = int(bc7_widen((lo << 1) | low_p_bit, Bits + 1));
    for (uint32_t hi = 0; hi < (1u << Bits); ++hi) {
      const int high = int(bc7_widen((hi << 1) | high_p_bit, Bits + 1));
      const int decoded = ((64 - int(weight)) * low + int(weight) * high + 32) >> 6;
      const int error = bc7_square(decoded - value);
      if (error < best.m_error) best = {uint16_t(error), uint8_t(lo), uint8_t(hi)};
    }
  }
  return best;
}

void build_tables() {
  for (int v = 0; v < 256; ++v) {
    for (uint32_t p = 0; p < 2; ++p)
      g_bc7_mode_1_optimal_endpoints[v][p] = best_endpoint_pair<6>(v, bc7_weights3[2], p, p);
    for (uint32_t hp = 0; hp < 2; ++hp)
      for (uint32_t lp = 0; lp < 2; ++lp)
        g_bc7_mode_7_optimal_endpoints[v][hp][lp] = best_endpoint_pair<5>(v, bc7_weights2[1], lp, hp);
  }
}

}  // namespace

// Every build gives the same values, so one build per process is enough; the
// once-flag also orders the build before any encoder thread reads the tables.
void bc7_init_tables() {
  static std::once_flag built;
  std::call_once(built, build_tables);
}
