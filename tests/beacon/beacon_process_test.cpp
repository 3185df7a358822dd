// The real nmea_beacon process, seen from the outside: its multicast
// packets, its console output, its command line and its clean stop.
// Runs inside the isolated network namespace (loopback only).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "beacon/packet_builder.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kw_test::ChildProcess;
using kw_test::completeLines;

constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kGroup = "239.255.42.1";
constexpr int kPort = 47001;
constexpr int kSlotSize = 250;
constexpr int kSlotCount = 20;

struct Arrival {
  std::string text;
  Clock::time_point at;
};

// Takes every packet the receiver holds, stamped with the time of taking.
void collect(kw_multicast_recv* receiver, std::vector<Arrival>* into) {
  receiver->swapBuffers();
  while (const char* packet = receiver->getPacket()) into->push_back({packet, Clock::now()});
}

// Collects until `count` packets have arrived or `timeout` passed, looking
// every 5 ms so that arrival times are close to the real ones.
std::vector<Arrival> collectUntil(kw_multicast_recv* receiver, size_t count,
                                  std::chrono::milliseconds timeout) {
  std::vector<Arrival> arrivals;
  const auto deadline = Clock::now() + timeout;
  while (arrivals.size() < count && Clock::now() < deadline) {
    collect(receiver, &arrivals);
    std::this_thread::sleep_for(5ms);
  }
  return arrivals;
}

size_t packetLines(const std::string& out) {
  const std::vector<std::string> lines = completeLines(out);
  return lines.empty() ? 0 : lines.size() - 1;
}

std::string startLine(const char* group, int port) {
  char line[128];
  std::snprintf(line, sizeof line, "Sending to mcast adrs: %s and port number : %d ", group, port);
  return line;
}

class BeaconProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    receiver_.run(0);
  }
  void TearDown() override { receiver_.stop(); }

  // Sends `signalNumber` and expects the beacon to end with status 0.
  void expectCleanStop(ChildProcess* beacon, int signalNumber) {
    ASSERT_TRUE(beacon->signal(signalNumber));
    int status = -1;
    ASSERT_TRUE(beacon->waitExit(3s, &status)) << "the beacon did not stop";
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  kw_multicast_recv receiver_{kGroup, kPort, kSlotSize, kSlotCount};
};

// Checks one received packet: both checksums, node, a time of today's
// clock, and a position on the beacon's circle.
void expectValidPacket(const std::string& text, int node) {
  SCOPED_TRACE(text);
  kw_qnv_portHandler parser("check", kGroup, kPort, kSlotSize, 2, nullptr);
  char copy[kw_beacon::kTextSize];
  std::snprintf(copy, sizeof copy, "%s", text.c_str());
  char* first = nullptr;
  char* second = nullptr;
  EXPECT_EQ(parser.parsePacket_full(copy, &first, &second), node);
  ASSERT_NE(second, nullptr) << "checksum or envelope rejected";
  ASSERT_TRUE(parser.parsePacket_s1(first));
  ASSERT_TRUE(parser.parsePacket_s2(second));
  // Stamped at most a few seconds before now, as this machine's local time.
  EXPECT_NEAR(static_cast<double>(parser.utc1970_.time), static_cast<double>(kw::now().seconds),
              5.0);
  // Back to ddmm.mmmm: the distance from the centre is the radius.
  auto ddmm = [](double degrees) {
    const double whole = std::floor(degrees);
    return whole * 100.0 + (degrees - whole) * 60.0;
  };
  const double dLat = ddmm(parser.latitude_) - kw_beacon::kCentreLatitude;
  const double dLong = ddmm(-parser.longitude_) - kw_beacon::kCentreLongitude;
  EXPECT_NEAR(std::sqrt(dLat * dLat + dLong * dLong), kw_beacon::kRadius, 1e-3);
}

// The moment the beacon stamped into a packet's ZDA sentence, in
// milliseconds since 1970 (the sentence counts hundredths of a second).
int64_t stampedMs(const std::string& text) {
  kw_qnv_portHandler parser("check", kGroup, kPort, kSlotSize, 2, nullptr);
  char copy[kw_beacon::kTextSize];
  std::snprintf(copy, sizeof copy, "%s", text.c_str());
  char* first = nullptr;
  char* second = nullptr;
  parser.parsePacket_full(copy, &first, &second);
  if (first == nullptr || !parser.parsePacket_s1(first)) return -1;
  return int64_t{parser.utc1970_.time} * 1000 + parser.utc1970_.millitm;
}

// The gaps between the packets' stamps, in milliseconds: the beacon's own
// pace, whatever the receiving side's scheduling on a busy machine.
std::vector<int64_t> stampedGaps(const std::vector<Arrival>& arrivals) {
  std::vector<int64_t> gaps;
  for (size_t i = 1; i < arrivals.size(); ++i) {
    gaps.push_back(stampedMs(arrivals[i].text) - stampedMs(arrivals[i - 1].text));
  }
  return gaps;
}

int64_t median(std::vector<int64_t> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Every gap is at least the pause (the stamp is read before the pause; the
// stamps count hundredths), and most are not much more: a pause taken twice
// or a pause of its own per unit would double the median.
void expectPace(const std::vector<Arrival>& arrivals, int64_t pauseMs) {
  const std::vector<int64_t> gaps = stampedGaps(arrivals);
  for (size_t i = 0; i < gaps.size(); ++i)
    EXPECT_GE(gaps[i], pauseMs - 10) << "gap before packet " << i + 1;
  EXPECT_LT(median(gaps), 2 * pauseMs);
}

TEST_F(BeaconProcess, MulticastsNodesInTurnEveryQuarterSecondAndStopsOnSigterm) {
  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(kBeacon, {kBeacon, kGroup, "47001"}));

  const std::vector<Arrival> arrivals = collectUntil(&receiver_, 11, 10s);
  ASSERT_EQ(arrivals.size(), 11u);

  // Every packet was printed, line by line, while the beacon was running.
  ASSERT_TRUE(
      beacon.readOutUntil([](const std::string& out) { return packetLines(out) >= 11; }, 2s))
      << beacon.out();

  const int expectedNodes[] = {1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1};
  for (size_t i = 0; i < arrivals.size(); ++i)
    expectValidPacket(arrivals[i].text, expectedNodes[i]);

  // Every 250 ms, by the beacon's own stamps.
  expectPace(arrivals, 250);

  expectCleanStop(&beacon, SIGTERM);
  EXPECT_TRUE(beacon.err().empty()) << beacon.err();

  // The console shows the start line, then exactly the packets sent, in
  // order: the packet in hand at the signal was printed and sent too.
  std::this_thread::sleep_for(100ms);
  std::vector<Arrival> all = arrivals;
  collect(&receiver_, &all);
  const std::vector<std::string> lines = completeLines(beacon.out());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], startLine(kGroup, kPort));
  EXPECT_EQ(beacon.out().back(), '\n');
  ASSERT_EQ(lines.size() - 1, all.size()) << beacon.out();
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(lines[i + 1], all[i].text);
}

// Signalled just after a packet arrived, the beacon is pausing with the next
// packet built: that one is still printed and sent, then the loop ends.
TEST_F(BeaconProcess, SigintFinishesThePacketInHandThenStops) {
  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(kBeacon, {"nmea_beacon", kGroup, "47001"}));
  std::vector<Arrival> arrivals = collectUntil(&receiver_, 2, 5s);
  ASSERT_EQ(arrivals.size(), 2u);
  const auto signalled = Clock::now();
  expectCleanStop(&beacon, SIGINT);
  // It ends within one pass of the loop.
  EXPECT_LT(Clock::now() - signalled, 1s);

  std::this_thread::sleep_for(100ms);
  collect(&receiver_, &arrivals);
  ASSERT_EQ(arrivals.size(), 3u);
  expectValidPacket(arrivals[2].text, 3);
  const std::vector<std::string> lines = completeLines(beacon.out());
  ASSERT_EQ(lines.size(), 4u) << beacon.out();
  EXPECT_EQ(lines[3], arrivals[2].text);
}

// A group that is no IPv4 address or a port outside 1..65535 is named in
// one line on standard error, with status 1, before anything is sent.
TEST_F(BeaconProcess, BadGroupOrPortEndsWithOneLineAndStatusOne) {
  const struct {
    const char* group;
    const char* port;
    const char* line;
  } cases[] = {
      {"notanip", "47001", "nmea_beacon: group notanip: not an IPv4 address\n"},
      {"239.255.42", "47001", "nmea_beacon: group 239.255.42: not an IPv4 address\n"},
      {"300.1.1.1", "47001", "nmea_beacon: group 300.1.1.1: not an IPv4 address\n"},
      {kGroup, "0", "nmea_beacon: port 0: not a number from 1 to 65535\n"},
      {kGroup, "65537", "nmea_beacon: port 65537: not a number from 1 to 65535\n"},
      {kGroup, "no-port", "nmea_beacon: port no-port: not a number from 1 to 65535\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.group) + " " + c.port);
    ChildProcess beacon;
    ASSERT_TRUE(beacon.start(kBeacon, {"nmea_beacon", c.group, c.port}));
    int status = -1;
    ASSERT_TRUE(beacon.waitExit(3s, &status));
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(beacon.err(), c.line);
    EXPECT_EQ(beacon.out(), "");
  }
  std::this_thread::sleep_for(400ms);
  std::vector<Arrival> arrivals;
  collect(&receiver_, &arrivals);
  EXPECT_TRUE(arrivals.empty()) << arrivals.front().text;
}

// --nodes, --first and --interval: the units' numbers, the pace, and units
// an equal share of the circle apart.
TEST_F(BeaconProcess, OptionsChooseTheUnitsAndThePace) {
  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(
      kBeacon, {kBeacon, "--nodes", "3", "--first", "700", "--interval=100", kGroup, "47001"}));
  const std::vector<Arrival> arrivals = collectUntil(&receiver_, 9, 10s);
  ASSERT_EQ(arrivals.size(), 9u);
  const int expectedNodes[] = {701, 702, 700, 701, 702, 700, 701, 702, 700};
  std::vector<double> angles;
  for (size_t i = 0; i < arrivals.size(); ++i) {
    SCOPED_TRACE(arrivals[i].text);
    kw_qnv_portHandler parser("check", kGroup, kPort, kSlotSize, 2, nullptr);
    char copy[kw_beacon::kTextSize];
    std::snprintf(copy, sizeof copy, "%s", arrivals[i].text.c_str());
    char* first = nullptr;
    char* second = nullptr;
    EXPECT_EQ(parser.parsePacket_full(copy, &first, &second), expectedNodes[i]);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(parser.parsePacket_s2(second));
    auto ddmm = [](double degrees) {
      const double whole = std::floor(degrees);
      return whole * 100.0 + (degrees - whole) * 60.0;
    };
    angles.push_back(std::atan2(ddmm(parser.latitude_) - kw_beacon::kCentreLatitude,
                                ddmm(-parser.longitude_) - kw_beacon::kCentreLongitude));
  }
  // One packet to the next: a third of a turn further, plus the track's own
  // 0.0002 rad/ms over the time between the two stamps (hundredths: within
  // 10 ms).
  const std::vector<int64_t> gaps = stampedGaps(arrivals);
  for (size_t i = 1; i < angles.size(); ++i) {
    const double step = std::remainder(angles[i] - angles[i - 1] - 2 * M_PI / 3, 2 * M_PI);
    EXPECT_NEAR(step, kw_beacon::kAngularRate * static_cast<double>(gaps[i - 1]),
                kw_beacon::kAngularRate * 10 + 1e-4)
        << "packet " << i;
  }
  expectPace(arrivals, 100);
  expectCleanStop(&beacon, SIGTERM);
}

TEST_F(BeaconProcess, InterfaceOptionSendsThroughItOrNamesWhyNot) {
  {
    ChildProcess beacon;
    ASSERT_TRUE(beacon.start(kBeacon, {kBeacon, "--interface", "lo", kGroup, "47001"}));
    EXPECT_EQ(collectUntil(&receiver_, 2, 5s).size(), 2u);
    expectCleanStop(&beacon, SIGTERM);
    EXPECT_EQ(beacon.err(), "");
  }
  for (const char* interfaceName : {"kwnope0", "10.213.99.1"}) {
    ChildProcess beacon;
    ASSERT_TRUE(
        beacon.start(kBeacon, {"nmea_beacon", "--interface", interfaceName, kGroup, "47001"}));
    int status = -1;
    ASSERT_TRUE(beacon.waitExit(3s, &status));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(beacon.out(), "");
    EXPECT_EQ(completeLines(beacon.err()).size(), 1u) << beacon.err();
    EXPECT_EQ(beacon.err().rfind("nmea_beacon: ", 0), 0u) << beacon.err();
    EXPECT_NE(beacon.err().find(interfaceName), std::string::npos) << beacon.err();
  }
}

TEST_F(BeaconProcess, HelpAndVersionExitZero) {
  ChildProcess help;
  ASSERT_TRUE(help.start(kBeacon, {"nmea_beacon", "--help"}));
  int status = -1;
  ASSERT_TRUE(help.waitExit(3s, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const char* option : {"--nodes N", "--first K", "--interval MS", "--ttl N", "--interface X",
                             "--replay FILE", "--version", "--help"}) {
    EXPECT_NE(help.out().find(option), std::string::npos) << option;
  }
  ChildProcess version;
  ASSERT_TRUE(version.start(kBeacon, {"nmea_beacon", "--version"}));
  ASSERT_TRUE(version.waitExit(3s, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(version.out().rfind("nmea_beacon ", 0), 0u) << version.out();
}

TEST_F(BeaconProcess, WrongArgumentCountsPrintUsageAndSendNothing) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {"beacon-as-invoked"},
      {"beacon-as-invoked", kGroup},
      {"beacon-as-invoked", kGroup, "47001", "extra"}};
  for (const auto& args : argumentLists) {
    SCOPED_TRACE(args.size() - 1);
    ChildProcess beacon;
    ASSERT_TRUE(beacon.start(kBeacon, args));
    int status = -1;
    ASSERT_TRUE(beacon.waitExit(3s, &status));
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(beacon.err(), "usage: beacon-as-invoked <IPaddress> <portNum>\n");
    EXPECT_EQ(beacon.out(), "");
  }
  // A beacon would have sent its first packet a quarter second after start.
  std::this_thread::sleep_for(400ms);
  std::vector<Arrival> arrivals;
  collect(&receiver_, &arrivals);
  EXPECT_TRUE(arrivals.empty()) << arrivals.front().text;
}

}  // namespace
