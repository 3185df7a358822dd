#include "apps/flowhost/run/ClockSchedule.h"

#include <algorithm>
#include <cmath>

#include "apps/flowhost/blocks/JClockObj.h"

namespace flowhost {

namespace {

// Toggles that bring a clock `steps` half periods forward: all of them up to
// three, else two (one full cycle) plus one more when the level must change.
ClockSchedule::Clock::rep togglesFor(ClockSchedule::Clock::rep steps) {
  return steps <= 3 ? steps : 2 + steps % 2;
}

}  // namespace

bool ClockSchedule::add(JClockObj* clock, double rate) {
  if (clock == nullptr || !JClockObj::usableRate(rate)) return false;
  const auto half = std::chrono::nanoseconds(std::llround(0.5e9 / rate));
  entries_.push_back(Entry{clock, half, 0});
  return true;
}

void ClockSchedule::start(Clock::time_point start) {
  start_ = start;
  risingEdges_ = 0;
  for (Entry& entry : entries_) {
    entry.steps = 0;
    entry.clock->setValue(0);
  }
}

int ClockSchedule::advance(Clock::time_point now) {
  int rising = 0;
  if (now < start_) return 0;
  const auto elapsed = now - start_;
  for (Entry& entry : entries_) {
    const Clock::rep due = elapsed / entry.half;
    if (due <= entry.steps) continue;
    const auto toggles = togglesFor(due - entry.steps);
    for (ClockSchedule::Clock::rep i = 0; i < toggles; ++i) {
      entry.clock->toggle();
      if (entry.clock->value() != 0) ++rising;
    }
    entry.steps = due;
  }
  risingEdges_ += rising;
  return rising;
}

ClockSchedule::Clock::time_point ClockSchedule::nextDue() const {
  if (entries_.empty()) return start_ + std::chrono::hours(1);
  auto next = Clock::time_point::max();
  for (const Entry& entry : entries_) {
    next = std::min(next, start_ + entry.half * (entry.steps + 1));
  }
  return next;
}

}  // namespace flowhost
