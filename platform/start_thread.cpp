#include "platform/start_thread.h"

#include <pthread.h>

#include <new>

#include "platform/system_info.h"

namespace platform {
namespace {

// The stack a new thread is given, which the system maps when it starts.
size_t default_stack_size() {
  pthread_attr_t attributes;
  size_t size = 0;
  if (pthread_getattr_default_np(&attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  return size;
}

}  // namespace

void throw_thread_refused(const std::system_error& refused) {
  // The system gives the same reason for a stack that does not fit as for a
  // limit on threads. Room for a stack and more (its guard page and thread
  // data) tells them apart.
  constexpr size_t beyond_the_stack = size_t(1) << 20;
  if (!memory_available(default_stack_size() + beyond_the_stack)) throw std::bad_alloc();
  throw std::system_error(refused.code(), "could not start a thread");
}

}  // namespace platform
