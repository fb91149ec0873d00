// Fork-join loop over a persistent worker pool.
#pragma once
#include <cstdint>
#include <functional>

namespace platform {

// Runs body(i) once for every i in [first, last) and returns when all have
// finished. The calling thread takes part. If iterations throw, the first
// exception is rethrown here after every iteration has finished. Safe to call
// from several threads at once and from inside an iteration.
void parallel_for_range(int64_t first, int64_t last, const std::function<void(int64_t)>& body);

template <class Body>
void parallel_for(int64_t first, int64_t last, Body&& body) {
  parallel_for_range(first, last, std::function<void(int64_t)>(std::forward<Body>(body)));
}

}  // namespace platform
