// TickTimes: the durations of a run's clock ticks and their percentiles.
#include "apps/flowhost/run/TickTimes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace flowhost {

void TickTimes::add(int64_t microseconds) {
  if (microseconds < 0) microseconds = 0;
  ++count_;
  longest_ = std::max(longest_, microseconds);
  if (samples_.size() < kMaxSamples) samples_.push_back(microseconds);
}

int64_t TickTimes::percentile(double share) const {
  if (samples_.empty()) return 0;
  share = std::clamp(share, 0.0, 1.0);
  // Nearest rank: the smallest value with at least `share` of the samples
  // at or below it.
  std::size_t rank =
      static_cast<std::size_t>(std::ceil(share * static_cast<double>(samples_.size())));
  rank = std::clamp<std::size_t>(rank, 1, samples_.size());
  std::vector<int64_t> sorted(samples_);
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   sorted.end());
  return sorted[rank - 1];
}

std::string TickTimes::summary() const {
  if (count_ == 0) return "ticks 0";
  char text[160];
  std::snprintf(text, sizeof text, "ticks %zu, p50 %.3f ms, p99 %.3f ms, max %.3f ms", count_,
                static_cast<double>(percentile(0.50)) / 1000.0,
                static_cast<double>(percentile(0.99)) / 1000.0,
                static_cast<double>(longest_) / 1000.0);
  return text;
}

}  // namespace flowhost
