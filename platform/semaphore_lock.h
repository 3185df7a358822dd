// Semaphore: a counting semaphore whose count never exceeds 1 and whose waits
// have no time-out, used as a lock: wait() takes it, post() gives it back.
// A post on a semaphore whose count is already 1 leaves it at 1.
// SemaphoreGuard holds one for a scope.
//
// Both carry clang's thread-safety annotations: fields marked
// KW_GUARDED_BY(lock_) may only be touched while lock_ is held.
//
// Owns its count. Any thread may wait and post.
#pragma once

#include <atomic>

#include "platform/thread_annotations.h"

namespace kw {

class KW_CAPABILITY("semaphore") Semaphore {
 public:
  constexpr Semaphore() = default;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void wait() KW_ACQUIRE() {
    for (;;) {
      int count = count_.load(std::memory_order_relaxed);
      if (count > 0 && count_.compare_exchange_weak(count, count - 1, std::memory_order_acquire)) {
        return;
      }
      if (count == 0) count_.wait(0, std::memory_order_relaxed);
    }
  }
  void post() KW_RELEASE() {
    int count = count_.load(std::memory_order_relaxed);
    while (count < 1 &&
           !count_.compare_exchange_weak(count, count + 1, std::memory_order_release)) {
    }
    count_.notify_one();
  }

 private:
  std::atomic<int> count_{1};
};

// Holds `semaphore` from construction to the end of the scope.
class KW_SCOPED_CAPABILITY SemaphoreGuard {
 public:
  explicit SemaphoreGuard(Semaphore& semaphore) KW_ACQUIRE(semaphore) : semaphore_(semaphore) {
    semaphore_.wait();
  }
  ~SemaphoreGuard() KW_RELEASE() { semaphore_.post(); }
  SemaphoreGuard(const SemaphoreGuard&) = delete;
  SemaphoreGuard& operator=(const SemaphoreGuard&) = delete;

 private:
  Semaphore& semaphore_;
};

}  // namespace kw
