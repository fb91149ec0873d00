#include "texture_encoder/simd_features.h"

#include <cstdio>

#include "platform/system_info.h"
#include "texture_encoder/dxt_encoder_context.h"

namespace {

uint32_t highest_standard_leaf() { return platform::cpuid(0).eax; }

}  // namespace

bool cpu_has_avx() {
  const platform::Cpuid_Regs leaf1 = platform::cpuid(1);
  const bool osxsave = (leaf1.ecx >> 27) & 1;
  const bool avx = (leaf1.ecx >> 28) & 1;
  if (!osxsave || !avx) return false;
  const uint64_t xcr0 = platform::xgetbv(0);
  return (xcr0 & 0x6) == 0x6;  // SSE and AVX state saved by the OS
}

bool cpu_has_avx2() {
  if (highest_standard_leaf() < 7) return false;
  return (platform::cpuid(7, 0).ebx >> 5) & 1;
}

bool cpu_has_fma() {
  if (highest_standard_leaf() < 1) return false;
  return (platform::cpuid(1).ecx >> 12) & 1;
}

bool cpu_has_sse41() {
  // Asked once: the row encoders ask for every block row, the answer does not
  // change, and each asking is slow (under a hypervisor it leaves the guest).
  static const bool has_sse41 = [] {
    if (highest_standard_leaf() < 1) return false;
    const uint32_t ecx = platform::cpuid(1).ecx;
    return ((ecx >> 19) & 1) && ((ecx >> 9) & 1);
  }();
  return has_sse41;
}

uint32_t filter_simd_features(uint32_t requested, bool avx, bool avx2, bool fma) {
  if (!avx) return requested & ~uint32_t(Simd_Flag_Avx | Simd_Flag_Fma | Simd_Flag_Avx2);
  if (!avx2) requested &= ~uint32_t(Simd_Flag_Avx2);
  if (!fma) requested &= ~uint32_t(Simd_Flag_Fma);
  return requested;
}

uint32_t filter_copy_simd_features(uint32_t requested, bool avx, bool avx2) {
  if (!avx) return requested & ~uint32_t(Simd_Flag_Avx | Simd_Flag_Avx2);
  if (!avx2) requested &= ~uint32_t(Simd_Flag_Avx2);
  return requested;
}

uint32_t detect_simd_features(uint32_t requested) {
  return filter_simd_features(requested, cpu_has_avx(), cpu_has_avx2(), cpu_has_fma());
}

uint32_t detect_copy_simd_features(uint32_t requested) {
  return filter_copy_simd_features(requested, cpu_has_avx(), cpu_has_avx2());
}

void report_simd_features(uint16_t height) {
  Dxt_Encoder_Context probe{};
  probe.height = height;
  set_thread_count(&probe, 0);
  const uint32_t mask = detect_simd_features(0xF8);
  std::printf("Threads Use : %d\n", int(probe.thread_count));
  std::printf("Supported SIMD Features :\n");
  std::printf((mask & Simd_Flag_Avx) ? "AVX  : YES\n" : "AVX  : NO\n");
  std::printf((mask & Simd_Flag_Avx2) ? "AVX2 : YES\n" : "AVX2 : NO\n");
  std::printf((mask & Simd_Flag_Fma) ? "FMA3 : YES\n" : "FMA3 : NO\n");
}
