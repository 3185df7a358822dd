// A fixed pool of threads running queued tasks (see task_pool.h).
#include "platform/task_pool.h"

#include <algorithm>

namespace kw {

Failure TaskPool::start(std::size_t threads) {
  if (!threads_.empty()) return Failure::because("start a task pool", "it already runs");
  {
    MutexLock lock(&mutex_);
    running_ = true;
  }
  for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
    auto thread = std::make_unique<Thread>();
    if (!thread->start(&TaskPool::runTasks, this)) break;
    threads_.push_back(std::move(thread));
  }
  if (!threads_.empty()) return {};
  MutexLock lock(&mutex_);
  running_ = false;
  return Failure::because("start a task pool", "no thread could be started");
}

bool TaskPool::add(std::function<void()> task) {
  {
    MutexLock lock(&mutex_);
    if (!running_) return false;
    tasks_.push_back(std::move(task));
  }
  queued_.signal();
  return true;
}

void TaskPool::stop() {
  {
    MutexLock lock(&mutex_);
    running_ = false;
  }
  queued_.signalAll();
  for (auto& thread : threads_) thread->join();
  threads_.clear();
}

bool TaskPool::next(std::function<void()>* task) {
  MutexLock lock(&mutex_);
  while (tasks_.empty()) {
    if (!running_) return false;
    queued_.wait(&mutex_);
  }
  *task = std::move(tasks_.front());
  tasks_.pop_front();
  return true;
}

void TaskPool::runTasks(void* self) {
  auto* pool = static_cast<TaskPool*>(self);
  std::function<void()> task;
  while (pool->next(&task)) {
    task();
    task = nullptr;
  }
}

}  // namespace kw
