// kw::scan: fast stand-ins for the C library conversions that the packet
// parsers of kw_qnv_portHandler use, each giving what the call it replaces
// gives, bit for bit, on every input.
//
// Each function handles the common forms of a feed packet itself and hands
// every other input to the C library call it stands for:
//  - numbers: plain decimal digit forms are converted here (a float only when
//    its mantissa is at most 2^53 and it has at most 22 fraction digits, so
//    one exact division gives the correctly rounded value, as strtod does);
//    blanks, exponents, inf, nan, hexadecimal floats, overflowing integers,
//    any other character after a float and a decimal point other than "."
//    go to sscanf with the original format;
//  - the time text: formatted here when arithmetic rounds to nearest and the
//    decimal point is "."; otherwise snprintf. (The exact division above and
//    this check use the SSE rounding mode, glibc's strtod and printf the x87
//    one; fesetround sets both alike.)
//  - the local-time conversion and the clock record: answered by the cache
//    of the platform layer (local_time.h), which states exactly what it
//    answers itself and when it calls the C library instead.
//
// Thread safety: every function may be called from any thread; the time
// caches are per thread. The host's thread is the only one that parses
// packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "platform/local_time.h"

namespace kw::scan {

// True when the current locale's decimal point is ".", the one the fast
// number paths know (sscanf reads and snprintf writes the locale's). The
// float conversions and the time text take this value as `dot`, fetched
// once per sentence.
bool decimalPointIsDot();

// The scans return null where sscanf would not convert. Otherwise they
// return how far they provably got within the field: a pointer at or after
// `text` and at or before the field's end (its first "," or the end of the
// text), from where the caller may look for the next field. The common forms
// are handled inline below; the rest goes to the out-of-line *Slow
// functions, which call sscanf.

// sscanf(text, "%d", value) == 1. On failure *value is untouched.
inline const char* scanInt(const char* text, int* value);

// sscanf(text, "%ld", value) == 1. On failure *value is untouched.
inline const char* scanLong(const char* text, long* value);

// sscanf(text, "%lf", value) == 1. On failure *value is untouched.
inline const char* scanDouble(const char* text, double* value, bool dot);

// sscanf(text, "%2d%2d%lf", hour, minute, seconds) == 3 (hhmmss.cc), and
// *millis the milliseconds of the seconds as written: the first three digits
// after the decimal point, zero-filled ("05.1" 100, "56.78" 780, "56.7899"
// 789, "56" 0). A seconds text in another form (an exponent, a hexadecimal
// float) has no such digits: its millis are (seconds - floor(seconds)) x
// 1000, truncated. On failure the four values are unspecified.
inline const char* scanClock(const char* text, int* hour, int* minute, double* seconds, int* millis,
                             bool dot);

// scanClock's result without the values: for a field that must convert but
// whose value is not used.
inline const char* checkClock(const char* text, bool dot);

// sscanf(text, "$%5s", buffer) == 1: a "$" and then at least one character
// that is not white space.
inline bool scanType(const char* text);

// snprintf(out, size, "%4ld/%02ld/%02ld,%02d:%02d:%06.3lf", year, month, day,
// hour, minute, seconds): the same text, the same cut and the same result.
int formatUtcString(char* out, size_t size, long year, long month, long day, int hour, int minute,
                    double seconds, bool dot);

// The local-time conversion of the C library, with its normalisation of
// *calendar, from the platform's cache (see local_time.h).
inline time_t localTime(tm* calendar) { return kw::localTime(calendar); }

// kw::_ftime(record), from the platform's cache.
inline void clockRecord(_timeb* record) { kw::clockRecord(record); }

// clockRecord(record), then localTime(calendar), checking TZ once.
inline time_t clockRecordAndLocalTime(_timeb* record, tm* calendar) {
  return kw::clockRecordAndLocalTime(record, calendar);
}

// ---------------------------------------------------------------- inline part

const char* scanIntSlow(const char* text, int* value);
const char* scanLongSlow(const char* text, long* value);
const char* scanDoubleSlow(const char* text, double* value);
const char* scanClockSlow(const char* text, int* hour, int* minute, double* seconds,
                          int* millis = nullptr);
bool scanTypeSlow(const char* text);

namespace fast {

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The powers of ten that are exact doubles.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr uint64_t kExactMantissa = uint64_t{1} << 53;

// The digits of a "%lf" number's common form: an optional sign, digits with
// at most one ".", 1 to 19 digits in all, and then a "," or the end of the
// text, so that nothing after it could belong to the number. Null for any
// other form; else where the number ends, with its digits as an integer in
// *mantissa and the count of fraction digits in *fraction.
inline const char* decimalForm(const char* p, bool* negative, uint64_t* mantissa, long* fraction) {
  *negative = *p == '-';
  if (*negative || *p == '+') ++p;
  // More than 19 digits would wrap the mantissa; such texts are refused
  // below, so a wrapped value is never used.
  uint64_t digits = 0;
  const char* const whole = p;
  for (; isDigit(*p); ++p) digits = digits * 10 + static_cast<unsigned>(*p - '0');
  long count = p - whole;
  long part = 0;
  if (*p == '.') {
    const char* const first = ++p;
    for (; isDigit(*p); ++p) digits = digits * 10 + static_cast<unsigned>(*p - '0');
    part = p - first;
    count += part;
  }
  if (count == 0 || count > 19 || (*p != ',' && *p != '\0')) return nullptr;
  *mantissa = digits;
  *fraction = part;
  return p;
}

// The common form's value when it is exact to compute: the signed mantissa
// (at most 2^53, exact as a double) divided by a power of ten of at most 22
// (exact too) is one correctly rounded operation, so it gives the correctly
// rounded value of the decimal number, which is what strtod gives, in every
// rounding mode. Null when the text has another form or these bounds do not
// hold; *value is then untouched.
inline bool exactValue(bool negative, uint64_t mantissa, long fraction, double* value) {
  if (mantissa > kExactMantissa || fraction > 22) return false;
  double result = static_cast<double>(mantissa);
  if (negative) result = -result;
  if (fraction > 0) result /= kExactPowers[fraction];
  *value = result;
  return true;
}

inline const char* decimal(const char* p, double* value) {
  bool negative;
  uint64_t mantissa;
  long fraction;
  const char* end = decimalForm(p, &negative, &mantissa, &fraction);
  if (end == nullptr || !exactValue(negative, mantissa, fraction, value)) return nullptr;
  return end;
}

// The first three fraction digits of a common form, zero-filled, from its
// digits (`mantissa`, at most 19) and the count of them after the point.
inline int firstThreeFractionDigits(uint64_t mantissa, long fraction) {
  static constexpr uint64_t kPowers[] = {1u,
                                         10u,
                                         100u,
                                         1000u,
                                         10000u,
                                         100000u,
                                         1000000u,
                                         10000000u,
                                         100000000u,
                                         1000000000u,
                                         10000000000u,
                                         100000000000u,
                                         1000000000000u,
                                         10000000000000u,
                                         100000000000000u,
                                         1000000000000000u,
                                         10000000000000000u,
                                         100000000000000000u,
                                         1000000000000000000u,
                                         10000000000000000000u};
  if (fraction >= 3) return static_cast<int>((mantissa / kPowers[fraction - 3]) % 1000);
  return static_cast<int>((mantissa % kPowers[fraction]) * kPowers[3 - fraction]);
}

// The common form of a "%d" or "%ld" number: a sign or a digit first (no
// blanks), then 1 to 18 digits, which cannot overflow a long; the number
// ends at the first character that is not a digit, whatever it is. Null for
// other forms; else that end, with the value in *value.
inline const char* integer(const char* p, long* value) {
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* const first = p;
  uint64_t digits = 0;
  for (; isDigit(*p); ++p) digits = digits * 10 + static_cast<unsigned>(*p - '0');
  const long count = p - first;
  if (count == 0 || count > 18) return nullptr;
  *value = negative ? -static_cast<long>(digits) : static_cast<long>(digits);
  return p;
}

}  // namespace fast

inline const char* scanInt(const char* text, int* value) {
  long number;
  if (const char* end = fast::integer(text, &number)) {
    *value = static_cast<int>(number);  // as sscanf: the long value cut to int
    return end;
  }
  return scanIntSlow(text, value);
}

inline const char* scanLong(const char* text, long* value) {
  if (const char* end = fast::integer(text, value)) return end;
  return scanLongSlow(text, value);
}

inline const char* scanDouble(const char* text, double* value, bool dot) {
  if (dot) {
    if (const char* end = fast::decimal(text, value)) return end;
    if (*text == ',' || *text == '\0') return nullptr;  // an empty field
  }
  return scanDoubleSlow(text, value);
}

inline const char* scanClock(const char* text, int* hour, int* minute, double* seconds, int* millis,
                             bool dot) {
  if (dot && fast::isDigit(text[0]) && fast::isDigit(text[1]) && fast::isDigit(text[2]) &&
      fast::isDigit(text[3])) {
    bool negative;
    uint64_t mantissa;
    long fraction;
    const char* end = fast::decimalForm(text + 4, &negative, &mantissa, &fraction);
    if (end != nullptr && fast::exactValue(negative, mantissa, fraction, seconds)) {
      *hour = (text[0] - '0') * 10 + (text[1] - '0');
      *minute = (text[2] - '0') * 10 + (text[3] - '0');
      *millis = fast::firstThreeFractionDigits(mantissa, fraction);
      return end;
    }
  }
  return scanClockSlow(text, hour, minute, seconds, millis);
}

inline const char* checkClock(const char* text, bool dot) {
  if (dot && fast::isDigit(text[0]) && fast::isDigit(text[1]) && fast::isDigit(text[2]) &&
      fast::isDigit(text[3])) {
    // The common form always converts (at most 19 digits: no overflow).
    bool negative;
    uint64_t mantissa;
    long fraction;
    if (const char* end = fast::decimalForm(text + 4, &negative, &mantissa, &fraction)) {
      return end;
    }
  }
  int hour;
  int minute;
  double seconds;
  return scanClockSlow(text, &hour, &minute, &seconds);
}

inline bool scanType(const char* text) {
  if (text[0] != '$' || text[1] == '\0') return false;
  // The common case: the type begins with a letter or digit right after the
  // "$". Such a character is white space in no locale (POSIX keeps the space
  // class apart from letters and digits); any other goes to sscanf, which
  // asks the locale.
  const char c = text[1];
  if (fast::isDigit(c) || static_cast<unsigned char>((c | 0x20) - 'a') < 26) return true;
  return scanTypeSlow(text);
}

}  // namespace kw::scan
