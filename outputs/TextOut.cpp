#include "outputs/TextOut.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/terminal_text.h"

namespace kw_out {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Copies `text` to `out`: every well-formed UTF-8 sequence as it is, every
// malformed byte as U+FFFD, and each ASCII byte through `ascii`, which
// writes it escaped as the target format needs.
template <typename Ascii>
void appendUtf8Escaped(std::string* out, std::string_view text, Ascii ascii) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ascii(c);
      ++i;
      continue;
    }
    const size_t n = kw::utf8SequenceLength(text, i);
    if (n == 0) {
      out->append(kReplacement);
      ++i;
    } else {
      out->append(text.substr(i, n));
      i += n;
    }
  }
}

}  // namespace

void appendJsonString(std::string* out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  appendUtf8Escaped(out, text, [out](unsigned char c) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out->append("\\u00");
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 0xF]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  });
  out->push_back('"');
}

void appendXmlText(std::string* out, std::string_view text) {
  appendUtf8Escaped(out, text, [out](unsigned char c) {
    switch (c) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      case '\'': out->append("&apos;"); break;
      default:
        if (c >= 0x20 || c == '\t' || c == '\n') out->push_back(static_cast<char>(c));
    }
  });
}

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's method).
void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

void appendDigits(std::string* out, unsigned value, int width) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out->append(buf, static_cast<size_t>(width));
}

// The powers of ten up to 10^9, exactly.
constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// `value` with `decimals` fraction digits, as to_chars(fixed) writes it, for
// the values positions and times take (|value| * 10^decimals below 2^53):
// the scaled value is rounded to the nearest integer, which is the correctly
// rounded result unless it lies within a hair of a half, where the product's
// own rounding could decide; false then (and for other values), and the
// caller takes the exact way.
bool appendFixedFast(std::string* out, double value, int decimals) {
  if (decimals < 0 || decimals > 9) return false;
  const double scaled = std::fabs(value) * kPowers[decimals];
  if (!(scaled < 9007199254740992.0)) return false;
  const double floor = std::floor(scaled);
  const double fraction = scaled - floor;
  if (std::fabs(fraction - 0.5) < 1e-6) return false;
  auto units = static_cast<uint64_t>(floor) + (fraction > 0.5 ? 1 : 0);
  char buf[32];
  char* end = buf + sizeof buf;
  char* p = end;
  for (int digit = 0; digit < decimals; ++digit, units /= 10) {
    *--p = static_cast<char>('0' + units % 10);
  }
  if (decimals > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + units % 10);
    units /= 10;
  } while (units > 0);
  if (std::signbit(value)) *--p = '-';
  out->append(p, end);
  return true;
}

}  // namespace

UtcFields utcFields(int64_t utcSec) {
  constexpr int64_t kMin = -62167219200;  // 0000-01-01T00:00:00Z
  constexpr int64_t kMax = 253402300799;  // 9999-12-31T23:59:59Z
  utcSec = std::clamp(utcSec, kMin, kMax);
  int64_t days = utcSec / 86400;
  int64_t rest = utcSec % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  UtcFields f{};
  civilFromDays(days, &f.year, &f.month, &f.day);
  f.hour = static_cast<unsigned>(rest / 3600);
  f.minute = static_cast<unsigned>(rest / 60 % 60);
  f.second = static_cast<unsigned>(rest % 60);
  return f;
}

void appendIsoTime(std::string* out, int64_t utcSec, int utcMs) {
  // Years outside 0..9999 cannot be written in this form: utcFields clamps.
  const UtcFields t = utcFields(utcSec);
  appendDigits(out, static_cast<unsigned>(t.year), 4);
  out->push_back('-');
  appendDigits(out, t.month, 2);
  out->push_back('-');
  appendDigits(out, t.day, 2);
  out->push_back('T');
  appendDigits(out, t.hour, 2);
  out->push_back(':');
  appendDigits(out, t.minute, 2);
  out->push_back(':');
  appendDigits(out, t.second, 2);
  out->push_back('.');
  appendDigits(out, static_cast<unsigned>(std::clamp(utcMs, 0, 999)), 3);
  out->push_back('Z');
}

void appendFixed(std::string* out, double value, int decimals) {
  if (!std::isfinite(value)) {
    out->append("null");
    return;
  }
  if (appendFixedFast(out, value, decimals)) return;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    out->append("null");
    return;
  }
  out->append(buf, r.ptr);
}

void appendInt(std::string* out, int64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out->append(buf, r.ptr);
}

void appendUnsigned(std::string* out, uint64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out->append(buf, r.ptr);
}

}  // namespace kw_out
