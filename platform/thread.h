// Thread: one joinable thread with a small process-wide number for trace
// lines (1, 2, ... in order of start).
//
// Owns the thread it started; the destructor joins it.
// start and join are called by the owner's thread only; running() and
// number() by the owner's thread.
#pragma once

#include <thread>

namespace kw {

class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { join(); }

  // Starts `body(arg)` on a new thread. False when the thread could not be
  // started or one is already held.
  bool start(void (*body)(void*), void* arg);
  // Waits for the thread to end; nothing when none is held.
  void join();
  bool running() const { return thread_.joinable(); }
  // 0 while no thread is held; otherwise the thread's number (1, 2, ...).
  int number() const { return number_; }

 private:
  std::thread thread_;
  int number_ = 0;
};

}  // namespace kw
