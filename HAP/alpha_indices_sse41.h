// Packing of sixteen 3-bit alpha indices for the SSE4.1 kernels of the frame
// utilities. Included only by *_sse41.cpp files; internal linkage keeps each
// copy with the instruction set of the file that compiled it.
#pragma once
#include <immintrin.h>

#include <cstdint>

namespace {

// indices: one index (0..7) per byte, pixel 0 first. Returns the 48-bit word
// with pixel i at bits 3i (Msb false, the RGTC1 order) or at bits 3 (15 - i)
// (Msb true).
template <bool Msb>
inline uint64_t pack_alpha_indices(__m128i indices) {
  // Pairs to 6 bits, then pairs of pairs to 12 bits in each 32-bit lane.
  const __m128i pair_weights = Msb ? _mm_set1_epi16(0x0108) : _mm_set1_epi16(0x0801);
  const __m128i quad_weights = Msb ? _mm_set1_epi32(0x00010040) : _mm_set1_epi32(0x00400001);
  const __m128i quads = _mm_madd_epi16(_mm_maddubs_epi16(indices, pair_weights), quad_weights);
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), quads);
  uint64_t word = 0;
  for (int q = 0; q < 4; ++q) word |= uint64_t(lanes[q]) << (Msb ? 36 - 12 * q : 12 * q);
  return word;
}

}  // namespace
