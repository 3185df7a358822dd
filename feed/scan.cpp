// Fast stand-ins for the C library conversions of the packet parsers (see
// scan.h for what each one answers itself and why the answers are exact).
#include "feed/scan.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// nl_langinfo gives the decimal point that sscanf and snprintf use, and,
// unlike localeconv, without writing a shared record.
#include <langinfo.h>

namespace kw::scan {

namespace {

// ================================================================ time text

// Appends `value` in decimal, at least `width` characters wide: padded with
// spaces in front ("%4ld") or with zeros after the sign ("%02ld").
char* putInteger(char* out, long value, int width, char pad) {
  char digits[24];
  int count = 0;
  const bool negative = value < 0;
  unsigned long magnitude =
      negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int fill = width - count - (negative ? 1 : 0);
  if (pad == ' ') {
    for (; fill > 0; --fill) *out++ = ' ';
  }
  if (negative) *out++ = '-';
  for (; fill > 0; --fill) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

// |seconds| times 1000 rounded to an integer, to nearest and ties to even,
// as "%.3f" rounds: exactly, in integer arithmetic on the double's mantissa
// and exponent. For values below 2^31 in magnitude.
uint64_t thousandthsOf(double seconds) {
  uint64_t bits;
  std::memcpy(&bits, &seconds, sizeof bits);
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int shift;  // |seconds| = mantissa * 2^-shift
  if (exponent == 0) {
    shift = 1074;
  } else {
    mantissa |= uint64_t{1} << 52;
    shift = 1075 - exponent;
  }
  // Below 2^31, shift is at least 22; the product stays below 2^63.
  const uint64_t scaled = mantissa * 1000;
  if (shift >= 64) return 0;  // below half a thousandth
  uint64_t thousandths = scaled >> shift;
  const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (thousandths & 1) != 0)) ++thousandths;
  return thousandths;
}

// Appends `seconds` as "%06.3lf" does with round-to-nearest-even. Only for
// values below 2^31 in magnitude.
char* putSeconds(char* out, double seconds) {
  const uint64_t thousandths = thousandthsOf(seconds);
  const bool negative = std::signbit(seconds);
  char digits[24];
  int count = 0;
  uint64_t whole = thousandths / 1000;
  const unsigned fraction = static_cast<unsigned>(thousandths % 1000);
  do {
    digits[count++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (negative) *out++ = '-';
  // Width 6, zero-padded: the fraction and its point take 4.
  for (int fill = 6 - 4 - count - (negative ? 1 : 0); fill > 0; --fill) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  *out++ = '.';
  *out++ = static_cast<char>('0' + fraction / 100);
  *out++ = static_cast<char>('0' + fraction / 10 % 10);
  *out++ = static_cast<char>('0' + fraction % 10);
  return out;
}

// True when double arithmetic rounds to nearest, ties to even, as "%f" then
// rounds too (fesetround sets the rounding of both). Three sums of a value
// the compiler cannot know tell the four modes apart: 1 + 2^-60 stays 1
// only to nearest, downward and toward zero; -1 - 2^-60 stays -1 only to
// nearest, upward and toward zero; 1 + 1.5 * 2^-53 (above half a unit)
// stays 1 toward zero. Where sums are kept wider than doubles, the first
// test fails and the caller takes the general path.
bool roundsToNearest() {
  static volatile const double tiny = 0x1p-60;
  const double t = tiny;
  return 1.0 + t == 1.0 && -1.0 - t == -1.0 && 1.0 + t * 0x1.8p7 != 1.0;
}

// "00" to "99".
constexpr char kPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546"
    "474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596"
    "979899";

char* putPair(char* out, unsigned value) {
  std::memcpy(out, kPairs + 2 * value, 2);
  return out + 2;
}

}  // namespace

// ================================================================ numbers

bool decimalPointIsDot() {
  const char* point = nl_langinfo(RADIXCHAR);
  return point[0] == '.' && point[1] == '\0';
}

namespace {

// True when the first character of `text` may start a number for "%d" or
// "%ld" (white space, which they skip, a sign or a digit).
bool mayStartInteger(const char* text) {
  const unsigned char c = static_cast<unsigned char>(*text);
  return c != '\0' &&
         (c == '-' || c == '+' || fast::isDigit(static_cast<char>(c)) || std::isspace(c));
}

}  // namespace

const char* scanIntSlow(const char* text, int* value) {
  if (!mayStartInteger(text)) return nullptr;
  return std::sscanf(text, "%d", value) == 1 ? text : nullptr;
}

const char* scanLongSlow(const char* text, long* value) {
  if (!mayStartInteger(text)) return nullptr;
  return std::sscanf(text, "%ld", value) == 1 ? text : nullptr;
}

const char* scanDoubleSlow(const char* text, double* value) {
  return std::sscanf(text, "%lf", value) == 1 ? text : nullptr;
}

namespace {

// The milliseconds of the seconds text [begin, end) that "%lf" read (blanks
// first, as it skips them): its first three fraction digits, zero-filled,
// when it is written as plain digits with at most one decimal point; else
// from its value.
int millisAsWritten(const char* begin, const char* end, double seconds) {
  const char point = *nl_langinfo(RADIXCHAR);
  const char* p = begin;
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  while (p < end && std::isdigit(static_cast<unsigned char>(*p))) ++p;
  int millis = 0;
  int taken = 0;
  if (p < end && *p == point) {
    for (++p; p < end && std::isdigit(static_cast<unsigned char>(*p)); ++p) {
      if (taken < 3) {
        millis = millis * 10 + (*p - '0');
        ++taken;
      }
    }
  }
  if (p != end) {
    // inf and nan are no time of day; the caller refuses them.
    return std::isfinite(seconds) ? static_cast<int>((seconds - std::floor(seconds)) * 1000) : 0;
  }
  for (; taken < 3; ++taken) millis *= 10;
  return millis;
}

}  // namespace

const char* scanClockSlow(const char* text, int* hour, int* minute, double* seconds, int* millis) {
  int start = -1;
  int stop = -1;
  if (std::sscanf(text, "%2d%2d%n%lf%n", hour, minute, &start, seconds, &stop) != 3) {
    return nullptr;
  }
  if (millis != nullptr) *millis = millisAsWritten(text + start, text + stop, *seconds);
  return text;
}

bool scanTypeSlow(const char* text) {
  if (text[0] != '$' || text[1] == '\0') return false;
  if (!std::isspace(static_cast<unsigned char>(text[1]))) return true;
  char type[6];
  return std::sscanf(text, "$%5s", type) == 1;
}

// ================================================================ time text

// The longest text the fast path writes: three longs of 20 characters, two
// ints of 11, the seconds (below 2^31) in 15, and 5 separators.
constexpr size_t kLongestText = 3 * 20 + 2 * 11 + 15 + 5;

int formatUtcString(char* out, size_t size, long year, long month, long day, int hour, int minute,
                    double seconds, bool dot) {
  if (!(dot && std::fabs(seconds) < 2147483648.0 && roundsToNearest())) {
    return std::snprintf(out, size, "%4ld/%02ld/%02ld,%02d:%02d:%06.3lf", year, month, day, hour,
                         minute, seconds);
  }
  // The usual text, "2026/12/07,12:34:56.780": four-digit year, two-digit
  // members, seconds from 0 to below 100 after rounding.
  constexpr size_t kUsualLength = 23;
  if (size > kUsualLength && year >= 1000 && year <= 9999 &&
      static_cast<unsigned long>(month) < 100 && static_cast<unsigned long>(day) < 100 &&
      static_cast<unsigned>(hour) < 100 && static_cast<unsigned>(minute) < 100 &&
      !std::signbit(seconds)) {
    const uint64_t thousandths = thousandthsOf(seconds);
    if (thousandths < 100000) {
      char* p = putPair(out, static_cast<unsigned>(year / 100));
      p = putPair(p, static_cast<unsigned>(year % 100));
      *p++ = '/';
      p = putPair(p, static_cast<unsigned>(month));
      *p++ = '/';
      p = putPair(p, static_cast<unsigned>(day));
      *p++ = ',';
      p = putPair(p, static_cast<unsigned>(hour));
      *p++ = ':';
      p = putPair(p, static_cast<unsigned>(minute));
      *p++ = ':';
      const unsigned whole = static_cast<unsigned>(thousandths / 1000);
      const unsigned fraction = static_cast<unsigned>(thousandths % 1000);
      p = putPair(p, whole);
      *p++ = '.';
      *p++ = static_cast<char>('0' + fraction / 100);
      p = putPair(p, fraction % 100);
      *p = '\0';
      return static_cast<int>(kUsualLength);
    }
  }
  char local[kLongestText + 1];
  // Written in place when it surely fits, else in `local` and cut to size.
  char* const text = size > kLongestText ? out : local;
  char* p = putInteger(text, year, 4, ' ');
  *p++ = '/';
  p = putInteger(p, month, 2, '0');
  *p++ = '/';
  p = putInteger(p, day, 2, '0');
  *p++ = ',';
  p = putInteger(p, hour, 2, '0');
  *p++ = ':';
  p = putInteger(p, minute, 2, '0');
  *p++ = ':';
  p = putSeconds(p, seconds);
  const size_t length = static_cast<size_t>(p - text);
  if (text == out) {
    *p = '\0';
  } else if (size > 0) {
    const size_t kept = length < size ? length : size - 1;
    std::memcpy(out, text, kept);
    out[kept] = '\0';
  }
  return static_cast<int>(length);
}

}  // namespace kw::scan
