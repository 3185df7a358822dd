// Mutex, MutexLock and CondVar: the lock and the condition variable of the
// servers and writers (the gpsd server's inbox, the file writer's queue, the
// web server's task queue). The feed's receive path keeps its Semaphore
// (semaphore_lock.h); these are for code that also needs to wait for a
// condition with a time-out.
//
// All three carry clang's thread-safety annotations: a field marked
// KW_GUARDED_BY(mutex_) may only be touched while mutex_ is held, and
// CondVar's waits require it, so the clang build (-Wthread-safety) checks
// every access.
//
// Mutex owns the lock; CondVar refers to the Mutex it was made with, which
// must outlive it. Any thread may lock, wait and signal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace kw {

class KW_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() KW_ACQUIRE() { mutex_.lock(); }
  void unlock() KW_RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to the end of the scope.
class KW_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) KW_ACQUIRE(mutex) : mutex_(mutex) { mutex_->lock(); }
  ~MutexLock() KW_RELEASE() { mutex_->unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases the mutex, waits for a signal (or a spurious wake-up) and
  // takes the mutex again. Callers loop on their condition.
  // REQUIRES: the mutex is held.
  void wait() KW_REQUIRES(mutex_);
  // As wait(), but returns at `deadline` at the latest; false when the
  // deadline passed.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) KW_REQUIRES(mutex_);
  void signal() { cv_.notify_one(); }
  void signalAll() { cv_.notify_all(); }

 private:
  Mutex* const mutex_;
  std::condition_variable cv_;
};

}  // namespace kw
