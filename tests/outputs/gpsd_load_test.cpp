// The position server under many clients at once: two hundred watchers all
// get every report, and clients beyond the bound are turned away at once.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "outputs/GpsdServer.h"
#include "tests/outputs/tcp_client.h"
#include "tests/support/isolation.h"

using namespace std::chrono_literals;

namespace kw_out {
namespace {

TEST(GpsdServerLoad, TwoHundredWatchersGetEveryReport) {
  KW_REQUIRE_ISOLATED_NETWORK();
  GpsdServer::Limits limits;
  limits.maxClients = 200;
  GpsdServer server(limits);
  ASSERT_TRUE(server.start("127.0.0.1", 0)) << server.error();

  std::vector<std::unique_ptr<kw_test::TcpClient>> clients;
  for (int i = 0; i < 200; ++i) {
    clients.push_back(std::make_unique<kw_test::TcpClient>());
    ASSERT_TRUE(clients.back()->connect(server.port())) << i;
    ASSERT_TRUE(clients.back()->send("?WATCH={\"enable\":true,\"json\":true};\n"));
  }
  for (auto& c : clients)
    ASSERT_TRUE(c->readUntil(
        [](const std::string& t) { return t.find("\"class\":\"WATCH\"") != std::string::npos; },
        10s));

  kw_test::TcpClient extra;
  ASSERT_TRUE(extra.connect(server.port()));
  EXPECT_TRUE(extra.closedByPeer(5s)) << "the 201st client is turned away";
  EXPECT_EQ(extra.text(), "");

  constexpr int kNodes = 8, kRounds = 25;
  const auto t0 = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    for (int node = 1; node <= kNodes; ++node) {
      NodeUpdate u;
      u.node = node;
      u.utcSec = 1000 + round;
      u.lat = round;
      u.lon = node;
      u.health = kHealthGood;
      u.neverHeard = false;
      server.publish(u);
    }
    std::this_thread::sleep_for(5ms);
  }
  const auto feedTime = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(feedTime, 2s) << "the feed side only hands reports over";

  for (size_t i = 0; i < clients.size(); ++i) {
    const bool all = clients[i]->readUntil(
        [](const std::string& t) {
          return kw_test::countLinesStarting(t, "{\"class\":\"TPV\"") >= kNodes * kRounds;
        },
        20s);
    ASSERT_TRUE(all) << "client " << i << " got "
                     << kw_test::countLinesStarting(clients[i]->text(), "{\"class\":\"TPV\"");
  }
  const GpsdServer::Stats s = server.stats();
  EXPECT_EQ(s.clients, 200u);
  EXPECT_EQ(s.refused, 1u);
  EXPECT_EQ(s.droppedLines, 0u);
}

}  // namespace
}  // namespace kw_out
