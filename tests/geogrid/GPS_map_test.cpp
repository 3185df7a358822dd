// Map geometry: pixel split, inverse conversion, inside tests with their
// process-wide failure codes, diagnostic text and the guarded edge cases
// (zero steps, spans and distances beyond 32 bits, pixel counts below 1).
#include "geogrid/GPS_map.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// The failure codes are process-wide; each test that reads them starts from a
// known state.
void resetCodes(int long_code = 0, int lat_code = 0) {
  GPS_map::long_failure_code = long_code;
  GPS_map::lat_failure_code = lat_code;
}

// Span 10 units over 4 columns (rows): step 2, extra 2, split 6.
// Distances 0..10 from the upper-left corner give these pixels.
constexpr int kSpan10Over4[11] = {0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4};

TEST(GPSMapPixels, Span10Over4BothAxesBothDirections) {
  struct Axis {
    int ul, lr;
  };
  for (const Axis axis : {Axis{1000, 1010}, Axis{1010, 1000}, Axis{-5, 5}, Axis{5, -5}}) {
    GPS_map map;
    map.init(axis.ul, axis.lr, axis.ul, axis.lr, "m", 4, 4);
    const int dir = axis.lr > axis.ul ? 1 : -1;
    for (int d = 0; d <= 10; ++d) {
      const int pos = axis.ul + dir * d;
      EXPECT_EQ(map.longitude_to_xPixel(pos), kSpan10Over4[d])
          << "ul " << axis.ul << " lr " << axis.lr << " d " << d;
      EXPECT_EQ(map.latitude_to_yPixel(pos), kSpan10Over4[d])
          << "ul " << axis.ul << " lr " << axis.lr << " d " << d;
    }
  }
}

TEST(GPSMapPixels, Span10Over4Inverse) {
  GPS_map map;
  map.init(1000, 1010, 2010, 2000, "", 4, 4);
  const int expected[5] = {0, 3, 6, 8, 10};
  for (int x = 0; x <= 4; ++x) {
    EXPECT_EQ(map.xPixel_to_longitude(x), expected[x]) << "x " << x;
    EXPECT_EQ(map.yPixel_to_latitude(x), expected[x]) << "y " << x;
  }
}

TEST(GPSMapPixels, SpanMultipleOfPixelCount) {
  GPS_map map;
  map.init(0, 12, 0, 1200, "", 4, 300);  // step 3 and 4, no extra columns or rows
  for (int d = 0; d <= 12; ++d) EXPECT_EQ(map.longitude_to_xPixel(d), d / 3) << "d " << d;
  for (int d = 0; d <= 1200; d += 7) EXPECT_EQ(map.latitude_to_yPixel(d), d / 4) << "d " << d;
  for (int x = 0; x <= 4; ++x) EXPECT_EQ(map.xPixel_to_longitude(x), 3 * x) << "x " << x;
  for (int y = 0; y <= 300; ++y) EXPECT_EQ(map.yPixel_to_latitude(y), 4 * y) << "y " << y;
}

// Every column between the first and the far edge covers step or step + 1
// units, wider ones first, and the inverse gives each column's first unit.
TEST(GPSMapPixels, ColumnsCoverWholeSpanForManySizes) {
  for (int span : {1, 7, 99, 1000, 123457}) {
    for (int width : {1, 2, 3, 10, 64, 999}) {
      GPS_map map;
      map.init(-span, 0, 0, span, "", width, width);
      for (int x = 0; x <= width; ++x) {
        const int first = map.xPixel_to_longitude(x);
        if (span >= width || x < span) {
          ASSERT_EQ(map.longitude_to_xPixel(-span + first), x)
              << "span " << span << " width " << width << " x " << x;
          ASSERT_EQ(map.latitude_to_yPixel(first), x)
              << "span " << span << " height " << width << " y " << x;
        }
      }
      if (span >= width) {
        // Wider columns first, then narrower ones; no gap between columns.
        const int step = span / width;
        for (int x = 0; x < width; ++x) {
          const int size = map.xPixel_to_longitude(x + 1) - map.xPixel_to_longitude(x);
          ASSERT_EQ(size, x < span % width ? step + 1 : step)
              << "span " << span << " width " << width << " x " << x;
          ASSERT_EQ(map.longitude_to_xPixel(-span + map.xPixel_to_longitude(x + 1) - 1), x)
              << "last unit, span " << span << " width " << width << " x " << x;
        }
      }
      ASSERT_EQ(map.xPixel_to_longitude(width), span) << "span " << span << " width " << width;
      ASSERT_EQ(map.longitude_to_xPixel(0), width)
          << "far edge, span " << span << " width " << width;
    }
  }
}

struct InsideCase {
  int longitude, latitude;
  bool active;
  int long_code, lat_code;
};

// Longitude ascending (-735050000 to -730000000), latitude descending
// (453000000 to 452000000).
TEST(GPSMapInside, AscendingLongitudeDescendingLatitudeCodes) {
  GPS_map map;
  map.init(-735050000, -730000000, 453000000, 452000000, "", 100, 100);
  const InsideCase cases[] = {
      {-732500000, 452500000, true, 0, 0},
      {-735050000, 453000000, true, 0, 0},   // upper-left corner
      {-730000000, 452000000, true, 0, 0},   // lower-right corner
      {-735050001, 452500000, false, 1, 7},  // before the ascending upper-left
      {-729999999, 452500000, false, 2, 7},  // beyond the ascending lower-right
      {-732500000, 453000001, false, 0, 3},  // before the descending upper-left
      {-732500000, 451999999, false, 0, 4},  // beyond the descending lower-right
      {INT_MIN, INT_MAX, false, 1, 7},
      {-732500000, INT_MIN, false, 0, 4},
  };
  for (const InsideCase& c : cases) {
    resetCodes(7, 7);  // 7: untouched
    EXPECT_EQ(map.isActive(c.longitude, c.latitude), c.active) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(GPS_map::long_failure_code, c.long_code) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(GPS_map::lat_failure_code, c.lat_code) << c.longitude << ", " << c.latitude;
  }
  EXPECT_EQ(map.latitude_to_yPixel(452500000), 50);
  EXPECT_EQ(map.yPixel_to_latitude(50), 500000);
}

TEST(GPSMapInside, DescendingLongitudeAscendingLatitudeCodes) {
  GPS_map map;
  map.init(100, -100, -50, 50, "", 10, 10);
  const InsideCase cases[] = {
      {0, 0, true, 0, 0},   {101, 0, false, 3, 7},  {-101, 0, false, 4, 7}, {0, -51, false, 0, 1},
      {0, 51, false, 0, 2}, {100, -50, true, 0, 0}, {-100, 50, true, 0, 0},
  };
  for (const InsideCase& c : cases) {
    resetCodes(7, 7);
    EXPECT_EQ(map.isActive(c.longitude, c.latitude), c.active) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(GPS_map::long_failure_code, c.long_code) << c.longitude << ", " << c.latitude;
    EXPECT_EQ(GPS_map::lat_failure_code, c.lat_code) << c.longitude << ", " << c.latitude;
  }
}

TEST(GPSMapInside, LongitudeFailureKeepsEarlierLatitudeCode) {
  GPS_map map;
  map.init(0, 10, 0, 10, "", 10, 10);
  resetCodes();
  EXPECT_FALSE(map.isActive(5, 11));
  EXPECT_EQ(GPS_map::long_failure_code, 0);
  EXPECT_EQ(GPS_map::lat_failure_code, 2);
  EXPECT_FALSE(map.isActive(-1, 5));  // latitude 5 would pass, but is not tested
  EXPECT_EQ(GPS_map::long_failure_code, 1);
  EXPECT_EQ(GPS_map::lat_failure_code, 2);
  EXPECT_TRUE(map.isActive(5, 5));
  EXPECT_EQ(GPS_map::lat_failure_code, 0);
}

TEST(GPSMapText, ExactFormatAndCodesSharedBetweenMaps) {
  resetCodes();
  GPS_map fresh;
  EXPECT_STREQ(fresh.toString(), "GPS_map: long 0 to 0, lat 0 to 0, failure_codes 0, 0");

  GPS_map first, second;
  first.init(-735000000, -734000000, 453000000, 452000000, "", 100, 100);
  second.init(1, 2, 3, 4, "", 1, 1);
  EXPECT_FALSE(second.isActive(3, 3));  // longitude beyond the ascending lower-right
  EXPECT_STREQ(
      first.toString(),
      "GPS_map: long -735000000 to -734000000, lat 453000000 to 452000000, failure_codes 2, 0");
  EXPECT_FALSE(second.isActive(1, 5));
  EXPECT_STREQ(
      first.toString(),
      "GPS_map: long -735000000 to -734000000, lat 453000000 to 452000000, failure_codes 0, 2");
  // One shared buffer: the next call overwrites it.
  char* text = first.toString();
  EXPECT_EQ(second.toString(), text);
  EXPECT_STREQ(text, "GPS_map: long 1 to 2, lat 3 to 4, failure_codes 0, 2");
  // The longest possible text fits the 100-character buffer whole.
  GPS_map extreme;
  extreme.init(INT_MIN, INT_MIN, INT_MIN, INT_MIN, "", 1, 1);
  resetCodes(4, 4);
  EXPECT_STREQ(extreme.toString(),
               "GPS_map: long -2147483648 to -2147483648, lat -2147483648 to -2147483648, "
               "failure_codes 4, 4");
}

TEST(GPSMapCopy, AssignmentCopiesWholeGeometry) {
  GPS_map source, target;
  source.init(1010, 1000, 0, 10, "", 4, 4);
  target.init(0, 1, 0, 1, "", 1, 1);
  target = source;
  EXPECT_STREQ(target.toString(), source.toString());
  for (int d = 0; d <= 10; ++d) {
    EXPECT_EQ(target.longitude_to_xPixel(1010 - d), kSpan10Over4[d]) << "d " << d;
    EXPECT_EQ(target.latitude_to_yPixel(d), kSpan10Over4[d]) << "d " << d;
  }
  resetCodes();
  EXPECT_FALSE(target.isActive(1011, 5));  // descending direction copied
  EXPECT_EQ(GPS_map::long_failure_code, 3);
}

// With a span smaller than the pixel count the step is 0: distances below the
// span map to column d, the far edge to pixel_width.
TEST(GPSMapEdge, ZeroStepFarEdgeIsPixelCount) {
  GPS_map map;
  map.init(0, 2, 30, 27, "", 4, 5);
  const int columns[3] = {0, 1, 4};
  for (int d = 0; d <= 2; ++d) EXPECT_EQ(map.longitude_to_xPixel(d), columns[d]) << "d " << d;
  const int rows[4] = {0, 1, 2, 5};
  for (int d = 0; d <= 3; ++d) EXPECT_EQ(map.latitude_to_yPixel(30 - d), rows[d]) << "d " << d;
  EXPECT_EQ(map.xPixel_to_longitude(4), 2);
  EXPECT_EQ(map.yPixel_to_latitude(5), 3);
}

TEST(GPSMapEdge, EqualCornersMapTheSinglePositionToPixelCount) {
  GPS_map map;  // default: all corners 0, one pixel each way
  resetCodes(7, 7);
  EXPECT_TRUE(map.isActive(0, 0));
  EXPECT_EQ(map.longitude_to_xPixel(0), 1);
  EXPECT_EQ(map.latitude_to_yPixel(0), 1);
  map.init(500, 500, -7, -7, "", 640, 480);
  EXPECT_TRUE(map.isActive(500, -7));
  EXPECT_EQ(map.longitude_to_xPixel(500), 640);
  EXPECT_EQ(map.latitude_to_yPixel(-7), 480);
  resetCodes();
  EXPECT_FALSE(map.isActive(501, -7));
  EXPECT_EQ(GPS_map::long_failure_code, 3);  // equal corners count as not ascending
}

TEST(GPSMapEdge, PixelCountBelowOneIsTakenAsOne) {
  GPS_map map;
  map.init(0, 10, 0, 10, "", 0, -3);
  EXPECT_EQ(map.longitude_to_xPixel(5), 0);
  EXPECT_EQ(map.longitude_to_xPixel(10), 1);
  EXPECT_EQ(map.latitude_to_yPixel(10), 1);
  EXPECT_EQ(map.xPixel_to_longitude(1), 10);
}

// Corners and positions far enough apart that a 32-bit difference would
// overflow: the span and the distances are capped at INT32_MAX, so the far
// edge and everything capped onto it give the far-edge pixel.
TEST(GPSMapEdge, WideSpansAndDistancesAreCapped) {
  GPS_map map;
  map.init(INT_MIN, INT_MAX, INT_MAX, INT_MIN, "", 1, 4);
  EXPECT_TRUE(map.isActive(0, 0));
  EXPECT_EQ(map.longitude_to_xPixel(INT_MIN), 0);
  EXPECT_EQ(map.longitude_to_xPixel(INT_MAX), 1);
  EXPECT_EQ(map.latitude_to_yPixel(INT_MAX), 0);
  EXPECT_EQ(map.latitude_to_yPixel(INT_MIN), 4);
  EXPECT_EQ(map.latitude_to_yPixel(INT_MAX - 536870912), 1);  // first unit of row 1
  EXPECT_EQ(map.xPixel_to_longitude(1), INT_MAX);
  EXPECT_EQ(map.yPixel_to_latitude(4), INT_MAX);

  // Inverse conversions of columns far outside the map stay in range.
  map.init(0, 10, 0, 10, "", 4, 4);
  EXPECT_EQ(map.xPixel_to_longitude(INT_MAX), INT_MAX);
  EXPECT_EQ(map.xPixel_to_longitude(INT_MIN), INT_MIN);
  EXPECT_EQ(map.xPixel_to_longitude(-1), -3);
  // An off-map position far from the corner is still converted without
  // overflow (the result is meaningless but defined).
  EXPECT_GE(map.longitude_to_xPixel(INT_MIN), 4);
}

}  // namespace
