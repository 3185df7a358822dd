// Calendar conversions (see calendar.h).
#include "platform/calendar.h"

namespace kw {

time_t utcSecondsOf(tm* calendar) { return timegm(calendar); }

bool utcCalendarOf(time_t moment, tm* calendar) {
  tm result{};
  if (gmtime_r(&moment, &result) == nullptr) return false;
  *calendar = result;
  return true;
}

bool localCalendarOf(time_t moment, tm* calendar) {
  tm result{};
  if (localtime_r(&moment, &result) == nullptr) return false;
  *calendar = result;
  return true;
}

}  // namespace kw
