// Local time from a cache: the conversion of local calendar fields to a
// moment (what std::mktime does) and the clock record (what kw::_ftime
// gives), answered without the C library wherever the answer is provably
// the same, for the packet parser, which converts the same few hours of
// local time many times a second.
//
// The contract:
//  - localTime(calendar) returns what std::mktime(calendar) returns and
//    leaves *calendar as std::mktime leaves it, bit for bit, on every input;
//  - clockRecord(record) fills *record as kw::_ftime(record) would at the
//    same clock reading;
//  - both follow every change of TZ made through setenv, unsetenv, putenv or
//    clearenv, and with TZ unset a replaced /etc/localtime within a second.
// What it answers itself, and when it falls back to std::mktime:
//  - answered here: a request with tm_isdst < 0 whose fields are all in
//    range (years 1971 to 2037) and whose moment lies more than 52 hours
//    inside a cached zone segment: a span of UTC seconds over which
//    localtime_r was sampled every hour with the same UTC offset, daylight
//    flag, zone name and field mapping. Zone transitions (and leap seconds)
//    being more than an hour apart, the offset is constant over the segment,
//    and UTC offsets lying within -25 h and +26 h, exactly one moment has
//    those local fields: the one std::mktime returns from any guess;
//  - std::mktime itself: out-of-range fields that it normalises, a known
//    tm_isdst, times near a transition (ambiguous or skipped local times),
//    and every request while TZ states its own daylight-saving rules (a TZ
//    with a ","), whose transitions could come closer than the sampling
//    step, or is longer than 255 characters.
// glibc's mktime keeps one hidden value between calls, the offset of its
// last result, which decides which moment an ambiguous local time gets. A
// cached answer in a segment of another offset than the last real call is
// repeated with std::mktime before the next real call, so that every answer
// is the same as if every conversion had called mktime. This holds while
// the calling thread is the only one in the process that calls mktime; a
// foreign call in between could make an ambiguous or skipped local time
// come out as the other of its two moments.
//
// TZ is found as getenv finds it, and the place of its entry in the
// environment array is remembered: the next look is answered from there
// while the array, that entry (or, with TZ absent, the array's end) are as
// they were, which any setenv, unsetenv, putenv or clearenv that could
// change TZ alters. Not seen: a program that rewrites in place the text of
// an entry it handed to putenv.
//
// Owns one cache per thread. Every function may be called from any thread.
#pragma once

#include <ctime>

#include "platform/clock.h"

namespace kw {

// std::mktime(calendar), including its normalisation of *calendar.
time_t localTime(tm* calendar);

// kw::_ftime(record).
void clockRecord(_timeb* record);

// clockRecord(record), then localTime(calendar), checking TZ once.
time_t clockRecordAndLocalTime(_timeb* record, tm* calendar);

}  // namespace kw
