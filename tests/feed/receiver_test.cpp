#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/kw_reception_registry.h"
#include "feed/packet_envelope.h"
#include "platform/platform.h"
#include "tests/feed/packet_util.h"
#include "tests/support/isolation.h"
#include "tests/support/process_counts.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kGroup = "239.255.42.10";
constexpr int kPort = 47020;

// ---------------------------------------------------------------- halves

TEST(BufferHalf, StoresInOrderAndDropsWhenFull) {
  kw_multicast_recv::bufferSt half(16, 3);
  EXPECT_NE(half.putPacket("one"), nullptr);
  EXPECT_NE(half.putPacket(""), nullptr);
  EXPECT_NE(half.putPacket("three"), nullptr);
  EXPECT_EQ(half.putPacket("four"), nullptr);
  EXPECT_STREQ(half.getPacket(), "one");
  EXPECT_STREQ(half.getPacket(), "");
  EXPECT_STREQ(half.getPacket(), "three");
  EXPECT_EQ(half.getPacket(), nullptr);
}

TEST(BufferHalf, LongTextIsCutToItsSlot) {
  kw_multicast_recv::bufferSt half(8, 2);
  half.putPacket("0123456789");
  half.putPacket("ab");
  EXPECT_STREQ(half.getPacket(), "0123456");
  EXPECT_STREQ(half.getPacket(), "ab");
}

TEST(Receiver, SwapHandsOutWhatWasStored) {
  kw_multicast_recv receiver(kGroup, kPort, 250, 20);
  receiver.swapBuffers();
  EXPECT_EQ(receiver.getPacket(), nullptr);
  for (int i = 0; i < 25; ++i) receiver.putPacket(std::to_string(i).c_str());
  EXPECT_EQ(receiver.getPacket(), nullptr);  // still in the write half
  receiver.swapBuffers();
  for (int i = 0; i < 20; ++i) EXPECT_STREQ(receiver.getPacket(), std::to_string(i).c_str());
  EXPECT_EQ(receiver.getPacket(), nullptr);
  receiver.swapBuffers();
  EXPECT_EQ(receiver.getPacket(), nullptr);
}

TEST(Receiver, StopWithoutRunOnlyLogs) {
  kw_test::TempDir dir;
  dir.enter();
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  {
    kw_multicast_recv receiver(kGroup, kPort, 250, 20);
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
  }
  olog->close();
  const std::string log = kw_test::readFile("logFile.txt");
  EXPECT_NE(log.find("kw_multicast_recv:stop() 0x"), std::string::npos);
  EXPECT_EQ(log.find("Opening socket"), std::string::npos);
}

// ---------------------------------------------------------------- sockets

class ReceiverNet : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    sender_ = kw::openMulticastSender(0, 1);
    ASSERT_NE(sender_.fd(), kw::kNoSocket);
  }

  void send(const std::string& text, int port = kPort) {
    ASSERT_TRUE(kw::sendDatagram(sender_, kGroup, port, text.data(), text.size()));
  }
  // Loopback delivers at once; give the receive thread time to store.
  static void settle() { kw::Sleep(200); }

  static std::vector<std::string> drain(kw_multicast_recv& receiver) {
    receiver.swapBuffers();
    std::vector<std::string> texts;
    while (const char* text = receiver.getPacket()) texts.emplace_back(text);
    return texts;
  }

  kw::Socket sender_;
};

TEST_F(ReceiverNet, FirstTwentyOfTwentyFiveInArrivalOrder) {
  kw_multicast_recv receiver(kGroup, kPort, 250, 20);
  receiver.run(0);
  kw::Sleep(50);
  for (int i = 0; i < 25; ++i) send("packet " + std::to_string(i));
  send("");
  settle();
  const auto texts = drain(receiver);
  ASSERT_EQ(texts.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(texts[i], "packet " + std::to_string(i));
  receiver.stop();
}

// A steady trickle makes the thread gather between pauses: every datagram
// still arrives once, in order, whether it found the thread waiting or
// pausing.
TEST_F(ReceiverNet, ATrickleAcrossGatherPausesKeepsEveryDatagramInOrder) {
  kw_multicast_recv receiver(kGroup, kPort, 250, 100);
  receiver.run(0);
  kw::Sleep(50);
  for (int i = 0; i < 80; ++i) {
    send("trickle " + std::to_string(i));
    if (i % 4 == 3) kw::Sleep(3);
  }
  settle();
  const auto texts = drain(receiver);
  ASSERT_EQ(texts.size(), 80u);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(texts[i], "trickle " + std::to_string(i));
  EXPECT_EQ(receiver.takenIn(), 80u);
  receiver.stop();
}

TEST_F(ReceiverNet, EmptyAndOversizedDatagrams) {
  kw_multicast_recv receiver(kGroup, kPort, 5000, 4);
  receiver.run(0);
  kw::Sleep(50);
  send("");
  send(std::string(6000, 'x'));
  settle();
  const auto texts = drain(receiver);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "");
  EXPECT_EQ(texts[1], std::string(4999, 'x'));
  receiver.stop();
}

TEST_F(ReceiverNet, StopRunCyclesKeepStoredPackets) {
  kw_multicast_recv receiver(kGroup, kPort, 250, 20);
  receiver.run(0);
  receiver.run(0);  // a second run on a running receiver is ignored
  kw::Sleep(50);
  send("before stop");
  settle();
  receiver.stop();
  EXPECT_FALSE(receiver.isRunning());
  send("while stopped");
  settle();
  for (int cycle = 0; cycle < 5; ++cycle) {
    receiver.run(0);
    receiver.stop();
  }
  receiver.run(0);
  kw::Sleep(50);
  send("after run");
  settle();
  const auto texts = drain(receiver);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "before stop");
  EXPECT_EQ(texts[1], "after run");
}

TEST_F(ReceiverNet, EveryListenerOnTheGroupGetsEachDatagram) {
  kw_multicast_recv first(kGroup, kPort, 250, 20);
  kw_multicast_recv second(kGroup, kPort, 250, 20);
  first.run(0);
  second.run(0);
  kw::Sleep(50);
  send("shared");
  settle();
  EXPECT_EQ(drain(first), std::vector<std::string>{"shared"});
  EXPECT_EQ(drain(second), std::vector<std::string>{"shared"});
}

// A receiver takes its own group's datagrams only: not a unicast datagram
// sent to its port, nor those of another group on the same port that a
// second receiver of this process joined.
TEST_F(ReceiverNet, OnlyItsOwnGroupsDatagrams) {
  constexpr const char* kOther = "239.255.42.11";
  kw_multicast_recv mine(kGroup, kPort, 250, 20);
  kw_multicast_recv other(kOther, kPort, 250, 20);
  mine.run(0);
  other.run(0);
  kw::Sleep(50);
  EXPECT_STREQ(mine.setupFailure(), "");
  ASSERT_TRUE(kw::sendDatagram(sender_, kOther, kPort, "other group", 11));
  ASSERT_TRUE(kw::sendDatagram(sender_, "127.0.0.1", kPort, "unicast", 7));
  send("own group");
  settle();
  EXPECT_EQ(drain(mine), std::vector<std::string>{"own group"});
  EXPECT_EQ(drain(other), std::vector<std::string>{"other group"});
}

// The admission test runs before a datagram takes a slot: refused ones are
// counted and leave the slots to those admitted.
TEST_F(ReceiverNet, RefusedDatagramsTakeNoSlot) {
  kw_multicast_recv receiver(kGroup, kPort, 250, 2);
  receiver.setAdmission([](const char* text, int) { return text[0] == 'k'; });
  receiver.run(0);
  kw::Sleep(50);
  for (int i = 0; i < 10; ++i) send("junk");
  send("keep 1");
  send("keep 2");
  send("keep 3");
  settle();
  EXPECT_EQ(drain(receiver), (std::vector<std::string>{"keep 1", "keep 2"}));
  EXPECT_EQ(receiver.refused(), 10u);
  EXPECT_EQ(receiver.takenIn(), 2u);
  EXPECT_EQ(receiver.droppedFull(), 1u);
}

TEST_F(ReceiverNet, StopWhileFloodedAndLogging) {
  kw_test::TempDir dir;
  dir.enter();
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  kw_multicast_recv receiver(kGroup, kPort, 250, 20);
  for (int cycle = 0; cycle < 10; ++cycle) {
    receiver.run(0);
    for (int i = 0; i < 100; ++i) send("flood " + std::to_string(i));
    if (cycle % 2) receiver.swapBuffers();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
  }
  olog->close();
}

// A port whose group is not an IPv4 address ("239.255.42", which the
// inet_addr shorthand would read as 239.255.0.42) joins nothing but keeps
// running like the others; the reason is one trace line and the port's
// socketFailure(). The good port beside it still receives.
TEST_F(ReceiverNet, BadGroupInPortListLeavesItsReasonInTheLog) {
  kw_test::TempDir dir;
  dir.enter();
  const std::string ports =
      dir.write("ports.mcp", std::string("good ") + kGroup + " " + std::to_string(kPort) + "\n" +
                                 "bad 239.255.42 " + std::to_string(kPort) + "\n");
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  {
    kw_qnv_handlerList list(250, 20);
    ASSERT_TRUE(list.readPortFile(ports.c_str()));
    list.runAll();
    kw::Sleep(50);
    EXPECT_TRUE(list.getPort(0)->isRunning());
    EXPECT_TRUE(list.getPort(1)->isRunning());
    EXPECT_STREQ(list.getPort(0)->socketFailure(), "");
    EXPECT_STREQ(list.getPort(1)->socketFailure(), "group 239.255.42: not an IPv4 address");
    // A port takes in feed packets only (see the admission test).
    const std::string packet =
        kw_test::makePacket(1, kw_test::zdaBody("123456.78"), kw_test::gllBody());
    send(packet);
    settle();
    EXPECT_EQ(drain(*list.getPort(0)->receiver()), std::vector<std::string>{packet});
    list.stopAll();
  }
  olog->close();
  const std::string log = kw_test::readFile("logFile.txt");
  const std::string reason = " group 239.255.42: not an IPv4 address\n";
  const size_t at = log.find(reason);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(reason, at + 1), std::string::npos) << "the reason is written once";
  const size_t lineStart = log.rfind('\n', at) + 1;
  const std::string opening = "kw_multicast_recv::openSocket() 0x";
  EXPECT_EQ(log.compare(lineStart, opening.size(), opening), 0)
      << log.substr(lineStart, at - lineStart);
  EXPECT_EQ(log.find("openSocket() 0x", at + 1), std::string::npos) << "the good port adds none";
}

// Sending refuses a group that is not an IPv4 address instead of reading
// the shorthand as another group, and says why.
TEST_F(ReceiverNet, SendToBadGroupFailsWithItsReason) {
  kw::Failure failure;
  EXPECT_FALSE(kw::sendDatagram(sender_, "239.255.42", kPort, "x", 1, &failure));
  EXPECT_EQ(failure.text(), "group 239.255.42: not an IPv4 address");
  EXPECT_TRUE(kw::sendDatagram(sender_, kGroup, kPort, "x", 1, &failure));
  EXPECT_TRUE(failure.ok());
}

// ---------------------------------------------------------------- shared receptions

// Receivers of one group, port and interface in a process share one
// reception: one socket, one receive thread.
class SharedReception : public ReceiverNet {
 protected:
  static constexpr int kSharedPort = 47021;

  static kw_multicast_recv::NodeFilter only(int node) {
    kw_multicast_recv::NodeFilter filter = kw_multicast_recv::NodeFilter::none();
    filter.nodes.set(static_cast<size_t>(node));
    return filter;
  }
  static std::string packetOf(int node) {
    return kw_test::makePacket(node, kw_test::zdaBody("123456.78"), kw_test::gllBody());
  }
  static int receptions() { return kw_reception_registry::process().receptionCount(); }
  static int linesStarting(const std::string& log, const std::string& prefix) {
    int n = 0;
    for (size_t at = 0; (at = log.find("\n" + prefix, at)) != std::string::npos; ++at) ++n;
    return n + (log.rfind(prefix, 0) == 0 ? 1 : 0);
  }
};

// Two receivers tracking different nodes: each datagram is received once
// (one socket, one thread, one trace line) and stored only by the receiver
// that tracks its node; junk and a datagram for a node neither tracks are
// counted once, on the receiver that listened first.
TEST_F(SharedReception, EachDatagramIsReceivedOnceAndStoredByItsNodesReceiver) {
  kw_test::TempDir dir;
  dir.enter();
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  kw_multicast_recv first(kGroup, kSharedPort, 250, 20);
  kw_multicast_recv second(kGroup, kSharedPort, 250, 20);
  first.setAdmission(&kw::envelope::mayPass);
  second.setAdmission(&kw::envelope::mayPass);
  first.track(only(1));
  second.track(only(2));
  first.run(0);
  second.run(0);
  kw::Sleep(50);
  EXPECT_NE(first.socketFd(), kw::kNoSocket);
  EXPECT_EQ(first.socketFd(), second.socketFd());
  EXPECT_EQ(receptions(), 1);

  std::string junk = packetOf(1);
  junk.back() = junk.back() == '0' ? '1' : '0';  // a wrong last checksum
  for (const std::string& text : {packetOf(1), packetOf(2), packetOf(7), junk}) {
    send(text, kSharedPort);
  }
  settle();
  EXPECT_EQ(drain(first), std::vector<std::string>{packetOf(1)});
  EXPECT_EQ(drain(second), std::vector<std::string>{packetOf(2)});
  first.stop();
  second.stop();
  olog->close();
  EXPECT_EQ(first.takenIn(), 1u);
  EXPECT_EQ(second.takenIn(), 1u);
  EXPECT_EQ(first.refused(), 1u);
  EXPECT_EQ(second.refused(), 0u);
  EXPECT_EQ(first.unknownNode(), 1u);
  EXPECT_EQ(second.unknownNode(), 0u);
  const std::string log = kw_test::readFile("logFile.txt");
  EXPECT_EQ(linesStarting(log, " -----   String is |"), 4) << log;
  EXPECT_EQ(linesStarting(log, "Opening socket ip "), 1) << log;
  EXPECT_EQ(linesStarting(log, "kw_multicast_recv::runingThread in process "), 1) << log;
}

// A receiver leaving disturbs none of the others; the last one to leave
// ends the thread and closes the socket; the next to run opens anew.
TEST_F(SharedReception, TheLastToLeaveEndsTheThreadAndClosesTheSocket) {
  const size_t baseThreads = kw_test::threadCount();
  const size_t baseFiles = kw_test::openFileCount();
  {
    kw_multicast_recv first(kGroup, kSharedPort, 250, 20);
    kw_multicast_recv second(kGroup, kSharedPort, 250, 20);
    first.run(0);
    second.run(0);
    EXPECT_EQ(kw_test::settledThreadCount(baseThreads + 1), baseThreads + 1);
    kw::Sleep(50);
    first.stop();
    EXPECT_FALSE(first.isRunning());
    EXPECT_TRUE(second.isRunning());
    EXPECT_EQ(receptions(), 1);
    send("after the first left", kSharedPort);
    settle();
    EXPECT_TRUE(drain(first).empty());
    EXPECT_EQ(drain(second), std::vector<std::string>{"after the first left"});

    first.run(0);  // joins the reception that is still open
    EXPECT_EQ(first.socketFd(), second.socketFd());
    EXPECT_EQ(kw_test::settledThreadCount(baseThreads + 1), baseThreads + 1);
    second.stop();
    first.stop();
    EXPECT_EQ(receptions(), 0);
    EXPECT_EQ(kw_test::settledThreadCount(baseThreads), baseThreads);
    EXPECT_EQ(kw_test::openFileCount(), baseFiles) << "socket or wake-up event left open";

    first.run(0);
    EXPECT_EQ(receptions(), 1);
    kw::Sleep(50);
    send("anew", kSharedPort);
    settle();
    EXPECT_EQ(drain(first), std::vector<std::string>{"anew"});
  }  // the destructor stops it
  EXPECT_EQ(receptions(), 0);
  EXPECT_EQ(kw_test::settledThreadCount(baseThreads), baseThreads);
  EXPECT_EQ(kw_test::openFileCount(), baseFiles);
}

// A node list read while the ports run (none was loaded when they started)
// chooses at once what a port of a shared reception takes.
TEST_F(SharedReception, ANodeListReadWhileRunningChoosesWhatASharedPortTakes) {
  kw_test::TempDir dir;
  const std::string ports = dir.write(
      "ports.mcp", std::string("live ") + kGroup + " " + std::to_string(kSharedPort) + "\n");
  kw_qnv_handlerList first(250, 20);
  kw_qnv_handlerList second(250, 20);
  ASSERT_TRUE(first.readPortFile(ports.c_str()));
  ASSERT_TRUE(first.readNodeFile(dir.write("one.nod", "1\n").c_str()));
  ASSERT_TRUE(second.readPortFile(ports.c_str()));
  first.runAll();
  second.runAll();  // no node list yet: takes nothing while it shares
  kw::Sleep(50);
  send(packetOf(2), kSharedPort);
  settle();
  EXPECT_TRUE(drain(*second.getPort(0)->receiver()).empty());
  ASSERT_TRUE(second.readNodeFile(dir.write("two.nod", "2\n").c_str()));
  EXPECT_TRUE(second.getPort(0)->isRunning());
  send(packetOf(2), kSharedPort);
  settle();
  EXPECT_EQ(drain(*second.getPort(0)->receiver()), std::vector<std::string>{packetOf(2)});
  first.stopAll();
  second.stopAll();
}

// Receivers on four threads join and leave one reception at random while
// datagrams for their nodes flow, each thread draining its own receiver
// between the steps: every text a receiver hands out is a whole datagram,
// each receiver gets its node's, and when all have left nothing is left
// running. (A receiver alone at the moment takes every node's datagrams.)
// Meant for ThreadSanitizer.
TEST_F(SharedReception, ReceiversJoinAndLeaveWhileDatagramsFlow) {
  constexpr int kListeners = 4;
  const size_t baseThreads = kw_test::threadCount();
  std::atomic<bool> done{false};
  std::thread sender([this, &done] {
    for (int i = 0; !done.load(); ++i) {
      send(packetOf(i % (kListeners + 1)), kSharedPort);  // node kListeners: nobody's
      if (i % 8 == 7) kw::Sleep(1);
    }
  });
  std::vector<std::thread> listeners;
  std::vector<int> taken(kListeners, 0);
  std::vector<std::string> wrong(kListeners);
  for (int k = 0; k < kListeners; ++k) {
    listeners.emplace_back([k, &taken, &wrong] {
      std::mt19937 random(static_cast<unsigned>(k) + 7u);
      kw_multicast_recv receiver(kGroup, kSharedPort, 250, 200);
      receiver.setAdmission(&kw::envelope::mayPass);
      receiver.track(only(k));
      for (int step = 0; step < 40; ++step) {
        receiver.run(0);
        kw::Sleep(static_cast<unsigned>(random() % 15));
        if (step % 5 == 0) receiver.track(only(k));  // while it listens
        receiver.stop();
        for (const std::string& text : drain(receiver)) {
          int node = -1;
          if (text == packetOf(k)) {
            ++taken[static_cast<size_t>(k)];
          } else if (!kw::envelope::nodeNumber(text.c_str(), &node) || text != packetOf(node)) {
            wrong[static_cast<size_t>(k)] = text;
          }
        }
      }
    });
  }
  for (std::thread& listener : listeners) listener.join();
  done.store(true);
  sender.join();
  for (int k = 0; k < kListeners; ++k) {
    EXPECT_GT(taken[static_cast<size_t>(k)], 0) << "receiver " << k;
    EXPECT_EQ(wrong[static_cast<size_t>(k)], "") << "receiver " << k;
  }
  EXPECT_EQ(receptions(), 0);
  EXPECT_EQ(kw_test::settledThreadCount(baseThreads), baseThreads);
}

}  // namespace
