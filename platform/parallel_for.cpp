// Fork-join over one process-wide pool of helper threads.
//
// A call publishes a job (an index counter shared by every thread working on
// it) and then claims iterations itself until none are left; idle helpers
// claim from the oldest published job. Because a caller never waits for an
// iteration nobody has claimed, and a thread that claimed an iteration runs
// it to the end on its own stack, nested and concurrent calls cannot
// deadlock: at worst the caller runs every iteration itself.
#include "platform/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/system_info.h"

namespace platform {
namespace {

struct Job {
  const std::function<void(int64_t)>* body;
  std::atomic<int64_t> next;
  int64_t last;
  int helpers = 0;  // pool threads still inside run_iterations; guarded by the pool mutex
  std::exception_ptr error;  // first failure; guarded by error_mutex
  std::mutex error_mutex;

  Job(const std::function<void(int64_t)>& b, int64_t first, int64_t end)
      : body(&b), next(first), last(end) {}

  // Claims and runs iterations until the range is used up.
  void run_iterations() {
    for (;;) {
      const int64_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= last) return;
      try {
        (*body)(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
      }
    }
  }

  bool exhausted() const { return next.load(std::memory_order_relaxed) >= last; }
};

class Pool {
 public:
  Pool() {
    const unsigned helpers = processor_count() - 1;
    threads_.reserve(helpers);
    // Short of memory, a thread may fail to start: the pool then works with
    // the helpers it has (at worst none), as a caller always runs its own
    // iterations anyway.
    for (unsigned t = 0; t < helpers; ++t) {
      try {
        threads_.emplace_back([this] { helper_loop(); });
      } catch (const std::system_error&) {
        break;
      }
    }
  }

  // Joined at exit (or when the plug-in is unloaded) so that no helper is
  // left running code that is about to disappear.
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_ready_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void run(Job& job) {
    const bool share = !threads_.empty() && job.last - job.next.load() > 1;
    if (share) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(&job);
      }
      work_ready_.notify_all();
    }
    job.run_iterations();
    if (share) {
      std::unique_lock<std::mutex> lock(mutex_);
      retire(job);
      // Every iteration is claimed; wait for the helpers still running one.
      job_left_.wait(lock, [&] { return job.helpers == 0; });
    }
  }

 private:
  // Takes a job off the queue so no further helper joins it. Mutex held.
  void retire(Job& job) {
    auto it = std::find(queue_.begin(), queue_.end(), &job);
    if (it != queue_.end()) queue_.erase(it);
  }

  void helper_loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      Job* job = queue_.front();
      ++job->helpers;
      lock.unlock();
      job->run_iterations();
      lock.lock();
      retire(*job);
      if (--job->helpers == 0) job_left_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_left_;
  std::deque<Job*> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

Pool& pool() {
  static Pool instance;
  return instance;
}

}  // namespace

void parallel_for_range(int64_t first, int64_t last, const std::function<void(int64_t)>& body) {
  if (first >= last) return;
  Job job(body, first, last);
  pool().run(job);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace platform
