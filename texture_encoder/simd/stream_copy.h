// The loop shared by the streaming copies; the members differ only in how they
// load 32 bytes. Only files built with AVX or above include this header;
// internal linkage keeps each file's copy compiled with its own instruction set.
#pragma once
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace {

template <class Load>
void stream_copy(void* destination, const void* source, size_t bytes, Load load) {
  auto* out = static_cast<uint8_t*>(destination);
  const auto* in = static_cast<const uint8_t*>(source);
  constexpr size_t block = 256, chunk = 32;
  if (bytes >= block) {
    for (; bytes >= block; bytes -= block, in += block, out += block) {
      _mm_prefetch(reinterpret_cast<const char*>(in), _MM_HINT_NTA);
      __m256i chunks[block / chunk];
      for (size_t k = 0; k < block / chunk; ++k) chunks[k] = load(in + chunk * k);
      // Prefetch never faults, so the hint may run past the end of the source.
      _mm_prefetch(reinterpret_cast<const char*>(in + block), _MM_HINT_NTA);
      for (size_t k = 0; k < block / chunk; ++k)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out + chunk * k), chunks[k]);
    }
    // Streamed stores are weakly ordered: make them visible before any later store.
    _mm_sfence();
  }
  for (; bytes >= chunk; bytes -= chunk, in += chunk, out += chunk)
    _mm256_store_si256(reinterpret_cast<__m256i*>(out), load(in));
  for (; bytes > 0; --bytes) *out++ = *in++;
}

}  // namespace
