// The packet parsers of kw_qnv_portHandler.
//
// A feed packet as the beacon writes it:
//   001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,A*72
// The envelope is not split at commas: the node number is scanned from the
// start, everything else before the first "$" is ignored, and each sentence
// runs from its "$" to the first "*" after it. A checksum is the XOR of the
// bytes between "$" and "*", written "%2x" (a space, not a zero, pads values
// below 0x10); "%2X" is accepted too.
//
// The parsers run once per received packet, so they avoid the general C
// library calls: each conversion goes through kw::scan, which answers the
// common forms itself with exactly the result that sscanf, snprintf, mktime
// and kw::_ftime would give, and calls them for everything else. Trace lines
// are formatted only while the log is open.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "feed/KW_OLog.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/packet_envelope.h"
#include "feed/scan.h"

namespace {

// True when the two characters at `given` equal the checksum `value` written
// "%2x" or "%2X". The second character is read only when the first is not
// the terminator, so a text that ends early is never passed.
bool checksumMatches(unsigned value, const char* given) {
  return given[0] != '\0' && kw::envelope::checksumMatches(value, given[0], given[1]);
}

using kw::envelope::xorOf;

// Fields: field 0 starts at the sentence's "$", each comma starts the next
// field at the character after it. Given a position within a field (its
// start, or where its scan stopped, which is never past its end), returns
// the start of the next field; null when there is none, or when it is empty
// (a comma follows directly), which makes it and every later field absent.
const char* nextField(const char* within) {
  for (;; ++within) {
    const char c = *within;
    if (c == ',') return within[1] == ',' ? nullptr : within + 1;
    if (c == '\0') return nullptr;
  }
}

// Moves `field` to the next field after a scan that stopped at `end` (null
// when the scan failed). False when the scan failed or there is no next
// field.
bool advance(const char*& field, const char* end) {
  if (end == nullptr) return false;
  field = nextField(end);
  return field != nullptr;
}

// "%1[...]": the field's first character is one of the set.
bool letterOf(const char* field, char a, char b, char c, char d) {
  const char letter = field[0];
  return letter == a || letter == b || letter == c || letter == d;
}

bool letterOf(const char* field, char a, char b, char c, char d, char e, char f) {
  const char letter = field[0];
  return letterOf(field, a, b, c, d) || letter == e || letter == f;
}

// The calendar member from a scanned value minus an offset, wrapping like the
// 32-bit arithmetic it stands for instead of overflowing.
int wrapped(long value, long offset) {
  return static_cast<int>(static_cast<unsigned long>(value) - static_cast<unsigned long>(offset));
}

// ddmm.mmmm (or dddmm.mmmm) to decimal degrees.
double toDegrees(double value) {
  const double hundredth = value * 0.01;  // stored as a double before floor
  const double whole = std::floor(hundredth);
  return whole + (value - whole * 100) * 0.016666666666666666;
}

}  // namespace

int kw_qnv_portHandler::parsePacket_full(char* packet, char** first, char** second) {
  *first = nullptr;
  *second = nullptr;
  int node = 0;
  kw::scan::scanInt(packet, &node);  // the result is not tested

  char* dollar = std::strchr(packet, '$');
  if (dollar == nullptr) return node;
  const bool trace = olog->isOpen() != 0;
  if (trace) olog->printf("parsePacket_full 01\n");
  *first = dollar;
  if (dollar[1] == '\0') return node;

  if (trace) olog->printf("parsePacket_full 02\n");
  // The first "*" or "$" after the "$", then, after a "*", the next one.
  char* star = nullptr;
  char* p = dollar + 1 + std::strcspn(dollar + 1, "$*");
  if (*p == '*') {
    star = p;
    // Usually only the checksum and a comma lie between.
    for (++p; *p != '$' && *p != '*' && *p != '\0';) ++p;
    if (*p == '*') {
      if (trace) olog->printf("parsePacket_full dumping 02.1 at %s\n", p);
      return node;
    }
  }
  if (*p == '\0') {
    if (trace) olog->printf("parsePacket_full dumping 02.2\n");
    *first = nullptr;
    return node;
  }

  if (trace) olog->printf("parsePacket_full 03\n");
  *second = p;
  if (trace) olog->printf("parsePacket_full 04\n");

  // A first sentence without any "*" has no end of its own: refuse it.
  if (star == nullptr) {
    *first = nullptr;
    *second = nullptr;
    return node;
  }

  *star = '\0';
  if (star[1] != '$' && star[1] != ',') {
    if (trace) olog->printf("runner is |%s|\n", dollar + 1);
    if (!checksumMatches(xorOf(dollar + 1, star), star + 1)) {
      *first = nullptr;
      *second = nullptr;
      return node;
    }
  }

  if (trace) olog->printf("parsePacket_full 05\n");
  char* body = *second + 1;
  char* end = std::strchr(body, '*');
  if (end == nullptr) {
    *first = nullptr;
    *second = nullptr;
    return node;
  }

  if (trace) olog->printf("parsePacket_full 06\n");
  *end = '\0';
  if (!checksumMatches(xorOf(body, end), end + 1)) {
    *first = nullptr;
    *second = nullptr;
    return node;
  }

  if (trace) olog->printf("parsePacket_full 07\n");
  return node;
}

// $GPZDA,hhmmss.cc,dd,mm,yyyy,zh,zm
// Each field is scanned where the split of the sentence puts it; the split
// is done along the way, each scan's end showing where to look for the next
// comma.
bool kw_qnv_portHandler::parsePacket_s1(char* sentence) {
  const bool dot = kw::scan::decimalPointIsDot();
  int hour = 0;
  int minute = 0;
  double seconds = 0;
  int millis = 0;
  long day = 0;
  long month = 0;
  long year = 0;
  long zoneHours = 0;
  long zoneMinutes = 0;
  const char* field = sentence;
  if (!kw::scan::scanType(field) || !advance(field, field + 1) ||
      !advance(field, kw::scan::scanClock(field, &hour, &minute, &seconds, &millis, dot)) ||
      !advance(field, kw::scan::scanLong(field, &day)) ||
      !advance(field, kw::scan::scanLong(field, &month)) ||
      !advance(field, kw::scan::scanLong(field, &year)) ||
      !advance(field, kw::scan::scanLong(field, &zoneHours)) ||
      kw::scan::scanLong(field, &zoneMinutes) == nullptr) {
    return false;
  }
  // A seconds value that is no number, or too large to be a calendar member,
  // cannot be a time of day: refuse it instead of converting it unsafely.
  if (!(seconds > -2147483648.0 && seconds < 2147483648.0)) return false;

  // From here on the sentence has parsed: the results are built in place.
  tm& calendar = utcTm_;
  calendar = tm{};
  calendar.tm_sec = static_cast<int>(seconds);
  calendar.tm_min = minute;
  calendar.tm_hour = hour;
  calendar.tm_mday = static_cast<int>(day);
  calendar.tm_mon = wrapped(month, 1);
  calendar.tm_year = wrapped(year, 1900);
  calendar.tm_wday = 0;
  calendar.tm_yday = 0;
  calendar.tm_isdst = -1;

  // The receiving machine's clock record (its zone fields stay), then the
  // fields taken as its local time, normalised in place.
  const time_t converted = kw::scan::clockRecordAndLocalTime(&utc1970_, &calendar);
  utc1970_.time = (converted >= -2147483648LL && converted <= 2147483647LL)
                      ? static_cast<int32_t>(converted)
                      : -1;
  // The milliseconds as written, as the time text shows them ("24.95" 950).
  utc1970_.millitm = static_cast<uint16_t>(millis);

  const bool trace = olog->isOpen() != 0;
  if (trace) {
    olog->printf("utc1970_.time %ld, utc1970_.millitm %d\n", static_cast<long>(utc1970_.time),
                 static_cast<int>(utc1970_.millitm));
  }
  // The text is cut to the field if the values make it longer.
  kw::scan::formatUtcString(utcString_, sizeof utcString_, year, month, day, hour, minute, seconds,
                            dot);
  if (trace) olog->printf("kw_qnv_portHandler::parsePacket_s1 utcString_ is %s\n", utcString_);
  return true;
}

// $GPGLL,ddmm.mmmm,N,dddmm.mmmm,W,hhmmss.cc,A,A
// The fix time (field 5) must convert; its value is not used.
bool kw_qnv_portHandler::parsePacket_s2(char* sentence) {
  const bool dot = kw::scan::decimalPointIsDot();
  double latitude = 0;
  double longitude = 0;
  const char* field = sentence;
  const char* north = nullptr;
  const char* east = nullptr;
  if (!kw::scan::scanType(field) || !advance(field, field + 1) ||
      !advance(field, kw::scan::scanDouble(field, &latitude, dot)) ||
      !letterOf(north = field, 'n', 'N', 's', 'S') || !advance(field, field + 1) ||
      !advance(field, kw::scan::scanDouble(field, &longitude, dot)) ||
      !letterOf(east = field, 'e', 'E', 'w', 'W') || !advance(field, field + 1) ||
      !advance(field, kw::scan::checkClock(field, dot)) || !letterOf(field, 'a', 'A', 'v', 'V') ||
      !advance(field, field + 1) || !letterOf(field, 'a', 'A', 'd', 'D', 'n', 'N')) {
    return false;
  }
  const double latitudeDegrees = toDegrees(latitude);
  const double longitudeDegrees = toDegrees(longitude);
  latitude_ = (north[0] == 'n' || north[0] == 'N') ? latitudeDegrees : -latitudeDegrees;
  longitude_ = (east[0] == 'e' || east[0] == 'E') ? longitudeDegrees : -longitudeDegrees;
  return true;
}
