// The gpsd-protocol position server over loopback TCP: what a client is
// told, and that no client, however slow or hostile, holds up the feed.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "outputs/GpsdServer.h"
#include "outputs/OutputSet.h"
#include "tests/outputs/tcp_client.h"
#include "tests/support/isolation.h"

using nlohmann::json;
using namespace std::chrono_literals;
using kw_test::countLines;
using kw_test::countLinesStarting;
using kw_test::TcpClient;

namespace kw_out {
namespace {

NodeUpdate fix(int node, int64_t sec, double lat, double lon) {
  NodeUpdate u;
  u.node = node;
  u.name = "unit" + std::to_string(node);
  u.feed = "com1";
  u.utcSec = sec;
  u.lat = lat;
  u.lon = lon;
  u.health = kHealthGood;
  u.neverHeard = false;
  return u;
}

const std::string kTpv = "{\"class\":\"TPV\"";

auto hasLines(int n) {
  return [n](const std::string& t) { return std::count(t.begin(), t.end(), '\n') >= n; };
}
auto contains(const std::string& needle) {
  return [needle](const std::string& t) { return t.find(needle) != std::string::npos; };
}

class GpsdServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(server_.start("127.0.0.1", 0)) << server_.error();
    ASSERT_GT(server_.port(), 0);
  }
  GpsdServer server_;
};

TEST_F(GpsdServerTest, WatchDevicesAndPoll) {
  TcpClient watcher, idle;
  ASSERT_TRUE(watcher.connect(server_.port()));
  ASSERT_TRUE(idle.connect(server_.port()));
  ASSERT_TRUE(watcher.readUntil(hasLines(1), 5s));
  const json version = json::parse(watcher.lines()[0], nullptr, false);
  EXPECT_EQ(version["class"], "VERSION");
  EXPECT_EQ(version["proto_major"], 3);

  ASSERT_TRUE(watcher.send("?WATCH={\"enable\":true,\"json\":true};\n"));
  ASSERT_TRUE(watcher.readUntil(contains("\"class\":\"WATCH\""), 5s)) << watcher.text();
  NodeUpdate never;
  never.node = 5;
  for (int round = 0; round < 3; ++round) {
    server_.publish(fix(1, 1000 + round, 10 + round, 20));
    server_.publish(fix(2, 1000 + round, -10 - round, -20));
    server_.publish(never);
  }
  ASSERT_TRUE(
      watcher.readUntil([](const std::string& t) { return countLinesStarting(t, kTpv) >= 6; }, 5s))
      << watcher.text();
  EXPECT_EQ(countLines(watcher.text(), "\"device\":\"node:1\""), 3);
  EXPECT_EQ(countLines(watcher.text(), "\"device\":\"node:2\""), 3);
  EXPECT_EQ(countLines(watcher.text(), "node:5"), 0) << "a node never heard has no fix to report";
  for (const std::string& line : watcher.lines()) EXPECT_TRUE(json::accept(line)) << line;

  ASSERT_TRUE(idle.send("?DEVICES;?POLL;\n"));
  ASSERT_TRUE(idle.readUntil(contains("\"class\":\"POLL\""), 5s)) << idle.text();
  EXPECT_EQ(countLinesStarting(idle.text(), kTpv), 0) << "no reports without WATCH";
  json devices, poll;
  for (const std::string& line : idle.lines()) {
    const json j = json::parse(line, nullptr, false);
    if (j.is_object() && j["class"] == "DEVICES") devices = j;
    if (j.is_object() && j["class"] == "POLL") poll = j;
  }
  ASSERT_EQ(devices["devices"].size(), 1u) << idle.text();
  EXPECT_EQ(devices["devices"][0]["path"], "all") << "one device stands for every unit";
  EXPECT_EQ(devices["devices"][0]["subtype"], "2 units");
  ASSERT_EQ(poll["active"], 2);
  EXPECT_DOUBLE_EQ(poll["tpv"][0]["lat"].get<double>(), 12.0) << "the latest fix of each node";
  EXPECT_DOUBLE_EQ(poll["tpv"][1]["lat"].get<double>(), -12.0);

  ASSERT_TRUE(watcher.send("?WATCH={\"enable\":false};"));
  ASSERT_TRUE(watcher.readUntil(contains("\"enable\":false"), 5s));
  const size_t before = watcher.text().size();
  server_.publish(fix(1, 2000, 1, 1));
  ASSERT_TRUE(idle.send("?VERSION;"));  // a round trip through the server thread
  ASSERT_TRUE(
      idle.readUntil([](const std::string& t) { return countLines(t, "VERSION") >= 2; }, 5s));
  watcher.readUntil([](const std::string&) { return false; }, 200ms);
  EXPECT_EQ(watcher.text().size(), before) << "no reports after WATCH is turned off";
}

// gpsd takes "json" to follow "enable" when a WATCH leaves it out:
// ?WATCH={"enable":true} alone starts the reports.
TEST_F(GpsdServerTest, AWatchWithoutJsonStillStartsTheReports) {
  TcpClient watcher;
  ASSERT_TRUE(watcher.connect(server_.port()));
  ASSERT_TRUE(watcher.send("?WATCH={\"enable\":true}\n"));
  ASSERT_TRUE(watcher.readUntil(contains("\"class\":\"WATCH\""), 5s)) << watcher.text();
  EXPECT_NE(watcher.text().find("\"enable\":true,\"json\":true"), std::string::npos)
      << watcher.text();
  server_.publish(fix(1, 1000, 10, 20));
  EXPECT_TRUE(
      watcher.readUntil([](const std::string& t) { return countLinesStarting(t, kTpv) >= 1; }, 5s))
      << watcher.text();
}

TEST_F(GpsdServerTest, GarbageAndOverlongCommands) {
  TcpClient rude, flood, good;
  ASSERT_TRUE(rude.connect(server_.port()));
  ASSERT_TRUE(flood.connect(server_.port()));
  ASSERT_TRUE(good.connect(server_.port()));
  ASSERT_TRUE(good.send("?WATCH={\"enable\":true,\"json\":true}\n"));
  ASSERT_TRUE(good.readUntil(contains("WATCH"), 5s));

  ASSERT_TRUE(rude.send(std::string("hello\n?WATCH={not json;\x01\x02\xff\0;?DEVICES", 35) + "\n"));
  ASSERT_TRUE(rude.readUntil(contains("DEVICES"), 5s)) << rude.text();
  EXPECT_EQ(countLines(rude.text(), "\"class\":\"ERROR\""), 3) << rude.text();
  for (const std::string& line : rude.lines()) EXPECT_TRUE(json::accept(line)) << line;

  // A megabyte without a terminator: cut off, whatever else it sends.
  flood.send(std::string(1 << 20, 'A'));
  EXPECT_TRUE(flood.closedByPeer(5s));
  EXPECT_EQ(server_.stats().closedLongInput, 1u);

  server_.publish(fix(3, 1, 1, 1));
  EXPECT_TRUE(good.readUntil(contains("node:3"), 5s)) << "the others are served as before";
  EXPECT_TRUE(rude.send("?POLL;"));
  EXPECT_TRUE(rude.readUntil(contains("POLL"), 5s));
}

// libgps (cgps, xgps, most clients) refuses a DEVICES list of more than four
// entries: whatever the number of units, the list names one device, and a
// client that follows one unit (cgps host:port:node:7) hears of it alone.
TEST_F(GpsdServerTest, DevicesStayWithinLibgpsLimitAndADeviceFiltersTheReports) {
  TcpClient all, one;
  ASSERT_TRUE(all.connect(server_.port()));
  ASSERT_TRUE(one.connect(server_.port()));
  for (int node = 1; node <= 10; ++node) server_.publish(fix(node, 1000, node, 20));
  ASSERT_TRUE(all.send("?WATCH={\"enable\":true,\"json\":true}\n"));
  ASSERT_TRUE(one.send("?WATCH={\"enable\":true,\"json\":true,\"device\":\"node:7\"}\n"));
  ASSERT_TRUE(all.readUntil(contains("\"class\":\"WATCH\""), 5s)) << all.text();
  ASSERT_TRUE(one.readUntil(contains("\"class\":\"WATCH\""), 5s)) << one.text();
  for (int round = 1; round <= 3; ++round) {
    for (int node = 1; node <= 10; ++node) server_.publish(fix(node, 1000 + round, node, 20));
  }
  ASSERT_TRUE(
      all.readUntil([](const std::string& t) { return countLinesStarting(t, kTpv) >= 30; }, 5s))
      << all.text();
  ASSERT_TRUE(
      one.readUntil([](const std::string& t) { return countLinesStarting(t, kTpv) >= 3; }, 5s))
      << one.text();
  ASSERT_TRUE(one.send("?POLL;?DEVICES;"));
  ASSERT_TRUE(one.readUntil(contains("\"class\":\"POLL\""), 5s));
  ASSERT_TRUE(all.send("?DEVICES;"));
  ASSERT_TRUE(
      all.readUntil([](const std::string& t) { return countLines(t, "DEVICES") >= 2; }, 5s));

  for (const TcpClient* client : {&all, &one}) {
    for (const std::string& line : client->lines()) {
      const json j = json::parse(line, nullptr, false);
      ASSERT_TRUE(j.is_object()) << line;
      if (j["class"] == "DEVICES") {
        EXPECT_LE(j["devices"].size(), 4u) << line;
      }
    }
  }
  EXPECT_EQ(
      countLines(all.text(), "\"path\":\"all\",\"driver\":\"flowhost\",\"subtype\":\"10 units\""),
      2)
      << all.text();
  std::set<std::string> heard;
  for (const std::string& line : all.lines()) {
    const json j = json::parse(line);
    if (j["class"] == "TPV") heard.insert(j["device"].get<std::string>());
  }
  EXPECT_EQ(heard.size(), 10u) << "every unit's reports name the unit";

  EXPECT_EQ(countLinesStarting(one.text(), kTpv), 3) << one.text();
  EXPECT_EQ(countLinesStarting(one.text(), kTpv + ",\"device\":\"node:7\""), 3) << one.text();
  EXPECT_EQ(countLines(one.text(), "\"path\":\"node:7\""), 2) << "the device it follows, twice";
  for (const std::string& line : one.lines()) {
    const json j = json::parse(line);
    if (j["class"] == "POLL") {
      ASSERT_EQ(j["tpv"].size(), 1u) << line;
      EXPECT_EQ(j["tpv"][0]["device"], "node:7");
    }
  }
}

// Reads "ddmm.mmmm,N" or "dddmm.mmmm,W" as signed degrees.
double nmeaDegrees(const std::string& value, const std::string& side) {
  const size_t point = value.find('.');
  const double degrees = std::stod(value.substr(0, point - 2));
  const double minutes = std::stod(value.substr(point - 2));
  const double v = degrees + minutes / 60.0;
  return side == "S" || side == "W" ? -v : v;
}

std::vector<std::string> fields(const std::string& sentence) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t comma; (comma = sentence.find(',', start)) != std::string::npos; start = comma + 1)
    out.push_back(sentence.substr(start, comma - start));
  out.push_back(sentence.substr(start));
  return out;
}

// A WATCH with "nmea" (gpspipe -r): each fix as a GGA and an RMC sentence
// with a correct checksum, carrying the fix's time and position.
TEST_F(GpsdServerTest, NmeaWatchersGetSentencesBuiltFromEachFix) {
  TcpClient nmea;
  ASSERT_TRUE(nmea.connect(server_.port()));
  ASSERT_TRUE(nmea.send("?WATCH={\"enable\":true,\"nmea\":true}\n"));
  ASSERT_TRUE(nmea.readUntil(contains("\"class\":\"WATCH\""), 5s)) << nmea.text();
  EXPECT_NE(nmea.text().find("\"json\":false,\"nmea\":true"), std::string::npos) << nmea.text();
  // 2026-12-09T02:58:22.620Z; one fix south-east, one north-west, one that
  // rounds up into the next degree.
  NodeUpdate se = fix(1, 1796785102, -33.8688, 151.2093);
  se.utcMs = 620;
  server_.publish(se);
  server_.publish(fix(2, 1796785103, 35.5904500, -115.4390000));
  server_.publish(fix(3, 1796785104, 47.99999999, -7.99999999));
  ASSERT_TRUE(nmea.readUntil([](const std::string& t) { return countLines(t, "$GPRMC") >= 3; }, 5s))
      << nmea.text();
  EXPECT_EQ(countLinesStarting(nmea.text(), kTpv), 0) << "no JSON reports were asked for";

  const struct {
    const char* time;
    const char* date;
    double lat, lon;
  } expected[] = {{"025822.62", "091226", -33.8688, 151.2093},
                  {"025823.00", "091226", 35.59045, -115.439},
                  {"025824.00", "091226", 48.0, -8.0}};
  size_t gga = 0, rmc = 0;
  for (std::string line : nmea.lines()) {
    if (line.empty() || line[0] != '$') continue;
    ASSERT_EQ(line.back(), '\r') << "NMEA lines end in CR LF";
    line.pop_back();
    const size_t star = line.rfind('*');
    ASSERT_EQ(star, line.size() - 3) << line;
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
    EXPECT_EQ(std::stoul(line.substr(star + 1), nullptr, 16), sum) << line;
    EXPECT_EQ(line.find_first_of("abcdef", star), std::string::npos) << "upper-case hex: " << line;
    const std::vector<std::string> f = fields(line.substr(1, star - 1));
    if (f[0] == "GPGGA") {
      ASSERT_LT(gga, 3u);
      ASSERT_EQ(f.size(), 15u) << line;
      EXPECT_EQ(f[1], expected[gga].time) << line;
      EXPECT_NEAR(nmeaDegrees(f[2], f[3]), expected[gga].lat, 1e-6) << line;
      EXPECT_NEAR(nmeaDegrees(f[4], f[5]), expected[gga].lon, 1e-6) << line;
      EXPECT_EQ(f[6], "1") << "a fix: " << line;
      ++gga;
    } else if (f[0] == "GPRMC") {
      ASSERT_LT(rmc, 3u);
      ASSERT_EQ(f.size(), 13u) << line;
      EXPECT_EQ(f[1], expected[rmc].time) << line;
      EXPECT_EQ(f[2], "A") << line;
      EXPECT_NEAR(nmeaDegrees(f[3], f[4]), expected[rmc].lat, 1e-6) << line;
      EXPECT_NEAR(nmeaDegrees(f[5], f[6]), expected[rmc].lon, 1e-6) << line;
      EXPECT_EQ(f[9], expected[rmc].date) << line;
      ++rmc;
    } else {
      ADD_FAILURE() << "unexpected sentence " << line;
    }
  }
  EXPECT_EQ(gga, 3u);
  EXPECT_EQ(rmc, 3u);
}

// Idle connections cannot lock clients out: at the client limit a new
// client takes the place of the longest idle one, and a client that does
// not watch is closed after the idle limit; a watcher stays.
TEST(GpsdServer, IdleClientsMakeRoomAndTimeOut) {
  KW_REQUIRE_ISOLATED_NETWORK();
  GpsdServer::Limits limits;
  limits.maxClients = 20;
  limits.idleTimeout = 1500ms;
  GpsdServer server(limits);
  ASSERT_TRUE(server.start("127.0.0.1", 0)) << server.error();
  std::vector<std::unique_ptr<TcpClient>> idle;
  for (int i = 0; i < 20; ++i) {
    idle.push_back(std::make_unique<TcpClient>());
    ASSERT_TRUE(idle.back()->connect(server.port()));
    ASSERT_TRUE(idle.back()->readUntil(hasLines(1), 5s)) << "client " << i << " is served";
  }
  ASSERT_TRUE(idle[5]->send("?VERSION;"));  // a command: no longer the longest idle
  ASSERT_TRUE(idle[5]->readUntil(hasLines(2), 5s));

  TcpClient watcher;
  ASSERT_TRUE(watcher.connect(server.port()));
  ASSERT_TRUE(watcher.send("?WATCH={\"enable\":true,\"json\":true};"));
  ASSERT_TRUE(watcher.readUntil(contains("\"class\":\"WATCH\""), 5s))
      << "a new client is served at the limit";
  EXPECT_TRUE(idle[0]->closedByPeer(5s)) << "the longest idle client made room";
  EXPECT_FALSE(idle[5]->closedByPeer(100ms));

  // The others pass the idle limit; the watcher does not idle.
  for (size_t i = 1; i < idle.size(); ++i) EXPECT_TRUE(idle[i]->closedByPeer(5s)) << i;
  server.publish(fix(1, 1000, 1, 2));
  EXPECT_TRUE(watcher.readUntil(contains("node:1"), 5s)) << watcher.text();
  const GpsdServer::Stats s = server.stats();
  EXPECT_EQ(s.clients, 1u);
  EXPECT_EQ(s.refused, 0u);
  EXPECT_EQ(s.closedIdle, 20u);
}

// Clients that connect and never read, one of them watching: publishing
// never waits for them, their backlog is dropped and counted, and a reading client
// keeps getting the newest reports.
TEST(GpsdServer, StuckClientsDoNotHoldUpTheFeed) {
  KW_REQUIRE_ISOLATED_NETWORK();
  GpsdServer::Limits limits;
  limits.clientBacklog = 16 * 1024;
  GpsdServer server_(limits);
  ASSERT_TRUE(server_.start("127.0.0.1", 0)) << server_.error();
  std::vector<std::unique_ptr<TcpClient>> hanging;
  for (int i = 0; i < 5; ++i) {
    hanging.push_back(std::make_unique<TcpClient>());
    ASSERT_TRUE(hanging.back()->connect(server_.port(), 4096));
  }
  ASSERT_TRUE(hanging[0]->send("?WATCH={\"enable\":true,\"json\":true};"));
  TcpClient reader;
  ASSERT_TRUE(reader.connect(server_.port()));
  ASSERT_TRUE(reader.send("?WATCH={\"enable\":true,\"json\":true};"));
  ASSERT_TRUE(reader.readUntil(contains("WATCH"), 5s));
  std::this_thread::sleep_for(100ms);  // the hanging watcher's WATCH is taken

  constexpr int kUpdates = 60000;
  auto slowest = std::chrono::steady_clock::duration::zero();
  std::thread drain([&] {
    reader.readUntil(
        [](const std::string& t) { return t.find("\"lat\":59.999") != std::string::npos; }, 30s);
  });
  for (int i = 0; i < kUpdates; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    server_.publish(fix(1 + i % 4, i, i * 0.001, 0));
    slowest = std::max(slowest, std::chrono::steady_clock::now() - t0);
    if (i % 100 == 99) std::this_thread::sleep_for(2ms);  // ticks, not one burst
  }
  drain.join();
  // A publish that waited on a client that never reads would wait for good;
  // the bound only has to stay clear of a loaded machine's scheduling delays.
  EXPECT_LT(slowest, 2s) << "publish waited for a client";
  EXPECT_NE(reader.text().find("\"lat\":59.999000000"), std::string::npos)
      << "the reader got the newest report";
  const GpsdServer::Stats s = server_.stats();
  EXPECT_GT(s.droppedLines, 0u) << "the stuck watcher's backlog is dropped";
  EXPECT_EQ(s.inboxDropped, 0u);
  EXPECT_EQ(s.clients, 6u);
  EXPECT_EQ(s.accepted, 6u);
}

// Through the output set, as the runner drives it: a snapshot every tick,
// one report per new fix, not one per tick.
TEST(GpsdOutputSet, EachFixReportedOnce) {
  KW_REQUIRE_ISOLATED_NETWORK();
  OutputOptions o;
  o.gpsd = "127.0.0.1:0";
  OutputSet set;
  ASSERT_TRUE(set.open(o)) << set.error();
  ASSERT_GT(set.gpsdPort(), 0);
  TcpClient client;
  ASSERT_TRUE(client.connect(set.gpsdPort()));
  ASSERT_TRUE(client.send("?WATCH={\"enable\":true,\"json\":true};"));
  ASSERT_TRUE(client.readUntil(contains("WATCH"), 5s));
  NodeUpdate never;
  never.node = 4;
  for (int tick = 0; tick < 40; ++tick)
    set.tick({fix(1, 1000 + tick / 4, 1.0 + tick / 4, 2), fix(2, 500, 3, 4), never});
  ASSERT_TRUE(
      client.readUntil([](const std::string& t) { return countLinesStarting(t, kTpv) >= 11; }, 5s));
  client.readUntil([](const std::string&) { return false; }, 200ms);
  EXPECT_EQ(countLines(client.text(), "node:1"), 10);
  EXPECT_EQ(countLines(client.text(), "node:2"), 1) << "its one fix, once";
  EXPECT_EQ(countLines(client.text(), "node:4"), 0);
  EXPECT_EQ(set.stats().gpsdClients, 1u);
}

}  // namespace
}  // namespace kw_out
