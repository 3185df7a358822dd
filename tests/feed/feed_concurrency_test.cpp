// Ports of the feed started and stopped at random (all together, one at a
// time, twice in a row, the port file reread) while two real nmea_beacon
// processes send and the host's side services the ports between the steps,
// with the trace log open for part of the time so that the receive threads
// take the log's lock too. Afterwards every node holds in-order values of a
// packet the beacons really sent, no receive thread, socket or event is left
// behind, and nothing hung. Meant to run under ThreadSanitizer as well.
// Runs inside the isolated network namespace (loopback only).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/platform.h"
#include "tests/feed/beacon_track.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/process_counts.h"
#include "tests/support/temp_dir.h"

namespace {

using kw_test::openFileCount;
using kw_test::settledThreadCount;
using kw_test::threadCount;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kSharedGroup = "239.255.42.21";  // two port-file lines listen here
constexpr int kSharedPort = 47031;
constexpr const char* kOtherGroup = "239.255.42.22";
constexpr int kOtherPort = 47032;
constexpr int kBeaconNodes = 5;
constexpr auto kChurn = 3s;           // how long ports are started and stopped at random
constexpr auto kLogOpenFor = 1500ms;  // the first part of it with the trace log in use

// Aborts the process, with a message, when the test is still running after
// `limit`: a hang shows up as a named failure well before the CTest time-out
// (the beacons then die of SIGPIPE at their next line).
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, const char* what)
      : thread_([this, limit, what] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: %s still running after %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

class FeedConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    portFile_ = dir_.write(
        "churn.mcp", std::string("sharedA ") + kSharedGroup + " " + std::to_string(kSharedPort) +
                         "\nsharedB " + kSharedGroup + " " + std::to_string(kSharedPort) +
                         "\nother " + kOtherGroup + " " + std::to_string(kOtherPort) + "\n");
    ASSERT_TRUE(list_.readPortFile(portFile_.c_str()));
    ASSERT_TRUE(list_.readNodeFile(dir_.write("churn.nod", "0\n1\n2\n3\n4\n").c_str()));
    ASSERT_EQ(list_.portCount(), 3u);
    ASSERT_TRUE(beacons_[0].start(kBeacon, {kBeacon, kSharedGroup, std::to_string(kSharedPort)}));
    // Half a pause later, so that the two beacons' packets interleave.
    std::this_thread::sleep_for(125ms);
    ASSERT_TRUE(beacons_[1].start(kBeacon, {kBeacon, kOtherGroup, std::to_string(kOtherPort)}));
  }
  void TearDown() override {
    list_.stopAll();
    olog->close();
  }

  // The block's clock edge: service every port, then check every node that
  // took a packet: never older than before, and on the beacons' track. Its
  // values are kept to be matched with the beacons' output at the end.
  void serviceAndCheck() {
    list_.serviceAll();
    for (unsigned i = 0; i < list_.nodeCount(); ++i) {
      const kw_qnv_nodeHandler* node = list_.getNode(i);
      if (!node->updated_) continue;
      const kw_test::HeldValues held = kw_test::HeldValues::of(*node);
      ASSERT_GE(held.nodeId, 0);
      ASSERT_LT(held.nodeId, kBeaconNodes);
      EXPECT_TRUE(kw_test::notOlder(held.utc1970, last_[held.nodeId]))
          << "node " << held.nodeId << " went back to " << held.utcString;
      EXPECT_TRUE(kw_test::onBeaconTrack(held));
      last_[held.nodeId] = held.utc1970;
      ++updates_[held.nodeId];
      seen_.push_back(held);
      list_.clearUpdated(i);
    }
  }

  // Which ports run, by the handlers and by their receivers, matches
  // `expected`, and exactly one receive thread runs per group and port that
  // a running port listens on (the two shared lines share one).
  void expectRunning(const std::array<bool, 3>& expected, const char* step) {
    SCOPED_TRACE(step);
    for (unsigned k = 0; k < 3; ++k) {
      kw_qnv_portHandler* port = list_.getPort(k);
      ASSERT_NE(port, nullptr);
      EXPECT_EQ(port->isRunning(), expected[k]) << "port " << k;
      EXPECT_EQ(port->receiver()->isRunning(), expected[k]) << "port " << k;
    }
    const size_t receptions = (expected[0] || expected[1] ? 1 : 0) + (expected[2] ? 1 : 0);
    EXPECT_EQ(settledThreadCount(baseThreads_ + receptions), baseThreads_ + receptions);
  }

  template <typename Step>
  void timed(Step step) {
    const auto start = Clock::now();
    step();
    slowestStop_ = std::max(slowestStop_, Clock::now() - start);
  }

  kw_test::TempDir dir_;
  std::string portFile_;
  kw_qnv_handlerList list_{250, 20};
  std::array<kw_test::ChildProcess, 2> beacons_;
  size_t baseThreads_ = 0;
  std::array<kw::_timeb, kBeaconNodes> last_{};
  std::array<int, kBeaconNodes> updates_{};
  std::vector<kw_test::HeldValues> seen_;
  Clock::duration slowestStop_{};
};

TEST_F(FeedConcurrency, PortsStartAndStopWhileTheBeaconsSend) {
  Watchdog watchdog(60s, "FeedConcurrency.PortsStartAndStopWhileTheBeaconsSend");
  // Measured with the watchdog's thread (and any sanitizer helper thread)
  // already there and before any port ran.
  baseThreads_ = threadCount();
  const size_t baseFiles = openFileCount();
  const std::string logPath = dir_.file("logFile.txt");

  std::mt19937 random(20240611);
  // Steps by kind: runAll, runAll twice, stopAll, run one port, run one port
  // twice, stop one port, reread the port file. Starts outweigh stops, so
  // that ports run most of the time and packets keep arriving.
  std::discrete_distribution<unsigned> nextStep({3, 2, 1, 3, 2, 3, 1});
  std::array<bool, 3> running{};
  std::array<int, 7> stepCounts{};
  list_.runAll();
  running.fill(true);
  ASSERT_EQ(olog->open("%s", logPath.c_str()), 1);
  const auto start = Clock::now();
  // The log, while receive threads may be writing: open from the start,
  // closed softly for a moment, reopened for appending, then closed.
  int logPhase = 0;
  while (Clock::now() - start < kChurn) {
    const auto elapsed = Clock::now() - start;
    if (logPhase == 0 && elapsed >= kLogOpenFor / 3) {
      olog->closeSoft();
      logPhase = 1;
    } else if (logPhase == 1 && elapsed >= kLogOpenFor / 2) {
      ASSERT_EQ(olog->open("%s", logPath.c_str()), 1);
      logPhase = 2;
    } else if (logPhase == 2 && elapsed >= kLogOpenFor) {
      olog->close();
      logPhase = 3;
    }
    const unsigned step = nextStep(random);
    const unsigned k = random() % 3;
    ++stepCounts[step];
    switch (step) {
      case 0:
        list_.runAll();
        running.fill(true);
        expectRunning(running, "runAll");
        break;
      case 1:
        list_.runAll();
        list_.runAll();  // while running: no second thread, no lost one
        running.fill(true);
        expectRunning(running, "runAll twice");
        break;
      case 2:
        timed([&] { list_.stopAll(); });
        running.fill(false);
        expectRunning(running, "stopAll");
        break;
      case 3:
        list_.getPort(k)->run();
        running[k] = true;
        expectRunning(running, "run one port");
        break;
      case 4:
        list_.getPort(k)->run();
        list_.getPort(k)->run();
        running[k] = true;
        expectRunning(running, "run one port twice");
        break;
      case 5:
        timed([&] { list_.getPort(k)->stop(); });
        running[k] = false;
        expectRunning(running, "stop one port");
        break;
      case 6:
        // Destroys the ports, running ones included, and builds them anew.
        timed([&] { ASSERT_TRUE(list_.readPortFile(portFile_.c_str())); });
        running.fill(false);
        expectRunning(running, "reread the port file");
        break;
    }
    if (HasFatalFailure()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    serviceAndCheck();
  }
  if (logPhase < 3) olog->close();
  std::ostringstream steps;
  for (int count : stepCounts) steps << ' ' << count;
  SCOPED_TRACE("steps taken by kind:" + steps.str());
  RecordProperty("steps", steps.str());
  RecordProperty("valuesDuringChurn", static_cast<int>(seen_.size()));
  for (int count : stepCounts) EXPECT_GT(count, 0);

  // Stopping never waited on anything: a join and the 10 ms pause at most.
  EXPECT_LT(slowestStop_, 1s);

  // After all that, the feed still works: every node takes packets again.
  list_.runAll();
  running.fill(true);
  expectRunning(running, "final runAll");
  updates_.fill(0);
  const auto finalEnd = Clock::now() + 10s;
  bool everyNode = false;
  while (!everyNode && Clock::now() < finalEnd) {
    std::this_thread::sleep_for(250ms);
    serviceAndCheck();
    everyNode = true;
    for (int count : updates_) everyNode = everyNode && count > 0;
  }
  EXPECT_TRUE(everyNode);

  // Stopped, nothing is left: no receive thread, no socket, no event.
  timed([&] { list_.stopAll(); });
  running.fill(false);
  expectRunning(running, "final stopAll");
  EXPECT_EQ(openFileCount(), baseFiles);

  // Every value any node held is that of a packet the beacons sent for it.
  std::string printed;
  for (kw_test::ChildProcess& beacon : beacons_) {
    ASSERT_TRUE(beacon.signal(SIGTERM));
    int status = -1;
    ASSERT_TRUE(beacon.waitExit(3s, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    printed += beacon.out();
  }
  ASSERT_FALSE(seen_.empty());
  for (const kw_test::HeldValues& held : seen_) {
    EXPECT_TRUE(kw_test::holdsBeaconPacket(held, printed));
  }

  // The log took lines from the receive threads and from this thread, and
  // every packet line is whole: no line was mixed with another.
  const std::string log = kw_test::readFile(logPath);
  size_t packetLines = 0;
  std::istringstream lines(log);
  std::string line;
  kw_qnv_portHandler checker("check", kSharedGroup, kSharedPort, 250, 1, nullptr);
  while (std::getline(lines, line)) {
    if (line.find("String is") == std::string::npos) continue;
    ++packetLines;
    const std::string head = " -----   String is |";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    ASSERT_EQ(line.back(), '|') << line;
    std::string packet = line.substr(head.size(), line.size() - head.size() - 1);
    char* first = nullptr;
    char* second = nullptr;
    const int node = checker.parsePacket_full(packet.data(), &first, &second);
    EXPECT_NE(second, nullptr) << line;
    EXPECT_TRUE(node >= 0 && node < kBeaconNodes) << line;
  }
  RecordProperty("loggedPackets", static_cast<int>(packetLines));
  EXPECT_GT(packetLines, 0u);
  EXPECT_NE(log.find("kw_multicast_recv::runingThread in process "), std::string::npos);
  EXPECT_NE(log.find("In kw_qnv_portHandler::service() running is "), std::string::npos);
}

}  // namespace
