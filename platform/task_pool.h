// TaskPool: a fixed number of threads that run the tasks handed to it, in
// the order they came. The web server hands it one task per connection.
//
// stop() lets the threads finish the tasks already queued, then joins
// them; tasks handed over after stop() began are dropped. A task must end
// by itself (the web server's end their connections when it stops).
//
// Owns its threads and the queued tasks. start() and stop() from the
// owner's thread; add() from any thread.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/failure.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace kw {

class TaskPool {
 public:
  TaskPool() = default;
  ~TaskPool() { stop(); }
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  // Starts `threads` threads (at least one); the reason when not even one
  // could be started. Fewer than asked for is not a failure: they share the
  // work.
  Failure start(std::size_t threads);
  // Queues `task`; false when the pool does not run (the task is dropped).
  bool add(std::function<void()> task) KW_EXCLUDES(mutex_);
  // Runs what is queued, then joins every thread.
  void stop() KW_EXCLUDES(mutex_);
  std::size_t threads() const { return threads_.size(); }

 private:
  static void runTasks(void* self);
  // The next task, waiting for one; false once stopping with none left.
  bool next(std::function<void()>* task) KW_EXCLUDES(mutex_);

  std::vector<std::unique_ptr<Thread>> threads_;  // owner's thread only
  Mutex mutex_;
  CondVar queued_;
  std::deque<std::function<void()>> tasks_ KW_GUARDED_BY(mutex_);
  bool running_ KW_GUARDED_BY(mutex_) = false;
};

}  // namespace kw
