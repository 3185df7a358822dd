// The clock: the current moment to the millisecond, the C runtime's
// millisecond time record `_timeb` and `_ftime`, and sleeping.
//
// The clock behind now() and _ftime can be replaced (setClockSource) so
// that tests control time to the millisecond.
//
// Owns the process-wide clock source. Every function may be called from any
// thread, except setClockSource, which tests call while no other thread
// reads the clock.
#pragma once

#include <cstdint>

namespace kw {

// The C runtime's millisecond time record, field for field.
struct _timeb {
  int32_t time;      // seconds since 1970-01-01 00:00:00 UTC
  uint16_t millitm;  // milliseconds, 0 to 999
  int16_t timezone;  // minutes west of UTC for standard time (no daylight saving)
  int16_t dstflag;   // nonzero while daylight saving is in force
};

// One reading of the clock: whole seconds since 1970 and milliseconds.
struct ClockReading {
  int64_t seconds;
  int millis;  // 0 to 999
};

using ClockSource = ClockReading (*)();

// Replaces the clock behind _ftime and now(); nullptr restores the system
// clock. Meant for tests.
void setClockSource(ClockSource source);

// The current clock reading from the installed source.
ClockReading now();

// Fills `record` from the clock: seconds (cut to 32 bits), milliseconds, the
// standard-time zone offset in minutes west of UTC, and whether daylight
// saving is in force at that moment in the local zone (TZ).
void _ftime(_timeb* record);

// Minutes west of UTC of the local zone's standard time.
int standardZoneMinutesWest();

// Blocks the calling thread for `ms` milliseconds.
void Sleep(unsigned ms);

}  // namespace kw
