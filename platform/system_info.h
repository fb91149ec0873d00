// Processor count, processor identification and the memory left.
#pragma once
#include <cstddef>
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

// Whether `bytes` more of address space can be had now; taken and given back
// at once. Tells a failure that does not say why (a thread, a library that
// could not be mapped) apart from one for want of memory.
bool memory_available(size_t bytes);

}  // namespace platform
