// A clock for tests: kw::_ftime reads the value set here until the object
// goes away.
#pragma once

#include "platform/platform.h"

namespace kw_test {

class FakeClock {
 public:
  FakeClock() { kw::setClockSource(&read); }
  ~FakeClock() { kw::setClockSource(nullptr); }
  void set(int64_t seconds, int millis) {
    seconds_ = seconds;
    millis_ = millis;
  }

 private:
  static kw::ClockReading read() { return {seconds_, millis_}; }
  static inline int64_t seconds_ = 0;
  static inline int millis_ = 0;
};

}  // namespace kw_test
