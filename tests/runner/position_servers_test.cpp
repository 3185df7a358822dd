// flowhost's position servers end to end, inside the isolated network
// namespace: nmea_beacon multicasting five units and flowhost running
// examples/demo.json, read by the real clients: gpspipe (gpsd protocol,
// each unit its own device) and mosquitto_sub against a real mosquitto
// broker on a loopback port, restarted in the middle of the run; and two
// fleets with the same unit numbers, told apart by every output.
#include <gtest/gtest.h>
#include <httplib.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using kw_test::ChildProcess;
using kw_test::completeLines;
using kw_test::TempDir;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;
constexpr const char* kGpspipe = "/usr/bin/gpspipe";
constexpr const char* kBroker = "/usr/sbin/mosquitto";
constexpr const char* kSub = "/usr/bin/mosquitto_sub";
constexpr const char* kPasswd = "/usr/bin/mosquitto_passwd";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr int kBrokerPort = 18830;  // the namespace is this test's own

std::string demoDocument() { return std::string(kExamples) + "/demo.json"; }

bool installed(const char* path) { return ::access(path, X_OK) == 0; }

std::string hostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

// A topic of this flowhost's site (its host name unless --site says
// otherwise): "gpsfeed/<site>/<levels>".
std::string siteTopic(const std::string& levels, const std::string& site = hostName()) {
  return "gpsfeed/" + site + "/" + levels;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Runs a tool to its end; its exit status, -1 when it did not end.
int run(const char* path, const std::vector<std::string>& args) {
  ChildProcess tool;
  int status = 0;
  if (!tool.start(path, args) || !tool.waitExit(30s, &status)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PositionServers : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    dir_.enter();  // the sniffer's logFile.txt goes here
    ASSERT_TRUE(beacon_.start(kBeacon, {"nmea_beacon", "239.255.42.1", "47001"}));
  }
  void TearDown() override {
    int status = 0;
    if (flowhost_.signal(SIGTERM)) flowhost_.waitExit(15s, &status);
    if (beacon_.signal(SIGTERM)) beacon_.waitExit(5s, &status);
  }
  void stopFlowhost() {
    ASSERT_TRUE(flowhost_.signal(SIGTERM));
    int status = 0;
    ASSERT_TRUE(flowhost_.waitExit(15s, &status)) << flowhost_.err();
    ASSERT_TRUE(WIFEXITED(status)) << flowhost_.err();
    EXPECT_EQ(WEXITSTATUS(status), 0) << flowhost_.err();
  }

  TempDir dir_;
  ChildProcess beacon_;
  ChildProcess flowhost_;
};

// gpspipe -w against --gpsd: every one of the five units is a device of its
// own, with its position on the beacon's circle.
TEST_F(PositionServers, GpspipeSeesEveryUnitAsItsOwnDevice) {
  if (!installed(kGpspipe))
    GTEST_SKIP() << "gpspipe is not installed (Debian package gpsd-clients)";
  ASSERT_TRUE(flowhost_.start(
      kFlowhost, {"flowhost", "--table", "off", "--gpsd=127.0.0.1:0", demoDocument()}));
  std::smatch found;
  const std::regex listening("flowhost: gpsd server on port ([0-9]+)\n");
  ASSERT_TRUE(flowhost_.readOutUntil(
      [&](const std::string& out) { return std::regex_search(out, found, listening); }, 10s))
      << flowhost_.out() << flowhost_.err();
  const std::string where = "127.0.0.1:" + found[1].str();

  ChildProcess pipe;
  ASSERT_TRUE(pipe.start(kGpspipe, {"gpspipe", "-w", "-n", "30", where}));
  int status = -1;
  ASSERT_TRUE(pipe.waitExit(25s, &status)) << pipe.out();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << pipe.err();
  std::map<std::string, int> tpvs;
  for (std::string line : completeLines(pipe.out())) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const Json j = Json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    if (j["class"] != "TPV") continue;
    ++tpvs[j["device"].get<std::string>()];
    EXPECT_GE(j["lat"].get<double>(), 35.25) << line;
    EXPECT_LE(j["lat"].get<double>(), 35.93) << line;
    EXPECT_GE(j["lon"].get<double>(), -115.78) << line;
    EXPECT_LE(j["lon"].get<double>(), -115.10) << line;
  }
  std::set<std::string> devices;
  for (const auto& [device, n] : tpvs) devices.insert(device);
  EXPECT_EQ(devices, (std::set<std::string>{"node:0", "node:1", "node:2", "node:3", "node:4"}))
      << pipe.out();
  stopFlowhost();
}

// A mosquitto broker on 127.0.0.1:kBrokerPort without persistence, so a
// restart forgets every retained message.
// `listener`: the listener's settings after its line; anonymous clients by
// default.
class Broker {
 public:
  explicit Broker(const TempDir& dir, const std::string& listener = "allow_anonymous true\n") {
    const passwd* me = ::getpwuid(::geteuid());
    conf_ = dir.write("mosquitto.conf",
                      "per_listener_settings true\nlistener " + std::to_string(kBrokerPort) +
                          " 127.0.0.1\n" + listener +
                          "persistence false\nlog_dest stderr\nlog_type error\n" +
                          (me != nullptr ? "user " + std::string(me->pw_name) + "\n" : ""));
  }
  bool start() {
    process_ = std::make_unique<ChildProcess>();
    return process_->start(kBroker, {"mosquitto", "-c", conf_});
  }
  void stop() {
    int status = 0;
    process_->signal(SIGTERM);
    process_->waitExit(10s, &status);
    process_.reset();
  }

 private:
  std::string conf_;
  std::unique_ptr<ChildProcess> process_;
};

// A late subscriber's retained messages under "gpsfeed/#": topic -> payload;
// tries for up to `timeout` until `count` topics came.
// `login`: mosquitto_sub's options for a broker that wants more.
std::map<std::string, Json> retained(size_t count, std::chrono::seconds timeout,
                                     const std::vector<std::string>& login = {}) {
  std::map<std::string, Json> got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    got.clear();
    ChildProcess sub;
    std::vector<std::string> args{"mosquitto_sub",
                                  "-h",
                                  "127.0.0.1",
                                  "-p",
                                  std::to_string(kBrokerPort),
                                  "-t",
                                  "gpsfeed/#",
                                  "-v",
                                  "-C",
                                  std::to_string(count),
                                  "-W",
                                  "2"};
    args.insert(args.end(), login.begin(), login.end());
    if (!sub.start(kSub, args)) break;
    int status = 0;
    sub.waitExit(10s, &status);
    for (const std::string& line : completeLines(sub.out())) {
      const size_t space = line.find(' ');
      if (space != std::string::npos) {
        got[line.substr(0, space)] = Json::parse(line.substr(space + 1), nullptr, false);
      }
    }
    if (got.size() < count) std::this_thread::sleep_for(500ms);
  }
  return got;
}

// --mqtt: each unit's retained OwnTracks-style location under its name and
// the port's counters, seen by a late mosquitto_sub; after the broker is
// restarted (forgetting everything) the runner reconnects on its own and
// every unit is there again.
TEST_F(PositionServers, MosquittoSubSeesEveryUnitAlsoAfterABrokerRestart) {
  if (!installed(kBroker)) GTEST_SKIP() << "mosquitto is not installed (Debian package mosquitto)";
  if (!installed(kSub))
    GTEST_SKIP() << "mosquitto_sub is not installed (Debian package mosquitto-clients)";
  Broker broker(dir_);
  ASSERT_TRUE(broker.start());
  ASSERT_TRUE(
      flowhost_.start(kFlowhost, {"flowhost", "--table", "off", "--mqtt",
                                  "127.0.0.1:" + std::to_string(kBrokerPort), demoDocument()}));
  const std::string status = "gpsfeed/status/" + hostName();
  const std::set<std::string> topics{siteTopic("unit0"),
                                     siteTopic("unit1"),
                                     siteTopic("unit2"),
                                     siteTopic("unit3"),
                                     siteTopic("unit4"),
                                     siteTopic("feeds/beacon"),
                                     status};
  auto check = [&](const std::map<std::string, Json>& got) {
    std::set<std::string> seen;
    for (const auto& [topic, payload] : got) {
      seen.insert(topic);
      ASSERT_TRUE(payload.is_object()) << topic;
      if (topic == siteTopic("feeds/beacon")) {
        EXPECT_GT(payload["taken"].get<int>(), 0);
        continue;
      }
      if (topic == status) {
        EXPECT_EQ(payload["state"], "online") << payload;
        continue;
      }
      EXPECT_EQ(payload["_type"], "location") << payload;
      EXPECT_GE(payload["lat"].get<double>(), 35.25) << payload;
      EXPECT_LE(payload["lon"].get<double>(), -115.10) << payload;
      EXPECT_GT(payload["tst"].get<long long>(), 1600000000) << payload;
      EXPECT_EQ(payload["health"], 0) << payload;
    }
    EXPECT_EQ(seen, topics);
  };
  // The port's counters go out once a second, the units' fixes each tick:
  // the retained counters may still be those from before the first packet
  // when every unit is already there, so the fetch is repeated until the
  // port has taken some in (or the time is up).
  auto settled = [](size_t count, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::map<std::string, Json> got;
    do {
      got = retained(count, timeout);
      const auto port = got.find(siteTopic("feeds/beacon"));
      if (port != got.end() && port->second.is_object() && port->second.value("taken", 0) > 0) {
        break;
      }
    } while (std::chrono::steady_clock::now() < deadline);
    return got;
  };
  check(settled(topics.size(), 15s));

  broker.stop();
  std::this_thread::sleep_for(2s);  // the runner goes on without a broker
  ASSERT_TRUE(broker.start());
  check(settled(topics.size(), 20s));
  stopFlowhost();
  // Each change is said once as it happens, however many attempts failed
  // while the broker was away.
  const std::string& said = flowhost_.err();
  EXPECT_EQ(count(said, "flowhost: mqtt connected to 127.0.0.1:18830\n"), 1u) << said;
  ASSERT_EQ(count(said, "flowhost: mqtt lost: "), 1u) << said;
  EXPECT_EQ(count(said, "flowhost: mqtt back: connected to 127.0.0.1:18830 again\n"), 1u) << said;
  // The failed attempts while the broker was away are no news: it stays
  // lost until it is back. (A refusal before the first connection may come
  // when the broker was slower to listen than flowhost to try.)
  EXPECT_EQ(count(said.substr(said.find("flowhost: mqtt lost: ")), "flowhost: mqtt refused"), 0u)
      << said;
  // A clean stop says goodbye in the retained status.
  const auto after = retained(1, 10s);
  ASSERT_TRUE(after.count(status)) << status;
  EXPECT_EQ(after.at(status)["state"], "offline");
  EXPECT_EQ(after.at(status)["reason"], "stopped");
}

// A broker that wants a login over TLS (its certificate self-signed here):
// --mqtt-user, --mqtt-password-file and --mqtt-tls reach it; a wrong
// password is said once with the broker's reason; a flowhost that dies
// leaves "offline" as its last will; the units' health events are sent as
// they happen.
TEST_F(PositionServers, MosquittoWithLoginAndTlsGetsUnitsEventsAndTheLastWill) {
  if (!installed(kBroker)) GTEST_SKIP() << "mosquitto is not installed (Debian package mosquitto)";
  if (!installed(kSub))
    GTEST_SKIP() << "mosquitto_sub is not installed (Debian package mosquitto-clients)";
  if (!installed(kPasswd))
    GTEST_SKIP() << "mosquitto_passwd is not installed (Debian package mosquitto)";
  if (!installed(kOpenssl)) GTEST_SKIP() << "openssl is not installed (Debian package openssl)";
  const std::string cert = dir_.file("broker.crt");
  const std::string key = dir_.file("broker.key");
  ASSERT_EQ(run(kOpenssl, {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                           key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                           "subjectAltName=IP:127.0.0.1"}),
            0);
  const std::string passwords = dir_.file("passwords");
  ASSERT_EQ(run(kPasswd, {"mosquitto_passwd", "-c", "-b", passwords, "fieldops", "s3cret"}), 0);
  Broker broker(dir_, "allow_anonymous false\npassword_file " + passwords + "\ncertfile " + cert +
                          "\nkeyfile " + key + "\n");
  ASSERT_TRUE(broker.start());
  const std::vector<std::string> login{"--cafile", cert, "-u", "fieldops", "-P", "s3cret"};
  const std::string wrong = dir_.write("wrong.pw", "guess\n");
  const std::string right = dir_.write("right.pw", "s3cret\n");
  auto flowhostWith = [&](const std::string& passwordFile) {
    return std::vector<std::string>{"flowhost",
                                    "--table",
                                    "off",
                                    "--mqtt",
                                    "127.0.0.1:" + std::to_string(kBrokerPort),
                                    "--mqtt-tls",
                                    cert,
                                    "--mqtt-user",
                                    "fieldops",
                                    "--mqtt-password-file",
                                    passwordFile,
                                    demoDocument()};
  };

  ASSERT_TRUE(flowhost_.start(kFlowhost, flowhostWith(wrong)));
  ASSERT_TRUE(flowhost_.readErrUntil(
      [](const std::string& err) { return err.find("not authorised") != std::string::npos; }, 15s))
      << flowhost_.err();
  std::this_thread::sleep_for(2500ms);  // attempts go on, unsaid
  stopFlowhost();
  // Told once, however many attempts were refused (a "Connection refused"
  // before it may come when the broker was slower to listen).
  EXPECT_EQ(count(flowhost_.err(), "refused the connection: Connection Refused: not authorised"),
            1u)
      << flowhost_.err();

  ASSERT_TRUE(flowhost_.start(kFlowhost, flowhostWith(right)));
  const std::string status = "gpsfeed/status/" + hostName();
  const auto got = retained(7, 15s, login);
  EXPECT_EQ(got.size(), 7u);
  ASSERT_TRUE(got.count(siteTopic("unit3"))) << flowhost_.err();
  EXPECT_EQ(got.at(siteTopic("unit3"))["_type"], "location");
  ASSERT_TRUE(got.count(status));
  EXPECT_EQ(got.at(status)["state"], "online");

  // The units fall silent: each one's health event comes as it happens.
  ChildProcess events;
  std::vector<std::string> subArgs{"mosquitto_sub",
                                   "-h",
                                   "127.0.0.1",
                                   "-p",
                                   std::to_string(kBrokerPort),
                                   "-t",
                                   "gpsfeed/events/#",
                                   "-v",
                                   "-C",
                                   "5",
                                   "-W",
                                   "15"};
  subArgs.insert(subArgs.end(), login.begin(), login.end());
  ASSERT_TRUE(events.start(kSub, subArgs));
  std::this_thread::sleep_for(500ms);
  int exited = 0;
  ASSERT_TRUE(beacon_.signal(SIGTERM));
  beacon_.waitExit(5s, &exited);
  ASSERT_TRUE(events.waitExit(20s, &exited));
  std::set<std::string> went;
  for (const std::string& line : completeLines(events.out())) {
    const size_t space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << line;
    const Json e = Json::parse(line.substr(space + 1), nullptr, false);
    EXPECT_EQ(e["event"], "health") << line;
    EXPECT_EQ(e["to"], "medium") << line;
    went.insert(line.substr(0, space));
  }
  const std::string unitEvents = "gpsfeed/events/" + hostName() + "/";
  EXPECT_EQ(went,
            (std::set<std::string>{unitEvents + "unit0", unitEvents + "unit1", unitEvents + "unit2",
                                   unitEvents + "unit3", unitEvents + "unit4"}))
      << events.out();

  // Killed, the flowhost cannot say goodbye: the broker says it for it.
  ASSERT_TRUE(flowhost_.signal(SIGKILL));
  flowhost_.waitExit(10s, &exited);
  bool offline = false;
  for (int attempt = 0; attempt < 20 && !offline; ++attempt) {
    const auto now = retained(7, 2s, login);
    offline = now.count(status) && now.at(status)["state"] == "offline";
  }
  const auto last = retained(7, 2s, login);
  ASSERT_TRUE(last.count(status));
  EXPECT_EQ(last.at(status)["state"], "offline");
  EXPECT_EQ(last.at(status)["reason"], "connection lost");
}

// Two fleets that number their units alike (0 to 4, each fleet's beacon on
// its own group, both ports named "beacon"): every output shows ten units,
// each named by fleet and number, and two ports.
TEST_F(PositionServers, TwoFleetsWithTheSameNumbersAreTenUnitsInEveryOutput) {
  ChildProcess southBeacon;
  ASSERT_TRUE(southBeacon.start(kBeacon, {"nmea_beacon", "239.255.42.2", "47002"}));
  const std::string nodes =
      dir_.write("units.nod", "0 unit0\n1 unit1\n2 unit2\n3 unit3\n4 unit4\n");
  const std::string north = dir_.write("north.mcp", "beacon 239.255.42.1 47001\n");
  const std::string south = dir_.write("south.mcp", "beacon 239.255.42.2 47002\n");
  const bool mqtt = installed(kBroker) && installed(kSub);
  Broker broker(dir_);
  if (mqtt) {
    ASSERT_TRUE(broker.start());
  }
  std::vector<std::string> args = {"flowhost",
                                   "--fleet",
                                   "north=" + nodes + "," + north,
                                   "--fleet",
                                   "south=" + nodes + "," + south,
                                   "--table",
                                   "plain",
                                   "--every",
                                   "2",
                                   "--json",
                                   dir_.file("units.jsonl"),
                                   "--gpx",
                                   dir_.file("units.gpx"),
                                   "--geojson",
                                   dir_.file("units.geojson"),
                                   "--gpsd=127.0.0.1:0",
                                   "--http=127.0.0.1:18080"};
  if (mqtt) {
    args.insert(args.end(),
                {"--mqtt", "127.0.0.1:" + std::to_string(kBrokerPort), "--site", "yard"});
  }
  ASSERT_TRUE(flowhost_.start(kFlowhost, args));
  std::smatch found;
  const std::regex listening("flowhost: gpsd server on port ([0-9]+)\n");
  ASSERT_TRUE(flowhost_.readOutUntil(
      [&](const std::string& out) { return std::regex_search(out, found, listening); }, 10s))
      << flowhost_.out() << flowhost_.err();
  const std::string gpsd = "127.0.0.1:" + found[1].str();

  std::set<std::string> units, labels;  // "north/3"; "north/unit3"
  for (const char* fleet : {"north", "south"}) {
    for (int n = 0; n < 5; ++n) {
      units.insert(std::string(fleet) + "/" + std::to_string(n));
      labels.insert(std::string(fleet) + "/unit" + std::to_string(n));
    }
  }
  // The web view's state, once every unit was heard: each unit is
  // [key, name, node, feed, health, lat, lon, ...].
  httplib::Client web("127.0.0.1", 18080);
  std::set<std::string> shown, keys;
  for (int attempt = 0; attempt < 40 && shown != labels; ++attempt) {
    std::this_thread::sleep_for(250ms);
    shown.clear();
    keys.clear();
    const httplib::Result state = web.Get("/state");
    if (!state || state->status != 200) continue;
    const Json body = Json::parse(state->body, nullptr, false);
    if (!body.is_object() || !body["units"].is_array()) continue;
    for (const Json& unit : body["units"]) {
      if (unit.size() > 5 && unit[5].is_number()) {
        shown.insert(unit[1].get<std::string>());
        keys.insert(unit[0].get<std::string>());
      }
    }
  }
  EXPECT_EQ(shown, labels) << "web state";
  EXPECT_EQ(keys.size(), labels.size()) << "web state keys";
  std::set<std::string> devices;
  if (installed(kGpspipe)) {
    ChildProcess pipe;
    ASSERT_TRUE(pipe.start(kGpspipe, {"gpspipe", "-w", "-n", "40", gpsd}));
    int status = -1;
    ASSERT_TRUE(pipe.waitExit(20s, &status)) << pipe.out();
    for (const std::string& line : completeLines(pipe.out())) {
      const Json j = Json::parse(line, nullptr, false);
      if (j.is_object() && j["class"] == "TPV") devices.insert(j["device"].get<std::string>());
    }
    std::set<std::string> expected;
    for (const std::string& unit : units) expected.insert("node:" + unit);
    EXPECT_EQ(devices, expected) << pipe.out();
  }
  std::set<std::string> topics;
  if (mqtt) {
    // The units, the two ports and this flowhost's status.
    for (const auto& [topic, payload] : retained(labels.size() + 3, 15s)) topics.insert(topic);
    std::set<std::string> expected{siteTopic("feeds/north/beacon", "yard"),
                                   siteTopic("feeds/south/beacon", "yard"), "gpsfeed/status/yard"};
    for (const std::string& label : labels) expected.insert(siteTopic(label, "yard"));
    EXPECT_EQ(topics, expected);
  }
  stopFlowhost();
  southBeacon.signal(SIGTERM);

  std::set<std::string> jsonUnits, ports;
  std::ifstream lines(dir_.file("units.jsonl"));
  for (std::string line; std::getline(lines, line);) {
    const Json j = Json::parse(line);
    if (j["class"] == "NODE") {
      jsonUnits.insert(j["fleet"].get<std::string>() + "/" + std::to_string(j["node"].get<int>()));
    }
    if (j["class"] == "PORT")
      ports.insert(j["fleet"].get<std::string>() + "/" + j["port"].get<std::string>());
  }
  EXPECT_EQ(jsonUnits, units);
  EXPECT_EQ(ports, (std::set<std::string>{"north/beacon", "south/beacon"}));
  std::set<std::string> tracks, features;
  std::ifstream gpx(dir_.file("units.gpx"));
  const std::regex name("<name>([^<]*)</name>");
  for (std::string line; std::getline(gpx, line);) {
    if (std::regex_search(line, found, name)) tracks.insert(found[1].str());
  }
  EXPECT_EQ(tracks, labels);
  std::ifstream geojson(dir_.file("units.geojson"));
  std::stringstream geo;
  geo << geojson.rdbuf();
  const Json collection = Json::parse(geo.str());
  for (const Json& f : collection["features"]) {
    const Json& p = f["properties"];
    features.insert(p["fleet"].get<std::string>() + "/" + std::to_string(p["node"].get<int>()));
  }
  EXPECT_EQ(features, units);
  // The last plain table: a line per unit, led by its fleet.
  const std::vector<std::string> out = completeLines(flowhost_.out());
  std::set<std::string> rows;
  const std::regex row("^[0-9]+ (north|south) +([0-4]) ");
  for (const std::string& line : out) {
    if (std::regex_search(line, found, row)) rows.insert(found[1].str() + "/" + found[2].str());
  }
  EXPECT_EQ(rows, units) << flowhost_.out();
  if (!installed(kGpspipe) || !mqtt) {
    GTEST_SKIP() << "checked JSON lines, GPX, GeoJSON, table and web state; not "
                 << (installed(kGpspipe) ? "" : "gpsd (gpspipe is not installed) ")
                 << (mqtt ? "" : "MQTT (mosquitto or mosquitto_sub is not installed)");
  }
}

}  // namespace
