// The MQTT publisher against a real mosquitto broker on a loopback port,
// read with mosquitto_sub: retained positions under the site for late
// subscribers, a broker that starts late, a broker restarted in the middle
// of a run, events that wait for the broker, and --mqtt-rate.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "outputs/MqttPublisher.h"
#include "outputs/OutputSet.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace kw_out {
namespace {

constexpr const char* kBroker = "/usr/sbin/mosquitto";
constexpr const char* kSub = "/usr/bin/mosquitto_sub";

NodeUpdate fix(int node, std::string name, int64_t sec, double lat) {
  NodeUpdate u;
  u.node = node;
  u.name = std::move(name);
  u.feed = "com1";
  u.utcSec = sec;
  u.lat = lat;
  u.lon = 8.5;
  u.health = kHealthGood;
  u.neverHeard = false;
  return u;
}

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(fd);
  return ntohs(sa.sin_port);
}

// The wall clock as the payloads write it: "2026-12-09T22:10:32.250Z".
std::string isoNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  const std::time_t sec = ms / 1000;
  std::tm tm{};
  ::gmtime_r(&sec, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

bool until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A mosquitto broker on 127.0.0.1:port without persistence: a restart
// forgets every retained message.
class Broker {
 public:
  // `persistent`: sessions and their queued messages survive a restart.
  Broker(const kw_test::TempDir& dir, int port, bool persistent = false) : port_(port) {
    const passwd* me = ::getpwuid(::geteuid());
    const std::string persistence = persistent
                                        ? "persistence true\npersistence_location " +
                                              dir.path().string() + "/\nmax_queued_messages 20000\n"
                                        : "persistence false\n";
    conf_ = dir.write("mosquitto.conf",
                      "listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\n" +
                          persistence + "log_dest stderr\nlog_type error\n" +
                          (me != nullptr ? "user " + std::string(me->pw_name) + "\n" : ""));
  }
  bool start() {
    process_ = std::make_unique<kw_test::ChildProcess>();
    if (!process_->start(kBroker, {"mosquitto", "-c", conf_})) return false;
    return until([this] { return accepts(); }, 10s);
  }
  void stop() {
    int status = 0;
    process_->signal(SIGTERM);
    process_->waitExit(10s, &status);
    process_.reset();
  }

 private:
  bool accepts() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port_));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
  }
  int port_;
  std::string conf_;
  std::unique_ptr<kw_test::ChildProcess> process_;
};

// Subscribes late to "<prefix>/#" and collects `count` retained messages:
// topic -> payload.
std::map<std::string, json> retained(int port, const std::string& prefix, int count) {
  std::map<std::string, json> got;
  for (int attempt = 0; attempt < 10 && static_cast<int>(got.size()) < count; ++attempt) {
    got.clear();
    kw_test::ChildProcess sub;
    if (!sub.start(kSub, {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-t",
                          prefix + "/#", "-v", "-C", std::to_string(count), "-W", "2"}))
      break;
    int status = 0;
    sub.waitExit(10s, &status);
    for (const std::string& line : kw_test::completeLines(sub.out())) {
      const size_t space = line.find(' ');
      if (space != std::string::npos)
        got[line.substr(0, space)] = json::parse(line.substr(space + 1), nullptr, false);
    }
  }
  return got;
}

class MqttTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    if (::access(kBroker, X_OK) != 0)
      GTEST_SKIP() << "mosquitto is not installed (Debian package mosquitto)";
    if (::access(kSub, X_OK) != 0)
      GTEST_SKIP() << "mosquitto_sub is not installed (Debian package mosquitto-clients)";
    port_ = freePort();
    broker_ = std::make_unique<Broker>(dir_, port_);
  }
  // --mqtt to this test's broker, under `prefix`, as site "yard".
  OutputOptions options(const std::string& prefix) const {
    OutputOptions o;
    o.mqtt = "127.0.0.1:" + std::to_string(port_);
    o.mqttPrefix = prefix;
    o.site = "yard";
    return o;
  }
  kw_test::TempDir dir_;
  int port_ = 0;
  std::unique_ptr<Broker> broker_;
};

TEST_F(MqttTest, LateSubscriberSeesEveryUnitAndFeedUnderTheSite) {
  ASSERT_TRUE(broker_->start());
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("127.0.0.1", port_, "fleet/site1", "yard")) << mqtt.error();
  ASSERT_TRUE(until([&] { return mqtt.stats().connected; }, 10s)) << mqtt.stats().lastError;
  const std::string before = isoNow();
  NodeUpdate never;
  never.node = 9;
  mqtt.publishNode(never);
  mqtt.publishNode(fix(7, "truck/7", 1700000000, 47.25));
  mqtt.publishNode(fix(2, "", 1700000001, 47.5));
  mqtt.publishNode(fix(2, "", 1700000002, 47.75));
  NodeUpdate north = fix(2, "", 1700000003, 46.5);
  north.fleet = "north";
  mqtt.publishNode(north);
  mqtt.publishPort({"com1", 12, 1, 2, 3, 4, "", "", ""});
  const std::string after = isoNow();

  // Three units, the port and the status.
  const auto got = retained(port_, "fleet/site1", 5);
  ASSERT_EQ(got.size(), 5u);
  ASSERT_TRUE(got.count("fleet/site1/yard/truck_7")) << "reserved characters of names are replaced";
  const json& truck = got.at("fleet/site1/yard/truck_7");
  EXPECT_EQ(truck["_type"], "location");
  EXPECT_EQ(truck["name"], "truck/7");
  EXPECT_EQ(truck["site"], "yard");
  // "sent" is this machine's clock when the message was made, not the fix's.
  ASSERT_TRUE(truck["sent"].is_string()) << truck;
  EXPECT_GE(truck["sent"].get<std::string>(), before);
  EXPECT_LE(truck["sent"].get<std::string>(), after);
  ASSERT_TRUE(got.count("fleet/site1/yard/2"));
  EXPECT_DOUBLE_EQ(got.at("fleet/site1/yard/2")["lat"].get<double>(), 47.75)
      << "the latest position is retained";
  EXPECT_EQ(got.at("fleet/site1/yard/2")["tst"], 1700000002);
  ASSERT_TRUE(got.count("fleet/site1/yard/north/2")) << "the same number in another fleet";
  EXPECT_EQ(got.at("fleet/site1/yard/north/2")["fleet"], "north");
  ASSERT_TRUE(got.count("fleet/site1/yard/feeds/com1"));
  const json& port = got.at("fleet/site1/yard/feeds/com1");
  EXPECT_EQ(port["site"], "yard");
  EXPECT_EQ(port["taken"], 12);
  EXPECT_EQ(port["older"], 4);
  ASSERT_TRUE(got.count("fleet/site1/status/yard"));
  EXPECT_EQ(got.at("fleet/site1/status/yard")["state"], "online");
  EXPECT_EQ(mqtt.stats().dropped, 0u);
}

TEST_F(MqttTest, BrokerStartingLateGetsTheLatestState) {
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("127.0.0.1", port_, "fleet")) << mqtt.error();
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) mqtt.publishNode(fix(1, "a", 1000 + i, i * 0.25));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms) << "an absent broker holds nothing up";
  ASSERT_TRUE(until([&] { return !mqtt.stats().lastError.empty(); }, 5s));
  EXPECT_FALSE(mqtt.stats().connected);
  EXPECT_NE(mqtt.stats().lastError.find("cannot connect to the MQTT broker 127.0.0.1:" +
                                        std::to_string(port_)),
            std::string::npos)
      << mqtt.stats().lastError;
  EXPECT_EQ(mqtt.stats().dropped, 100u);

  ASSERT_TRUE(broker_->start());
  ASSERT_TRUE(until([&] { return mqtt.stats().connected; }, 10s)) << mqtt.stats().lastError;
  // Each change of the connection's state is told once, however many
  // attempts failed: refused with its reason, then connected.
  std::vector<OutputStateChange> changes;
  mqtt.takeStateChanges(&changes);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].state, OutputStateChange::State::Refused);
  EXPECT_NE(changes[0].reason.find("Connection refused"), std::string::npos) << changes[0].reason;
  EXPECT_EQ(changes[1].state, OutputStateChange::State::Connected);
  const auto got = retained(port_, "fleet", 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_DOUBLE_EQ(got.at("fleet/a")["lat"].get<double>(), 99 * 0.25);
}

TEST_F(MqttTest, BrokerRestartMidRun) {
  ASSERT_TRUE(broker_->start());
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("127.0.0.1", port_, "fleet")) << mqtt.error();
  ASSERT_TRUE(until([&] { return mqtt.stats().connected; }, 10s)) << mqtt.stats().lastError;
  for (int node = 1; node <= 3; ++node) mqtt.publishNode(fix(node, "", 1000, node));
  ASSERT_EQ(retained(port_, "fleet", 3).size(), 3u);

  broker_->stop();
  ASSERT_TRUE(until([&] { return !mqtt.stats().connected; }, 10s));
  ASSERT_TRUE(until([&] { return mqtt.stats().lastError.find("lost") != std::string::npos; }, 5s))
      << mqtt.stats().lastError;
  auto slowest = std::chrono::steady_clock::duration::zero();
  for (int tick = 1; tick <= 100; ++tick) {
    for (int node = 1; node <= 3; ++node) {
      const auto t0 = std::chrono::steady_clock::now();
      mqtt.publishNode(fix(node, "", 1000 + tick, node + tick * 0.01));
      slowest = std::max(slowest, std::chrono::steady_clock::now() - t0);
    }
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_LT(slowest, 50ms) << "publishing waited for the broker";
  EXPECT_GE(mqtt.stats().dropped, 300u);

  const auto quietSince = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(300ms);
  const std::string restarted = isoNow();
  const double outage =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - quietSince).count();
  ASSERT_TRUE(broker_->start());
  ASSERT_TRUE(until([&] { return mqtt.stats().connections >= 2; }, 10s)) << mqtt.stats().lastError;
  // The restarted broker forgot everything; the publisher sent every unit's
  // latest position again.
  const auto got = retained(port_, "fleet", 3);
  ASSERT_EQ(got.size(), 3u);
  for (int node = 1; node <= 3; ++node) {
    const json& unit = got.at("fleet/" + std::to_string(node));
    EXPECT_DOUBLE_EQ(unit["lat"].get<double>(), node + 1.0) << node;
    // Sent again now, not when the broker was away (a centre that measures
    // the site's clock by "sent" would count the outage as skew), and idle
    // for as long as it waited: "sent" less "idle" is still the moment the
    // unit was last heard, or a centre would take a unit gone quiet for
    // one just heard.
    EXPECT_GE(unit["sent"].get<std::string>(), restarted) << unit;
    EXPECT_GE(unit["idle"].get<double>(), outage) << unit;
  }

  mqtt.publishNode(fix(2, "", 5000, -12.5));
  ASSERT_TRUE(until(
      [&] {
        const auto now = retained(port_, "fleet", 3);
        return now.count("fleet/2") && now.at("fleet/2")["lat"] == -12.5;
      },
      10s))
      << "publishing goes on after the reconnection";
}

// A broker name that does not resolve is said with the resolver's reason,
// not only the library's "Lookup error.".
TEST_F(MqttTest, AnUnknownHostIsRefusedWithTheResolversReason) {
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("no-such-broker.invalid", port_, "fleet")) << mqtt.error();
  ASSERT_TRUE(until([&] { return !mqtt.stats().lastError.empty(); }, 10s));
  EXPECT_NE(mqtt.stats().lastError.find("no-such-broker.invalid:" + std::to_string(port_) +
                                        ": look up 'no-such-broker.invalid': "),
            std::string::npos)
      << mqtt.stats().lastError;
  std::vector<OutputStateChange> changes;
  mqtt.takeStateChanges(&changes);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].state, OutputStateChange::State::Refused);
}

// Through the output set: a unit whose health changes without a new fix
// has its retained state brought up to date.
TEST_F(MqttTest, HealthChangeWithoutAFixUpdatesTheRetainedState) {
  ASSERT_TRUE(broker_->start());
  OutputSet set;
  ASSERT_TRUE(set.open(options("site"))) << set.error();
  ASSERT_TRUE(until([&] { return set.stats().mqttConnected; }, 10s)) << set.stats().mqttError;
  NodeUpdate u = fix(3, "van", 1000, 46.0);
  set.tick({u});
  u.health = kHealthBad;
  u.idleSec = 31;
  set.tick({u});
  set.counters({{"com1", 5, 0, 0, 0, 0, "", "", ""}});
  ASSERT_TRUE(until(
      [&] {
        // The unit, the port and this flowhost's status.
        const auto got = retained(port_, "site", 3);
        return got.count("site/yard/van") && got.at("site/yard/van")["health_text"] == "bad" &&
               got.count("site/yard/feeds/com1");
      },
      10s));
}

// Two fleets may name a port alike: its events go to a topic of each
// fleet, under the site, as its counters do, not to one shared topic.
TEST_F(MqttTest, PortEventsOfTwoFleetsKeepTheirOwnTopics) {
  ASSERT_TRUE(broker_->start());
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("127.0.0.1", port_, "site", "yard")) << mqtt.error();
  ASSERT_TRUE(until([&] { return mqtt.stats().connected; }, 10s)) << mqtt.stats().lastError;
  kw_test::ChildProcess sub;
  ASSERT_TRUE(sub.start(kSub, {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port_),
                               "-t", "site/events/#", "-v", "-C", "2", "-W", "10"}));
  // Events are not retained: sent in pairs until the subscriber has two.
  std::set<std::string> topics;
  json payload;
  for (int i = 0; i < 50 && topics.size() < 2; ++i) {
    for (const char* fleet : {"north", "south"}) {
      Event e;
      e.kind = Event::Kind::PortSilent;
      e.fleet = fleet;
      e.name = "com1";
      mqtt.publishEvent(e, nullptr, 1700000000, 0);
    }
    sub.readOutUntil(
        [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 2; },
        200ms);
    topics.clear();
    for (const std::string& line : kw_test::completeLines(sub.out())) {
      topics.insert(line.substr(0, line.find(' ')));
      payload = json::parse(line.substr(line.find(' ') + 1), nullptr, false);
    }
  }
  EXPECT_EQ(topics, (std::set<std::string>{"site/events/yard/feeds/north/com1",
                                           "site/events/yard/feeds/south/com1"}));
  EXPECT_EQ(payload["site"], "yard");
}

// "--mqtt HOST", as the README writes it, publishes to the broker on
// MQTT's own port (1883; in the isolated namespace it is free).
TEST_F(MqttTest, AHostWithoutAPortReachesTheBrokerOnPort1883) {
  Broker standard(dir_, 1883);
  ASSERT_TRUE(standard.start());
  OutputOptions o;
  o.mqtt = "127.0.0.1";
  o.mqttPrefix = "site";
  o.site = "yard";
  OutputSet set;
  ASSERT_TRUE(set.open(o)) << set.error();
  ASSERT_TRUE(until([&] { return set.stats().mqttConnected; }, 10s)) << set.stats().mqttError;
  set.tick({fix(3, "van", 1000, 46.0)});
  EXPECT_TRUE(until([&] { return retained(1883, "site", 2).count("site/yard/van") == 1; }, 10s));
  set.close();
  standard.stop();
}

// Events do not wait for a subscriber's luck: while the broker is away they
// wait (kMaxWaiting of them; more are dropped and counted) and reach it in
// order once it is back. A persistent subscriber session on a broker that
// keeps it over a restart sees every one.
TEST_F(MqttTest, EventsWaitForTheBrokerAndArriveInOrder) {
  Broker broker(dir_, port_, true);
  ASSERT_TRUE(broker.start());
  const std::vector<std::string> session = {
      "mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port_), "-c", "-i",
      "kw-events",     "-q", "1",         "-t", "site/events/#"};
  {
    kw_test::ChildProcess subscribe;
    auto args = session;
    args.push_back("-E");  // subscribe, then leave: the broker keeps the session
    ASSERT_TRUE(subscribe.start(kSub, args));
    int status = 0;
    ASSERT_TRUE(subscribe.waitExit(10s, &status));
    ASSERT_EQ(status, 0);
  }
  MqttPublisher mqtt;
  ASSERT_TRUE(mqtt.start("127.0.0.1", port_, "site", "yard")) << mqtt.error();
  ASSERT_TRUE(until([&] { return mqtt.stats().connected; }, 10s)) << mqtt.stats().lastError;
  broker.stop();
  ASSERT_TRUE(until([&] { return !mqtt.stats().connected; }, 10s));

  const size_t total = MqttPublisher::kMaxWaiting + 3;
  for (size_t i = 0; i < total; ++i) {
    Event e;
    e.kind = Event::Kind::PortSilent;
    e.name = "com1";
    e.message = std::to_string(i);
    mqtt.publishEvent(e, nullptr, 1700000000, 0);
  }
  EXPECT_EQ(mqtt.stats().waiting, MqttPublisher::kMaxWaiting);
  EXPECT_EQ(mqtt.stats().dropped, 3u) << "the newest beyond the bound";

  ASSERT_TRUE(broker.start());
  ASSERT_TRUE(
      until([&] { return mqtt.stats().connections >= 2 && mqtt.stats().waiting == 0; }, 15s))
      << mqtt.stats().lastError;
  Event after;
  after.kind = Event::Kind::PortBack;
  after.name = "com1";
  after.message = "after";
  mqtt.publishEvent(after, nullptr, 1700000001, 0);

  kw_test::ChildProcess sub;
  auto args = session;
  for (const char* more : {"-C", "10001", "-W", "20"}) args.push_back(more);
  ASSERT_TRUE(sub.start(kSub, args));
  int status = 0;
  sub.waitExit(25s, &status);
  const std::vector<std::string> lines = kw_test::completeLines(sub.out());
  EXPECT_EQ(lines.size(), MqttPublisher::kMaxWaiting + 1)
      << lines.front() << " ... " << lines.back();
  size_t inOrder = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json j = json::parse(lines[i], nullptr, false);
    const std::string expected = i < MqttPublisher::kMaxWaiting ? std::to_string(i) : "after";
    if (j.is_object() && j["message"] == expected && j["site"] == "yard") {
      ++inOrder;
    } else if (inOrder == i) {
      ADD_FAILURE() << "first out of order at " << i << ": " << lines[i];
    }
  }
  EXPECT_EQ(inOrder, lines.size()) << lines.front() << " ... " << lines.back();
  mqtt.stop();
  broker.stop();
}

// --mqtt-rate 1 against fixes ten times a second, on the tick's clock: a
// unit's location goes out once a second, each time with the latest fix
// (also when that fix came before the turn and nothing came since); a
// health change goes out at once and starts the unit's next period.
TEST_F(MqttTest, RateSendsTheLatestFixOnEachTurnAndHealthAtOnce) {
  ASSERT_TRUE(broker_->start());
  OutputOptions o = options("rate");
  o.mqttRate = 1.0;
  OutputSet set;
  ASSERT_TRUE(set.open(o)) << set.error();
  ASSERT_TRUE(until([&] { return set.stats().mqttConnected; }, 10s)) << set.stats().mqttError;
  kw_test::ChildProcess sub;
  ASSERT_TRUE(sub.start(kSub, {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port_),
                               "-t", "rate/#", "-v"}));
  // The retained status says the subscription is in place.
  ASSERT_TRUE(sub.readOutUntil(
      [](const std::string& out) { return out.find("rate/status/yard ") != std::string::npos; },
      10s));

  // 3 s of fixes at 10 Hz (fix i at i/10 s, latitude node + i/100), then
  // 0.5 s of ticks without; unit 1 goes bad at 1.5 s. The ticks on the
  // whole seconds come 2 ms early, as a busy machine's do: still the turn.
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 35; ++i) {
    const int f = std::min(i, 29);
    std::vector<NodeUpdate> nodes;
    for (int node = 1; node <= 2; ++node) {
      NodeUpdate u = fix(node, "u" + std::to_string(node), 1700000000 + f / 10, node + f / 100.0);
      u.utcMs = (f % 10) * 100;
      if (node == 1 && i >= 15) u.health = kHealthBad;
      nodes.push_back(u);
    }
    set.tick(nodes, t0 + i * 100ms - (i > 0 && i % 10 == 0 ? 2ms : 0ms));
  }
  // Which fixes went out, per unit, in order.
  std::map<std::string, std::vector<int>> sent;
  std::string badAt;
  const auto collect = [&](const std::string& out) {
    sent.clear();
    size_t n = 0;
    for (const std::string& line : kw_test::completeLines(out)) {
      const std::string topic = line.substr(0, line.find(' '));
      if (topic != "rate/yard/u1" && topic != "rate/yard/u2") continue;
      const json j = json::parse(line.substr(line.find(' ') + 1), nullptr, false);
      const int node = j["node"];
      const int f = static_cast<int>(std::lround((j["lat"].get<double>() - node) * 100));
      sent[topic].push_back(f);
      if (j["health_text"] == "bad" && badAt.empty()) badAt = std::to_string(f);
      ++n;
    }
    return n;
  };
  sub.readOutUntil([&](const std::string& out) { return collect(out) >= 8; }, 10s);
  std::this_thread::sleep_for(300ms);  // anything more would come now
  sub.readOutUntil([](const std::string&) { return false; }, 100ms);
  collect(sub.out());
  EXPECT_EQ(sent["rate/yard/u2"], (std::vector<int>{0, 10, 20, 29}));
  EXPECT_EQ(sent["rate/yard/u1"], (std::vector<int>{0, 10, 15, 25}));
  EXPECT_EQ(badAt, "15") << "the health change went out at once";
  set.close();
}

}  // namespace
}  // namespace kw_out
