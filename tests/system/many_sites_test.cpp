// Many sites on one screen, end to end inside the isolated network
// namespace: a mosquitto broker that wants a login over TLS (its
// certificate made here), three site flowhosts (quick start, a fleet each,
// 200 units on two ports fed by nmea_beacon processes of their own,
// publishing with --mqtt and --site) and one centre (--mqtt-in) writing
// JSON lines and serving the web view, read in headless Chromium.
// Node numbers are the same at every site and two sites name their fleet
// alike, so only the site tells those units apart.
// The centre must show all 600 units; a site killed with SIGKILL goes
// offline and its 200 units bad within the bad threshold plus 2 s, and
// come back when it is started again; a restarted broker brings everything
// back without restarting any flowhost.
// Skipped, with the reason, when mosquitto, mosquitto_passwd, openssl or
// Chromium is missing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/headless_browser.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using kw_test::ChildProcess;
using kw_test::HeadlessBrowser;
using kw_test::TempDir;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kBroker = "/usr/sbin/mosquitto";
constexpr const char* kPasswd = "/usr/bin/mosquitto_passwd";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr int kBrokerPort = 18841;  // the namespace is this test's own
constexpr int kHttpPort = 8093;
constexpr int kUnitsPerSite = 200;
constexpr auto kBad = 4s;  // the centre's bad threshold (its default)

// Each site: its name, its fleet's name (two sites share one) and the
// first of its two multicast groups.
struct Site {
  const char* name;
  const char* fleet;
  int group;
};
constexpr Site kSites[] = {{"yard", "north", 1}, {"dock", "north", 3}, {"mill", "south", 5}};

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

// Runs a tool to its end; its exit status, -1 when it did not end.
int run(const char* path, const std::vector<std::string>& args) {
  ChildProcess tool;
  int status = 0;
  if (!tool.start(path, args) || !tool.waitExit(30s, &status)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool brokerListens() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kBrokerPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

fs::path artifacts() {
  const char* binary = std::getenv("KW_BINARY_DIR");
  const fs::path dir = fs::path(binary != nullptr ? binary : ".") / "artifacts";
  fs::create_directories(dir);
  return dir;
}

// The centre's JSON lines, read as the file grows, each with the moment the
// test first saw it.
class CentreLines {
 public:
  struct Line {
    Clock::time_point seen;
    Json json;
  };
  explicit CentreLines(std::string path) : path_(std::move(path)) {}

  void read() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = chunk.rfind('\n');
    if (end == std::string::npos) return;
    offset_ += end + 1;
    const auto now = Clock::now();
    for (const std::string& text : kw_test::completeLines(chunk.substr(0, end + 1))) {
      Json j = Json::parse(text, nullptr, false);
      EXPECT_TRUE(j.is_object()) << "not a JSON object: " << text;
      if (j.is_object()) lines_.push_back({now, std::move(j)});
    }
  }
  size_t size() const { return lines_.size(); }
  // The lines of `kind` ("NODE", "SITE", ...) from index `from` on.
  std::vector<const Line*> of(const std::string& kind, size_t from = 0) const {
    std::vector<const Line*> found;
    for (size_t i = from; i < lines_.size(); ++i)
      if (lines_[i].json.value("class", "") == kind) found.push_back(&lines_[i]);
    return found;
  }

 private:
  std::string path_;
  uint64_t offset_ = 0;
  std::vector<Line> lines_;
};

using UnitKey = std::tuple<std::string, std::string, int>;  // site, fleet, node

UnitKey keyOf(const Json& j) {
  return {j.value("site", ""), j.value("fleet", ""), j.value("node", -1)};
}

class ManySites : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    for (const char* tool : {kBroker, kPasswd, kOpenssl})
      if (!installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
    if (!fs::exists(HeadlessBrowser::kChromium))
      GTEST_SKIP() << HeadlessBrowser::kChromium
                   << " is not installed (scripts/setup installs chromium)";
    dir_.enter();  // the sniffers' trace logs, were they on, would go here
    std::string why;
    if (!browser_.start(dir_.file("profile"), 1280, 860, &why))
      GTEST_SKIP() << "headless chromium cannot run here: " << why;

    cert_ = dir_.file("broker.crt");
    const std::string key = dir_.file("broker.key");
    ASSERT_EQ(run(kOpenssl, {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                             key, "-out", cert_, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                             "subjectAltName=IP:127.0.0.1"}),
              0);
    const std::string passwords = dir_.file("passwords");
    ASSERT_EQ(run(kPasswd, {"mosquitto_passwd", "-c", "-b", passwords, "fieldops", "s3cret"}), 0);
    password_ = dir_.write("fieldops.pw", "s3cret\n");
    const passwd* me = ::getpwuid(::geteuid());
    // No persistence: a restarted broker has forgotten every retained
    // message and every session.
    brokerConf_ = dir_.write(
        "mosquitto.conf", "listener " + std::to_string(kBrokerPort) +
                              " 127.0.0.1\nallow_anonymous false\n" + "password_file " + passwords +
                              "\ncertfile " + cert_ + "\nkeyfile " + key +
                              "\npersistence false\nlog_dest stderr\nlog_type error\n" +
                              (me != nullptr ? "user " + std::string(me->pw_name) + "\n" : ""));
    startBroker();

    std::string nodes;
    for (int n = 0; n < kUnitsPerSite; ++n)
      nodes += std::to_string(n) + " unit" + std::to_string(n) + "\n";
    dir_.write("units.nod", nodes);
    for (const Site& site : kSites) {
      std::string ports;
      for (int k = 0; k < 2; ++k) {
        const std::string group = "239.255.46." + std::to_string(site.group + k);
        const std::string port = std::to_string(47400 + site.group + k);
        ports += std::string(site.name) + "-" + std::to_string(k) + " " + group + " " + port + "\n";
        // Half the units each, every unit about once a second.
        beacons_.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(beacons_.back()->start(
            "/bin/sh", {"sh", "-c", "exec \"$0\" \"$@\" >/dev/null", kBeacon, "--nodes",
                        std::to_string(kUnitsPerSite / 2), "--first",
                        std::to_string(k * kUnitsPerSite / 2), group, port}));
      }
      dir_.write(std::string(site.name) + ".mcp", ports);
    }
    for (const Site& site : kSites) startSite(site);

    centreJson_ = dir_.file("centre.jsonl");
    centre_ = std::make_unique<ChildProcess>();
    ASSERT_TRUE(centre_->start(
        kFlowhost, withLogin({"flowhost", "--mqtt-in", "127.0.0.1:" + std::to_string(kBrokerPort),
                              "--table", "off", "--json", centreJson_,
                              "--http=127.0.0.1:" + std::to_string(kHttpPort)})));
    lines_ = std::make_unique<CentreLines>(centreJson_);
  }

  void TearDown() override {
    int status = 0;
    for (auto* p : {&centre_, &sites_[0], &sites_[1], &sites_[2]})
      if (*p && (*p)->signal(SIGTERM)) (*p)->waitExit(15s, &status);
    for (auto& beacon : beacons_)
      if (beacon->signal(SIGTERM)) beacon->waitExit(5s, &status);
    if (broker_ && broker_->signal(SIGTERM)) broker_->waitExit(10s, &status);
  }

  std::vector<std::string> withLogin(std::vector<std::string> args) const {
    for (const std::string& a :
         {std::string("--mqtt-user"), std::string("fieldops"), std::string("--mqtt-password-file"),
          password_, std::string("--mqtt-tls"), cert_})
      args.push_back(a);
    return args;
  }

  void startBroker() {
    broker_ = std::make_unique<ChildProcess>();
    ASSERT_TRUE(broker_->start(kBroker, {"mosquitto", "-c", brokerConf_}));
    ASSERT_TRUE(until([] { return brokerListens(); }, 10s)) << broker_->err();
  }

  void startSite(const Site& site) {
    const size_t i = static_cast<size_t>(&site - kSites);
    sites_[i] = std::make_unique<ChildProcess>();
    ASSERT_TRUE(sites_[i]->start(
        kFlowhost, withLogin({"flowhost", "--fleet",
                              std::string(site.fleet) + "=units.nod," + site.name + ".mcp",
                              "--table", "off", "--trace", "off", "--mqtt",
                              "127.0.0.1:" + std::to_string(kBrokerPort), "--site", site.name})));
  }

  // Keeps every flowhost's pipes drained and reads the centre's new lines,
  // until `done` holds or `timeout` passes.
  bool until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      for (auto* p : {&centre_, &sites_[0], &sites_[1], &sites_[2]}) {
        if (!*p || (*p)->pid() < 0) continue;
        // (At least 2 ms: a shorter wait rounds down to none and reads nothing.)
        (*p)->readOutUntil([](const std::string&) { return false; }, 2ms);
        (*p)->readErrUntil([](const std::string&) { return false; }, 2ms);
      }
      if (lines_) lines_->read();
      if (done()) return true;
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(50ms);
    }
  }

  // Distinct units of NODE lines from line `from` on (of `site` only when
  // given) whose health is `health` (any when -1).
  std::set<UnitKey> units(size_t from, const std::string& site = "", int health = -1) const {
    std::set<UnitKey> found;
    for (const auto* line : lines_->of("NODE", from)) {
      if (!site.empty() && line->json.value("site", "") != site) continue;
      if (health >= 0 && line->json.value("health", -1) != health) continue;
      found.insert(keyOf(line->json));
    }
    return found;
  }

  // The latest state each site's SITE lines gave from line `from` on.
  std::map<std::string, std::string> siteStates(size_t from) const {
    std::map<std::string, std::string> states;
    for (const auto* line : lines_->of("SITE", from))
      states[line->json.value("site", "")] = line->json.value("state", "");
    return states;
  }

  // True when the latest SITE line of every site, and only of the three, says online.
  bool allOnline() const {
    return siteStates(0) == std::map<std::string, std::string>{
                                {"dock", "online"}, {"mill", "online"}, {"yard", "online"}};
  }

  // The first SITE line of `site` in `state` from line `from` on; null when none.
  Json siteLine(size_t from, const std::string& site, const std::string& state) const {
    for (const auto* line : lines_->of("SITE", from))
      if (line->json.value("site", "") == site && line->json.value("state", "") == state)
        return line->json;
    return nullptr;
  }

  // Units of `site` (every site but it when `others`) told bad by a health
  // EVENT line from line `from` on.
  std::set<UnitKey> wentBad(size_t from, const std::string& site, bool others = false) const {
    std::set<UnitKey> found;
    for (const auto* line : lines_->of("EVENT", from)) {
      const Json& e = line->json;
      if (e.value("event", "") != "health" || e.value("to", "") != "bad") continue;
      if ((e.value("site", "") == site) != others) found.insert(keyOf(e));
    }
    return found;
  }

  std::string outputLines(size_t from) const {
    std::string text;
    for (const auto* line : lines_->of("OUTPUT", from)) text += line->json.dump() + "\n";
    return text;
  }

  std::string shownStatus() {
    const Json s = browser_.evaluate("document.getElementById('status').textContent");
    return s.is_string() ? s.get<std::string>() : s.dump();
  }

  // What the centre and the sites said, the last lines of each.
  std::string said() const {
    auto tail = [](const std::string& text) {
      return text.size() > 1500 ? "..." + text.substr(text.size() - 1500) : text;
    };
    std::string text = "centre: " + tail(centre_->out() + centre_->err());
    for (size_t i = 0; i < 3; ++i)
      if (sites_[i])
        text +=
            std::string("\n") + kSites[i].name + ": " + tail(sites_[i]->out() + sites_[i]->err());
    return text;
  }

  TempDir dir_;
  HeadlessBrowser browser_;
  std::string cert_, password_, brokerConf_, centreJson_;
  std::unique_ptr<ChildProcess> broker_;
  std::vector<std::unique_ptr<ChildProcess>> beacons_;
  std::unique_ptr<ChildProcess> sites_[3];
  std::unique_ptr<ChildProcess> centre_;
  std::unique_ptr<CentreLines> lines_;
};

TEST_F(ManySites, SixHundredUnitsOfThreeSitesThroughASiteKilledAndTheBrokerRestarted) {
  // Every unit of every site, told apart by site, fleet and node.
  ASSERT_TRUE(until([&] { return units(0, "", 0).size() == 3u * kUnitsPerSite; }, 40s))
      << units(0).size() << " units at the centre\n"
      << said();
  std::set<std::string> sitesSeen;
  for (const auto& [site, fleet, node] : units(0)) sitesSeen.insert(site);
  EXPECT_EQ(sitesSeen, (std::set<std::string>{"dock", "mill", "yard"}));
  EXPECT_EQ(units(0).size(), 3u * kUnitsPerSite) << "units the sites never had";
  ASSERT_TRUE(until([&] { return allOnline(); }, 10s)) << said();
  for (const auto* line : lines_->of("NODE")) {
    const Json& j = line->json;
    if (j.value("site", "") == "dock" && j.value("node", -1) == 7) {
      EXPECT_EQ(j.value("fleet", ""), "north");
      EXPECT_EQ(j.value("name", ""), "unit7");
      break;
    }
  }

  // The same on the web view: 600 units, each under its site's name.
  std::string why;
  const std::string url = "http://127.0.0.1:" + std::to_string(kHttpPort) + "/";
  ASSERT_TRUE(browser_.open(url, &why)) << why;
  ASSERT_TRUE(browser_.waitFor("document.body.dataset.ready === '1'", 15s))
      << "the centre's web view never drew its first state";
  EXPECT_TRUE(
      browser_.waitFor("document.getElementById('status').textContent.startsWith("
                       "'live · 600 units: 600 good')",
                       15s))
      << shownStatus();
  const std::string sitesAndBroker =
      " · 3 sites · broker 127.0.0.1:" + std::to_string(kBrokerPort) + " connected";
  EXPECT_TRUE(browser_.waitFor(
      "document.getElementById('status').textContent.endsWith('" + sitesAndBroker + "')", 5s))
      << shownStatus();
  EXPECT_EQ(browser_.evaluate("new Set(model.units.map(u => u.name)).size"), Json(600));
  EXPECT_EQ(browser_.evaluate("model.units.some(u => u.name === 'dock/north/unit7') && "
                              "model.units.some(u => u.name === 'yard/north/unit7')"),
            Json(true));
  EXPECT_TRUE(browser_.screenshot((artifacts() / "sites-600.png").string(), &why)) << why;

  // A site dies without a goodbye: the broker's last will takes it offline,
  // and with it every one of its units, within the bad threshold plus 2 s.
  size_t mark = lines_->size();
  const auto killed = Clock::now();
  ASSERT_TRUE(sites_[1]->signal(SIGKILL));
  int exited = 0;
  ASSERT_TRUE(sites_[1]->waitExit(5s, &exited));
  const bool down = until(
      [&] { return siteStates(mark)["dock"] == "offline" && wentBad(mark, "dock").size() == 200u; },
      std::chrono::duration_cast<std::chrono::milliseconds>(kBad + 2s - (Clock::now() - killed)));
  EXPECT_TRUE(down) << "after " << (Clock::now() - killed) / 1ms << " ms: dock "
                    << siteStates(mark)["dock"] << ", " << wentBad(mark, "dock").size()
                    << " of its units bad\n"
                    << said();
  std::cout << "site killed: offline and its units bad at the centre "
            << (Clock::now() - killed) / 1ms << " ms after SIGKILL\n";
  EXPECT_TRUE(wentBad(mark, "dock", true).empty()) << "a unit of another site went bad";
  const Json offline = siteLine(mark, "dock", "offline");
  EXPECT_EQ(offline.value("reason", ""), "connection lost") << offline;
  EXPECT_EQ(offline.value("units", 0), kUnitsPerSite) << offline;
  EXPECT_TRUE(browser_.waitFor(
      "document.getElementById('status').textContent.includes(': 400 good · 0 medium · 200 bad')",
      5s))
      << shownStatus();
  EXPECT_TRUE(
      browser_.waitFor("document.getElementById('status').textContent.includes("
                       "' · 3 sites (1 offline) · ') && model.sites.some(s => s[0] === "
                       "'dock' && s[1] === 'offline' && s[3] === 200)",
                       5s))
      << shownStatus() << browser_.evaluate("JSON.stringify(model.sites)");

  // Started again, it is back online with every unit good.
  mark = lines_->size();
  const auto restartedSite = Clock::now();
  startSite(kSites[1]);
  EXPECT_TRUE(until(
      [&] {
        return siteStates(mark)["dock"] == "online" &&
               units(mark, "dock", 0).size() == static_cast<size_t>(kUnitsPerSite);
      },
      20s))
      << siteStates(mark)["dock"] << ", " << units(mark, "dock", 0).size() << " units good\n"
      << said();
  // Its clock was measured against the centre's: the same machine's, so
  // the skew is within the link's delay of none.
  const Json online = siteLine(mark, "dock", "online");
  ASSERT_TRUE(online.is_object()) << said();
  EXPECT_TRUE(online["skew"].is_number() && std::abs(online["skew"].get<double>()) < 0.5) << online;
  std::cout << "site restarted: online with every unit good "
            << (Clock::now() - restartedSite) / 1ms << " ms after it was started\n";
  EXPECT_TRUE(browser_.waitFor(
      "document.getElementById('status').textContent.startsWith('live · 600 units: 600 good')",
      10s))
      << shownStatus();

  // The broker restarted on the same port has forgotten everything: the
  // sites and the centre reconnect by themselves and every unit comes back.
  mark = lines_->size();
  broker_->signal(SIGTERM);
  ASSERT_TRUE(broker_->waitExit(10s, &exited));
  std::this_thread::sleep_for(1s);
  startBroker();
  const auto restarted = Clock::now();
  EXPECT_TRUE(until(
      [&] {
        for (const auto* line : lines_->of("OUTPUT", mark))
          if (line->json.value("output", "") == "mqtt-in" &&
              line->json.value("state", "") == "back")
            return true;
        return false;
      },
      20s))
      << "the centre never said it was back on the broker; its OUTPUT lines: " << outputLines(0)
      << "\n"
      << said();
  EXPECT_TRUE(until([&] { return units(mark, "", 0).size() == 3u * kUnitsPerSite; }, 20s))
      << units(mark, "", 0).size() << " units good after the restart\n"
      << said();
  EXPECT_TRUE(until([&] { return allOnline(); }, 10s)) << said();
  EXPECT_TRUE(browser_.waitFor(
      "document.getElementById('status').textContent.startsWith('live · 600 units: 600 good') && "
      "document.getElementById('status').textContent.endsWith('" +
          sitesAndBroker + "')",
      10s))
      << shownStatus();
  std::cout << "broker restart: every unit good again " << (Clock::now() - restarted) / 1ms
            << " ms after the broker listened\n";
  for (auto& site : sites_) EXPECT_FALSE(site->waitExit(0ms, &exited)) << "a site ended";
  EXPECT_FALSE(centre_->waitExit(0ms, &exited)) << "the centre ended\n" << said();
}

}  // namespace
