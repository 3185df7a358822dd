// The reference packet parsers: the straightforward code on sscanf,
// snprintf, mktime and kw::_ftime that the fast parsers must match.
//
// A feed packet as the beacon writes it:
//   001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,A*72
// The envelope is not split at commas: the node number is scanned from the
// start, everything else before the first "$" is ignored, and each sentence
// runs from its "$" to the first "*" after it. A checksum is the XOR of the
// bytes between "$" and "*", written "%2x" (a space, not a zero, pads values
// below 0x10); "%2X" is accepted too.
#include "testing/reference_parser.h"

#include <langinfo.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "feed/KW_OLog.h"

namespace {

// True when the two characters at `given` equal the checksum `value` written
// "%2x" or "%2X". Stops at the first difference, so it never reads past a
// terminator that comes early.
bool checksumMatches(unsigned value, const char* given) {
  char lower[8];
  char upper[8];
  std::snprintf(lower, sizeof lower, "%2x", value);
  std::snprintf(upper, sizeof upper, "%2X", value);
  return std::strncmp(lower, given, 2) == 0 || std::strncmp(upper, given, 2) == 0;
}

unsigned xorOf(const char* begin, const char* end) {
  unsigned sum = 0;
  for (const char* p = begin; p != end; ++p) sum ^= static_cast<unsigned char>(*p);
  return sum;
}

// Splits a sentence into fields: field 0 starts at the "$", each comma starts
// the next field at the character after it. A comma followed directly by
// another comma (an empty field) makes that field and all later ones absent.
// Returns the number of fields present, at most `wanted`.
int splitFields(const char* sentence, const char** fields, int wanted) {
  int count = 0;
  fields[count++] = sentence;
  for (const char* p = sentence; *p != '\0' && count < wanted; ++p) {
    if (*p != ',') continue;
    if (p[1] == ',') break;
    fields[count++] = p + 1;
  }
  return count;
}

// hhmmss.cc as "%2d%2d%lf": exactly three conversions.
bool scanClock(const char* field, int* hour, int* minute, double* seconds) {
  return std::sscanf(field, "%2d%2d%lf", hour, minute, seconds) == 3;
}

// The same, and the milliseconds of the seconds as written: the text that
// "%lf" read is cut out; when it is an optional sign, digits and at most one
// decimal point with digits, its first three fraction digits padded with
// zeros to three; otherwise (seconds - floor(seconds)) x 1000, truncated.
bool scanClock(const char* field, int* hour, int* minute, double* seconds, int* millis) {
  int start = -1;
  int stop = -1;
  if (std::sscanf(field, "%2d%2d%n%lf%n", hour, minute, &start, seconds, &stop) != 3) return false;
  std::string text(field + start, field + stop);
  text.erase(0, text.find_first_not_of(" \t\n\v\f\r"));
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.erase(0, 1);
  const std::string point = nl_langinfo(RADIXCHAR);
  const size_t at = text.find(point.substr(0, 1));
  const std::string whole = text.substr(0, at);
  const std::string fraction = at == std::string::npos ? "" : text.substr(at + 1);
  const auto digitsOnly = [](const std::string& part) {
    return part.find_first_not_of("0123456789") == std::string::npos;
  };
  if (digitsOnly(whole) && digitsOnly(fraction)) {
    *millis = std::stoi((fraction + "000").substr(0, 3));
  } else if (std::isfinite(*seconds)) {
    *millis = static_cast<int>((*seconds - std::floor(*seconds)) * 1000);
  } else {
    *millis = 0;  // no time of day: the sentence is refused anyway
  }
  return true;
}

bool scanLong(const char* field, long* value) { return std::sscanf(field, "%ld", value) == 1; }

bool scanType(const char* field) {
  char type[6];
  return std::sscanf(field, "$%5s", type) == 1;
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

int ReferenceParser::parsePacket_full(char* packet, char** first, char** second) {
  *first = nullptr;
  *second = nullptr;
  int node = 0;
  std::sscanf(packet, "%d", &node);

  char* dollar = std::strchr(packet, '$');
  if (dollar == nullptr) return node;
  olog->printf("parsePacket_full 01\n");
  *first = dollar;
  if (dollar[1] == '\0') return node;

  olog->printf("parsePacket_full 02\n");
  char* star = nullptr;
  char* p = dollar + 1;
  for (;; ++p) {
    if (*p == '\0') {
      olog->printf("parsePacket_full dumping 02.2\n");
      *first = nullptr;
      return node;
    }
    if (*p == '$') break;
    if (*p == '*') {
      if (star != nullptr) {
        olog->printf("parsePacket_full dumping 02.1 at %s\n", p);
        return node;
      }
      star = p;
    }
  }

  olog->printf("parsePacket_full 03\n");
  *second = p;
  olog->printf("parsePacket_full 04\n");

  // A first sentence without any "*" has no end of its own: refuse it.
  if (star == nullptr) {
    *first = nullptr;
    *second = nullptr;
    return node;
  }

  *star = '\0';
  if (star[1] != '$' && star[1] != ',') {
    olog->printf("runner is |%s|\n", dollar + 1);
    if (!checksumMatches(xorOf(dollar + 1, star), star + 1)) {
      *first = nullptr;
      *second = nullptr;
      return node;
    }
  }

  olog->printf("parsePacket_full 05\n");
  char* body = *second + 1;
  char* end = body;
  while (*end != '*') {
    if (*end == '\0') {
      *first = nullptr;
      *second = nullptr;
      return node;
    }
    ++end;
  }

  olog->printf("parsePacket_full 06\n");
  *end = '\0';
  if (!checksumMatches(xorOf(body, end), end + 1)) {
    *first = nullptr;
    *second = nullptr;
    return node;
  }

  olog->printf("parsePacket_full 07\n");
  return node;
}

// $GPZDA,hhmmss.cc,dd,mm,yyyy,zh,zm
bool ReferenceParser::parsePacket_s1(char* sentence) {
  const char* field[7];
  if (splitFields(sentence, field, 7) < 7) return false;
  int hour = 0;
  int minute = 0;
  double seconds = 0;
  int millis = 0;
  long day = 0;
  long month = 0;
  long year = 0;
  long zoneHours = 0;
  long zoneMinutes = 0;
  if (!scanType(field[0]) || !scanClock(field[1], &hour, &minute, &seconds, &millis) ||
      !scanLong(field[2], &day) || !scanLong(field[3], &month) || !scanLong(field[4], &year) ||
      !scanLong(field[5], &zoneHours) || !scanLong(field[6], &zoneMinutes)) {
    return false;
  }
  // A seconds value that is no number, or too large to be a calendar member,
  // cannot be a time of day: refuse it instead of converting it unsafely.
  if (!(seconds > -2147483648.0 && seconds < 2147483648.0)) return false;

  tm calendar{};
  calendar.tm_sec = static_cast<int>(seconds);
  calendar.tm_min = minute;
  calendar.tm_hour = hour;
  calendar.tm_mday = static_cast<int>(day);
  calendar.tm_mon = wrapped(month, 1);
  calendar.tm_year = wrapped(year, 1900);
  calendar.tm_wday = 0;
  calendar.tm_yday = 0;
  calendar.tm_isdst = -1;

  kw::_timeb moment;
  kw::_ftime(&moment);
  const time_t converted = std::mktime(&calendar);
  moment.time = (converted >= -2147483648LL && converted <= 2147483647LL)
                    ? static_cast<int32_t>(converted)
                    : -1;
  moment.millitm = static_cast<uint16_t>(millis);

  utcTm_ = calendar;
  utc1970_ = moment;
  olog->printf("utc1970_.time %ld, utc1970_.millitm %d\n", static_cast<long>(utc1970_.time),
               static_cast<int>(utc1970_.millitm));
  // The text is cut to the field if the values make it longer.
  std::snprintf(utcString_, sizeof utcString_, "%4ld/%02ld/%02ld,%02d:%02d:%06.3lf", year, month,
                day, hour, minute, seconds);
  olog->printf("kw_qnv_portHandler::parsePacket_s1 utcString_ is %s\n", utcString_);
  return true;
}

// $GPGLL,ddmm.mmmm,N,dddmm.mmmm,W,hhmmss.cc,A,A
bool ReferenceParser::parsePacket_s2(char* sentence) {
  const char* field[8];
  if (splitFields(sentence, field, 8) < 8) return false;
  double latitude = 0;
  double longitude = 0;
  char north[2];
  char east[2];
  char letter[2];
  int hour = 0;
  int minute = 0;
  double seconds = 0;
  if (!scanType(field[0]) || std::sscanf(field[1], "%lf", &latitude) != 1 ||
      std::sscanf(field[2], "%1[nNsS]", north) != 1 ||
      std::sscanf(field[3], "%lf", &longitude) != 1 ||
      std::sscanf(field[4], "%1[eEwW]", east) != 1 ||
      !scanClock(field[5], &hour, &minute, &seconds) ||
      std::sscanf(field[6], "%1[aAvV]", letter) != 1 ||
      std::sscanf(field[7], "%1[aAdDnN]", letter) != 1) {
    return false;
  }
  const double latitudeDegrees = toDegrees(latitude);
  const double longitudeDegrees = toDegrees(longitude);
  latitude_ = (north[0] == 'n' || north[0] == 'N') ? latitudeDegrees : -latitudeDegrees;
  longitude_ = (east[0] == 'e' || east[0] == 'E') ? longitudeDegrees : -longitudeDegrees;
  return true;
}
