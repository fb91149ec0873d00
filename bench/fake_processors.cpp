// Preloaded into a benchmarked export (export_bench --processors N): answers
// the processor-affinity query as if the process could run on processors 0 to
// N - 1, so that the engine sizes its threads and frame slots as on a machine
// with N processors. N comes from HAP_FAKE_PROCESSORS.
#include <sched.h>

#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) int sched_getaffinity(pid_t, size_t size, cpu_set_t* set) {
  const char* text = std::getenv("HAP_FAKE_PROCESSORS");
  const long count = text ? std::strtol(text, nullptr, 10) : 1;
  std::memset(set, 0, size);
  for (long cpu = 0; cpu < count && size_t(cpu) < size * 8; ++cpu) CPU_SET_S(size_t(cpu), size, set);
  return 0;
}
