// Which vector instruction sets may be used: the caller's Simd_Flags request
// filtered against what the processor and the operating system offer.
#pragma once
#include <cstdint>

// CPUID/XGETBV tests. AVX needs OSXSAVE, AVX and the OS saving SSE and AVX
// state; AVX2 and FMA are looked up only when their CPUID leaf exists.
bool cpu_has_avx();
bool cpu_has_avx2();
bool cpu_has_fma();
// SSE4.1 together with the SSSE3 it builds on (the *_sse41 kernels use both);
// the processor is asked on the first call only.
bool cpu_has_sse41();

// For the encoder set-up: without AVX clears 0x20, 0x40 and 0x80; with AVX
// clears 0x80 without AVX2 and 0x40 without FMA. Every other bit passes.
uint32_t detect_simd_features(uint32_t requested);

// For the copy kernels: without AVX clears 0x20 and 0x80; with AVX clears 0x80
// without AVX2. 0x40 and every other bit pass.
uint32_t detect_copy_simd_features(uint32_t requested);

// Diagnostic: prints the slice count a frame of this height would use with an
// automatic thread request, then the AVX, AVX2 and FMA3 verdicts.
void report_simd_features(uint16_t height);

// The pure filters behind the two detect functions, for a given processor.
uint32_t filter_simd_features(uint32_t requested, bool avx, bool avx2, bool fma);
uint32_t filter_copy_simd_features(uint32_t requested, bool avx, bool avx2);
