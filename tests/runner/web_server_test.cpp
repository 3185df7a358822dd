// The web view's server on loopback, inside the isolated network namespace:
// a browser starts from the newest state and then gets each delta; a
// browser that stops reading loses deltas (counted) and, once it reads
// again, gets a fresh state; one client cannot take more than its share of
// connections; slow and idle connections are cut off.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "apps/flowhost/views/web/WebFeed.h"
#include "apps/flowhost/views/web/WebHistory.h"
#include "apps/flowhost/views/web/WebServer.h"
#include "tests/outputs/tcp_client.h"
#include "tests/support/isolation.h"

namespace {

using namespace std::chrono_literals;
using flowhost::WebFeed;
using flowhost::WebHistory;
using flowhost::WebServer;
using flowhost::WebSnapshot;
using kw_test::TcpClient;

std::shared_ptr<const WebSnapshot> snapshot(uint64_t seq, const std::string& name) {
  auto s = std::make_shared<WebSnapshot>();
  s->seq = seq;
  s->t = seq * 0.25;
  s->units = std::make_shared<const std::vector<flowhost::WebUnit>>(
      std::vector<flowhost::WebUnit>{{"7", name, 7, "feed"}});
  flowhost::WebPosition p;
  p.heard = true;
  p.lat = 35.5;
  p.lon = -115.25;
  p.health = 0;
  s->positions = {p};
  return s;
}

bool has(const std::string& what, const std::string& text) {
  return text.find(what) != std::string::npos;
}

class WebServerOnLoopback : public ::testing::Test {
 protected:
  void start(const WebServer::Limits& limits) {
    KW_REQUIRE_ISOLATED_NETWORK();
    feed_.publish(snapshot(1, "<!--<script>"), "");
    server_ = std::make_unique<WebServer>(feed_, history_, flowhost::WebRoutes::Settings{}, limits);
    std::string error;
    ASSERT_TRUE(server_->start("127.0.0.1", 0, &error)) << error;
  }
  void publish(uint64_t seq, const std::string& delta) {
    feed_.publish(snapshot(seq, "unit"), delta);
    server_->notify();
  }
  int port() const { return server_->port(); }

  WebFeed feed_;
  WebHistory history_;
  std::unique_ptr<WebServer> server_;
};

TEST_F(WebServerOnLoopback, AStreamStartsFromTheNewestStateAndThenCarriesEachDelta) {
  start(WebServer::Limits{});
  TcpClient browser;
  ASSERT_TRUE(browser.connect(port()));
  browser.send("GET /events HTTP/1.1\r\nHost: t\r\n\r\n");
  ASSERT_TRUE(browser.readUntil(
      [](const std::string& t) { return has("\n\r\n", t) && has("\"seq\":1", t); }, 5s))
      << browser.text();
  EXPECT_TRUE(has("Content-Type: text/event-stream", browser.text())) << browser.text();
  EXPECT_TRUE(has("event: state\nid: 1\ndata: {", browser.text()));
  EXPECT_TRUE(has(R"(["7","<!--<script>",7,"feed",0,35.5,-115.25,0,null])", browser.text()));
  publish(2, R"({"seq":2,"p":[[0,35.6,-115.2]]})");
  ASSERT_TRUE(browser.readUntil([](const std::string& t) { return has("id: 2", t); }, 5s));
  EXPECT_TRUE(
      has("event: delta\nid: 2\ndata: {\"seq\":2,\"p\":[[0,35.6,-115.2]]}\n\n", browser.text()));

  // The state and the page on a connection of their own, one after the other.
  TcpClient page;
  ASSERT_TRUE(page.connect(port()));
  page.send("GET /state HTTP/1.1\r\nHost: t\r\n\r\nGET / HTTP/1.1\r\nHost: t\r\n\r\n");
  ASSERT_TRUE(page.readUntil([](const std::string& t) { return has("</html>", t); }, 5s))
      << page.text();
  const std::string state = page.text().substr(page.text().find("{\"seq\""));
  const auto json = nlohmann::json::parse(state.substr(0, state.find("HTTP/1.1")), nullptr, false);
  ASSERT_TRUE(json.is_object()) << state;
  EXPECT_EQ(json["seq"], 2);
  EXPECT_EQ(json["units"][0][1], "unit");
}

TEST_F(WebServerOnLoopback, AStalledBrowserLosesDeltasCountedAndThenGetsAFreshState) {
  WebServer::Limits limits;
  limits.streamQueue = 256 * 1024;
  start(limits);
  TcpClient stalled;
  ASSERT_TRUE(stalled.connect(port(), 4096));  // a small window, and it reads nothing for now
  stalled.send("GET /events HTTP/1.1\r\nHost: t\r\n\r\n");
  std::this_thread::sleep_for(200ms);
  const std::string pad(100 * 1024, 'x');
  for (uint64_t seq = 2; seq < 200; ++seq)
    publish(seq, "{\"seq\":" + std::to_string(seq) + ",\"pad\":\"" + pad + "\"}");
  publish(200, R"({"seq":200})");
  for (int i = 0; i < 50 && server_->stats().droppedEvents == 0; ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_GT(server_->stats().droppedEvents, 0u);
  // Once it reads again: what was queued, then a state of the moment, and
  // never a delta that does not follow the event before it (the browser
  // would apply it to the wrong units). How many fresh states it takes
  // depends on how much the kernel buffered meanwhile.
  ASSERT_TRUE(stalled.readUntil([](const std::string& t) { return has("id: 200\n", t); }, 10s))
      << stalled.text().size();
  EXPECT_GE(server_->stats().freshStates, 1u);
  const std::string& text = stalled.text();
  uint64_t last = 0;
  int states = 0;
  for (size_t at = text.find("event: "); at != std::string::npos;
       at = text.find("event: ", at + 1)) {
    const size_t id = text.find("\nid: ", at);
    ASSERT_NE(id, std::string::npos);
    const uint64_t seq = std::stoull(text.substr(id + 5));
    if (text.compare(at, 12, "event: state") == 0) {
      ++states;
      EXPECT_GE(seq, last);
    } else {
      EXPECT_EQ(seq, last + 1) << "a delta after a gap";
    }
    last = seq;
  }
  EXPECT_GE(states, 2);  // the first, and at least one fresh one
  EXPECT_EQ(last, 200u);
}

TEST_F(WebServerOnLoopback, OneClientGetsAtMostItsShareOfConnections) {
  WebServer::Limits limits;
  limits.perClient = 4;
  start(limits);
  std::vector<std::unique_ptr<TcpClient>> mine;
  for (int i = 0; i < 4; ++i) {
    mine.push_back(std::make_unique<TcpClient>());
    ASSERT_TRUE(mine.back()->connectFrom("127.0.0.2", port()));
  }
  TcpClient fifth;
  ASSERT_TRUE(fifth.connectFrom("127.0.0.2", port()));
  EXPECT_TRUE(fifth.readUntil([](const std::string& t) { return has("HTTP/1.1 503", t); }, 3s))
      << fifth.text();
  EXPECT_TRUE(fifth.closedByPeer(3s));
  // Another client is served as usual.
  TcpClient other;
  ASSERT_TRUE(other.connectFrom("127.0.0.3", port()));
  other.send("GET /state HTTP/1.1\r\nHost: t\r\n\r\n");
  EXPECT_TRUE(other.readUntil([](const std::string& t) { return has("HTTP/1.1 200", t); }, 3s));
  EXPECT_EQ(server_->stats().refused, 1u);
}

TEST_F(WebServerOnLoopback, SlowHeadersAndIdleConnectionsAreCutOff) {
  WebServer::Limits limits;
  limits.headerTime = 300ms;
  limits.idleTime = 300ms;
  start(limits);
  TcpClient slow, idle;
  ASSERT_TRUE(slow.connect(port()));
  ASSERT_TRUE(idle.connect(port()));
  slow.send("GET / HTTP/1.1\r\nHost: t\r\n");
  EXPECT_TRUE(slow.readUntil([](const std::string& t) { return has("HTTP/1.1 408", t); }, 3s))
      << slow.text();
  EXPECT_TRUE(slow.closedByPeer(3s));
  EXPECT_TRUE(idle.closedByPeer(3s));
  EXPECT_EQ(idle.text(), "");
  EXPECT_EQ(server_->stats().timedOut, 2u);
}

TEST(WebServer, AnAddressInUseIsRefusedWithItsReason) {
  KW_REQUIRE_ISOLATED_NETWORK();
  WebFeed feed;
  WebHistory history;
  WebServer first(feed, history, {}), second(feed, history, {});
  std::string error;
  ASSERT_TRUE(first.start("127.0.0.1", 8092, &error)) << error;
  EXPECT_FALSE(second.start("127.0.0.1", 8092, &error));
  EXPECT_TRUE(has("web view: cannot bind 127.0.0.1:8092", error)) << error;
}

// A tile server named on the command line: only a plain http(s) template
// with {z}, {x} and {y} is taken (it goes into a header and the page's
// settings); the page may then load pictures from that origin and from no
// other.
TEST(WebRoutesTiles, ATileServerIsAllowedByThePolicyAndNamedToThePage) {
  std::string why;
  EXPECT_TRUE(flowhost::WebRoutes::validTileUrl(
      "https://{s}.tiles.example:8443/osm/{z}/{x}/{y}.png", &why));
  for (const char* bad :
       {"ftp://tiles.example/{z}/{x}/{y}.png", "https://tiles.example/{z}/{x}.png",
        "https://tiles.example/{z}/{x}/{y}.png; script-src *",
        "https://tiles.example/{z}/{x}/{y}.png\r\nX-Evil: 1",
        "https://tiles.example/{z}/{x}/{y}.png'", "javascript:alert(1)//{z}{x}{y}"}) {
    EXPECT_FALSE(flowhost::WebRoutes::validTileUrl(bad, &why)) << bad;
  }
  EXPECT_EQ(flowhost::WebRoutes::originOf("https://{s}.tiles.example:8443/osm/{z}/{x}/{y}.png"),
            "https://*.tiles.example:8443");

  WebFeed feed;
  WebHistory history;
  flowhost::WebRoutes::Settings settings;
  settings.tileUrl = "http://10.1.2.3:8000/{z}/{x}/{y}.png";
  settings.tileAttribution = "Field maps <b>unit</b>";
  flowhost::WebRoutes routes(feed, history, settings);
  const auto answer = routes.answer("GET / HTTP/1.1\r\nHost: t\r\n\r\n", {"127.0.0.1", 5000});
  EXPECT_TRUE(has("HTTP/1.1 200", answer.bytes)) << answer.bytes.substr(0, 200);
  EXPECT_TRUE(
      has("Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
          "img-src 'self' data: blob: http://10.1.2.3:8000; connect-src 'self';",
          answer.bytes))
      << answer.bytes.substr(0, 600);
  const auto site = nlohmann::json::parse(routes.siteJson());
  EXPECT_EQ(site["tiles"]["url"], "http://10.1.2.3:8000/{z}/{x}/{y}.png");
  EXPECT_EQ(site["tiles"]["attribution"], "Field maps <b>unit</b>");  // the page sets it as text
}

}  // namespace
