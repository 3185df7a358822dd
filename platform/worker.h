// Worker: one thread of its own for a server or a writer, the event that
// wakes it, and the request to stop. The owner starts it with the body to
// run; the body loops until stopping() and sleeps only where a wake-up can
// reach it: in sleepUntil(), or in a PollLoop waiting on wakeEvent().
//
//   kw::Worker worker;
//   if (kw::Failure failed = worker.start([this] { run(); })) ...
//   any thread:   worker.wake();            // there is something to do
//   the body:     while (!worker_.stopping()) { ...; worker_.sleepUntil(next); }
//   the owner:    worker.stop();            // asks, wakes, joins
//
// A wake-up given while the body is busy is kept until its next sleep, so
// none is lost; several become one.
//
// Owns the thread, the wake event and the body. start() and stop() from the
// owner's thread; wake() from any thread while started; stopping(),
// sleepUntil() and wakeEvent() from the worker's own thread (stopping() from
// any).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "platform/failure.h"
#include "platform/thread.h"
#include "platform/wake_event.h"

namespace kw {

class Worker {
 public:
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() { stop(); }

  // Opens the wake event and runs `body` on a new thread; the reason when
  // either cannot be had, or when the worker already runs.
  Failure start(std::function<void()> body);
  // Asks the body to end, wakes it and waits for the thread; nothing when
  // it does not run. The wake event is closed afterwards.
  void stop();
  bool running() const { return thread_.running(); }

  // Wakes the body from a sleep, or makes its next sleep return at once.
  void wake() { wake_.signal(); }
  // True once stop() was called.
  bool stopping() const { return stopping_.load(std::memory_order_acquire); }

  // Sleeps until woken, stopped or `deadline`; true when a wake-up (or the
  // stop) ended it. The wake-up is taken, so the next sleep waits again.
  bool sleepUntil(std::chrono::steady_clock::time_point deadline);
  // The event to wait on beside sockets (PollLoop::wait); the loop takes
  // its wake-ups.
  const WakeEvent& wakeEvent() const { return wake_; }

 private:
  static void runBody(void* self);

  Thread thread_;
  WakeEvent wake_;
  std::function<void()> body_;
  std::atomic<bool> stopping_{false};
};

}  // namespace kw
