// Calendar conversions between seconds since 1970 and the C runtime's
// broken-down record `tm`, in UTC and in the local zone (TZ).
//
// The packet parser's repeated local-time conversion goes through the cache
// of local_time.h instead; these are the plain calls for everyone else.
//
// Owns nothing; any thread may call (the reentrant C calls are used).
#pragma once

#include <ctime>

namespace kw {

// The moment whose UTC fields are `calendar` (normalising it), as timegm.
time_t utcSecondsOf(tm* calendar);

// The UTC fields of `moment`; false (and *calendar untouched) when the year
// does not fit.
bool utcCalendarOf(time_t moment, tm* calendar);

// The local fields of `moment` in the zone TZ names; false (and *calendar
// untouched) when the year does not fit.
bool localCalendarOf(time_t moment, tm* calendar);

}  // namespace kw
