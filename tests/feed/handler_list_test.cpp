#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "tests/feed/fake_clock.h"
#include "tests/feed/packet_util.h"
#include "tests/support/temp_dir.h"

namespace {

class ListTest : public ::testing::Test {
 protected:
  bool nodes(const std::string& text) {
    return list_.readNodeFile(dir_.write("nodes.nod", text).c_str());
  }
  bool ports(const std::string& text) {
    return list_.readPortFile(dir_.write("ports.mcp", text).c_str());
  }

  kw_test::TempDir dir_;
  kw_qnv_handlerList list_{250, 20};
};

TEST_F(ListTest, NodeFileOrderAndLookup) {
  ASSERT_TRUE(nodes("3 three\n1\n# 9 comment\n\n2 two extra tokens\n"));
  EXPECT_EQ(list_.nodeCount_, 3u);
  EXPECT_EQ(list_.maxNodeId_, 3);
  EXPECT_EQ(list_.getNode(0)->nodeId_, 3);
  EXPECT_STREQ(list_.getNode(0)->name_, "three");
  EXPECT_STREQ(list_.getNode(1)->name_, "");
  EXPECT_EQ(list_.getNodeById(2)->nodeId_, 2);
  EXPECT_EQ(list_.getNodeById(3), list_.getNode(0));
  EXPECT_EQ(list_.getNodeById(4), nullptr);
  EXPECT_EQ(list_.getNodeById(0), nullptr);
  EXPECT_EQ(list_.getNode(3), nullptr);
  EXPECT_EQ(list_.getNodeId(2), 2);
  EXPECT_EQ(list_.getNodeId(3), 0);
}

TEST_F(ListTest, NodeFileEdges) {
  ASSERT_TRUE(nodes("0\n"));
  EXPECT_EQ(list_.nodeCount_, 1u);
  EXPECT_EQ(list_.maxNodeId_, 0);
  EXPECT_NE(list_.getNodeById(0), nullptr);

  EXPECT_FALSE(nodes("1001 north\n"));
  EXPECT_EQ(list_.nodeCount_, 0u);
  EXPECT_EQ(list_.getNodeById(0), nullptr);

  // Leading-number rule: "17abc" is 17, "abc" is 0, "1000" passes.
  ASSERT_TRUE(nodes("17abc truck17\nabc\n1000 last\n"));
  EXPECT_EQ(list_.getNodeId(0), 17);
  EXPECT_EQ(list_.getNodeId(1), 0);
  EXPECT_EQ(list_.getNodeId(2), 1000);

  EXPECT_FALSE(list_.readNodeFile(dir_.file("missing.nod").c_str()));
  EXPECT_EQ(list_.nodeCount_, 0u);
}

TEST_F(ListTest, OnlyRegularFilesAreRead) {
  // A device that never ends, a pipe with no writer and a folder are refused
  // at once instead of holding the caller.
  EXPECT_FALSE(list_.readNodeFile("/dev/zero"));
  const std::string pipe = dir_.file("pipe.nod");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(list_.readNodeFile(pipe.c_str()));
  EXPECT_FALSE(list_.readPortFile(pipe.c_str()));
  EXPECT_FALSE(list_.readPortFile(dir_.path().c_str()));
  EXPECT_FALSE(list_.readNodeFile(nullptr));
}

TEST_F(ListTest, NegativeAndRepeatedNumbers) {
  ASSERT_TRUE(nodes("-3 minus\n5 first\n5 second\n"));
  ASSERT_EQ(list_.nodeCount_, 2u);
  EXPECT_STREQ(list_.getNodeById(5)->name_, "first");
  EXPECT_STREQ(list_.getNode(0)->name_, "first");
  EXPECT_STREQ(list_.getNode(1)->name_, "second");
  EXPECT_EQ(list_.getNodeId(1), 5);
  EXPECT_FALSE(nodes("-1\n"));
}

TEST_F(ListTest, LongLinesAreReadInPieces) {
  // 255 characters: "7" and a 253-character name, then a 45-character rest
  // that starts with the number 9.
  const std::string line = "7 " + std::string(253, 'n') + "9 tail" + std::string(39, 't');
  ASSERT_EQ(line.size(), 300u);
  ASSERT_TRUE(nodes(line + "\n"));
  ASSERT_EQ(list_.nodeCount_, 2u);
  EXPECT_EQ(list_.getNodeId(0), 7);
  EXPECT_EQ(std::string(list_.getNode(0)->name_), std::string(253, 'n'));
  EXPECT_EQ(list_.getNodeId(1), 9);
}

TEST_F(ListTest, PortFile) {
  ASSERT_TRUE(
      ports("feedA 239.1.2.3 5000\nonly two\n# c 239.0.0.1 1\nfeedB 239.1.2.4 70000x extra\n"));
  ASSERT_EQ(list_.portCount_, 2u);
  EXPECT_STREQ(list_.getPort(0)->name_, "feedA");
  EXPECT_STREQ(list_.getPort(0)->ipAddress_, "239.1.2.3");
  EXPECT_EQ(list_.getPort(0)->port_, 5000);
  EXPECT_EQ(list_.getPort(1)->port_, 70000);
  EXPECT_FALSE(list_.getPort(0)->isRunning());
  EXPECT_FALSE(ports("# only a comment\n"));
  EXPECT_EQ(list_.portCount_, 0u);
}

TEST_F(ListTest, Thresholds) {
  ASSERT_TRUE(nodes("1\n2\n"));
  EXPECT_EQ(list_.getNode(0)->mediumMs_, 2000);
  EXPECT_EQ(list_.getNode(1)->badMs_, 4000);
  list_.setThresholds(-1.5, 0.0025);
  EXPECT_EQ(list_.mediumMs_, 1500);
  EXPECT_EQ(list_.badMs_, 2);
  EXPECT_EQ(list_.getNode(1)->mediumMs_, 1500);
  EXPECT_EQ(list_.getNode(0)->badMs_, 2);
  list_.setThresholds(1e300, 2.0);
  EXPECT_EQ(list_.mediumMs_, 2147483647);
  // Nodes read later get the list's thresholds.
  ASSERT_TRUE(nodes("4\n"));
  EXPECT_EQ(list_.getNode(0)->badMs_, 2000);
}

TEST_F(ListTest, UpdatedMarks) {
  ASSERT_TRUE(nodes("1\n"));
  list_.getNode(0)->updated_ = 1;
  list_.clearUpdated(5);
  EXPECT_EQ(list_.getNode(0)->updated_, 1);
  list_.clearUpdated(0);
  EXPECT_EQ(list_.getNode(0)->updated_, 0);
}

// The service loop, fed by storing packets straight into a receiver's write
// half (no network).
class ServiceTest : public ListTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nodes("7\n1\n2\n3\n4\n5\n"));
    ASSERT_TRUE(ports("a 239.255.42.1 47010\nb 239.255.42.2 47011\n"));
    for (unsigned i = 0; i < list_.portCount_; ++i) list_.getPort(i)->running_ = 1;
  }
  void store(unsigned port, const std::string& packet) {
    ASSERT_NE(list_.getPort(port)->receiver()->putPacket(packet.c_str()), nullptr);
  }
  static std::string packet(int node, const std::string& clock, const std::string& latitude) {
    return kw_test::makePacket(node, kw_test::zdaBody(clock),
                               kw_test::gllBody(latitude, "11526.3400", clock));
  }
  kw_test::FakeClock clock_;
};

TEST_F(ServiceTest, NewestByPacketTimeWins) {
  store(0, packet(7, "120000.00", "3500.0000"));
  store(0, packet(7, "120002.00", "3502.0000"));
  store(0, packet(7, "120001.00", "3501.0000"));  // older than the one before: ignored
  list_.serviceAll();
  const kw_qnv_nodeHandler* node = list_.getNodeById(7);
  EXPECT_DOUBLE_EQ(node->latitude_, 35.0 + 2.0 / 60.0);
  EXPECT_STREQ(node->utcString_, "2026/12/07,12:00:02.000");
  // Everything was consumed in one call.
  list_.serviceAll();
  EXPECT_DOUBLE_EQ(node->latitude_, 35.0 + 2.0 / 60.0);
}

TEST_F(ServiceTest, UnknownNodesAndHalfValidPacketsChangeNoNode) {
  store(0, packet(12, "120000.00", "3500.0000"));
  store(0, packet(6, "120000.00", "3500.0000"));
  store(0, packet(-1, "120000.00", "3500.0000"));
  // Valid time, invalid position: the port's time fields change, no node does.
  store(0, kw_test::makePacket(1, kw_test::zdaBody("130000.00"),
                               "GPGLL,3500.0000,Q,11526.3400,W,130000.00,A,A"));
  list_.serviceAll();
  EXPECT_STREQ(list_.getPort(0)->utcString_, "2026/12/07,13:00:00.000");
  for (unsigned i = 0; i < list_.nodeCount_; ++i) {
    EXPECT_EQ(list_.getNode(i)->updated_, 0) << "node index " << i;
  }
}

TEST_F(ServiceTest, TwoPortsFeedOneNodeInPortFileOrder) {
  store(1, packet(3, "120000.00", "3511.0000"));
  store(0, packet(3, "120000.00", "3500.0000"));
  list_.serviceAll();
  // Equal packet times: both accepted, port b (serviced second) wins.
  EXPECT_DOUBLE_EQ(list_.getNodeById(3)->latitude_, 35.0 + 11.0 / 60.0);
}

TEST_F(ServiceTest, StoppedPortNeitherExchangesNorConsumes) {
  store(0, packet(1, "120000.00", "3500.0000"));
  list_.getPort(0)->running_ = 0;
  list_.serviceAll();
  EXPECT_EQ(list_.getNodeById(1)->updated_, 0);
  list_.getPort(0)->running_ = 1;
  list_.serviceAll();
  EXPECT_EQ(list_.getNodeById(1)->updated_, 1);
}

TEST_F(ServiceTest, ServiceTraceLines) {
  dir_.enter();
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  store(0, "garbage");
  list_.getPort(1)->running_ = 0;
  list_.serviceAll();
  olog->close();
  const std::string log = kw_test::readFile("logFile.txt");
  EXPECT_NE(log.find("In kw_qnv_portHandler::service() running is 1\n"), std::string::npos);
  EXPECT_NE(log.find("In kw_qnv_portHandler::service() running is 0\n"), std::string::npos);
  EXPECT_NE(log.find("pk is garbage\n"), std::string::npos);
  EXPECT_NE(log.find("service nodeId is 0 sent (null)\nservice nodeId is 0 sent (null)\n"),
            std::string::npos);
  EXPECT_EQ(log.find("parsedPacket ok"), std::string::npos);
}

TEST_F(ServiceTest, RereadClearsAndStopsPorts) {
  ASSERT_TRUE(nodes("9\n"));
  EXPECT_FALSE(list_.getPort(0)->isRunning());
  EXPECT_FALSE(list_.getPort(1)->isRunning());
  EXPECT_EQ(list_.getNodeById(7), nullptr);
  EXPECT_NE(list_.getNodeById(9), nullptr);
}

}  // namespace
