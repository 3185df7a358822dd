// The clock (see clock.h).
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace kw {

namespace {

ClockReading systemClock() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ClockReading{static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

std::atomic<ClockSource> g_clock{&systemClock};

}  // namespace

void setClockSource(ClockSource source) { g_clock.store(source ? source : &systemClock); }

ClockReading now() { return g_clock.load(std::memory_order_relaxed)(); }

int standardZoneMinutesWest() {
  tzset();
  return static_cast<int>(::timezone / 60);
}

void _ftime(_timeb* record) {
  const ClockReading reading = now();
  const time_t seconds = static_cast<time_t>(reading.seconds);
  tm local{};
  const int west = standardZoneMinutesWest();
  localtime_r(&seconds, &local);
  record->time = static_cast<int32_t>(reading.seconds);
  record->millitm = static_cast<uint16_t>(reading.millis);
  record->timezone = static_cast<int16_t>(west);
  record->dstflag = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kw
