// The position server read by the gpsd clients users already run, at 5,
// 128 and 1000 units: gpspipe (JSON reports and NMEA sentences), cgps (a
// full-screen display on libgps, driven here inside tmux, for every unit
// and for one), a python3-gps client loop, and gpspipe beside a thousand
// idle connections.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "outputs/GpsdServer.h"
#include "tests/outputs/tcp_client.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace kw_out {
namespace {

// Unit i sits at 45 + i/2000 N, 7 + i/2000 E: its place tells it apart.
constexpr double kStep = 0.0005;

NodeUpdate fix(int node, int64_t sec) {
  NodeUpdate u;
  u.node = node;
  u.name = "unit" + std::to_string(node);
  u.utcSec = sec;
  u.lat = 45.0 + node * kStep;
  u.lon = 7.0 + node * kStep;
  u.health = kHealthGood;
  u.neverHeard = false;
  return u;
}

// The unit whose latitude `lat` is, or -1.
int unitAt(double lat, int units) {
  const double k = (lat - 45.0) / kStep;
  const long long i = std::llround(k);
  return std::fabs(k - static_cast<double>(i)) < 1e-3 && i >= 0 && i < units ? static_cast<int>(i)
                                                                             : -1;
}

// Publishes `units` units on its own thread, each once a second, a tenth of
// them every 100 ms, as the runner's ticks would.
class Feeder {
 public:
  Feeder(GpsdServer* server, int units)
      : thread_([this, server, units] {
          for (int64_t round = 0; !stop_; ++round) {
            for (int node = static_cast<int>(round % 10); node < units; node += 10)
              server->publish(fix(node, 1700000000 + round / 10));
            std::this_thread::sleep_for(100ms);
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

  // Runs gpspipe with `args` until it has printed `lines` lines.
  std::vector<std::string> gpspipe(const std::vector<std::string>& args, int lines) {
    kw_test::ChildProcess pipe;
    std::vector<std::string> argv{"gpspipe"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"-n", std::to_string(lines), where()});
    EXPECT_TRUE(pipe.start("/usr/bin/gpspipe", argv));
    int status = -1;
    EXPECT_TRUE(pipe.waitExit(25s, &status)) << pipe.out();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << pipe.err();
    std::vector<std::string> out = kw_test::completeLines(pipe.out());
    for (std::string& line : out) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return out;
  }

  GpsdServer server_;
};

// cgps on a tmux screen: the latitude it shows once it shows a 2D fix, or
// NaN when it shows none within the time.
class Cgps {
 public:
  Cgps(const std::string& source) {
    socket_ = dir_.file("tmux.sock");
    started_ = tmux({"new-session", "-d", "-x", "100", "-y", "30", "cgps " + source});
  }
  ~Cgps() { tmux({"kill-server"}); }

  // Latitudes shown over `looks` screens (200 ms apart) once a fix shows.
  std::vector<double> latitudes(int looks) {
    std::vector<double> seen;
    const std::regex latitude("Latitude: +([0-9.]+) N");
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (started_ && std::chrono::steady_clock::now() < deadline && looks > 0) {
      std::this_thread::sleep_for(200ms);
      if (!tmux({"capture-pane", "-p"}, &screen_)) break;
      std::smatch m;
      if (screen_.find("2D FIX") == std::string::npos || !std::regex_search(screen_, m, latitude))
        continue;
      seen.push_back(std::stod(m[1].str()));
      --looks;
    }
    return seen;
  }
  const std::string& screen() const { return screen_; }

 private:
  bool tmux(std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), {"tmux", "-S", socket_});
    kw_test::ChildProcess p;
    if (!p.start("/usr/bin/tmux", args)) return false;
    int status = -1;
    if (!p.waitExit(10s, &status)) return false;
    if (out != nullptr) *out = p.out();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  kw_test::TempDir dir_;
  std::string socket_;
  std::string screen_;
  bool started_ = false;
};

#define KW_REQUIRE_CGPS()                                                                  \
  do {                                                                                     \
    if (!runs("/usr/bin/cgps")) GTEST_SKIP() << "cgps is not installed (gpsd-clients)";    \
    if (!runs("/usr/bin/tmux")) GTEST_SKIP() << "tmux is not installed; cgps needs a tty"; \
  } while (false)

// Plain cgps shows a fix whatever the number of units (libgps refused the
// device list of five and more and showed NO FIX for ever).
TEST_F(GpsdToolsTest, CgpsShowsAFixAtEveryFieldSize) {
  KW_REQUIRE_CGPS();
  for (const int units : {5, 128, 1000}) {
    Feeder feeder(&server_, units);
    Cgps cgps(where());
    const std::vector<double> shown = cgps.latitudes(2);
    ASSERT_EQ(shown.size(), 2u) << units << " units; cgps screen:\n" << cgps.screen();
    for (const double lat : shown) EXPECT_GE(unitAt(lat, units), 0) << units << " units: " << lat;
  }
}

// cgps host:port:node:N follows that unit alone among a thousand.
TEST_F(GpsdToolsTest, CgpsWithADeviceShowsThatUnitOnly) {
  KW_REQUIRE_CGPS();
  Feeder feeder(&server_, 1000);
  Cgps cgps(where() + ":node:777");
  const std::vector<double> shown = cgps.latitudes(6);
  ASSERT_EQ(shown.size(), 6u) << "cgps screen:\n" << cgps.screen();
  for (const double lat : shown) EXPECT_EQ(unitAt(lat, 1000), 777) << lat;
}

TEST_F(GpsdToolsTest, GpspipeSeesEveryOneOfAThousandUnits) {
  if (!runs("/usr/bin/gpspipe")) GTEST_SKIP() << "gpspipe is not installed (gpsd-clients)";
  Feeder feeder(&server_, 1000);
  std::set<std::string> classes, devices;
  for (const std::string& line : gpspipe({"-w"}, 2600)) {
    const json j = json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    classes.insert(j["class"].get<std::string>());
    if (j["class"] == "DEVICES") {
      EXPECT_EQ(j["devices"].size(), 1u) << line;
    }
    if (j["class"] != "TPV") continue;
    devices.insert(j["device"].get<std::string>());
    EXPECT_EQ(unitAt(j["lat"].get<double>(), 1000),
              std::stoi(j["device"].get<std::string>().substr(5)))
        << line;
  }
  EXPECT_EQ(classes, (std::set<std::string>{"VERSION", "DEVICES", "WATCH", "TPV"}));
  EXPECT_EQ(devices.size(), 1000u);
}

// gpspipe -r: NMEA sentences with correct checksums, at units' places.
TEST_F(GpsdToolsTest, GpspipeRawGetsNmeaSentences) {
  if (!runs("/usr/bin/gpspipe")) GTEST_SKIP() << "gpspipe is not installed (gpsd-clients)";
  Feeder feeder(&server_, 128);
  int sentences = 0;
  for (const std::string& line : gpspipe({"-r"}, 63)) {
    if (line.empty() || line[0] == '{') continue;  // the banner and the answers
    ASSERT_EQ(line[0], '$') << line;
    const size_t star = line.rfind('*');
    ASSERT_NE(star, std::string::npos) << line;
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
    EXPECT_EQ(std::stoul(line.substr(star + 1), nullptr, 16), sum) << line;
    // $GPGGA,hhmmss.ss,ddmm.mmmm,N,... and $GPRMC,hhmmss.ss,A,ddmm.mmmm,N,...
    std::vector<std::string> f;
    std::istringstream words(line.substr(0, star));
    for (std::string word; std::getline(words, word, ',');) f.push_back(word);
    ASSERT_TRUE(f[0] == "$GPGGA" || f[0] == "$GPRMC") << line;
    const std::string& text = f[0] == "$GPGGA" ? f[2] : f[3];
    const double lat = std::stod(text.substr(0, 2)) + std::stod(text.substr(2)) / 60.0;
    EXPECT_GE(unitAt(lat, 128), 0) << line;
    ++sentences;
  }
  EXPECT_GE(sentences, 58);
}

// A python3-gps client loop, as scripts written against gpsd's own Python
// module read it: every one of a thousand units comes through.
TEST_F(GpsdToolsTest, PythonGpsClientLoopSeesEveryUnit) {
  kw_test::TempDir dir;
  const std::string script = dir.write("watch.py", R"(import sys, time
try:
    import gps
except ImportError:
    print("SKIP"); sys.exit(0)
session = gps.gps(host=sys.argv[1], port=sys.argv[2], mode=gps.WATCH_ENABLE | gps.WATCH_JSON)
seen, deadline = set(), time.time() + 20
while len(seen) < int(sys.argv[3]) and time.time() < deadline:
    report = session.next()
    if report["class"] == "TPV" and report.get("mode", 0) >= 2:
        seen.add(report["device"])
print(len(seen))
)");
  if (!runs("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
  Feeder feeder(&server_, 1000);
  kw_test::ChildProcess python;
  ASSERT_TRUE(python.start("/usr/bin/python3", {"python3", script, "127.0.0.1",
                                                std::to_string(server_.port()), "1000"}));
  int status = -1;
  ASSERT_TRUE(python.waitExit(30s, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << python.err();
  if (python.out() == "SKIP\n") GTEST_SKIP() << "python3-gps is not installed";
  EXPECT_EQ(python.out(), "1000\n") << python.err();
}

// A thousand connections that never watch (the client limit) do not keep
// gpspipe out.
TEST_F(GpsdToolsTest, GpspipeIsServedBesideAThousandIdleConnections) {
  if (!runs("/usr/bin/gpspipe")) GTEST_SKIP() << "gpspipe is not installed (gpsd-clients)";
  std::vector<std::unique_ptr<kw_test::TcpClient>> idle;
  for (int i = 0; i < 1000; ++i) {
    idle.push_back(std::make_unique<kw_test::TcpClient>());
    ASSERT_TRUE(idle.back()->connect(server_.port())) << i;
  }
  ASSERT_TRUE(idle.back()->readUntil(
      [](const std::string& t) { return t.find("VERSION") != std::string::npos; }, 10s));
  Feeder feeder(&server_, 5);
  int tpvs = 0;
  for (const std::string& line : gpspipe({"-w"}, 20))
    tpvs += line.rfind("{\"class\":\"TPV\"", 0) == 0;
  EXPECT_GE(tpvs, 15);
  EXPECT_EQ(server_.stats().refused, 0u);
}

}  // namespace
}  // namespace kw_out
