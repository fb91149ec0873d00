// Starting a thread, with a failure that says why.
#pragma once
#include <system_error>
#include <utility>

namespace platform {

// Throws the failure to start a thread that the system refused for want of
// resources: std::bad_alloc when memory is short (its stack does not fit), so
// that it is reported as out of memory like an allocation that fails; else
// (too many threads or processes) a std::system_error whose text is "could
// not start a thread: " and the system's reason.
[[noreturn]] void throw_thread_refused(const std::system_error& refused);

// Returns start(), a call that starts a thread (std::thread, std::async); a
// thread the system refuses is thrown as throw_thread_refused says.
template <class Start>
auto start_thread(Start&& start) {
  try {
    return std::forward<Start>(start)();
  } catch (const std::system_error& e) {
    if (e.code() != std::errc::resource_unavailable_try_again) throw;
    throw_thread_refused(e);
  }
}

}  // namespace platform
