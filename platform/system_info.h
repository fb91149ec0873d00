// Processor count and processor identification.
#pragma once
#include <cstdint>

namespace platform {

// The number of processors this process may run on (its affinity), at least 1.
unsigned processor_count();

struct Cpuid_Regs {
  uint32_t eax, ebx, ecx, edx;
};

// CPUID of a leaf and sub-leaf. On a non-x86 build every register is 0, which
// reads as "no features".
Cpuid_Regs cpuid(uint32_t leaf, uint32_t subleaf = 0);

// XGETBV of an extended control register. Only valid when CPUID reports
// OSXSAVE; callers check that first. 0 on a non-x86 build.
uint64_t xgetbv(uint32_t xcr);

}  // namespace platform
