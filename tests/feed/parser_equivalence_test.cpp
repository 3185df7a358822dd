// The fast parsers against the straightforward reference: the conversions of
// kw::scan against the C library calls they stand for, and whole packets
// through ParserDiff. Every check compares with the real call on the same
// input; no expected value is written down here.
#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "feed/kw_qnv_portHandler.h"
#include "feed/scan.h"
#include "testing/parser_diff.h"
#include "testing/reference_parser.h"
#include "tests/feed/fake_clock.h"
#include "tests/feed/packet_util.h"
#include "tests/support/temp_dir.h"

namespace {

using kw_test::gllBody;
using kw_test::makePacket;
using kw_test::zdaBody;

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Sets TZ for the test and puts the old value back at its end.
class ZoneSetting {
 public:
  ZoneSetting() {
    const char* old = std::getenv("TZ");
    if (old != nullptr) old_ = old;
  }
  ~ZoneSetting() { set(old_ ? old_->c_str() : nullptr); }
  static void set(const char* zone) {
    if (zone == nullptr) {
      unsetenv("TZ");
    } else {
      setenv("TZ", zone, 1);
    }
  }

 private:
  std::optional<std::string> old_;
};

// ------------------------------------------------------------------ numbers

std::vector<std::string> numberTexts() {
  std::vector<std::string> texts = {"",
                                    ",",
                                    "*",
                                    "0",
                                    "7",
                                    "07",
                                    "07x",
                                    "-0",
                                    "+5",
                                    "-",
                                    "+",
                                    "+-5",
                                    "- 5",
                                    " 12",
                                    "\t-3,",
                                    "\n\v\f\r 9",
                                    "2147483647",
                                    "2147483648",
                                    "-2147483648",
                                    "-2147483649",
                                    "4294967297",
                                    "123456789012345678",
                                    "1234567890123456789",
                                    "9223372036854775807",
                                    "9223372036854775808",
                                    "-9223372036854775809",
                                    "99999999999999999999",
                                    "000000000000000000000000000001",
                                    "3555.4270",
                                    "11526.3400",
                                    "0.0",
                                    ".5",
                                    "5.",
                                    ".",
                                    "-.",
                                    "-.5",
                                    "+.5",
                                    "-0.0",
                                    "1e5",
                                    "1E-5",
                                    "1e",
                                    "1e+",
                                    "1e-x",
                                    "+.5e3",
                                    "1.5e308",
                                    "1e309",
                                    "-1e-400",
                                    "4.9e-324",
                                    "2.2250738585072011e-308",
                                    "0x1p3",
                                    "0X1.8P1",
                                    "0x",
                                    "0xg",
                                    "0x.",
                                    "0x1p",
                                    "0x1p-1074",
                                    "00x1",
                                    "inf",
                                    "-INF",
                                    "infinity",
                                    "INFINITY",
                                    "infinit",
                                    "infx",
                                    "nan",
                                    "-NaN",
                                    "NaN(123)",
                                    "nan(",
                                    "nan()",
                                    "nan(x y)",
                                    "n",
                                    "i",
                                    "9007199254740992",
                                    "9007199254740993",
                                    "9007199254740993.0",
                                    "900719925474099.3",
                                    "0.1234567890123456789",
                                    "0.12345678901234567890123",
                                    "1.0000000000000000000000",
                                    "123456.78",
                                    "1234.5",
                                    "1234",
                                    "123456",
                                    "12345",
                                    "1234-5.5",
                                    "1234+5.5",
                                    "12 34 56",
                                    "1234 56.78",
                                    "-1-2-3.5",
                                    "+1+2+3.5",
                                    "12+456.78",
                                    "1234.",
                                    "1234.e5",
                                    "12345e1",
                                    "1234inf",
                                    "1234nan",
                                    "12340x1p4",
                                    "12340x",
                                    "123456.78x",
                                    "123456.78*",
                                    "$",
                                    "$GPZDA",
                                    "$ GP",
                                    "$ ",
                                    "$\t",
                                    "$,",
                                    "$$",
                                    "x",
                                    "N",
                                    "1,2",
                                    "\xd9\xa3",
                                    "\xa0"
                                    "5",
                                    "12\xff",
                                    "1.5\xc2\xb7",
                                    "0.30000000000000000000000000001",
                                    "123456789.123456789",
                                    "5e-324",
                                    "1e22",
                                    "1e23",
                                    "4503599627370497.5"};
  // Long digit runs and long fractions.
  texts.push_back(std::string(30, '9'));
  texts.push_back("0." + std::string(40, '3'));
  texts.push_back("1234" + std::string(200, '9'));
  return texts;
}

// A scan's end must lie within its field: at or after the text and at or
// before the field's first "," or end.
void expectWithinField(const char* text, const char* end) {
  if (end == nullptr) return;
  const char* fieldEnd = text + std::strcspn(text, ",");
  EXPECT_TRUE(end >= text && end <= fieldEnd) << "|" << text << "| end at " << (end - text);
}

TEST(ScanNumbers, IntegersMatchSscanf) {
  for (const std::string& base : numberTexts()) {
    for (const std::string& text : {base, base + ",rest", base + "*"}) {
      int fast = 111;
      int slow = 111;
      const char* end = kw::scan::scanInt(text.c_str(), &fast);
      EXPECT_EQ(end != nullptr, std::sscanf(text.c_str(), "%d", &slow) == 1) << "|" << text << "|";
      EXPECT_EQ(fast, slow) << "|" << text << "|";
      expectWithinField(text.c_str(), end);

      long fastLong = 111;
      long slowLong = 111;
      end = kw::scan::scanLong(text.c_str(), &fastLong);
      EXPECT_EQ(end != nullptr, std::sscanf(text.c_str(), "%ld", &slowLong) == 1)
          << "|" << text << "|";
      EXPECT_EQ(fastLong, slowLong) << "|" << text << "|";
      expectWithinField(text.c_str(), end);
    }
  }
}

TEST(ScanNumbers, FloatsClocksAndTypesMatchSscanf) {
  const bool dot = kw::scan::decimalPointIsDot();
  ASSERT_TRUE(dot);
  for (const std::string& base : numberTexts()) {
    for (const std::string& text : {base, base + ",rest", base + "*"}) {
      double fast = 0.25;
      double slow = 0.25;
      const char* end = kw::scan::scanDouble(text.c_str(), &fast, dot);
      EXPECT_EQ(end != nullptr, std::sscanf(text.c_str(), "%lf", &slow) == 1) << "|" << text << "|";
      EXPECT_EQ(bitsOf(fast), bitsOf(slow)) << "|" << text << "|";
      expectWithinField(text.c_str(), end);

      int hours[2] = {0, 0};
      int minutes[2] = {0, 0};
      double seconds[2] = {0, 0};
      int millis = 0;
      end = kw::scan::scanClock(text.c_str(), &hours[0], &minutes[0], &seconds[0], &millis, dot);
      const bool clockSlow =
          std::sscanf(text.c_str(), "%2d%2d%lf", &hours[1], &minutes[1], &seconds[1]) == 3;
      EXPECT_EQ(end != nullptr, clockSlow) << "|" << text << "|";
      if (end != nullptr && clockSlow) {
        EXPECT_EQ(hours[0], hours[1]) << "|" << text << "|";
        EXPECT_EQ(minutes[0], minutes[1]) << "|" << text << "|";
        EXPECT_EQ(bitsOf(seconds[0]), bitsOf(seconds[1])) << "|" << text << "|";
      }
      expectWithinField(text.c_str(), end);

      char type[6];
      EXPECT_EQ(kw::scan::scanType(text.c_str()), std::sscanf(text.c_str(), "$%5s", type) == 1)
          << "|" << text << "|";
    }
  }
}

// Every decimal with up to 9 significant digits in a few shapes, and random
// bit patterns printed with 17 digits: the exact division agrees with strtod.
TEST(ScanNumbers, FastFloatPathIsCorrectlyRounded) {
  uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  char text[64];
  for (int i = 0; i < 200000; ++i) {
    const uint64_t r = next();
    const size_t digits = 1 + r % 17;
    const uint64_t mantissa = (r >> 16) % 100000000000000000ULL;
    std::string number = std::to_string(mantissa);
    if (number.size() > digits) number.resize(digits);
    const size_t point = (r >> 8) % (number.size() + 1);
    number.insert(number.size() - point, ".");
    std::snprintf(text, sizeof text, "%s%s", (r >> 60) & 1 ? "-" : "", number.c_str());
    double fast = 0;
    double slow = 0;
    ASSERT_EQ(kw::scan::scanDouble(text, &fast, true) != nullptr,
              std::sscanf(text, "%lf", &slow) == 1)
        << text;
    ASSERT_EQ(bitsOf(fast), bitsOf(slow)) << text;
  }
}

// A locale whose decimal point is a comma changes what sscanf reads; the
// fast path must then step aside. Only where such a locale is installed.
TEST(ScanNumbers, CommaLocaleFollowsSscanf) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"};
  const char* found = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      found = name;
      break;
    }
  }
  if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma is installed";
  for (const char* text : {"3555.4270", "3555,4270", ",5", "12,5", "123456,78", "1234.5"}) {
    double fast = 0;
    double slow = 0;
    EXPECT_EQ(kw::scan::scanDouble(text, &fast, kw::scan::decimalPointIsDot()) != nullptr,
              std::sscanf(text, "%lf", &slow) == 1)
        << text;
    EXPECT_EQ(bitsOf(fast), bitsOf(slow)) << text;
  }
  EXPECT_FALSE(kw::scan::decimalPointIsDot());
  char fast[128];
  char slow[128];
  kw::scan::formatUtcString(fast, sizeof fast, 2026, 12, 7, 12, 34, 56.78,
                            kw::scan::decimalPointIsDot());
  std::snprintf(slow, sizeof slow, "%4ld/%02ld/%02ld,%02d:%02d:%06.3lf", 2026L, 12L, 7L, 12, 34,
                56.78);
  EXPECT_STREQ(fast, slow);
  std::setlocale(LC_NUMERIC, "C");
}

// ------------------------------------------------------------------ time text

void expectFormatMatches(long year, long month, long day, int hour, int minute, double seconds,
                         size_t size = 128) {
  char fast[160];
  char slow[160];
  std::memset(fast, '#', sizeof fast);
  std::memset(slow, '#', sizeof slow);
  const int fastLength =
      kw::scan::formatUtcString(fast, size, year, month, day, hour, minute, seconds, true);
  const int slowLength = std::snprintf(slow, size, "%4ld/%02ld/%02ld,%02d:%02d:%06.3lf", year,
                                       month, day, hour, minute, seconds);
  EXPECT_EQ(fastLength, slowLength) << slow;
  EXPECT_EQ(std::memcmp(fast, slow, sizeof fast), 0)
      << "fast " << std::string(fast, strnlen(fast, sizeof fast)) << " reference " << slow
      << " seconds bits " << bitsOf(seconds);
}

std::vector<double> secondsValues() {
  std::vector<double> values = {0.0,
                                -0.0,
                                5.1,
                                56.78,
                                59.9995,
                                59.99949999999,
                                0.0005,
                                0.0625,
                                0.1875,
                                1.0625,
                                2.5e-4,
                                5e-4,
                                1.5e-3,
                                4.9e-324,
                                -4.9e-324,
                                2.2250738585072014e-308,
                                1e-10,
                                -1e-10,
                                -0.5,
                                -5.1,
                                -59.9995,
                                9.9995,
                                99.9995,
                                999.9995,
                                2147483647.999,
                                -2147483647.999,
                                2147483647.9995,
                                2147483647.99951,
                                1073741823.9995,
                                4503599627.3704995,
                                0.0004999999999999999,
                                std::nextafter(0.0005, 1.0),
                                std::nextafter(0.0005, 0.0)};
  uint64_t state = 88172645463325252u;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    // Random doubles across magnitudes from 2^-30 to 2^31, and exact ties.
    const int exponent = static_cast<int>(state % 62) - 30;
    const double unit = std::ldexp(static_cast<double>(state >> 11) / 9007199254740992.0, exponent);
    values.push_back((state >> 5) & 1 ? -unit : unit);
    values.push_back(static_cast<double>(state % 100000000) / 8000.0);  // ties at .0005 steps
  }
  return values;
}

TEST(ScanTimeText, MatchesSnprintf) {
  for (double seconds : secondsValues()) expectFormatMatches(2026, 12, 7, 12, 34, seconds);
  const long longs[] = {0, 5, -5, 12, 99, 100, 2026, 99999, -99999, LONG_MIN, LONG_MAX};
  const int ints[] = {0, 7, -9, 99, 123, INT_MIN, INT_MAX};
  for (long value : longs) {
    expectFormatMatches(value, 12, 7, 12, 34, 56.78);
    expectFormatMatches(2026, value, value, 12, 34, 56.78);
  }
  for (int value : ints) expectFormatMatches(2026, 12, 7, value, value, 5.1);
  // Cut to the buffer as snprintf cuts.
  for (size_t size : {size_t{0}, size_t{1}, size_t{5}, size_t{23}, size_t{24}, size_t{64}}) {
    expectFormatMatches(LONG_MIN, LONG_MIN, LONG_MIN, INT_MIN, INT_MIN, -2147483647.999, size);
    expectFormatMatches(2026, 12, 7, 12, 34, 56.78, size);
  }
  // Values the fast path leaves to snprintf.
  for (double seconds : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL, 2147483648.0, 1e300}) {
    expectFormatMatches(2026, 12, 7, 12, 34, seconds);
  }
}

TEST(ScanTimeText, OtherRoundingModesMatchSnprintf) {
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    for (double seconds : {56.78, 0.0625, 5.1, -5.1, 59.9995, 0.0005}) {
      expectFormatMatches(2026, 12, 7, 12, 34, seconds);
    }
    for (const char* text : {"3555.4270", "0.1", "-0.1", "56.78"}) {
      double fast = 0;
      double slow = 0;
      EXPECT_EQ(kw::scan::scanDouble(text, &fast, true) != nullptr,
                std::sscanf(text, "%lf", &slow) == 1);
      EXPECT_EQ(bitsOf(fast), bitsOf(slow)) << text << " mode " << mode;
    }
  }
  std::fesetround(FE_TONEAREST);
}

// ------------------------------------------------------------------ local time

struct Conversion {
  time_t result;
  tm record;
};

tm request(int year, int month, int day, int hour, int minute, int second, int isdst = -1) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = isdst;
  return t;
}

// One step of a sequence: an optional change of TZ, then one conversion.
struct Step {
  bool changeZone;
  const char* zone;  // null: unset
  tm input;
  std::function<void()> action = {};  // another change of the environment
};

// Runs the whole sequence with the fast conversion, then the whole sequence
// with mktime, each after the same anchoring conversion, so that each side
// sees only its own history; compares every result and record.
void expectSameConversions(const std::vector<Step>& steps, const char* what) {
  std::vector<Conversion> sides[2];
  const char* start = std::getenv("TZ");
  const std::optional<std::string> startZone =
      start ? std::optional<std::string>(start) : std::nullopt;
  for (int side = 0; side < 2; ++side) {
    ZoneSetting::set(startZone ? startZone->c_str() : nullptr);
    // The same hidden mktime offset for both sides, from a real conversion
    // (second 60 is out of range, so the fast side calls mktime as well and
    // assumes nothing about the offset that the other side's calls left).
    tm anchor = request(2001, 1, 15, 11, 59, 60);
    side == 0 ? kw::scan::localTime(&anchor) : std::mktime(&anchor);
    for (const Step& step : steps) {
      if (step.changeZone) ZoneSetting::set(step.zone);
      if (step.action) step.action();
      tm record = step.input;
      const time_t result = side == 0 ? kw::scan::localTime(&record) : std::mktime(&record);
      sides[side].push_back({result, record});
    }
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    const Conversion& a = sides[0][i];
    const Conversion& b = sides[1][i];
    const tm& in = steps[i].input;
    const std::string label = std::string(what) + " step " + std::to_string(i) + " input " +
                              std::to_string(static_cast<long long>(in.tm_year) + 1900) + "-" +
                              std::to_string(static_cast<long long>(in.tm_mon) + 1) + "-" +
                              std::to_string(in.tm_mday) + " " + std::to_string(in.tm_hour) + ":" +
                              std::to_string(in.tm_min) + ":" + std::to_string(in.tm_sec) +
                              " isdst " + std::to_string(in.tm_isdst);
    ASSERT_EQ(a.result, b.result) << label;
    EXPECT_EQ(a.record.tm_sec, b.record.tm_sec) << label;
    EXPECT_EQ(a.record.tm_min, b.record.tm_min) << label;
    EXPECT_EQ(a.record.tm_hour, b.record.tm_hour) << label;
    EXPECT_EQ(a.record.tm_mday, b.record.tm_mday) << label;
    EXPECT_EQ(a.record.tm_mon, b.record.tm_mon) << label;
    EXPECT_EQ(a.record.tm_year, b.record.tm_year) << label;
    EXPECT_EQ(a.record.tm_wday, b.record.tm_wday) << label;
    EXPECT_EQ(a.record.tm_yday, b.record.tm_yday) << label;
    EXPECT_EQ(a.record.tm_isdst, b.record.tm_isdst) << label;
    EXPECT_EQ(a.record.tm_gmtoff, b.record.tm_gmtoff) << label;
    EXPECT_EQ(a.record.tm_zone, b.record.tm_zone) << label;
  }
}

std::vector<Step> plainSteps(const std::vector<tm>& inputs) {
  std::vector<Step> steps;
  for (const tm& t : inputs) steps.push_back({false, nullptr, t});
  return steps;
}

class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { ZoneSetting::set("America/Los_Angeles"); }
  ZoneSetting zone_;
};

// The spring-forward (2026-03-08) and fall-back (2026-11-01) days of Los
// Angeles: every minute, and every second of the hours around 02:00, in
// order, as a feed would send them.
TEST_F(LocalTimeTest, DaylightSavingDaysMatchMktime) {
  for (int month : {3, 11}) {
    tm midnight = request(2026, month, month == 3 ? 8 : 1, 0, 0, 0);
    const time_t start = timegm(&midnight);  // the local fields counted as UTC
    std::vector<tm> inputs;
    for (int64_t minute = -24 * 60; minute < 2 * 24 * 60; ++minute) {
      const time_t fields = start + static_cast<time_t>(minute * 60);
      tm f{};
      gmtime_r(&fields, &f);
      const tm t = request(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, 0);
      inputs.push_back(t);
      if (minute >= 0 && minute < 4 * 60) {
        for (int second = 1; second < 60; second += 7) {
          tm s = t;
          s.tm_sec = second;
          inputs.push_back(s);
        }
      }
    }
    expectSameConversions(plainSteps(inputs), month == 3 ? "spring forward" : "fall back");
  }
}

// Which moment an ambiguous local time gets (and where a skipped one lands)
// depends on the offset of mktime's previous result. Cached answers in a
// segment of another offset than the last real call must leave that
// history as mktime would have.
TEST_F(LocalTimeTest, AmbiguousTimesFollowTheHistoryOfConversions) {
  const tm summer = request(2026, 7, 1, 12, 0, 0);
  const tm summerLater = request(2026, 7, 2, 13, 14, 15);
  const tm winter = request(2026, 1, 10, 12, 0, 0);
  const tm winterLater = request(2026, 1, 11, 9, 8, 7);
  const tm ambiguous = request(2026, 11, 1, 1, 30, 0);
  const tm skipped = request(2026, 3, 8, 2, 30, 0);
  for (const tm& odd : {ambiguous, skipped}) {
    expectSameConversions(plainSteps({summer, winter, summerLater, odd}), "summer last");
    expectSameConversions(plainSteps({winter, summer, winterLater, odd}), "winter last");
    expectSameConversions(plainSteps({summer, winter, summerLater, winterLater, odd, odd}), "both");
    expectSameConversions(plainSteps({summer, summerLater, odd, winter, winterLater, odd}),
                          "alternating");
  }
}

// Times around both transitions in a shuffled order: cached segments on
// both sides of a transition are known when the ambiguous and the skipped
// local times come, after conversions of either offset.
TEST_F(LocalTimeTest, TransitionNeighbourhoodsInAnyOrder) {
  for (int month : {3, 11}) {
    tm midnight = request(2026, month, month == 3 ? 8 : 1, 0, 0, 0);
    const time_t start = timegm(&midnight);
    std::vector<tm> inputs;
    for (int64_t minutes = -3 * 24 * 60; minutes < 3 * 24 * 60; minutes += 10) {
      const time_t fields = start + static_cast<time_t>(minutes * 60 + minutes % 7);
      tm f{};
      gmtime_r(&fields, &f);
      inputs.push_back(
          request(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec));
    }
    uint64_t state = 12345;
    for (size_t i = inputs.size() - 1; i > 0; --i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      std::swap(inputs[i], inputs[(state >> 33) % (i + 1)]);
    }
    expectSameConversions(plainSteps(inputs), month == 3 ? "shuffled spring" : "shuffled fall");
  }
}

TEST_F(LocalTimeTest, OutOfRangeFieldsMatchMktime) {
  std::vector<tm> inputs = {
      request(2026, 13, 7, 12, 0, 0),    // month 13
      request(2026, 7, 7, 12, 0, 60),    // second 60
      request(2026, 7, 0, 12, 0, 0),     // day 0
      request(2026, 3, 0, 12, 0, 0),     // day 0 of March
      request(2026, 2, 29, 12, 0, 0),    // no 29 February
      request(2024, 2, 29, 12, 0, 0),    // a real one
      request(2026, 7, 7, 24, 0, 0),     // hour 24
      request(2026, 7, 7, -1, 0, 0),     // hour -1
      request(2026, 7, 7, 12, 60, 0),    // minute 60
      request(2026, 7, 7, 12, -5, -70),  // negative members
      request(2026, 0, 7, 12, 0, 0),     // month 0
      request(2026, -11, 7, 12, 0, 0),   // far negative month
      request(2026, 7, 40, 12, 0, 0),    // day 40
      request(1970, 1, 1, 0, 0, 0),      // outside the cached years
      request(1969, 12, 31, 23, 59, 59), request(2038, 1, 19, 3, 14, 8),
      request(1901, 12, 13, 20, 45, 52), request(9999, 12, 31, 23, 59, 59),
      request(2026, 7, 7, 12, 0, 0, 0),  // daylight flag given
      request(2026, 7, 7, 12, 0, 0, 1),  request(2026, 1, 7, 12, 0, 0, 1),
      request(2026, 11, 1, 1, 30, 0, 0), request(2026, 11, 1, 1, 30, 0, 1),
  };
  tm huge = request(2026, 7, 7, 12, 0, 0);
  huge.tm_year = INT_MAX;
  inputs.push_back(huge);
  huge = request(2026, 7, 7, 12, 0, 0);
  huge.tm_sec = INT_MAX;
  inputs.push_back(huge);
  huge.tm_sec = INT_MIN;
  inputs.push_back(huge);
  // Between plain requests, so the cache is warm around each one.
  std::vector<tm> mixed;
  for (const tm& t : inputs) {
    mixed.push_back(request(2026, 7, 7, 11, 59, 59));
    mixed.push_back(t);
  }
  expectSameConversions(plainSteps(mixed), "out of range");
}

TEST_F(LocalTimeTest, ZoneChangesMatchMktime) {
  const tm july = request(2026, 7, 7, 12, 34, 56);
  const tm julyNext = request(2026, 7, 7, 12, 35, 56);
  const tm april = request(2026, 4, 5, 2, 30, 0);  // Lord Howe's half-hour fall-back
  const tm ambiguous = request(2026, 11, 1, 1, 30, 0);
  std::vector<Step> steps = {
      {false, nullptr, july},
      {false, nullptr, julyNext},
      {true, "Europe/Berlin", july},
      {false, nullptr, julyNext},
      {true, "Australia/Lord_Howe", april},
      {false, nullptr, july},
      {false, nullptr, julyNext},
      {true, nullptr, july},  // unset: /etc/localtime
      {false, nullptr, julyNext},
      {true, "", july},  // empty: UTC
      {true, "UTC0", julyNext},
      {true, "EST5EDT,M3.2.0,M11.1.0", july},
      {false, nullptr, ambiguous},
      {true, "America/Los_Angeles", julyNext},
      {false, nullptr, ambiguous},
  };
  expectSameConversions(steps, "zone changes");
}

// TZ changed in each way the environment functions can change it: the entry
// replaced (setenv, putenv), moved down when an earlier one goes (unsetenv),
// removed, and added at the end with or without a new array.
TEST_F(LocalTimeTest, ZoneChangesThroughTheEnvironmentMatchMktime) {
  static char berlin[] = "TZ=Europe/Berlin";
  static char tokyo[] = "TZ=Asia/Tokyo";
  const tm july = request(2026, 7, 7, 12, 34, 56);
  const tm january = request(2026, 1, 7, 1, 2, 3);
  auto step = [](const tm& t, std::function<void()> action) {
    return Step{false, nullptr, t, std::move(action)};
  };
  const std::vector<Step> steps = {
      step(july,
           [] {
             unsetenv("TZ");
             setenv("KW_BEFORE_TZ", "1", 1);
             setenv("TZ", "America/New_York", 1);
           }),
      step(january, [] {}),
      step(july, [] { unsetenv("KW_BEFORE_TZ"); }),  // TZ moves down, same value
      step(january, [] { setenv("TZ", "America/Chicago", 1); }),
      step(july, [] { putenv(berlin); }),
      step(january, [] { putenv(tokyo); }),
      step(july, [] { setenv("KW_AFTER_TZ", "1", 1); }),
      step(january, [] { unsetenv("TZ"); }),
      step(july, [] { setenv("KW_AFTER_TZ_2", "1", 1); }),
      // One entry out and TZ in: the array keeps its length and, most
      // likely, its place.
      step(january,
           [] {
             unsetenv("KW_AFTER_TZ");
             setenv("TZ", "Asia/Tokyo", 1);
           }),
      step(july, [] { setenv("TZ", "Europe/London", 1); }),
      step(july, [] { setenv("TZ", "America/Los_Angeles", 1); }),
  };
  expectSameConversions(steps, "environment");

  kw_test::FakeClock clock;
  clock.set(1783000000, 5);
  for (const Step& s : steps) {
    s.action();
    kw::_timeb fast{};
    kw::_timeb slow{};
    kw::scan::clockRecord(&fast);
    kw::_ftime(&slow);
    EXPECT_EQ(fast.timezone, slow.timezone);
    EXPECT_EQ(fast.dstflag, slow.dstflag);
  }
  unsetenv("KW_AFTER_TZ");
  unsetenv("KW_AFTER_TZ_2");
}

// ------------------------------------------------------------------ clock record

TEST_F(LocalTimeTest, ClockRecordMatchesFtimeAroundTransitions) {
  kw_test::FakeClock clock;
  // 2026-03-08 10:00:00 UTC and 2026-11-01 09:00:00 UTC: Los Angeles changes.
  for (int64_t transition : {int64_t{1772964000}, int64_t{1793523600}}) {
    for (int64_t second = transition - 3; second <= transition + 3; ++second) {
      for (int millis : {0, 1, 999}) {
        clock.set(second, millis);
        kw::_timeb fast{};
        kw::_timeb slow{};
        kw::scan::clockRecord(&fast);
        kw::_ftime(&slow);
        EXPECT_EQ(fast.time, slow.time) << second;
        EXPECT_EQ(fast.millitm, slow.millitm) << second;
        EXPECT_EQ(fast.timezone, slow.timezone) << second;
        EXPECT_EQ(fast.dstflag, slow.dstflag) << second;
      }
    }
  }
  // The same second under another zone.
  clock.set(1783000000, 5);
  for (const char* zone :
       {"America/Los_Angeles", "UTC", "Asia/Kolkata", static_cast<const char*>(nullptr),
        "Europe/London", "EST5EDT,M3.2.0,M11.1.0"}) {
    ZoneSetting::set(zone);
    kw::_timeb fast{};
    kw::_timeb slow{};
    kw::scan::clockRecord(&fast);
    kw::_ftime(&slow);
    EXPECT_EQ(fast.timezone, slow.timezone) << (zone ? zone : "unset");
    EXPECT_EQ(fast.dstflag, slow.dstflag) << (zone ? zone : "unset");
  }
}

// ------------------------------------------------------------------ whole packets

class ParserEquivalenceTest : public ::testing::Test {
 protected:
  void SetUp() override { ZoneSetting::set("America/Los_Angeles"); }
  void expectSame(const std::vector<std::string>& packets,
                  const std::vector<kw::ClockReading>& clock = {}) {
    const std::string difference = diff_.run(packets, clock);
    EXPECT_EQ(difference, "") << packets.front();
  }
  ZoneSetting zone_;
  kw_test::TempDir dir_;
  kw_test::ParserDiff diff_{dir_.path().string()};
};

const char* const kZdaClocks[] = {"123456.78",
                                  "000000.00",
                                  "235959.99",
                                  "123405.10",
                                  "1234.5",
                                  "123456",
                                  "1234",
                                  "12",
                                  "",
                                  " 123456.78",
                                  "1234 56.78",
                                  "-1-2-3.5",
                                  "+1+2+3.5",
                                  "1234-0.0",
                                  "12345e1",
                                  "12345.6e-1",
                                  "1234inf",
                                  "1234nan",
                                  "1234infinity",
                                  "12340x1p4",
                                  "12340x",
                                  "123460.00",
                                  "126000.00",
                                  "999999.999",
                                  ("1234"
                                   "99999999999999999999999"),
                                  "0x1234",
                                  "12:34:56",
                                  "123456.78x",
                                  "123456.7849999999",
                                  "123456.0625",
                                  "123424.95",
                                  "123456.7899",
                                  "123405.1",
                                  "-1-2-0.25",
                                  " 1 2 3.125",
                                  "123456.",
                                  "1234.999999999999999999999"};

const char* const kCalendarFields[] = {"07",         "7",
                                       "07x",        "-1",
                                       "+3",         " 5",
                                       "0",          "13",
                                       "2147483648", "99999999999999999999",
                                       "",           "x",
                                       "0x10",       "1e3",
                                       "-0",         "00000000000000000000000000029",
                                       "\t12",       "2026",
                                       "1969",       "2038"};

const char* const kCoordinates[] = {"3555.4270",
                                    "-3555.4270",
                                    "+0.0",
                                    "-0",
                                    "1e3",
                                    "1E+3",
                                    "0x1.8p10",
                                    "inf",
                                    "-nan",
                                    "nan(0x12)",
                                    ".5",
                                    "5.",
                                    "  12.5",
                                    "9007199254740993",
                                    "1e-400",
                                    "1e400",
                                    "0.30000000000000000000000001",
                                    "3555.4270x",
                                    "",
                                    "18000.0000",
                                    "9000.00001",
                                    "-0.0001"};

// Substitutes `value` for field `index` (0 is the type) of a sentence.
std::string withField(const std::string& sentence, int index, const std::string& value) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = sentence.find(',', start);
    fields.push_back(sentence.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  fields[static_cast<size_t>(index)] = value;
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "," : "") + fields[i];
  return out;
}

TEST_F(ParserEquivalenceTest, TimeSentenceFields) {
  const std::string zda = zdaBody("123456.78");
  const std::string gll = gllBody();
  std::vector<std::string> packets;
  for (const char* clock : kZdaClocks)
    packets.push_back(makePacket(1, withField(zda, 1, clock), gll));
  for (int field = 2; field <= 6; ++field) {
    for (const char* value : kCalendarFields) {
      packets.push_back(makePacket(2, withField(zda, field, value), gll));
    }
  }
  for (const char* type : {"GPZDA", "XX", "", " ", "GPZDAXYZ", "\t"}) {
    packets.push_back(makePacket(3, withField(zda, 0, type), gll));
  }
  packets.push_back(makePacket(4, zda + ",,junk", gll));
  packets.push_back(makePacket(4, zda + ",", gll));
  packets.push_back(makePacket(4, withField(zda, 6, "00,"), gll));
  for (const std::string& packet : packets) expectSame({packet});
}

// Milliseconds are the first three fraction digits as written, in both
// parsers: every seconds text 00.000 to 59.999 and 00.00 to 59.99, on the
// fast path and, with a blank before the seconds, on sscanf's path.
TEST_F(ParserEquivalenceTest, MillisecondsAreTheFractionDigitsAsWritten) {
  kw_qnv_portHandler fast("feed", "239.255.42.1", 47000, 250, 20, nullptr);
  ReferenceParser reference;
  int checked = 0;
  auto expectMillis = [&](const std::string& clock, int expected) {
    const std::string sentence = "$" + zdaBody(clock);
    std::string forFast = sentence;
    std::string forReference = sentence;
    ASSERT_TRUE(fast.parsePacket_s1(forFast.data())) << clock;
    ASSERT_TRUE(reference.parsePacket_s1(forReference.data())) << clock;
    ASSERT_EQ(fast.utc1970_.millitm, expected) << clock;
    ASSERT_EQ(reference.utc1970_.millitm, expected) << clock;
    ++checked;
  };
  char clock[32];
  for (int second = 0; second < 60; ++second) {
    for (int fraction = 0; fraction < 1000; ++fraction) {
      std::snprintf(clock, sizeof clock, "1234%02d.%03d", second, fraction);
      expectMillis(clock, fraction);
    }
    for (int fraction = 0; fraction < 100; ++fraction) {
      std::snprintf(clock, sizeof clock, (second % 2 ? "1234%02d.%02d" : "1234 %02d.%02d"), second,
                    fraction);
      expectMillis(clock, fraction * 10);
    }
  }
  EXPECT_EQ(checked, 66000);
  expectMillis("123405.10", 100);
  expectMillis("123456.78", 780);
  expectMillis("123456.7899", 789);
  expectMillis("123424.95", 950);
  expectMillis("1234 24.95", 950);
  expectMillis("123456", 0);
  expectMillis("12345e1", 0);       // 50 s, no fraction digits: from the value
  expectMillis("12345.25e1", 500);  // 52.5 s
}

TEST_F(ParserEquivalenceTest, PositionSentenceFields) {
  const std::string zda = zdaBody("123456.78");
  const std::string gll = gllBody();
  std::vector<std::string> packets;
  for (int field : {1, 3}) {
    for (const char* value : kCoordinates)
      packets.push_back(makePacket(1, zda, withField(gll, field, value)));
  }
  for (const char* letter : {"N", "n", "S", "s", "X", "", "NS", " N", "e", "W"}) {
    packets.push_back(makePacket(2, zda, withField(gll, 2, letter)));
    packets.push_back(makePacket(2, zda, withField(gll, 4, letter)));
  }
  for (const char* letter : {"A", "a", "V", "v", "D", "d", "N", "n", "B", "", "x"}) {
    packets.push_back(makePacket(3, zda, withField(gll, 6, letter)));
    packets.push_back(makePacket(3, zda, withField(gll, 7, letter)));
  }
  for (const char* clock : kZdaClocks)
    packets.push_back(makePacket(4, zda, withField(gll, 5, clock)));
  packets.push_back(makePacket(5, zda, gll + ",,more"));
  packets.push_back(makePacket(5, zda, "GPGLL,3555.4270,N,11526.3400,W,123456.78,A"));
  for (const std::string& packet : packets) expectSame({packet});
}

TEST_F(ParserEquivalenceTest, Envelopes) {
  const std::string zda = zdaBody("123456.78");
  const std::string gll = gllBody();
  const std::string good = makePacket(1, zda, gll);
  const std::string sentences = good.substr(14);  // from the first "$"
  const std::string gllSum = kw_test::hex2(kw_test::xorChecksum(gll));
  const std::string zdaSum = kw_test::hex2(kw_test::xorChecksum(zda));
  const std::vector<std::string> packets = {
      good,
      sentences,
      "  -12 anything," + sentences,
      "+7," + sentences,
      "\t5," + sentences,
      "99999999999," + sentences,
      "4294967297," + sentences,
      "-," + sentences,
      "x12," + sentences,
      "",
      "no sentence at all",
      "001,com1,com2,$",
      "001,$GPZDA,1*2*3,$GPGLL*00",
      "001,$GPZDA,123456.78*64",
      "001,$" + zda + ",$" + gll + "*" + gllSum,   // first without "*"
      "001,$" + zda + "*,$" + gll + "*" + gllSum,  // unchecked first
      "001,$" + zda + "*$" + gll + "*" + gllSum,
      "001,$" + zda + "*" + kw_test::hex2(kw_test::xorChecksum(zda), true) + ",$" + gll + "*" +
          kw_test::hex2(kw_test::xorChecksum(gll), true),
      "001,$" + zda + "*65,$" + gll + "*" + gllSum,     // wrong first checksum
      "001,$" + zda + "*" + zdaSum + ",$" + gll,        // second without "*"
      "001,$" + zda + "*" + zdaSum + ",$" + gll + "*",  // second checksum missing
      "001,$" + zda + "*" + zdaSum + ",$" + gll + "*" + gllSum.substr(0, 1),
      "001,$" + zda + "*" + zdaSum + ",$" + gll + "*00",
      "001,$" + zda + "*" + zdaSum + ",$" + gll + "*" + gllSum + ",$GPXXX,1,2*00 trailing",
      "001,$" + zda + "*" + zdaSum + ",$" + gll + "*" + gllSum + "*$*",
      "001,$" + zda + "*" + zdaSum + "x*,$" + gll + "*" + gllSum,  // second "*" in first
      "001,$*,$*",
      "$$$$",
      "$*$*",
      "\xff\xfe$\x80*\x80$\x01*\x01",
      good + std::string(300, 'z'),  // cut to the slot
      std::string(200, ' ') + good,  // cut inside the second sentence
  };
  for (const std::string& packet : packets) expectSame({packet});
  // Checksums of every value in both cases and with a zero pad.
  for (int type = 0; type < 256; ++type) {
    std::string body = zda;
    body[1] = static_cast<char>(type == 0 ? 'P' : type);
    const unsigned sum = kw_test::xorChecksum(body);
    char zeroPadded[8];
    std::snprintf(zeroPadded, sizeof zeroPadded, "%02x", sum);
    for (const std::string& written :
         {kw_test::hex2(sum), kw_test::hex2(sum, true), std::string(zeroPadded)}) {
      expectSame({"007,c,d,$" + body + "*" + written + ",$" + gll + "*" + gllSum});
      expectSame({"007,c,d,$" + zda + "*" + zdaSum + ",$" + body + "*" + written});
    }
  }
}

// Streams in turn, each compared from the same starting state: the first
// ends on a cached answer of another offset than its last real conversion,
// the second asks for an ambiguous time after a cached answer.
TEST_F(ParserEquivalenceTest, StreamsInTurnAroundAnAmbiguousHour) {
  auto at = [](int year, int month, int day, const char* clock) {
    return makePacket(1, zdaBody(clock, day, month, year),
                      gllBody("3555.4270", "11526.3400", clock));
  };
  // Winter 2001 (the starting state's season) and summer 2026 learnt; the
  // stream ends on a cached winter answer after a real summer conversion.
  expectSame(
      {at(2001, 1, 16, "120000.00"), at(2026, 5, 1, "013000.00"), at(2001, 1, 16, "120001.00")});
  // A cached summer answer, then the ambiguous hour of the fall-back night.
  expectSame(
      {at(2026, 5, 1, "013030.00"), at(2026, 11, 1, "015900.25"), at(2026, 11, 1, "013000.00")});
  expectSame(
      {at(2026, 5, 2, "013000.00"), at(2001, 1, 17, "120000.00"), at(2026, 11, 1, "010000.00")});
}

// A beacon's day on both daylight-saving days and an ordinary one, as one
// stream per day: packets every 10 minutes, every 20 seconds around 01:00 to
// 03:00, from five nodes, with the receiving clock 2 seconds later.
TEST_F(ParserEquivalenceTest, FeedOverDaylightSavingDays) {
  struct Day {
    int month;
    int day;
    int64_t midnightUtc;  // of the receiving clock, roughly
  };
  for (const Day& d : {Day{3, 8, 1772956800}, Day{11, 1, 1793516400}, Day{7, 14, 1783926000}}) {
    std::vector<std::string> packets;
    std::vector<kw::ClockReading> clock;
    for (int second = 0; second < 24 * 3600;) {
      const int hour = second / 3600;
      char text[32];
      std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", hour, second / 60 % 60, second % 60,
                    (second * 7) % 100);
      packets.push_back(makePacket(second % 5, zdaBody(text, d.day, d.month, 2026),
                                   gllBody("3555.4270", "11526.3400", text)));
      clock.push_back({d.midnightUtc + second + 2, (second * 13) % 1000});
      second += (hour >= 1 && hour < 3) ? 20 : 600;
    }
    expectSame(packets, clock);
  }
}

}  // namespace
