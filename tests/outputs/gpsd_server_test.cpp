// The gpsd-protocol position server over loopback TCP: what a client is
// told, and that no client, however slow or hostile, holds up the feed.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
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
  ASSERT_EQ(devices["devices"].size(), 2u) << idle.text();
  EXPECT_EQ(devices["devices"][0]["path"], "node:1");
  EXPECT_EQ(devices["devices"][1]["path"], "node:2");
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
