// The position feed end to end: the real nmea_beacon process multicasts its
// packets, a handler list built from a port file and a node file receives
// them on its port's thread, and clock ticks (serviceAll a quarter second
// apart, as the block's clock input drives it) bring them to the nodes.
// Runs inside the isolated network namespace (loopback only).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/platform.h"
#include "tests/feed/beacon_track.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kGroup = "239.255.42.20";
constexpr int kPort = 47030;
constexpr auto kTick = 250ms;
constexpr int kBeaconNodes = 5;  // the beacon sends node numbers 0 to 4

class FeedEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    // The five beacon nodes, not in number order, some with names.
    nodeFile_ = dir_.write("beacon.nod", "# the beacon's nodes\n2 north\n0\n4\n1 truck1\n3\n");
    const std::string portFile =
        dir_.write("beacon.mcp", std::string("# the beacon's group\nbeacon ") + kGroup + " " +
                                     std::to_string(kPort) + "\n");
    ASSERT_TRUE(list_.readPortFile(portFile.c_str()));
    ASSERT_TRUE(list_.readNodeFile(nodeFile_.c_str()));
    ASSERT_EQ(list_.portCount(), 1u);
    ASSERT_EQ(list_.nodeCount(), 5u);
    ASSERT_EQ(list_.mediumMs(), 2000);
    ASSERT_EQ(list_.badMs(), 4000);
    ASSERT_TRUE(beacon_.start(kBeacon, {kBeacon, kGroup, std::to_string(kPort)}));
    nextTick_ = Clock::now() + kTick;
  }
  void TearDown() override { list_.stopAll(); }

  // One rising clock edge of the block: service every port, count the nodes
  // that took a packet, check that none went back in packet time, and clear
  // the marks as the block does after broadcasting.
  void tick() {
    std::this_thread::sleep_until(nextTick_);
    nextTick_ = std::max(nextTick_ + kTick, Clock::now());
    list_.serviceAll();
    for (unsigned i = 0; i < list_.nodeCount(); ++i) {
      const kw_qnv_nodeHandler* node = list_.getNode(i);
      if (node->updated_) {
        ASSERT_LT(node->nodeId_, kBeaconNodes);
        ++updates_[node->nodeId_];
        EXPECT_TRUE(kw_test::notOlder(node->utc1970_, last_[node->nodeId_]))
            << "node " << node->nodeId_ << " went back to " << node->utcString_;
        last_[node->nodeId_] = node->utc1970_;
      }
      list_.clearUpdated(i);
    }
  }
  // Ticks for `span`.
  void ticksFor(std::chrono::milliseconds span) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) tick();
  }
  // Ticks for at least `least`, then until every node took a packet since
  // the counts were last reset, for `most` at the longest.
  bool ticksUntilEveryNodeUpdated(std::chrono::milliseconds least, std::chrono::milliseconds most) {
    const auto start = Clock::now();
    for (;;) {
      tick();
      const auto spent = Clock::now() - start;
      if (spent >= least && everyNodeUpdated()) return true;
      if (spent >= most) return false;
    }
  }
  bool everyNodeUpdated() const {
    for (int count : updates_) {
      if (count == 0) return false;
    }
    return true;
  }
  void resetCounts() { updates_.fill(0); }
  // For new node handlers (after a reread) the packet-time order starts over.
  void resetTracking() {
    resetCounts();
    last_.fill(kw::_timeb{});
  }
  std::string updateCounts() const {
    std::string text;
    for (int id = 0; id < kBeaconNodes; ++id) {
      text += " node " + std::to_string(id) + ": " + std::to_string(updates_[id]);
    }
    return text;
  }

  // Every node holds the values of a packet the beacon sent for its number.
  void expectBeaconValues() {
    for (unsigned i = 0; i < list_.nodeCount(); ++i) {
      const kw_test::HeldValues node = kw_test::HeldValues::of(*list_.getNode(i));
      SCOPED_TRACE("node " + std::to_string(node.nodeId));
      EXPECT_TRUE(kw_test::onBeaconTrack(node));
      const std::string prefix = kw_test::beaconLinePrefix(node);
      ASSERT_FALSE(prefix.empty()) << node.utcString;
      // The beacon prints a packet just before sending it; read its output
      // until that line is there.
      beacon_.readOutUntil(
          [&](const std::string& out) { return out.find("\n" + prefix) != std::string::npos; }, 2s);
      EXPECT_TRUE(kw_test::holdsBeaconPacket(node, beacon_.out()));
    }
  }

  kw_test::TempDir dir_;
  std::string nodeFile_;
  kw_qnv_handlerList list_{250, 20};
  kw_test::ChildProcess beacon_;
  Clock::time_point nextTick_;
  std::array<int, kBeaconNodes> updates_{};
  std::array<kw::_timeb, kBeaconNodes> last_{};
};

TEST_F(FeedEndToEnd, NodesFollowTheBeaconTurnBadWhenStoppedAndRecoverOnRestart) {
  const std::string dayBefore = kw_test::localDate(kw::now().seconds);
  list_.runAll();
  EXPECT_TRUE(list_.getPort(0)->isRunning());
  EXPECT_TRUE(list_.getPort(0)->receiver()->isRunning());

  // About two seconds of quarter-second ticks; each node number recurs
  // every 1.25 s, so by then every node has taken at least one packet.
  ASSERT_TRUE(ticksUntilEveryNodeUpdated(2000ms, 10000ms)) << updateCounts();

  // Read right after the last tick: the newest packet of each node is at
  // most one beacon cycle plus a tick old, well below the 2 s medium mark.
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    kw_qnv_nodeHandler* node = list_.getNode(i);
    EXPECT_EQ(node->updateHealth(), 0) << "node " << node->nodeId_;
    EXPECT_EQ(node->health_, 0);
    const double idle = node->getIdleTime();
    EXPECT_GE(idle, 0.0) << "node " << node->nodeId_;
    EXPECT_LT(idle, 2.0) << "node " << node->nodeId_;
  }
  const kw::ClockReading now = kw::now();
  const std::string dayAfter = kw_test::localDate(now.seconds);
  expectBeaconValues();
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    const kw_qnv_nodeHandler& node = *list_.getNode(i);
    // A time string of today (either side of a midnight the test may cross).
    const std::string date = std::string(node.utcString_).substr(0, 10);
    EXPECT_TRUE(date == dayBefore || date == dayAfter) << node.utcString_;
    // Stamped by the beacon before its pause: a few seconds at most before now.
    EXPECT_LE(node.utc1970_.time, now.seconds) << node.utcString_;
    EXPECT_GE(node.utc1970_.time, now.seconds - 5) << node.utcString_;
  }

  // Stopped: the port consumes nothing more, and after about 4.5 s without
  // a packet every node is bad.
  std::array<std::string, 5> heldTexts;
  for (unsigned i = 0; i < list_.nodeCount(); ++i) heldTexts[i] = list_.getNode(i)->utcString_;
  list_.stopAll();
  EXPECT_FALSE(list_.getPort(0)->isRunning());
  EXPECT_FALSE(list_.getPort(0)->receiver()->isRunning());
  resetCounts();
  ticksFor(4500ms);
  EXPECT_EQ(updateCounts(), " node 0: 0 node 1: 0 node 2: 0 node 3: 0 node 4: 0");
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    kw_qnv_nodeHandler* node = list_.getNode(i);
    EXPECT_EQ(node->utcString_, heldTexts[i]);
    EXPECT_EQ(node->updateHealth(), 2) << "node " << node->nodeId_;
    EXPECT_GE(node->getIdleTime(), 4.4) << "node " << node->nodeId_;
  }

  // Turned on again: a new socket and thread, and every node is good again.
  list_.runAll();
  EXPECT_TRUE(list_.getPort(0)->receiver()->isRunning());
  ASSERT_TRUE(ticksUntilEveryNodeUpdated(0ms, 10000ms)) << updateCounts();
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    kw_qnv_nodeHandler* node = list_.getNode(i);
    EXPECT_EQ(node->updateHealth(), 0) << "node " << node->nodeId_;
    EXPECT_NE(node->utcString_, heldTexts[i]) << "node " << node->nodeId_;
  }
  expectBeaconValues();
}

TEST_F(FeedEndToEnd, RereadingTheNodeFileStopsEveryPortUntilRunAll) {
  list_.runAll();
  ASSERT_TRUE(ticksUntilEveryNodeUpdated(0ms, 10000ms)) << updateCounts();

  // The same file again, with the port running and the beacon sending.
  ASSERT_TRUE(list_.readNodeFile(nodeFile_.c_str()));
  ASSERT_EQ(list_.nodeCount(), 5u);
  EXPECT_FALSE(list_.getPort(0)->isRunning());
  EXPECT_FALSE(list_.getPort(0)->receiver()->isRunning());
  resetTracking();

  // More than one whole beacon cycle of ticks: no node takes anything.
  ticksFor(1750ms);
  EXPECT_EQ(updateCounts(), " node 0: 0 node 1: 0 node 2: 0 node 3: 0 node 4: 0");
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    kw_qnv_nodeHandler* node = list_.getNode(i);
    SCOPED_TRACE("node " + std::to_string(node->nodeId_));
    EXPECT_STREQ(node->utcString_, "");
    EXPECT_EQ(node->lastMark_.time, 0);
    EXPECT_EQ(node->updateHealth(), 2);
  }

  // Until the ports are turned on again.
  list_.runAll();
  EXPECT_TRUE(list_.getPort(0)->receiver()->isRunning());
  ASSERT_TRUE(ticksUntilEveryNodeUpdated(0ms, 10000ms)) << updateCounts();
  for (unsigned i = 0; i < list_.nodeCount(); ++i) {
    EXPECT_EQ(list_.getNode(i)->updateHealth(), 0) << "node " << list_.getNode(i)->nodeId_;
  }
  expectBeaconValues();
}

}  // namespace
