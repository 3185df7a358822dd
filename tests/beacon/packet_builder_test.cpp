// Packet building of nmea_beacon, driven with chosen moments.
#include "beacon/packet_builder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using kw_beacon::BeaconPacket;
using kw_beacon::ClockReading;

ClockReading at(int year, int month, int day, int hour, int minute, int second, int millis,
                int zoneMinutesWest = 480) {
  ClockReading clock{};
  clock.local.tm_year = year - 1900;
  clock.local.tm_mon = month - 1;
  clock.local.tm_mday = day;
  clock.local.tm_hour = hour;
  clock.local.tm_min = minute;
  clock.local.tm_sec = second;
  clock.millis = millis;
  clock.zoneMinutesWest = zoneMinutesWest;
  return clock;
}

BeaconPacket build(const ClockReading& clock, int node = 1) {
  BeaconPacket packet{};
  kw_beacon::buildPacket(clock, node, &packet);
  return packet;
}

// The XOR of the bytes between `from` + 1 and the next "*" of `text`.
unsigned xorUpToStar(const std::string& text, size_t from) {
  unsigned sum = 0;
  for (size_t i = from + 1; i < text.size() && text[i] != '*'; ++i)
    sum ^= static_cast<unsigned char>(text[i]);
  return sum;
}

// ---------------------------------------------------------------- format

TEST(BeaconPacketFormat, WorkedExampleFromItsSentences) {
  const char* zda = "GPZDA,123456.78,07,12,2026,08,00";
  const char* gll = "GPGLL,3555.4270,N,11526.3400,W,123456.78,A,A";
  EXPECT_EQ(kw_beacon::sentenceChecksum(zda), 0x64u);
  EXPECT_EQ(kw_beacon::sentenceChecksum(gll), 0x72u);
  char text[kw_beacon::kTextSize];
  ASSERT_TRUE(kw_beacon::formatPacket(text, sizeof text, 1, zda, 0x64, gll, 0x72));
  EXPECT_STREQ(text,
               "001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,"
               "W,123456.78,A,A*72");
}

TEST(BeaconPacketFormat, WorkedExampleMomentGivesItsTimeSentence) {
  const BeaconPacket packet = build(at(2026, 12, 7, 12, 34, 56, 780), 1);
  EXPECT_STREQ(packet.timeText, "123456.78");
  EXPECT_STREQ(packet.first, "GPZDA,123456.78,07,12,2026,08,00");
  EXPECT_EQ(packet.firstChecksum, 0x64u);
  // The position at that moment is the track's, not the example's.
  EXPECT_STREQ(packet.second, "GPGLL,3518.6253,N,11537.1891,W,123456.78,A,A");
  EXPECT_EQ(packet.secondChecksum, 0x7eu);
  EXPECT_STREQ(packet.text,
               "001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3518.6253,N,11537.1891,"
               "W,123456.78,A,A*7e");
}

TEST(BeaconPacketFormat, ChecksumBelowSixteenIsSpaceAndOneLowerCaseDigit) {
  char text[kw_beacon::kTextSize];
  ASSERT_TRUE(kw_beacon::formatPacket(text, sizeof text, 0, "A", 0x0a, "B", 0x00));
  EXPECT_STREQ(text, "000,com1,com2,$A* a,$B* 0");
  ASSERT_TRUE(kw_beacon::formatPacket(text, sizeof text, 4, "A", 0xab, "B", 0x0f));
  EXPECT_STREQ(text, "004,com1,com2,$A*ab,$B* f");
}

// Each checksum of a real packet is the XOR of its sentence's bytes as they
// stand in the text. (The beacon's own sentences always hold an odd number of
// letters, so bit 6 of their checksums is set and none falls below 0x10; the
// space padding is shown on the formatting helper above.)
TEST(BeaconPacketFormat, ChecksumsMatchTheBytesOfEachSentenceAllDay) {
  const int zones[] = {480, -330, 210, -600};
  for (int ms = 0; ms < 86400000; ms += 997) {
    const ClockReading clock =
        at(2026, 12, 7, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, zones[ms % 4]);
    const BeaconPacket packet = build(clock);
    const std::string text = packet.text;
    const size_t firstDollar = text.find('$');
    const size_t secondDollar = text.find('$', firstDollar + 1);
    const size_t firstStar = text.find('*', firstDollar);
    const size_t secondStar = text.find('*', secondDollar);
    ASSERT_LT(firstStar, secondDollar) << text;
    ASSERT_NE(secondStar, std::string::npos) << text;
    ASSERT_EQ(secondStar + 3, text.size()) << text;

    const struct {
      unsigned sum;
      size_t star;
    } sentences[] = {{xorUpToStar(text, firstDollar), firstStar},
                     {xorUpToStar(text, secondDollar), secondStar}};
    for (const auto& s : sentences) {
      char expected[3];
      std::snprintf(expected, sizeof expected, "%02x", s.sum);
      if (s.sum < 0x10) expected[0] = ' ';
      ASSERT_EQ(text.substr(s.star + 1, 2), expected) << text;
    }
  }
}

// ---------------------------------------------------------------- time text

TEST(BeaconPacketTime, HundredthsAreTruncated) {
  const struct {
    int millis;
    const char* text;
  } cases[] = {{0, "010203.00"},   {5, "010203.00"},   {9, "010203.00"},  {10, "010203.01"},
               {999, "010203.99"}, {995, "010203.99"}, {120, "010203.12"}};
  for (const auto& c : cases) {
    const BeaconPacket packet = build(at(2026, 3, 4, 1, 2, 3, c.millis));
    EXPECT_STREQ(packet.timeText, c.text) << "millis " << c.millis;
    // The GLL sentence carries the same time text.
    EXPECT_NE(std::strstr(packet.second, (std::string(",W,") + c.text + ",A,A").c_str()), nullptr)
        << packet.second;
  }
}

TEST(BeaconPacketTime, DateFieldsAreZeroPaddedWithMonthFromOne) {
  const BeaconPacket packet = build(at(2027, 1, 2, 23, 59, 58, 0));
  EXPECT_STREQ(packet.zdaBody, "235958.00,02,01,2027,08,00");
}

// ---------------------------------------------------------------- zone

TEST(BeaconPacketZone, ZoneFieldsKeepTheSignsOfTheOffset) {
  const struct {
    int minutesWest;
    int hours;
    int minutes;
    const char* fields;
  } cases[] = {{480, 8, 0, ",08,00"},  {-330, -5, 30, ",-5,30"},  {210, 3, -30, ",03,-30"},
               {0, 0, 0, ",00,00"},    {-600, -10, 0, ",-10,00"}, {-345, -5, 45, ",-5,45"},
               {-60, -1, 0, ",-1,00"}, {720, 12, 0, ",12,00"},    {-30, 0, 30, ",00,30"}};
  for (const auto& c : cases) {
    int hours = 99;
    int minutes = 99;
    kw_beacon::zoneFields(c.minutesWest, &hours, &minutes);
    EXPECT_EQ(hours, c.hours) << "offset " << c.minutesWest;
    EXPECT_EQ(minutes, c.minutes) << "offset " << c.minutesWest;

    const BeaconPacket packet = build(at(2026, 12, 7, 12, 0, 0, 0, c.minutesWest));
    const std::string body = packet.zdaBody;
    EXPECT_EQ(body.substr(body.size() - std::strlen(c.fields)), c.fields)
        << "offset " << c.minutesWest << ": " << body;
    EXPECT_EQ(body.rfind("120000.00,07,12,2026,", 0), 0u) << body;
  }
}

// ---------------------------------------------------------------- track

TEST(BeaconPacketTrack, MidnightIsAngleZero) {
  const BeaconPacket packet = build(at(2026, 12, 7, 0, 0, 0, 0));
  EXPECT_EQ(kw_beacon::trackAngle(at(2026, 12, 7, 0, 0, 0, 0).local, 0), 0.0);
  EXPECT_STREQ(packet.second, "GPGLL,3535.4270,N,11546.3400,W,000000.00,A,A");
  EXPECT_STREQ(packet.text,
               "001,com1,com2,$GPZDA,000000.00,07,12,2026,08,00*6c,$GPGLL,3535.4270,N,11546.3400,"
               "W,000000.00,A,A*7a");
}

// The angular rate is the single-precision 0.0002: late in the day the
// difference to a double 0.0002 shows in the fourth decimal.
TEST(BeaconPacketTrack, SinglePrecisionRateAtKnownMoments) {
  const struct {
    int hour, minute, second, millis;
    const char* position;
  } cases[] = {{6, 0, 0, 0, "GPGLL,3529.3260,N,11507.2933,W,060000.00,A,A"},
               {23, 59, 59, 999, "GPGLL,3554.3412,N,11532.8403,W,235959.99,A,A"},
               {0, 0, 1, 0, "GPGLL,3539.4004,N,11545.9413,W,000001.00,A,A"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(build(at(2026, 12, 7, c.hour, c.minute, c.second, c.millis)).second, c.position);
  }
  EXPECT_EQ(kw_beacon::trackAngle(at(2026, 12, 7, 6, 0, 0, 0).local, 0),
            21600000.0 * 0.00019999999494757503);
}

TEST(BeaconPacketTrack, LatitudeGrowsFirstAndStaysOnTheCircle) {
  const BeaconPacket early = build(at(2026, 12, 7, 0, 0, 0, 100));
  EXPECT_GT(early.latitude, kw_beacon::kCentreLatitude);
  EXPECT_LT(early.longitude, kw_beacon::kCentreLongitude + kw_beacon::kRadius);
  for (int s = 0; s < 86400; s += 7) {
    const BeaconPacket p = build(at(2026, 12, 7, s / 3600, s / 60 % 60, s % 60, s % 1000));
    const double dLat = p.latitude - kw_beacon::kCentreLatitude;
    const double dLong = p.longitude - kw_beacon::kCentreLongitude;
    ASSERT_NEAR(dLat * dLat + dLong * dLong, 400.0, 1e-9) << p.text;
    ASSERT_GE(p.latitude, 3515.427 - 1e-9);
    ASSERT_LE(p.latitude, 3555.427 + 1e-9);
    ASSERT_GE(p.longitude, 11506.34 - 1e-9);
    ASSERT_LE(p.longitude, 11546.34 + 1e-9);
  }
}

// ---------------------------------------------------------------- node

TEST(BeaconPacketNode, NodesCycleOneToFourThenZero) {
  const int expected[] = {1, 2, 3, 4, 0, 1, 2};
  int counter = 0;
  for (int want : expected) {
    counter = kw_beacon::nextNode(counter);
    EXPECT_EQ(counter, want);
  }
  EXPECT_EQ(std::string(build(at(2026, 12, 7, 1, 0, 0, 0), 0).text).substr(0, 4), "000,");
  EXPECT_EQ(std::string(build(at(2026, 12, 7, 1, 0, 0, 0), 4).text).substr(0, 4), "004,");
}

TEST(BeaconPacketNode, CycleOfAnyCountEndsOnZero) {
  int counter = 0;
  std::string seen;
  for (int i = 0; i < 8; ++i) seen += std::to_string(counter = kw_beacon::nextNode(counter, 3));
  EXPECT_EQ(seen, "12012012");
  EXPECT_EQ(kw_beacon::nextNode(0, 1), 0);
  for (int c = 0; c < 7; ++c) EXPECT_EQ(kw_beacon::nextNode(c, 5), kw_beacon::nextNode(c)) << c;
}

// Units built at one moment sit an equal share of a turn apart; without a
// phase the packet is the designed one.
TEST(BeaconPacketNode, PhaseSpreadsUnitsOverTheCircle) {
  const ClockReading clock = at(2026, 12, 7, 9, 15, 30, 120);
  BeaconPacket plain{};
  kw_beacon::buildPacket(clock, 3, &plain, kw_beacon::unitPhase(0, 8));
  EXPECT_STREQ(plain.text, build(clock, 3).text);

  constexpr int kUnits = 8;
  double angles[kUnits];
  for (int i = 0; i < kUnits; ++i) {
    BeaconPacket packet{};
    kw_beacon::buildPacket(clock, i, &packet, kw_beacon::unitPhase(i, kUnits));
    const double dLat = packet.latitude - kw_beacon::kCentreLatitude;
    const double dLong = packet.longitude - kw_beacon::kCentreLongitude;
    EXPECT_NEAR(std::hypot(dLat, dLong), kw_beacon::kRadius, 1e-9);
    angles[i] = std::atan2(dLat, dLong);
  }
  for (int i = 1; i < kUnits; ++i) {
    double step = angles[i] - angles[i - 1];
    if (step < 0) step += 2 * M_PI;
    EXPECT_NEAR(step, 2 * M_PI / kUnits, 1e-9) << i;
  }
}

// ---------------------------------------------------------------- bounds

ClockReading filledWith(int value) {
  ClockReading clock{};
  clock.local.tm_year = value;
  clock.local.tm_mon = value;
  clock.local.tm_mday = value;
  clock.local.tm_hour = value;
  clock.local.tm_min = value;
  clock.local.tm_sec = value;
  clock.millis = value;
  clock.zoneMinutesWest = value;
  return clock;
}

// Clock records out of every range still give a bounded, terminated packet,
// with the calendar sums taken without overflow.
TEST(BeaconPacketBounds, ExtremeClockValuesStayWithinTheBuffers) {
  const struct {
    ClockReading clock;
    const char* monthAndYear;
  } cases[] = {{filledWith(INT_MAX), ",2147483648,2147485547,"},
               {filledWith(INT_MIN), ",-2147483647,-2147481748,"}};
  for (const auto& c : cases) {
    const BeaconPacket packet = build(c.clock, 4);
    EXPECT_LT(std::strlen(packet.text), kw_beacon::kTextSize);
    EXPECT_EQ(std::string(packet.text).rfind("004,com1,com2,$GPZDA,", 0), 0u) << packet.text;
    EXPECT_NE(std::strstr(packet.zdaBody, c.monthAndYear), nullptr) << packet.zdaBody;
  }
}

TEST(BeaconPacketBounds, OverlongSentencesAreCutAndReported) {
  const std::string longSentence(300, 'x');
  char text[kw_beacon::kTextSize];
  std::memset(text, '#', sizeof text);
  EXPECT_FALSE(kw_beacon::formatPacket(text, sizeof text, 1, longSentence.c_str(), 1,
                                       longSentence.c_str(), 2));
  EXPECT_EQ(std::strlen(text), kw_beacon::kTextSize - 1);
}

}  // namespace
