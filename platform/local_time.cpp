// The local-time cache (see local_time.h for what it answers and why the
// answers are exact).
#include "platform/local_time.h"

#include <cstdint>
#include <cstring>

// The environment array (environ) is read to find TZ as getenv does,
// remembering where.
#include <unistd.h>

namespace kw {

namespace {

// ================================================================ calendar

constexpr int64_t kDay = 86400;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar
// (month 1-12).
int64_t daysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = floorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct Civil {
  int64_t year;  // full year
  int month;     // 1-12
  int day;
};

Civil civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = floorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yearOfEra + era * 400 + (month <= 2), month, day};
}

bool isLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int64_t year, int month0) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month0 == 1 && isLeapYear(year) ? 29 : kDays[month0];
}

// ================================================================ time caches

// Sampling step, uniqueness margin and extra reach of a zone segment.
constexpr int64_t kStep = 3600;
constexpr int64_t kMargin = 52 * 3600;
constexpr int64_t kReach = 44 * 3600;

// A UTC span [first * kStep, last * kStep] over which every hourly sample of
// localtime_r had this offset, daylight flag and zone name, and local fields
// equal to the UTC fields of the moment plus the offset.
struct Segment {
  bool valid;
  int64_t first;
  int64_t last;
  bool firstHard;  // the sample before `first` differed: a transition
  bool lastHard;
  long offset;  // tm_gmtoff
  int isdst;
  const char* zone;
};

struct TimeCache {
  // The TZ setting the caches belong to.
  bool keyKnown;
  bool tzSet;
  bool cacheable;  // false for a TZ value too long to keep or with its own rules
  char tz[256];

  // Where TZ was found in the environment array: its entry, or, when it is
  // absent, the array's length and last entry.
  bool envKnown;
  bool envFound;
  char** env;
  long envIndex;
  const char* envEntry;

  // kw::_ftime's zone fields for one clock second.
  bool clockValid;
  int64_t clockSecond;
  int16_t timezone;
  int16_t dstflag;

  // With TZ unset, the clock second the segments were last emptied at.
  int64_t zoneSecond;

  Segment segments[2];  // most recently learnt first

  // The last date converted: its day count since 1970 and day of the year.
  int dateYear;
  int dateMonth;
  int dateDay;
  int64_t dateDays;
  int dateYearDay;

  // glibc mktime's hidden offset: the value its last real call left
  // (`real`), and the value it would hold had every conversion called it
  // (`virtual`). They differ after cached answers in a segment of another
  // offset; `pendingRequest` is then the last such answer's input.
  bool realKnown;
  long realState;
  bool pending;
  tm pendingRequest;
};

thread_local TimeCache g_cache;

void emptySegments(TimeCache& c) {
  c.segments[0].valid = false;
  c.segments[1].valid = false;
}

bool isTzEntry(const char* entry) { return entry[0] == 'T' && entry[1] == 'Z' && entry[2] == '='; }

// getenv("TZ") as the C library has it, the first entry of the environment
// array that begins with "TZ=", remembering where it was found.
const char* findTz(TimeCache& c) {
  char** const env = environ;
  c.env = env;
  c.envKnown = env != nullptr;
  c.envFound = false;
  c.envIndex = 0;
  c.envEntry = nullptr;
  if (env == nullptr) return nullptr;
  long i = 0;
  for (; env[i] != nullptr; ++i) {
    if (isTzEntry(env[i])) {
      c.envFound = true;
      c.envIndex = i;
      c.envEntry = env[i];
      return env[i] + 3;
    }
  }
  c.envIndex = i;
  c.envEntry = i > 0 ? env[i - 1] : nullptr;
  return nullptr;
}

// True when getenv("TZ") gives what the cache holds: the array is the same,
// and the remembered TZ entry is still in its place or, TZ being absent, the
// array still ends where it ended after the same last entry. setenv,
// unsetenv, putenv and clearenv change one of these whenever they could
// change TZ (they replace the entry, move the entries down, add at the end,
// or drop the array). Not seen: a program that rewrites in place the text of
// an entry it handed to putenv, instead of calling putenv or setenv again.
bool tzUnchanged(const TimeCache& c) {
  char** const env = environ;
  if (!c.envKnown || env != c.env) return false;
  if (c.envFound) return env[c.envIndex] == c.envEntry;
  return env[c.envIndex] == nullptr && (c.envIndex == 0 || env[c.envIndex - 1] == c.envEntry);
}

// Empties every cache when the TZ setting differs from the one they hold.
void checkZoneKey(TimeCache& c) {
  if (c.keyKnown && c.cacheable && tzUnchanged(c)) return;
  const char* tz = findTz(c);
  if (c.keyKnown && c.cacheable) {
    if (tz == nullptr ? !c.tzSet : (c.tzSet && std::strcmp(tz, c.tz) == 0)) return;
  }
  c.keyKnown = true;
  c.tzSet = tz != nullptr;
  // A TZ value with its own daylight-saving rules ("AAA0BBB,J100/0,J100/0:30")
  // may put transitions closer together than the sampling step: such zones
  // are never cached. Zone files (names, paths, unset TZ) are.
  c.cacheable = tz == nullptr || (std::strlen(tz) < sizeof c.tz && std::strchr(tz, ',') == nullptr);
  if (c.tzSet && c.cacheable) {
    std::strcpy(c.tz, tz);
  } else {
    c.tz[0] = '\0';
  }
  c.clockValid = false;
  emptySegments(c);
  // The hidden offset of a cached answer under the old zone cannot be
  // recreated under the new one: keep what the C library holds.
  c.pending = false;
}

// With TZ unset the C library follows changes of /etc/localtime; the
// segments are emptied at each new clock second so that a change is seen.
void noteSecond(TimeCache& c, int64_t second) {
  if (c.tzSet || second == c.zoneSecond) return;
  c.zoneSecond = second;
  emptySegments(c);
}

void fillClockRecord(TimeCache& c, const ClockReading& now, _timeb* record) {
  noteSecond(c, now.seconds);
  if (c.clockValid && now.seconds == c.clockSecond) {
    record->time = static_cast<int32_t>(now.seconds);
    record->millitm = static_cast<uint16_t>(now.millis);
    record->timezone = c.timezone;
    record->dstflag = c.dstflag;
    return;
  }
  kw::_ftime(record);
  // The fields belong to the second _ftime read; keep them only when that is
  // provably the second read before and after it.
  const ClockReading after = kw::now();
  c.clockValid = c.cacheable && after.seconds == now.seconds &&
                 record->time == static_cast<int32_t>(now.seconds);
  c.clockSecond = now.seconds;
  c.timezone = record->timezone;
  c.dstflag = record->dstflag;
}

// A request the segments may answer: isdst unknown and every field in
// range, in the years 1971 to 2037 (so the moment is a positive 32-bit
// count and no real conversion of it fails).
bool isPlain(const tm& t) {
  return t.tm_isdst < 0 && t.tm_sec >= 0 && t.tm_sec <= 59 && t.tm_min >= 0 && t.tm_min <= 59 &&
         t.tm_hour >= 0 && t.tm_hour <= 23 && t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_year >= 71 &&
         t.tm_year <= 137 && t.tm_mday >= 1 && t.tm_mday <= daysInMonth(t.tm_year + 1900, t.tm_mon);
}

// The local fields as seconds counted like UTC seconds since 1970.
int64_t localSeconds(const tm& t, int64_t days) {
  return days * kDay + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

// True when localtime_r's record `x` for `moment` has the segment's zone
// fields and the local fields of the moment plus the offset.
bool fitsType(const tm& x, int64_t moment, long offset, int isdst, const char* zone) {
  if (x.tm_gmtoff != offset || x.tm_isdst != isdst || x.tm_zone != zone) return false;
  const int64_t local = moment + offset;
  const int64_t days = floorDiv(local, kDay);
  const int64_t second = local - days * kDay;
  const Civil date = civilFromDays(days);
  return x.tm_year + int64_t{1900} == date.year && x.tm_mon + 1 == date.month &&
         x.tm_mday == date.day && x.tm_hour == second / 3600 && x.tm_min == second / 60 % 60 &&
         x.tm_sec == second % 60 && x.tm_wday == (days % 7 + 11) % 7 &&
         x.tm_yday == days - daysFromCivil(date.year, 1, 1);
}

bool sampleFits(int64_t index, long offset, int isdst, const char* zone) {
  const time_t moment = static_cast<time_t>(index * kStep);
  tm x{};
  if (localtime_r(&moment, &x) == nullptr) return false;
  return fitsType(x, index * kStep, offset, isdst, zone);
}

// Walks from hour `from` towards hour `want`, one hour at a time in
// `direction` (-1 or +1), while the samples keep the zone fields; a known
// segment of the same fields (`same`, may be null) is taken whole. Returns
// the hour reached; *hard is true when a sample did not fit (a transition
// lies beyond) or the known segment ended at one.
int64_t reach(int64_t from, int64_t want, int direction, const Segment* same, long offset,
              int isdst, const char* zone, bool* hard) {
  *hard = false;
  const auto known = [&](int64_t k) {
    return same != nullptr && same->first <= k && k <= same->last;
  };
  int64_t at = from;
  while (direction < 0 ? at > want : at < want) {
    if (known(at + direction)) {
      at = direction < 0 ? same->first : same->last;
      *hard = direction < 0 ? same->firstHard : same->lastHard;
      if (*hard) break;
      continue;
    }
    if (!sampleFits(at + direction, offset, isdst, zone)) {
      *hard = true;
      break;
    }
    at += direction;
  }
  return at;
}

// After a real conversion to `moment` with the record `result`: verifies
// and remembers the zone segment around it, reaching kMargin + kReach to
// either side unless a transition comes first. Reuses and extends a segment
// of the same zone fields that it meets.
void learn(TimeCache& c, int64_t moment, const tm& result) {
  const long offset = result.tm_gmtoff;
  const int isdst = result.tm_isdst;
  const char* zone = result.tm_zone;
  if (!fitsType(result, moment, offset, isdst, zone)) return;

  Segment* same = nullptr;
  for (Segment& s : c.segments) {
    if (s.valid && s.offset == offset && s.isdst == isdst && s.zone == zone) same = &s;
  }
  auto known = [&](int64_t k) { return same != nullptr && same->first <= k && k <= same->last; };
  auto fits = [&](int64_t k) { return known(k) || sampleFits(k, offset, isdst, zone); };

  const int64_t center = floorDiv(moment, kStep);
  if (!fits(center) || !fits(center + 1)) return;  // a transition within the hour
  bool firstHard = false;
  bool lastHard = false;
  int64_t first = reach(center, floorDiv(moment - kMargin - kReach, kStep), -1, same, offset, isdst,
                        zone, &firstHard);
  int64_t last = reach(center + 1, floorDiv(moment + kMargin + kReach, kStep) + 1, +1, same, offset,
                       isdst, zone, &lastHard);
  if (same != nullptr && (same->last < first - 1 || last + 1 < same->first)) {
    same = nullptr;  // apart from the new span: keep both
  }
  if (same != nullptr) {
    if (same->first < first) {
      first = same->first;
      firstHard = same->firstHard;
    }
    if (same->last > last) {
      last = same->last;
      lastHard = same->lastHard;
    }
    same->valid = false;
  }
  const Segment learnt{true, first, last, firstHard, lastHard, offset, isdst, zone};
  if (c.segments[0].valid) c.segments[1] = c.segments[0];
  c.segments[0] = learnt;
}

time_t convert(TimeCache& c, tm* calendar) {
  const bool plain = isPlain(*calendar);
  int64_t local = 0;
  int64_t days = 0;
  if (plain) {
    if (calendar->tm_mday != c.dateDay || calendar->tm_mon != c.dateMonth ||
        calendar->tm_year != c.dateYear) {
      const int64_t year = calendar->tm_year + 1900;
      c.dateDays = daysFromCivil(year, calendar->tm_mon + 1, calendar->tm_mday);
      c.dateYearDay = static_cast<int>(c.dateDays - daysFromCivil(year, 1, 1));
      c.dateYear = calendar->tm_year;
      c.dateMonth = calendar->tm_mon;
      c.dateDay = calendar->tm_mday;  // never 0 for a plain date: the zeroed cache holds none
    }
    days = c.dateDays;
    local = localSeconds(*calendar, days);
    for (const Segment& s : c.segments) {
      if (!s.valid) continue;
      const int64_t moment = local - s.offset;
      if (moment - kMargin < s.first * kStep || moment + kMargin > s.last * kStep) continue;
      // The one moment with these local fields; mktime's hidden offset would
      // now be moment - local.
      const long state = -s.offset;
      if (c.realKnown && c.realState == state) {
        c.pending = false;
      } else {
        c.pending = true;
        c.pendingRequest = *calendar;
      }
      calendar->tm_wday = static_cast<int>((days + 4) % 7);
      calendar->tm_yday = c.dateYearDay;
      calendar->tm_isdst = s.isdst;
      calendar->tm_gmtoff = s.offset;
      calendar->tm_zone = s.zone;
      return static_cast<time_t>(moment);
    }
  }
  if (c.pending) {
    tm again = c.pendingRequest;
    std::mktime(&again);
    c.pending = false;
  }
  const time_t moment = std::mktime(calendar);
  c.realKnown = plain;
  c.realState = plain ? static_cast<long>(moment - local) : 0;
  if (plain && c.cacheable) learn(c, moment, *calendar);
  return moment;
}

}  // namespace

time_t localTime(tm* calendar) {
  TimeCache& c = g_cache;
  checkZoneKey(c);
  if (!c.tzSet) noteSecond(c, kw::now().seconds);
  return convert(c, calendar);
}

void clockRecord(_timeb* record) {
  TimeCache& c = g_cache;
  checkZoneKey(c);
  fillClockRecord(c, kw::now(), record);
}

time_t clockRecordAndLocalTime(_timeb* record, tm* calendar) {
  TimeCache& c = g_cache;
  checkZoneKey(c);
  fillClockRecord(c, kw::now(), record);
  return convert(c, calendar);
}

}  // namespace kw
