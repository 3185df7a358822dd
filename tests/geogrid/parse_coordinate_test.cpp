// Coordinate text parsing: the documented forms, malformed texts, and values
// beyond the 32-bit range (which are capped, never overflowed).
#include "geogrid/parse_coordinate.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct ParseCase {
  const char* text;
  int units;
};

TEST(ParseCoordinate, DocumentedForms) {
  const ParseCase cases[] = {
      {"4530.12345 N", 453012345},
      {"07350.5 W", -735050000},
      {"4530.123456 S", -453012345},  // sixth fraction digit dropped
      {"4530.5 s", -453050000},
      {"4530.5 w", -453050000},
      {"0.00001 E", 1},
      {"12", 1200000},
      {"", 0},
      {"4530.00000 N", 453000000},
      {"07345.00000 W", -734500000},
      {"07350.99999 W", -735099999},
      {"12.", 1200000},
      {".5", 50000},
      {"0.1 N", 10000},
      {"12.50 E", 1250000},
      {"21474.83647 N", INT_MAX},
      {"21474.83648 S", INT_MIN},
  };
  for (const ParseCase& c : cases)
    EXPECT_EQ(parse_coordinate(c.text), c.units) << "text \"" << c.text << "\"";
}

// The leading integer is read like atol: white space, an optional sign, then
// digits; the hemisphere letter is the character right after the first space
// that follows the number.
TEST(ParseCoordinate, AtolStyleIntegerAndHemisphereLetter) {
  const ParseCase cases[] = {
      {"  \t12.5", 1250000},
      {"+12.5", 1250000},
      {"-12", -1200000},
      {"12.5N", 1250000},    // no space: no letter
      {"12.5  S", 1250000},  // the letter position holds the second space
      {"12.5 X", 1250000},
      {"12.5 Wxyz", -1250000},
      {"12.34abc S", -1234000},  // fraction digits end at the first non-digit
      {"abc", 0},
      {"N", 0},
      {" W", 0},
      {"12 N.5", 1250000},  // the first point counts wherever it is
  };
  for (const ParseCase& c : cases)
    EXPECT_EQ(parse_coordinate(c.text), c.units) << "text \"" << c.text << "\"";
}

// Guarded behaviour: a sign applies to the fraction too; only digits right
// after the point form the fraction; a text without a point still has its
// hemisphere letter; values beyond 32 bits are capped; null is empty.
TEST(ParseCoordinate, GuardedBehaviour) {
  const ParseCase cases[] = {
      {"-12.5", -1250000},
      {"-0.5", -50000},
      {"-0.5 S", 50000},
      {"12. 5", 1200000},
      {"12.-5", 1200000},
      {"12.+99999", 1200000},
      {"07350 W", -735000000},
      {"4530 S", -453000000},
      {"4530 N", 453000000},
      {"99999 N", INT_MAX},
      {"99999 S", INT_MIN},
      {"-99999.99999", INT_MIN},
      {"21474.83648 N", INT_MAX},
      {"123456789012345678901234567890.5 N", INT_MAX},
      {"-123456789012345678901234567890 W", INT_MAX},
      {"123456789012345678901234567890 S", INT_MIN},
      {"0.000009999999999999999999 N", 0},
  };
  for (const ParseCase& c : cases)
    EXPECT_EQ(parse_coordinate(c.text), c.units) << "text \"" << c.text << "\"";
  EXPECT_EQ(parse_coordinate(nullptr), 0);

  // A digit run of thousands of characters neither overflows nor goes astray.
  const std::string huge(5000, '9');
  EXPECT_EQ(parse_coordinate((huge + " N").c_str()), INT_MAX);
  EXPECT_EQ(parse_coordinate(("1." + huge + " S").c_str()), -199999);
}

}  // namespace
