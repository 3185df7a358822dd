#include "tests/support/process_counts.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace kw_test {

namespace {

size_t entriesOf(const char* directory) {
  size_t count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

size_t threadCount() { return entriesOf("/proc/self/task"); }
size_t openFileCount() { return entriesOf("/proc/self/fd"); }

size_t settledThreadCount(size_t want) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(500);
  size_t count = threadCount();
  while (count != want && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = threadCount();
  }
  return count;
}

}  // namespace kw_test
