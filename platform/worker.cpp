// The worker's thread, wake event and stop (see worker.h).
#include "platform/worker.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace kw {

Failure Worker::start(std::function<void()> body) {
  if (thread_.running()) return Failure::because("start a worker", "it already runs");
  if (Failure failed = wake_.open()) return failed;
  stopping_.store(false, std::memory_order_release);
  body_ = std::move(body);
  if (!thread_.start(&Worker::runBody, this)) {
    wake_.close();
    return Failure::because("start a worker", "no thread could be started");
  }
  return {};
}

void Worker::runBody(void* self) { static_cast<Worker*>(self)->body_(); }

void Worker::stop() {
  if (thread_.running()) {
    stopping_.store(true, std::memory_order_release);
    wake_.signal();
    thread_.join();
  }
  wake_.close();
  body_ = nullptr;
}

bool Worker::sleepUntil(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    if (stopping()) return true;
    const auto now = std::chrono::steady_clock::now();
    int timeout = -1;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
      if (deadline <= now) return false;
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      timeout = static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000));
    }
    pollfd woken{wake_.fd(), POLLIN, 0};
    const int ready = ::poll(&woken, 1, timeout);
    if (ready > 0) {
      wake_.clear();
      return true;
    }
    // EINTR: wait the rest; any other failure of poll on one open eventfd
    // cannot happen, and waiting again would spin, so it ends the sleep.
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace kw
