// Starting a thread when memory is short.
#pragma once
#include <new>
#include <system_error>
#include <utility>

namespace platform {

// Returns start(), a call that starts a thread (std::thread, std::async). A
// thread the system cannot give, for want of memory for its stack, is thrown
// as std::bad_alloc, so that it is reported as out of memory like an
// allocation that fails.
template <class Start>
auto start_thread(Start&& start) {
  try {
    return std::forward<Start>(start)();
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::resource_unavailable_try_again) throw std::bad_alloc();
    throw;
  }
}

}  // namespace platform
