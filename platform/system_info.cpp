#include "platform/system_info.h"

#include <sched.h>
#include <sys/mman.h>

#include <cerrno>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define HAP_X86 1
#endif

namespace platform {

unsigned processor_count() {
  // The affinity mask can be wider than cpu_set_t on very large machines;
  // grow it until the kernel accepts it.
  for (int cpus = CPU_SETSIZE; cpus <= (1 << 16); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (!set) break;
    const size_t size = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(size, set);
    const int rc = sched_getaffinity(0, size, set);
    const int count = rc == 0 ? CPU_COUNT_S(size, set) : 0;
    CPU_FREE(set);
    if (rc == 0) return count > 0 ? unsigned(count) : 1u;
    if (errno != EINVAL) break;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1u;
}

Cpuid_Regs cpuid(uint32_t leaf, uint32_t subleaf) {
  Cpuid_Regs r{0, 0, 0, 0};
#ifdef HAP_X86
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
  (void)leaf;
  (void)subleaf;
#endif
  return r;
}

uint64_t xgetbv(uint32_t xcr) {
#ifdef HAP_X86
  uint32_t lo = 0, hi = 0;
  // Spelled as bytes so that no -mxsave flag is needed.
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(xcr));
  return (uint64_t(hi) << 32) | lo;
#else
  (void)xcr;
  return 0;
#endif
}

bool memory_available(size_t bytes) {
  // Mapped writable but never touched: it counts against the limits of
  // address space and commit as an allocation does, yet costs no page.
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  munmap(block, bytes);
  return true;
}

}  // namespace platform
