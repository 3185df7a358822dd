// A busy port: 30 units at 4 Hz on one port, each tick taking in what
// arrived in its 250 ms. With "packet buffer size" 40 every unit is taken in
// and stays healthy; with the default 20 the last ten units of each interval
// are dropped, and the port's drop count says exactly how many packets were
// lost.
#include <string>

#include "feed/kw_qnv_portStats.h"
#include "host/JFileProperty.h"
#include "host/JIntegerProperty.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "tests/system/feed_traffic.h"
#include "tests/system/system_fixture.h"

namespace {

using kw_test::SystemTest;

constexpr const char* kGroup = "239.255.43.8";
constexpr int kUnits = 30;
constexpr int kIntervals = 12;

class BusyPort : public SystemTest {
 protected:
  // Starts a block with `slots` slots per buffer half on `port`, nodes 1-30.
  void startWith(int slots, int port) {
    port_ = port;
    sniffer_ = makeSniffer();
    JIntegerProperty buffer("packet buffer size", slots, 10, 100);
    ASSERT_TRUE(sniffer_->updateProperty(buffer));
    graph_.startup();
    std::string nodes;
    for (int unit = 1; unit <= kUnits; ++unit) nodes += std::to_string(unit) + "\n";
    JFileProperty nodeList("node file name", JString(writeFile("busy.nod", nodes).c_str()),
                           "*.nod");
    JFileProperty portList("port file name",
                           JString(writeFile("busy.mcp", "busy " + std::string(kGroup) + " " +
                                                             std::to_string(port) + "\n")
                                       .c_str()),
                           "*.mcp");
    ASSERT_TRUE(sniffer_->updateProperty(nodeList));
    ASSERT_TRUE(sniffer_->updateProperty(portList));
    source_ = driveInputs(sniffer_);
    probe_ = probeAll(sniffer_);
  }

  // Every unit sends once per 250 ms, spread over the interval in unit
  // order; the block ticks at the end of each interval. Returns the number
  // of packets sent.
  int run() {
    kw_test::FeedSender sender(kGroup, port_);
    EXPECT_TRUE(sender.ok());
    turn(true);
    markLog();
    int sent = 0;
    for (int interval = 0; interval < kIntervals; ++interval) {
      for (int unit = 1; unit <= kUnits; ++unit) {
        const int seq = interval * kUnits + unit;
        if (sender.send(kw_test::numberedPacket(unit, seq, interval * 25))) ++sent;
        kw::Sleep(8);
      }
      kw::Sleep(10);
      tick();
      if (interval >= 2) {
        for (int i = 0; i < kUnits; ++i) healthy_[i] += view(i).health == 0 ? 1 : 0;
      }
    }
    turn(false);
    return sent;
  }

  // Packets the ticks handed to the parser since markLog().
  int serviced() const {
    int packets = 0;
    for (const auto& lines : ticksSinceMark()) packets += countPrefix(lines, "pk is ");
    return packets;
  }

  int port_ = 0;
  int healthy_[kUnits] = {};
};

TEST_F(BusyPort, FortySlotsTakeInThirtyUnitsAtFourHertz) {
  startWith(40, 47115);
  const int sent = run();
  ASSERT_EQ(sent, kUnits * kIntervals);
  kw_qnv_portStats stats;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &stats));
  EXPECT_EQ(stats.droppedFull, 0u);
  EXPECT_EQ(stats.takenIn, static_cast<uint64_t>(sent));
  for (int i = 0; i < kUnits; ++i) {
    EXPECT_TRUE(sniffer_->feedNodeHeard(i)) << "unit " << i + 1;
    EXPECT_EQ(healthy_[i], kIntervals - 2) << "unit " << i + 1 << " not healthy at every tick";
  }
}

TEST_F(BusyPort, TwentySlotsDropWhatTheCountSays) {
  startWith(20, 47116);
  const int sent = run();
  ASSERT_EQ(sent, kUnits * kIntervals);
  kw_qnv_portStats stats;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &stats));
  // Everything sent was either taken in (and handed to the parser by a
  // tick) or dropped for a full half: the drop count is what was lost.
  EXPECT_EQ(stats.takenIn, static_cast<uint64_t>(serviced()));
  EXPECT_EQ(stats.takenIn + stats.droppedFull, static_cast<uint64_t>(sent));
  // About ten a tick (exactly ten when the receive thread keeps pace with
  // the sender), and the units late in each interval were never taken in.
  EXPECT_GE(stats.droppedFull, static_cast<uint64_t>((kUnits - 20) * (kIntervals - 2)));
  int neverHeard = 0;
  for (int i = 0; i < kUnits; ++i) neverHeard += sniffer_->feedNodeHeard(i) ? 0 : 1;
  EXPECT_GE(neverHeard, 5);
}

}  // namespace
