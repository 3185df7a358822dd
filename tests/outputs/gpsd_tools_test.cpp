// The position server read by the gpsd clients users already run: gpspipe
// (a line dump) and cgps (a full-screen display, driven here inside tmux).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "outputs/GpsdServer.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace kw_out {
namespace {

NodeUpdate fix(int node, int64_t sec, double lat, double lon) {
  NodeUpdate u;
  u.node = node;
  u.name = "unit" + std::to_string(node);
  u.utcSec = sec;
  u.lat = lat;
  u.lon = lon;
  u.health = kHealthGood;
  u.neverHeard = false;
  return u;
}

// Publishes four nodes every 50 ms on its own thread, as the runner's ticks would.
class Feeder {
 public:
  explicit Feeder(GpsdServer* server)
      : thread_([this, server] {
          for (int64_t tick = 0; !stop_; ++tick) {
            for (int node = 1; node <= 4; ++node)
              server->publish(fix(node, 1700000000 + tick, 45.0 + node * 0.125, 7.0 + node * 0.25));
            std::this_thread::sleep_for(50ms);
          }
        }) {}
  ~Feeder() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

bool runs(const char* path) { return ::access(path, X_OK) == 0; }

class GpsdToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(server_.start("127.0.0.1", 0)) << server_.error();
  }
  std::string where() const { return "127.0.0.1:" + std::to_string(server_.port()); }
  GpsdServer server_;
};

TEST_F(GpsdToolsTest, GpspipeSeesEveryNode) {
  if (!runs("/usr/bin/gpspipe"))
    GTEST_SKIP() << "gpspipe is not installed (Debian package gpsd-clients)";
  Feeder feeder(&server_);
  kw_test::ChildProcess pipe;
  ASSERT_TRUE(pipe.start("/usr/bin/gpspipe", {"gpspipe", "-w", "-n", "40", where()}));
  int status = -1;
  ASSERT_TRUE(pipe.waitExit(20s, &status)) << pipe.out();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << pipe.err();
  std::set<std::string> devices;
  std::set<std::string> classes;
  int tpvs = 0;
  for (std::string line : kw_test::completeLines(pipe.out())) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const json j = json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    classes.insert(j["class"].get<std::string>());
    if (j["class"] == "TPV") {
      ++tpvs;
      devices.insert(j["device"].get<std::string>());
      EXPECT_EQ(j["mode"], 2);
    }
  }
  EXPECT_EQ(classes, (std::set<std::string>{"VERSION", "DEVICES", "WATCH", "TPV"})) << pipe.out();
  EXPECT_GE(tpvs, 30);
  EXPECT_EQ(devices, (std::set<std::string>{"node:1", "node:2", "node:3", "node:4"}));
}

TEST_F(GpsdToolsTest, CgpsShowsAFix) {
  if (!runs("/usr/bin/cgps")) GTEST_SKIP() << "cgps is not installed (Debian package gpsd-clients)";
  if (!runs("/usr/bin/tmux")) GTEST_SKIP() << "tmux is not installed; cgps needs a terminal";
  kw_test::TempDir dir;
  const std::string socket = dir.file("tmux.sock");
  const auto tmux = [&](std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), {"tmux", "-S", socket});
    kw_test::ChildProcess p;
    if (!p.start("/usr/bin/tmux", args)) return false;
    int status = -1;
    if (!p.waitExit(10s, &status)) return false;
    if (out != nullptr) *out = p.out();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  Feeder feeder(&server_);
  ASSERT_TRUE(tmux({"new-session", "-d", "-x", "100", "-y", "40", "cgps " + where()}));
  std::string screen;
  bool shown = false;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (!shown && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(200ms);
    if (!tmux({"capture-pane", "-p"}, &screen)) break;
    shown = screen.find("2D FIX") != std::string::npos;
    bool latitude = false;
    for (const char* lat : {"45.12500000 N", "45.25000000 N", "45.37500000 N", "45.50000000 N"})
      latitude = latitude || screen.find(lat) != std::string::npos;
    shown = shown && latitude;
  }
  tmux({"kill-server"});
  EXPECT_TRUE(shown) << "cgps screen:\n" << screen;
}

}  // namespace
}  // namespace kw_out
