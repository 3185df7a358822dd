// The feed status a host reads from the block: each port's origin (list file
// and line), its set-up failure, and the counts of what became of the
// datagrams it received; each node's name, whether it was ever heard and on
// which port last. Two blocks sharing a port's reception.
#include <string>
#include <vector>

#include "feed/kw_qnv_portStats.h"
#include "host/JFileProperty.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "tests/system/feed_traffic.h"
#include "tests/system/system_fixture.h"

namespace {

using kw_test::SystemTest;

constexpr const char* kGroup = "239.255.43.7";
constexpr int kPort = 47111;

class FeedStatus : public SystemTest {};

TEST_F(FeedStatus, AnswersNothingBeforeStartup) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  kw_qnv_portStats stats;
  EXPECT_EQ(sniffer->feedPortCount(), 0);
  EXPECT_FALSE(sniffer->feedPortStats(0, &stats));
  EXPECT_STREQ(sniffer->feedNodeName(0), "");
  EXPECT_FALSE(sniffer->feedNodeHeard(0));
}

TEST_F(FeedStatus, CountsWhatBecameOfEachDatagram) {
  startFeed("# units\n1 alpha\n2\n", std::string("# feeds\n\nlive ") + kGroup + " " +
                                         std::to_string(kPort) + "\nbroken 239.255.42 47112\n");
  ASSERT_EQ(sniffer_->feedPortCount(), 2);
  EXPECT_STREQ(sniffer_->feedNodeName(0), "alpha");
  EXPECT_STREQ(sniffer_->feedNodeName(1), "");
  EXPECT_STREQ(sniffer_->feedNodeName(2), "");
  EXPECT_FALSE(sniffer_->feedPortStats(2, nullptr));
  kw_qnv_portStats none;
  EXPECT_FALSE(sniffer_->feedPortStats(-1, &none));
  turn(true);

  kw_test::FeedSender sender(kGroup, kPort);
  ASSERT_TRUE(sender.ok());
  // One tick's worth: 2 taken by node 1 (the second newer), 1 older than
  // node 1's last, 1 for a node not in the list, 1 for a negative node, 1
  // with a broken checksum.
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(1, 1, 100)));
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(1, 2, 200)));
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(1, 3, 150)));
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(7, 4, 200)));
  std::string negative = kw_test::numberedPacket(1, 5, 300);
  negative.replace(0, 3, "-01");
  ASSERT_TRUE(sender.send(negative));
  std::string broken = kw_test::numberedPacket(1, 6, 300);
  broken[broken.size() - 1] = broken.back() == '0' ? '1' : '0';
  ASSERT_TRUE(sender.send(broken));
  kw::Sleep(200);
  tick();
  // A second tick: 25 packets for node 2 against a half of 20 slots.
  for (int k = 0; k < 25; ++k) {
    ASSERT_TRUE(sender.send(kw_test::numberedPacket(2, 10 + k, 1000 + k)));
  }
  kw::Sleep(200);
  tick();
  turn(false);

  kw_qnv_portStats live;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &live));
  EXPECT_EQ(live.name, "live");
  EXPECT_EQ(live.group, kGroup);
  EXPECT_EQ(live.port, kPort);
  EXPECT_EQ(live.interface, "");
  EXPECT_EQ(live.listFile, std::string(sniffer_->portFile()));
  EXPECT_EQ(live.line, 3);
  EXPECT_EQ(live.setupError, "");
  // The broken checksum is refused before it takes a slot: 5 + 20 taken in.
  EXPECT_EQ(live.takenIn, 25u);
  EXPECT_EQ(live.droppedFull, 5u);
  EXPECT_EQ(live.rejected, 1u);
  EXPECT_EQ(live.unknownNode, 2u);
  EXPECT_EQ(live.older, 1u);
  EXPECT_TRUE(sniffer_->feedNodeHeard(0));
  EXPECT_TRUE(sniffer_->feedNodeHeard(1));

  kw_qnv_portStats broken_port;
  ASSERT_TRUE(sniffer_->feedPortStats(1, &broken_port));
  EXPECT_EQ(broken_port.line, 4);
  EXPECT_EQ(broken_port.setupError, "group 239.255.42: not an IPv4 address");

  // Counts are cumulative over stop and run; close ends the answers.
  turn(true);
  turn(false);
  ASSERT_TRUE(sniffer_->feedPortStats(0, &live));
  EXPECT_EQ(live.takenIn, 25u);
  sniffer_->close();
  EXPECT_EQ(sniffer_->feedPortCount(), 0);
  EXPECT_FALSE(sniffer_->feedNodeHeard(0));
}

// Packets whose checksums are right but whose contents are impossible: a
// node number beyond int (which would wrap onto node 2), positions that are
// nan, infinite or beyond 90 / 180 degrees. None reaches a node; each is
// counted as rejected.
TEST_F(FeedStatus, ImpossibleNumbersAreRejectedAndCounted) {
  startFeed("2\n", std::string("live ") + kGroup + " 47113\n");
  turn(true);
  kw_test::FeedSender sender(kGroup, 47113);
  ASSERT_TRUE(sender.ok());
  const std::string zda = kw_test::zdaBody(kw_test::clockText(500), 15, 1, 2026);
  auto gll = [](const std::string& latitude, const std::string& longitude) {
    return kw_test::gllBody(latitude, longitude, kw_test::clockText(500));
  };
  const std::vector<std::string> impossible = {
      "4294967298" + kw_test::makePacket(2, zda, gll("4500.0000", "11526.3400")).substr(3),
      "-4294967294" + kw_test::makePacket(2, zda, gll("4500.0000", "11526.3400")).substr(3),
      kw_test::makePacket(2, zda, gll("nan", "11526.3400")),
      kw_test::makePacket(2, zda, gll("4500.0000", "inf")),
      kw_test::makePacket(2, zda, gll("9999.9999", "11526.3400")),
      kw_test::makePacket(2, zda, gll("4500.0000", "18000.0001")),
  };
  for (const std::string& packet : impossible) ASSERT_TRUE(sender.send(packet)) << packet;
  kw::Sleep(200);
  tick();
  EXPECT_EQ(view(0).utcSec, 0) << "an impossible packet reached node 2";
  EXPECT_FALSE(sniffer_->feedNodeHeard(0));
  // The edges themselves are positions.
  ASSERT_TRUE(sender.send(kw_test::makePacket(2, zda, gll("9000.0000", "18000.0000"))));
  kw::Sleep(200);
  tick();
  turn(false);
  EXPECT_NEAR(view(0).latitude, 90.0, 1e-12);
  kw_qnv_portStats stats;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &stats));
  EXPECT_EQ(stats.rejected, impossible.size());
  EXPECT_EQ(stats.takenIn, impossible.size() + 1);
  EXPECT_EQ(stats.unknownNode, 0u);
}

// A flood of junk between two ticks, far more than a buffer half holds,
// sent before the one valid packet: the junk is refused before it takes a
// slot, so the valid packet still gets in, and the junk is counted.
TEST_F(FeedStatus, JunkDoesNotCrowdOutValidPackets) {
  startFeed("1\n", std::string("live ") + kGroup + " 47114\n");
  turn(true);
  kw_test::FeedSender sender(kGroup, 47114);
  ASSERT_TRUE(sender.ok());
  std::string junk = kw_test::numberedPacket(1, 1, 100);
  junk[junk.size() - 1] = junk.back() == '0' ? '1' : '0';  // a bad last checksum
  constexpr int kJunk = 200;
  for (int round = 1; round <= 3; ++round) {
    for (int i = 0; i < kJunk; ++i) {
      ASSERT_TRUE(sender.send(i % 2 ? junk : "random text " + std::to_string(i)));
    }
    ASSERT_TRUE(sender.send(kw_test::numberedPacket(1, round, round * 100)));
    kw::Sleep(200);
    tick();
    EXPECT_EQ(kw_test::centisOf(view(0).utcSec, view(0).utcMs), round * 100) << "round " << round;
  }
  turn(false);
  kw_qnv_portStats stats;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &stats));
  EXPECT_EQ(stats.takenIn, 3u);
  EXPECT_EQ(stats.droppedFull, 0u);
  EXPECT_EQ(stats.rejected, 3u * kJunk);
}

// Each node knows the port its last accepted packet came on; an older
// packet on another port does not move it.
TEST_F(FeedStatus, EachNodeKnowsThePortItsLastPacketCameOn) {
  constexpr const char* kEast = "239.255.43.8";
  startFeed("1\n2\n", std::string("west ") + kGroup + " 47116\neast " + kEast + " 47117\n");
  EXPECT_EQ(sniffer_->feedNodePort(0), -1);
  turn(true);
  kw_test::FeedSender west(kGroup, 47116);
  kw_test::FeedSender east(kEast, 47117);
  ASSERT_TRUE(west.ok() && east.ok());
  ASSERT_TRUE(west.send(kw_test::numberedPacket(1, 1, 100)));
  kw::Sleep(200);
  tick();
  EXPECT_EQ(sniffer_->feedNodePort(0), 0);
  ASSERT_TRUE(east.send(kw_test::numberedPacket(1, 2, 200)));
  ASSERT_TRUE(west.send(kw_test::numberedPacket(1, 3, 50)));  // older than the last
  kw::Sleep(200);
  tick();
  turn(false);
  EXPECT_EQ(sniffer_->feedNodePort(0), 1);
  EXPECT_EQ(sniffer_->feedNodePort(1), -1) << "never heard";
  EXPECT_EQ(sniffer_->feedNodePort(2), -1) << "no such node";
}

// Two blocks on one port list, each with its own units, share the port's
// reception: each datagram is received once (one socket, one " -----
// String is" line) and each block takes in only its own units' packets,
// except while it is alone there; junk and a unit neither lists are
// counted once, on the block that listened first. Turning one block off
// and on again does not disturb the other's reception.
TEST_F(FeedStatus, TwoBlocksOnOnePortListShareItsReception) {
  constexpr int kSharedPort = 47115;
  startFeed("1 alpha\n2\n",
            std::string("live ") + kGroup + " " + std::to_string(kSharedPort) + "\n");
  JQNV_packet_sniffer* other = makeSniffer();
  graph_.startup();
  JFileProperty nodes("node file name", JString(writeFile("other.nod", "3 gamma\n").c_str()),
                      "*.nod");
  JFileProperty ports("port file name", JString(sniffer_->portFile()), "*.mcp");
  ASSERT_TRUE(other->updateProperty(nodes));
  ASSERT_TRUE(other->updateProperty(ports));
  JSourceObj* otherSource = driveInputs(other);
  JProbeObj* otherProbe = probeAll(other);
  auto otherLatitude = [otherProbe] {
    const JProbeObj::Value* value = otherProbe->last(1);
    return value != nullptr ? value->real : 0.0;
  };
  auto turnOther = [&](bool on) { send(otherSource, 1, on ? 1 : 0); };
  auto tickBoth = [&] {
    tick();
    send(otherSource, 0, 1);
    send(otherSource, 0, 0);
  };
  markLog();
  turn(true);
  turnOther(true);

  kw_test::FeedSender sender(kGroup, kSharedPort);
  ASSERT_TRUE(sender.ok());
  std::string junk = kw_test::numberedPacket(1, 9, 100);
  junk.back() = junk.back() == '0' ? '1' : '0';  // a wrong last checksum
  for (const std::string& packet :
       {kw_test::numberedPacket(1, 1, 100), kw_test::numberedPacket(3, 2, 100),
        kw_test::numberedPacket(9, 3, 100), junk}) {
    ASSERT_TRUE(sender.send(packet));
  }
  kw::Sleep(200);
  tickBoth();
  EXPECT_NEAR(view(0).latitude, kw_test::latitudeOf(1), 1e-9);
  EXPECT_NEAR(otherLatitude(), kw_test::latitudeOf(2), 1e-9);

  turnOther(false);
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(1, 4, 200)));
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(3, 5, 200)));  // the first block is alone
  kw::Sleep(200);
  tickBoth();
  EXPECT_NEAR(view(0).latitude, kw_test::latitudeOf(4), 1e-9) << "the block left on missed it";
  EXPECT_NEAR(otherLatitude(), kw_test::latitudeOf(2), 1e-9) << "the block turned off took one";
  turnOther(true);
  ASSERT_TRUE(sender.send(kw_test::numberedPacket(3, 6, 300)));
  kw::Sleep(200);
  tickBoth();
  EXPECT_NEAR(otherLatitude(), kw_test::latitudeOf(6), 1e-9);
  turn(false);
  turnOther(false);

  kw_qnv_portStats first;
  kw_qnv_portStats second;
  ASSERT_TRUE(sniffer_->feedPortStats(0, &first));
  ASSERT_TRUE(other->feedPortStats(0, &second));
  // 7 datagrams: the junk, unit 9's, and five taken in (unit 3's fifth by
  // the first block while alone, which then found no such unit).
  EXPECT_EQ(first.takenIn, 3u);
  EXPECT_EQ(first.rejected, 1u);
  EXPECT_EQ(first.unknownNode, 2u);
  EXPECT_EQ(second.takenIn, 2u);
  EXPECT_EQ(second.rejected, 0u);
  EXPECT_EQ(second.unknownNode, 0u);
  const std::vector<std::string> lines = logSinceMark();
  EXPECT_EQ(countPrefix(lines, " -----   String is |"), 7);
  EXPECT_EQ(countPrefix(lines, "Opening socket ip "), 1) << "turning one block on and off reopened";
  EXPECT_EQ(countPrefix(lines, "kw_multicast_recv::runingThread in process "), 1);
}

}  // namespace
