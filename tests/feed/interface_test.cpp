// Joining a feed on a chosen interface: by name and by address through the
// receiver, the port list's fourth token, and the reasons when the
// interface does not exist. Runs inside the isolated network namespace,
// where it adds one interface of its own ("kwdummy0") next to loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/platform.h"
#include "tests/feed/packet_util.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kGroup = "239.255.42.30";
constexpr int kPort = 47030;
constexpr const char* kInterface = "kwdummy0";
constexpr const char* kInterfaceAddress = "10.213.0.1";

// Adds kwdummy0 (10.213.0.1/24, up) to the namespace: a dummy interface
// where the kernel has them, else an empty bridge, which behaves the same
// for a multicast join and a looped-back send. Empty on success, else why not.
std::string addInterface() {
  const char* isolated = std::getenv("KW_ISOLATED");
  if (isolated == nullptr || std::string(isolated) != "1" || !kw_test::insideIsolatedNetwork()) {
    return "not inside scripts/isolated";
  }
  const std::string quiet = " >/dev/null 2>&1";
  if (std::system(("ip link add kwdummy0 type dummy" + quiet).c_str()) != 0 &&
      std::system(("ip link add kwdummy0 type bridge" + quiet).c_str()) != 0) {
    return "cannot add an interface (no dummy or bridge link type in this kernel)";
  }
  if (std::system(("ip addr add 10.213.0.1/24 dev kwdummy0" + quiet).c_str()) != 0 ||
      std::system(("ip link set kwdummy0 up" + quiet).c_str()) != 0) {
    return "cannot bring kwdummy0 up";
  }
  return "";
}

class InterfaceJoin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { problem_ = new std::string(addInterface()); }
  static void TearDownTestSuite() {
    std::system("ip link del kwdummy0 >/dev/null 2>&1");
    delete problem_;
  }
  void SetUp() override {
    if (!problem_->empty()) GTEST_SKIP() << *problem_;
  }

  // Sends `text` to the group out of `interfaceName`.
  static void sendVia(const char* interfaceName, const std::string& text) {
    kw::Failure failure;
    const kw::Socket sender = kw::openMulticastSender(0, 1, &failure, interfaceName);
    ASSERT_TRUE(failure.ok()) << failure.text();
    ASSERT_TRUE(kw::sendDatagram(sender, kGroup, kPort, text.data(), text.size(), &failure))
        << failure.text();
  }

  // Everything the receiver holds after a short wait.
  static std::vector<std::string> taken(kw_multicast_recv* receiver) {
    std::this_thread::sleep_for(200ms);
    receiver->swapBuffers();
    std::vector<std::string> texts;
    while (const char* packet = receiver->getPacket()) texts.emplace_back(packet);
    return texts;
  }

  static std::string* problem_;
};

std::string* InterfaceJoin::problem_ = nullptr;

// One receiver at a time, so that the only membership on the machine is the
// one under test: a datagram looped back on an interface reaches the group's
// sockets only when some socket joined the group on that interface.
TEST_F(InterfaceJoin, ReceiverJoinsOnTheNamedInterfaceOnly) {
  const struct {
    const char* join;  // receiver's interface, null for the system's choice
    const char* send;  // interface the datagram leaves by
    bool received;
  } cases[] = {
      {kInterface, kInterface, true}, {kInterfaceAddress, kInterface, true},
      {"lo", kInterface, false},      {kInterface, "lo", false},
      {nullptr, kInterface, false},   {nullptr, "lo", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("join ") + (c.join ? c.join : "(default)") + ", send via " + c.send);
    kw_multicast_recv receiver(kGroup, kPort, 250, 20, c.join);
    receiver.run(0);
    EXPECT_STREQ(receiver.setupFailure(), "");
    sendVia(c.send, "packet");
    const std::vector<std::string> got = taken(&receiver);
    receiver.stop();
    EXPECT_EQ(got.size(), c.received ? 1u : 0u);
  }
}

TEST_F(InterfaceJoin, PortListFourthTokenChoosesTheInterface) {
  kw_test::TempDir dir;
  const std::string withToken = dir.write("field.mcp",
                                          "# name group port interface\n"
                                          "field 239.255.42.30 47030 kwdummy0\n");
  const std::string without = dir.write("office.mcp", "office 239.255.42.30 47030\n");
  kw_qnv_handlerList ports(250, 20);
  // Ports take in only what passes the envelope check: send a real packet.
  const std::string packet =
      kw_test::makePacket(7, kw_test::zdaBody("123456.78"), kw_test::gllBody());

  ASSERT_TRUE(ports.readPortFile(withToken.c_str()));
  ASSERT_EQ(ports.portCount(), 1u);
  EXPECT_STREQ(ports.getPort(0)->interfaceName(), "kwdummy0");
  ports.runAll();
  EXPECT_STREQ(ports.getPort(0)->socketFailure(), "");
  sendVia(kInterface, packet);
  EXPECT_EQ(taken(ports.getPort(0)->receiver()), std::vector<std::string>{packet});
  ports.stopAll();

  // Without the token the port joins where the system routes the group
  // (loopback here), not on kwdummy0.
  ASSERT_TRUE(ports.readPortFile(without.c_str()));
  EXPECT_STREQ(ports.getPort(0)->interfaceName(), "");
  ports.runAll();
  sendVia(kInterface, packet);
  EXPECT_TRUE(taken(ports.getPort(0)->receiver()).empty());
  ports.stopAll();
}

// A missing interface is a set-up failure with its reason, kept by the
// port and written to the trace log; the port's receiver still runs.
TEST(InterfaceFailure, MissingInterfaceGivesItsReason) {
  KW_REQUIRE_ISOLATED_NETWORK();
  kw_test::TempDir dir;
  dir.enter();
  ASSERT_EQ(olog->open("logFile.txt"), 1);
  const std::string list =
      dir.write("ports.mcp",
                "byname 239.255.42.31 47031 kwnope0\n"
                "byaddress 239.255.42.31 47031 10.213.99.1\n"
                "toolong 239.255.42.31 47031 an-interface-name-far-too-long\n");
  kw_qnv_handlerList ports(250, 20);
  ASSERT_TRUE(ports.readPortFile(list.c_str()));
  ports.runAll();
  EXPECT_STREQ(ports.getPort(0)->socketFailure(), "interface kwnope0: No such device");
  EXPECT_STREQ(ports.getPort(1)->socketFailure(),
               "join 239.255.42.31 on port 47031 via 10.213.99.1: No such device");
  EXPECT_STREQ(ports.getPort(2)->socketFailure(),
               "interface an-interface-name-far-too-long: No such device");
  EXPECT_TRUE(ports.getPort(0)->isRunning());
  ports.stopAll();
  olog->close();
  const std::string log = kw_test::readFile("logFile.txt");
  EXPECT_NE(log.find(" interface kwnope0: No such device\n"), std::string::npos) << log;

  kw::Failure failure;
  const kw::Socket sender = kw::openMulticastSender(0, 1, &failure, "kwnope0");
  EXPECT_TRUE(sender.valid());
  EXPECT_EQ(failure.text(), "interface kwnope0: No such device");
}

}  // namespace
