// Coordinate mapper: the worked map, state kept across positions and init,
// the diagnostic texts, copies, and texts too long for the last-text fields.
#include "geogrid/vezirivodiz_mapper.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// Corners 4530.00000 N / 07350.00000 W (upper left) and 4520.00000 N /
// 07340.00000 W (lower right), 100 x 100 pixels.
void initExampleMap(vezirivodiz_mapper& mapper) {
  mapper.init("07350.00000 W", "07340.00000 W", "4530.00000 N", "4520.00000 N", "harbour", 100,
              100);
}

TEST(VezirivodizMapper, FreshMapperFindsNothing) {
  vezirivodiz_mapper mapper;
  EXPECT_FALSE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 0);
  EXPECT_EQ(mapper.getPixelY(), 0);
  EXPECT_STREQ(
      mapper.toString(),
      "vezirivodiz_mapper::toString, locationFound 0, 0, 0, last Long/Lat / as int: 0, 0\n");
}

TEST(VezirivodizMapper, ExampleMapOnThenOffKeepsPixel) {
  vezirivodiz_mapper mapper;
  initExampleMap(mapper);
  mapper.map_location("07345.00000 W", "4525.00000 N");
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 50);
  EXPECT_EQ(mapper.getPixelY(), 50);
  EXPECT_STREQ(mapper.toString(),
               "vezirivodiz_mapper::toString, locationFound 1, 50, 50, last Long/Lat 07345.00000 "
               "W/4525.00000 N as "
               "int: -734500000, 452500000\n");

  mapper.map_location("07351.00000 W", "4525.00000 N");
  EXPECT_FALSE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 50);
  EXPECT_EQ(mapper.getPixelY(), 50);
  EXPECT_STREQ(mapper.toString(),
               "vezirivodiz_mapper::toString, locationFound 0, 50, 50, last Long/Lat 07351.00000 "
               "W/4525.00000 N as "
               "int: -735100000, 452500000\n");
  // West of the ascending upper-left longitude: code 1; latitude untested.
  EXPECT_STREQ(
      mapper.toString2(),
      "GPS_map: long -735000000 to -734000000, lat 453000000 to 452000000, failure_codes 1, 0");
}

TEST(VezirivodizMapper, CornersAndEdgesOfExampleMap) {
  struct Case {
    const char *longitude, *latitude;
    bool found;
    int x, y;
  };
  const Case cases[] = {
      {"07350.00000 W", "4530.00000 N", true, 0, 0},
      {"07340.00000 W", "4520.00000 N", true, 100,
       100},  // lower-right edge: one past the last pixel
      {"07349.99999 W", "4529.99999 N", true, 0, 0},
      {"07340.00001 W", "4520.00001 N", true, 99, 99},
      {"07339.99999 W", "4525 N", false, 99, 99},
      {"07345 W", "4530.00001 N", false, 99, 99},
      {"07345 W", "4525 N", true, 50, 50},  // no point: the letter still counts
      {"07345 E", "4525 N", false, 50, 50},
      {"", "", false, 50, 50},
  };
  vezirivodiz_mapper mapper;
  initExampleMap(mapper);
  for (const Case& c : cases) {
    mapper.map_location(c.longitude, c.latitude);
    EXPECT_EQ(mapper.isLocationInMap(), c.found) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(mapper.getPixelX(), c.x) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(mapper.getPixelY(), c.y) << c.longitude << ", " << c.latitude;
  }
}

TEST(VezirivodizMapper, InitResetsOutcomeButKeepsLastTexts) {
  vezirivodiz_mapper mapper;
  initExampleMap(mapper);
  mapper.map_location("07345.00000 W", "4525.00000 N");
  ASSERT_TRUE(mapper.isLocationInMap());
  initExampleMap(mapper);
  EXPECT_FALSE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 0);
  EXPECT_EQ(mapper.getPixelY(), 0);
  EXPECT_STREQ(mapper.toString(),
               "vezirivodiz_mapper::toString, locationFound 0, 0, 0, last Long/Lat 07345.00000 "
               "W/4525.00000 N as "
               "int: -734500000, 452500000\n");
  mapper.map_location("07342.50000 W", "4527.50000 N");
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 75);
  EXPECT_EQ(mapper.getPixelY(), 25);
}

TEST(VezirivodizMapper, AssignmentCopiesStateAndGeometry) {
  vezirivodiz_mapper source, target;
  initExampleMap(source);
  source.map_location("07345.00000 W", "4525.00000 N");
  target.init("0", "10", "0", "10", "", 10, 10);
  target = source;
  EXPECT_TRUE(target.isLocationInMap());
  EXPECT_EQ(target.getPixelX(), 50);
  EXPECT_EQ(target.getPixelY(), 50);
  const std::string sourceText = source.toString();
  EXPECT_EQ(std::string(target.toString()), sourceText);
  const std::string sourceGeometry = source.toString2();
  EXPECT_EQ(std::string(target.toString2()), sourceGeometry);
  target.map_location("07342.50000 W", "4527.50000 N");  // the copied map is used
  EXPECT_EQ(target.getPixelX(), 75);
  EXPECT_EQ(target.getPixelY(), 25);
  EXPECT_EQ(source.getPixelX(), 50);  // the source is independent
}

// A text of 30 characters or more is cut to 29 in the last-text field, while
// its value comes from the whole text: here the hemisphere letter lies past
// the cut.
TEST(VezirivodizMapper, LongTextCutButValuedWhole) {
  vezirivodiz_mapper mapper;
  initExampleMap(mapper);
  const std::string longitude = "07345.00000" + std::string(25, '0') + " W";  // 38 characters
  const std::string latitude = "4525.000000000000000000000000N";              // exactly 30
  ASSERT_EQ(latitude.size(), 30u);
  mapper.map_location(longitude.c_str(), latitude.c_str());
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 50);
  EXPECT_EQ(mapper.getPixelY(), 50);
  const std::string expected =
      "vezirivodiz_mapper::toString, locationFound 1, 50, 50, last Long/Lat " +
      longitude.substr(0, 29) + "/" + latitude.substr(0, 29) + " as int: -734500000, 452500000\n";
  EXPECT_EQ(std::string(mapper.toString()), expected);

  // Exactly 29 characters are kept whole.
  const std::string fits = "07345.00000000000000000000000";
  ASSERT_EQ(fits.size(), 29u);
  mapper.map_location(fits.c_str(), "");
  EXPECT_NE(std::string(mapper.toString()).find("Long/Lat " + fits + "/ as int: 734500000, 0\n"),
            std::string::npos)
      << mapper.toString();
}

TEST(VezirivodizMapper, NullAndExtremeTexts) {
  vezirivodiz_mapper mapper;
  mapper.init(nullptr, nullptr, nullptr, nullptr, nullptr, 5, 7);
  mapper.map_location(nullptr, nullptr);
  // All corners 0 and the position 0, 0: the single on-map position is the
  // far edge on both axes.
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 5);
  EXPECT_EQ(mapper.getPixelY(), 7);
  EXPECT_STREQ(
      mapper.toString(),
      "vezirivodiz_mapper::toString, locationFound 1, 5, 7, last Long/Lat / as int: 0, 0\n");

  // A map wider than 32-bit differences allow, and positions beyond 32 bits.
  mapper.init("99999 W", "99999 E", "99999 N", "99999 S", "world", 4, 0);
  const std::string huge(400, '9');
  mapper.map_location(huge.c_str(), ("-" + huge).c_str());
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 4);
  EXPECT_EQ(mapper.getPixelY(), 1);
  mapper.map_location("0 E", "0 N");
  EXPECT_TRUE(mapper.isLocationInMap());
  EXPECT_EQ(mapper.getPixelX(), 4);  // beyond the capped span: far edge
  EXPECT_EQ(mapper.getPixelY(), 1);
  EXPECT_STREQ(
      mapper.toString2(),
      "GPS_map: long -2147483648 to 2147483647, lat 2147483647 to -2147483648, failure_codes 0, 0");
  // The longest diagnostic text fits the shared buffer whole.
  const std::string text = mapper.toString();
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
