#include "geogrid/parse_coordinate.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr std::int64_t kUnitsPerNumber = 100000;  // five counted fraction digits
constexpr int kFractionDigits = 5;
// The leading integer saturates here: far beyond the 32-bit range of the result
// once multiplied by 100000, yet that product still fits 64 bits.
constexpr std::int64_t kWholeLimit = 1000000000000;  // 10^12

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// White space as atol skips it in the C locale.
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

// Sample: "4530.12345 N"
//   whole 4530, fraction "12345", letter 'N' -> 453012345.
// Sample: "07350.5 W"
//   whole 7350, fraction "5" -> 50000, letter 'W' -> -735050000.
int parse_coordinate(const char* text) {
  if (text == nullptr) text = "";

  // 1. Leading integer, atol-style but saturating.
  const char* s = text;
  while (isSpace(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }
  std::int64_t whole = 0;
  while (isDigit(*s)) {
    if (whole < kWholeLimit) whole = whole * 10 + (*s - '0');
    ++s;
  }
  const char* integer_end = s;

  // 2. Just past the first point, or the end of the text.
  const char* point = std::strchr(text, '.');
  const char* p = point != nullptr ? point + 1 : text + std::strlen(text);

  // 3. At most five fraction digits, scaled to five places. Only digits count,
  // so a sign or white space after the point adds nothing to the fraction.
  std::int64_t fraction = 0;
  int n = 0;
  while (n < kFractionDigits && isDigit(p[n])) {
    fraction = fraction * 10 + (p[n] - '0');
    ++n;
  }
  for (int i = n; i < kFractionDigits; ++i) fraction *= 10;

  // 4. The fraction belongs to the same side of zero as the integer part.
  std::int64_t value = whole * kUnitsPerNumber + fraction;
  if (negative) value = -value;

  // 5. Hemisphere letter after the first space that follows the number. A
  // text without a point has its letter after the integer part ("07350 W").
  const char* search_from = point != nullptr ? p : integer_end;
  const char* space = std::strchr(search_from, ' ');
  const char letter = space != nullptr ? space[1] : '\0';
  if (letter == 'W' || letter == 'w' || letter == 'S' || letter == 's') value = -value;

  // 6. Cap to the 32-bit range.
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}
