// TickTimes: how long each clock tick of a run took the runner (driving the
// graph for the edge, then reading the table and handing it to the outputs),
// kept so that the end of a run can state the median, the 99th percentile
// and the longest (flowhost --tick-times).
//
// Keeps at most kMaxSamples durations (a day and more at 4 Hz); past that
// only the count and the longest still grow, and the percentiles describe
// the ticks kept. Owns its samples. Thread safety: one thread (the runner's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace flowhost {

class TickTimes {
 public:
  static constexpr std::size_t kMaxSamples = 1u << 20;

  void add(int64_t microseconds);

  std::size_t count() const { return count_; }
  // The duration below which the given share (0 to 1) of the kept ticks
  // fall, by the nearest rank; 0 without ticks.
  int64_t percentile(double share) const;
  int64_t longest() const { return longest_; }

  // "ticks N, p50 X ms, p99 Y ms, max Z ms" (milliseconds with three
  // decimals), or "ticks 0" without any.
  std::string summary() const;

 private:
  std::vector<int64_t> samples_;
  std::size_t count_ = 0;
  int64_t longest_ = 0;
};

}  // namespace flowhost
