// Waits of the condition variable (see mutex.h).
#include "platform/mutex.h"

namespace kw {

void CondVar::wait(Mutex* mutex) {
  std::unique_lock<std::mutex> lock(mutex->mutex_, std::adopt_lock);
  cv_.wait(lock);
  lock.release();  // the caller still holds the mutex
}

bool CondVar::waitUntil(Mutex* mutex, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex->mutex_, std::adopt_lock);
  const bool signalled = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
  lock.release();
  return signalled;
}

}  // namespace kw
