// Every packet the beacon builds is read back by the feed's own parser with
// the values it was built from: node number, time and position.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "beacon/packet_builder.h"
#include "feed/kw_qnv_portHandler.h"

namespace {

using kw_beacon::BeaconPacket;
using kw_beacon::ClockReading;

// Degrees of a ddmm.mmmm value, straight from its definition.
double degreesOf(double ddmm) {
  const double whole = std::floor(ddmm / 100.0);
  return whole + (ddmm - whole * 100.0) / 60.0;
}

class BeaconRoundTrip : public ::testing::Test {
 protected:
  // Parsing alone: no owner, never run.
  kw_qnv_portHandler parser_{"roundtrip", "239.255.42.1", 47001, 250, 2, nullptr};

  // Builds the packet for `clock` and `node`, parses it and checks every value.
  void expectRoundTrip(const ClockReading& clock, int node) {
    BeaconPacket packet{};
    kw_beacon::buildPacket(clock, node, &packet);
    SCOPED_TRACE(packet.text);

    char copy[kw_beacon::kTextSize];
    std::snprintf(copy, sizeof copy, "%s", packet.text);
    char* first = nullptr;
    char* second = nullptr;
    ASSERT_EQ(parser_.parsePacket_full(copy, &first, &second), node);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(parser_.parsePacket_s1(first));
    ASSERT_TRUE(parser_.parsePacket_s2(second));

    // Time: the fields as built, and the moment as this machine's local time.
    const std::tm& local = clock.local;
    EXPECT_EQ(parser_.utcTm_.tm_hour, local.tm_hour);
    EXPECT_EQ(parser_.utcTm_.tm_min, local.tm_min);
    EXPECT_EQ(parser_.utcTm_.tm_sec, local.tm_sec);
    EXPECT_EQ(parser_.utcTm_.tm_mday, local.tm_mday);
    EXPECT_EQ(parser_.utcTm_.tm_mon, local.tm_mon);
    EXPECT_EQ(parser_.utcTm_.tm_year, local.tm_year);
    std::tm asLocal = local;
    asLocal.tm_isdst = -1;
    EXPECT_EQ(parser_.utc1970_.time, static_cast<int32_t>(std::mktime(&asLocal)));
    // Hundredths are sent; the reader's fraction may fall one millisecond short.
    const int sentMillis = clock.millis / 10 * 10;
    EXPECT_LE(parser_.utc1970_.millitm, sentMillis);
    EXPECT_GE(parser_.utc1970_.millitm + 1, sentMillis);
    char expectedText[64];
    std::snprintf(expectedText, sizeof expectedText, "%04d/%02d/%02d,%02d:%02d:%02d.%02d0",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, clock.millis / 10);
    EXPECT_STREQ(parser_.utcString_, expectedText);

    // Position: north and west, within the four decimals of minutes sent.
    EXPECT_NEAR(parser_.latitude_, degreesOf(packet.latitude), 1e-6);
    EXPECT_NEAR(parser_.longitude_, -degreesOf(packet.longitude), 1e-6);
  }
};

ClockReading moment(int year, int month, int day, long long msOfDay, int zoneMinutesWest) {
  ClockReading clock{};
  clock.local.tm_year = year - 1900;
  clock.local.tm_mon = month - 1;
  clock.local.tm_mday = day;
  clock.local.tm_hour = static_cast<int>(msOfDay / 3600000);
  clock.local.tm_min = static_cast<int>(msOfDay / 60000 % 60);
  clock.local.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
  clock.millis = static_cast<int>(msOfDay % 1000);
  clock.zoneMinutesWest = zoneMinutesWest;
  return clock;
}

// A whole day in steps that visit every millisecond value, every node number
// and zones east and west of UTC. The day has no daylight-saving change, so
// each local time names exactly one moment.
TEST_F(BeaconRoundTrip, WholeDaySweep) {
  const int zones[] = {480, -330, 210, 0, -600, 720};
  int node = 0;
  int zone = 0;
  for (long long ms = 0; ms < 86400000; ms += 997) {
    node = kw_beacon::nextNode(node);
    zone = (zone + 1) % 6;
    expectRoundTrip(moment(2026, 12, 7, ms, zones[zone]), node);
    if (HasFailure()) break;
  }
}

TEST_F(BeaconRoundTrip, EdgesOfTheDayAndOfTheCalendar) {
  const struct {
    int year, month, day;
    long long ms;
  } cases[] = {{2026, 12, 7, 0},  {2026, 12, 7, 86399999}, {2026, 12, 31, 86399999},
               {2027, 1, 1, 0},   {2028, 2, 29, 43200005}, {2026, 7, 15, 12345678},
               {2000, 1, 1, 999}, {2037, 12, 31, 86399990}};
  int node = 0;
  for (const auto& c : cases) {
    node = kw_beacon::nextNode(node);
    expectRoundTrip(moment(c.year, c.month, c.day, c.ms, 480), node);
  }
}

}  // namespace
