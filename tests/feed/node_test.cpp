#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "tests/feed/fake_clock.h"

namespace {

class NodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    node_.mediumMs_ = 2000;
    node_.badMs_ = 4000;
  }
  // Accepts a packet at local clock time (s, ms) with packet time (t, tms).
  void accept(int64_t s, int ms, int32_t t = 1000, uint16_t tms = 0) {
    clock_.set(s, ms);
    kw::_timeb packet{t, tms, 480, 0};
    tm calendar{};
    node_.set(1.5, -2.5, calendar, packet, "2026/12/07,12:34:56.780");
  }
  int healthAt(int64_t s, int ms) {
    clock_.set(s, ms);
    return node_.updateHealth();
  }

  kw_test::FakeClock clock_;
  kw_qnv_nodeHandler node_{"truck17", 17};
};

TEST_F(NodeTest, HealthAtMillisecondEdges) {
  accept(100, 0);
  EXPECT_EQ(healthAt(101, 999), 0);  // 1999 ms
  EXPECT_EQ(healthAt(102, 0), 1);    // 2000 ms
  EXPECT_EQ(healthAt(103, 999), 1);  // 3999 ms
  EXPECT_EQ(healthAt(104, 0), 2);    // 4000 ms
  EXPECT_EQ(node_.health_, 2);
  EXPECT_EQ(healthAt(105, 0), 2);  // whole seconds above 4000 / 999
}

TEST_F(NodeTest, HealthShortCutUsesNineNineNine) {
  accept(100, 900);
  EXPECT_EQ(healthAt(104, 100), 1);  // s = 4 is not above 4; e = 3200
  node_.badMs_ = 500;
  accept(200, 995);
  EXPECT_EQ(healthAt(201, 2), 2);  // 7 ms later, but across a second boundary
  EXPECT_EQ(healthAt(200, 999), 0);
}

TEST_F(NodeTest, ClockSetBack) {
  accept(100, 500);
  EXPECT_EQ(healthAt(99, 0), 0);
  clock_.set(99, 0);
  EXPECT_DOUBLE_EQ(node_.getIdleTime(), -1.5);
}

TEST_F(NodeTest, IdleTime) {
  accept(100, 250);
  clock_.set(102, 125);
  EXPECT_DOUBLE_EQ(node_.getIdleTime(), 1.875);
}

TEST_F(NodeTest, NeverAcceptedIsBadAndIdleSince1970) {
  clock_.set(1700000000, 0);
  EXPECT_EQ(node_.updateHealth(), 2);
  EXPECT_DOUBLE_EQ(node_.getIdleTime(), 1700000000.0);
  EXPECT_EQ(node_.updated_, 0);
  EXPECT_STREQ(node_.utcString_, "");
}

TEST_F(NodeTest, PacketOrder) {
  accept(100, 0, 5000, 500);
  EXPECT_EQ(node_.updated_, 1);
  EXPECT_EQ(node_.lastMark_.time, 100);

  // Equal packet time: accepted, the mark is refreshed.
  accept(101, 0, 5000, 500);
  EXPECT_EQ(node_.lastMark_.time, 101);

  // One millisecond older, or an older second: ignored.
  node_.updated_ = 0;
  accept(102, 0, 5000, 499);
  accept(103, 0, 4999, 999);
  EXPECT_EQ(node_.lastMark_.time, 101);
  EXPECT_EQ(node_.updated_, 0);
  EXPECT_EQ(node_.utc1970_.time, 5000);
  EXPECT_EQ(node_.lastUtc_.millitm, 500);

  accept(104, 0, 5001, 0);
  EXPECT_EQ(node_.utc1970_.time, 5001);
  EXPECT_EQ(node_.latitude_, 1.5);
  EXPECT_EQ(node_.longitude_, -2.5);
}

// One packet dated years ahead: later packets with the right time are older
// than it, so they are refused, but only while the node has been silent for
// no longer than its bad threshold by the local clock.
TEST_F(NodeTest, FuturePacketHidesTheUnitForAtMostTheBadThreshold) {
  accept(100, 0, 5000, 0);
  accept(100, 250, 1900000000, 0);  // about 2030
  ASSERT_EQ(node_.utc1970_.time, 1900000000);
  int firstTaken = -1;
  for (int k = 1; k <= 24; ++k) {  // 4 Hz, packet times in step with the clock
    const int64_t ms = 100250 + 250 * k;
    node_.updated_ = 0;
    accept(ms / 1000, static_cast<int>(ms % 1000), 5000 + k / 4,
           static_cast<uint16_t>(250 * (k % 4)));
    if (node_.updated_ == 1) {
      if (firstTaken < 0) firstTaken = k;
    } else {
      EXPECT_LT(firstTaken, 0) << "packet " << k << " refused after the unit came back";
    }
  }
  // At 4000 ms of silence the order still holds; at 4250 ms the packet is taken.
  EXPECT_EQ(firstTaken, 17);
  EXPECT_EQ(node_.utc1970_.time, 5006);
  EXPECT_EQ(healthAt(106, 250), 0);
}

// A fresh node has heard nothing: the order test alone applies (against 0).
TEST_F(NodeTest, FreshNodeKeepsTheOrderTest) {
  clock_.set(1700000000, 0);
  kw::_timeb packet{-5, 0, 0, 0};
  tm calendar{};
  EXPECT_FALSE(node_.set(1.0, 1.0, calendar, packet, "x"));
  EXPECT_FALSE(node_.heard_);
}

// The fall-back night in America/Los_Angeles (1 November 2026): a unit
// sends local time every 250 ms, so after 01:59:59.75 PDT its clock reads
// 01:00:00.00 again. The node must keep taking the unit's packets, at the
// latest once it has been silent for the bad threshold.
TEST_F(NodeTest, UnitIsCarriedThroughTheFallBackHour) {
  kw_qnv_portHandler parser("feed", "239.255.42.1", 47000, 250, 20, nullptr);
  auto clockText = [](int seconds, int centis) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, centis);
    return std::string(text);
  };
  int64_t localMs = 1793523598000;  // the receiver's clock, 01:59:58 PDT
  int refused = 0;
  int lastRefused = -1;
  int sent = 0;
  auto sendAt = [&](int seconds, int centis) {
    clock_.set(localMs / 1000, static_cast<int>(localMs % 1000));
    std::string sentence = "$GPZDA," + clockText(seconds, centis) + ",01,11,2026,08,00";
    ASSERT_TRUE(parser.parsePacket_s1(sentence.data()));
    if (!node_.set(1.0, 2.0, parser.utcTm_, parser.utc1970_, parser.utcString_)) {
      ++refused;
      lastRefused = sent;
    }
    ++sent;
    localMs += 250;
  };
  for (int q = 0; q < 8; ++q) sendAt(3600 + 3598 + q / 4, 25 * (q % 4));  // 01:59:58 to 01:59:59.75
  ASSERT_EQ(refused, 0);
  ASSERT_EQ(node_.utcString_, std::string("2026/11/01,01:59:59.750"));
  for (int q = 0; q < 40; ++q) sendAt(3600 + q / 4, 25 * (q % 4));  // 01:00:00 to 01:00:09.75
  // Refused for at most the bad threshold (4 s: 16 packets at 4 Hz), then
  // every packet is taken.
  EXPECT_LE(refused, 16);
  EXPECT_LT(lastRefused, 8 + 16);
  EXPECT_EQ(node_.utcString_, std::string("2026/11/01,01:00:09.750"));
}

TEST_F(NodeTest, FailedCalendarConversionIsIgnoredByFreshNode) {
  clock_.set(100, 0);
  kw::_timeb packet{-1, 0, 0, 0};
  tm calendar{};
  node_.set(1.0, 1.0, calendar, packet, "x");
  EXPECT_EQ(node_.updated_, 0);
  EXPECT_EQ(node_.latitude_, 0.0);
}

TEST_F(NodeTest, LongTimeTextIsCut) {
  clock_.set(100, 0);
  const std::string text(200, 't');
  kw::_timeb packet{1, 0, 0, 0};
  tm calendar{};
  node_.set(0, 0, calendar, packet, text.c_str());
  EXPECT_EQ(std::string(node_.utcString_), std::string(127, 't'));
}

}  // namespace
