#include <gtest/gtest.h>

#include <string>

#include "fake_clock.h"
#include "kw_qnv_nodeHandler.h"

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
