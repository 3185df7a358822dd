// Thread start and join (see thread.h).
#include "platform/thread.h"

#include <atomic>

namespace kw {

namespace {
std::atomic<int> g_threadNumbers{0};
}

bool Thread::start(void (*body)(void*), void* arg) {
  if (thread_.joinable()) return false;
  try {
    thread_ = std::thread(body, arg);
  } catch (...) {
    return false;
  }
  number_ = ++g_threadNumbers;
  return true;
}

void Thread::join() {
  if (thread_.joinable()) thread_.join();
  number_ = 0;
}

}  // namespace kw
