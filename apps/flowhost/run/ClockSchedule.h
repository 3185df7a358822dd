// ClockSchedule: drives the clock blocks of a running graph. Each clock is
// set to 0 at the start and toggled at every half period after it, so its
// output rises at (2k+1) half periods: `rate` rising edges a second. The
// moments are counted from the start (start + k x half period), so they do
// not drift however late each advance() call comes.
//
// A late call (the process was held up) catches up with at most three
// toggles per clock, enough to end on the right level and to deliver no more
// than two rising edges at once; longer gaps lose their edges instead of
// firing them in a burst.
//
// Owns nothing: the clocks belong to the graph and must outlive the schedule.
// Invariant: every entry's rate is a usable clock rate.
// Thread safety: host's thread only.
#pragma once

#include <chrono>
#include <vector>

class JClockObj;

namespace flowhost {

class ClockSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  // Drives `clock` at `rate` (Hz); false when the rate is not usable.
  bool add(JClockObj* clock, double rate);
  // Sets every clock to 0 (announced) and counts from `start`.
  void start(Clock::time_point start);
  // Toggles the clocks whose moments have come by `now`; returns the number
  // of rising edges delivered.
  int advance(Clock::time_point now);
  // The next moment at which a clock toggles; `start` + 1 hour without clocks.
  Clock::time_point nextDue() const;

  bool empty() const { return entries_.empty(); }
  // Rising edges delivered since start, over all clocks.
  long long risingEdges() const { return risingEdges_; }

 private:
  struct Entry {
    JClockObj* clock;
    std::chrono::nanoseconds half;  // half period
    Clock::rep steps = 0;           // half periods delivered since start
  };

  std::vector<Entry> entries_;
  Clock::time_point start_{};
  long long risingEdges_ = 0;
};

}  // namespace flowhost
