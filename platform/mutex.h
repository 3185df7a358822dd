// Mutex, MutexLock and CondVar: the lock and the condition variable of the
// servers and writers (the gpsd server's inbox, the file writer's queue, the
// web server's task queue). The feed's receive path keeps its Semaphore
// (semaphore_lock.h); these are for code that also needs to wait for a
// condition with a time-out.
//
// All three carry clang's thread-safety annotations: a field marked
// KW_GUARDED_BY(mutex_) may only be touched while mutex_ is held, and
// CondVar's waits require the mutex they are given, so the clang build
// (-Wthread-safety) checks every access.
//
// Mutex owns the lock; a CondVar is always waited on with the same Mutex.
// Any thread may lock, wait and signal.
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
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases `mutex`, waits for a signal (or a spurious wake-up) and takes
  // `mutex` again. Callers loop on their condition.
  // REQUIRES: `mutex` is held.
  void wait(Mutex* mutex) KW_REQUIRES(mutex);
  // As wait(), but returns at `deadline` at the latest; false when the
  // deadline passed.
  bool waitUntil(Mutex* mutex, std::chrono::steady_clock::time_point deadline) KW_REQUIRES(mutex);
  void signal() { cv_.notify_one(); }
  void signalAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace kw
