// The feed status a host reads from the block: each port's origin (list file
// and line), its set-up failure, and the counts of what became of the
// datagrams it received; each node's name and whether it was ever heard.
#include <string>

#include "JQNV_packet_sniffer.h"
#include "feed_traffic.h"
#include "kw_qnv_portStats.h"
#include "system_fixture.h"

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
  startFeed("# units\n1 alpha\n2\n",
            std::string("# feeds\n\nlive ") + kGroup + " " + std::to_string(kPort) +
                "\nbroken 239.255.42 47112\n");
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
  EXPECT_EQ(live.takenIn, 26u);
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
  EXPECT_EQ(live.takenIn, 26u);
  sniffer_->close();
  EXPECT_EQ(sniffer_->feedPortCount(), 0);
  EXPECT_FALSE(sniffer_->feedNodeHeard(0));
}

}  // namespace
