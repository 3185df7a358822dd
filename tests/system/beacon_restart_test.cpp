// The beacon stops and starts again while the block keeps ticking at 10 Hz:
// with the default thresholds (2 s medium, 4 s bad) every node's health goes
// from good to medium to bad and back to good, each change at the tick where
// the node's idle time crosses the threshold.
#include <chrono>
#include <csignal>
#include <vector>

#include "platform/platform.h"
#include "tests/support/child_process.h"
#include "tests/system/system_fixture.h"

namespace {

using kw_test::SystemTest;
using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "239.255.43.3";
constexpr const char* kPortText = "47103";
constexpr int kNodes = 5;

class BeaconRestart : public SystemTest {
 protected:
  struct Sample {
    std::vector<NodeView> nodes;
  };

  // Ticks at 10 Hz until `done` holds for the last sample or `limit` passes.
  // True when it held.
  template <typename Done>
  bool tickUntil(Done done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      kw::Sleep(100);
      tick();
      Sample sample;
      for (int i = 0; i < kNodes; ++i) sample.nodes.push_back(view(i));
      samples_.push_back(sample);
      if (done(samples_.back())) return true;
    }
    return false;
  }

  static bool allHealth(const Sample& s, int health) {
    for (const NodeView& v : s.nodes) {
      if (v.health != health) return false;
    }
    return true;
  }

  bool startBeacon(kw_test::ChildProcess* beacon) {
    return beacon->start(KW_NMEA_BEACON_PATH, {"nmea_beacon", kGroup, kPortText});
  }

  std::vector<Sample> samples_;
};

TEST_F(BeaconRestart, HealthGoesGoodMediumBadGood) {
  startFeed("0\n1\n2\n3\n4\n", std::string("beacon ") + kGroup + " " + kPortText + "\n");
  ASSERT_EQ(sniffer_->ogm, 8 * kNodes);
  turn(true);

  kw_test::ChildProcess first;
  ASSERT_TRUE(startBeacon(&first));
  const auto good = [](const Sample& s) { return allHealth(s, 0); };
  ASSERT_TRUE(tickUntil(good, std::chrono::seconds(5))) << "nodes never became good";
  // A second of steady feed: nobody may fall behind.
  tickUntil([](const Sample&) { return false; }, std::chrono::seconds(1));

  ASSERT_TRUE(first.signal(SIGTERM));
  int status = 0;
  ASSERT_TRUE(first.waitExit(std::chrono::seconds(3), &status));
  const size_t stopped = samples_.size();
  ASSERT_TRUE(tickUntil([](const Sample& s) { return allHealth(s, 2); }, std::chrono::seconds(7)))
      << "nodes never became bad";

  kw_test::ChildProcess second;
  ASSERT_TRUE(startBeacon(&second));
  ASSERT_TRUE(tickUntil(good, std::chrono::seconds(5))) << "nodes never recovered";
  turn(false);

  for (int i = 0; i < kNodes; ++i) {
    // The run of distinct grades from the first good one on.
    std::vector<int> grades;
    size_t firstGood = samples_.size();
    for (size_t t = 0; t < samples_.size(); ++t) {
      const NodeView& v = samples_[t].nodes[i];
      if (firstGood == samples_.size() && v.health != 0) continue;
      if (firstGood == samples_.size()) firstGood = t;
      if (grades.empty() || grades.back() != v.health) {
        grades.push_back(v.health);
        // At each change to medium or bad, the idle time has just crossed
        // that grade's threshold: at or above it now, below it a tick ago.
        if (v.health == 1 || v.health == 2) {
          const double threshold = v.health == 1 ? 2.0 : 4.0;
          EXPECT_GE(v.idle, threshold) << "node " << i << " tick " << t;
          EXPECT_LT(samples_[t - 1].nodes[i].idle, threshold + 0.05)
              << "node " << i << " tick " << t;
          EXPECT_GE(t, stopped) << "node " << i << " fell behind while the beacon ran";
        }
      }
    }
    EXPECT_EQ(grades, (std::vector<int>{0, 1, 2, 0})) << "node " << i;
    EXPECT_EQ(samples_.back().nodes[i].id, i);
    EXPECT_LT(samples_.back().nodes[i].idle, 2.0) << "node " << i;
  }
}

}  // namespace
