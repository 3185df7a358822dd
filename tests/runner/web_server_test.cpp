// The web view's server on loopback, inside the isolated network namespace:
// the page carries the state of its moment, the event stream brings every
// newer state, and a browser that stops reading never holds up publish()
// (told by order, not by the clock: publishing ends while it still holds on).
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "apps/flowhost/views/web/WebServer.h"
#include "tests/support/isolation.h"

namespace {

using namespace std::chrono_literals;
using flowhost::WebServer;

constexpr int kPort = 8091;

TEST(WebServerOnLoopback, PageAndStreamCarryTheLatestStateAndPublishNeverWaits) {
  KW_REQUIRE_ISOLATED_NETWORK();
  WebServer server;
  std::string error;
  ASSERT_TRUE(server.start("127.0.0.1", kPort, &error)) << error;
  server.publish(R"({"t":1,"note":"</script>"})");

  httplib::Client client("127.0.0.1", kPort);
  client.set_read_timeout(5, 0);
  auto page = client.Get("/");
  ASSERT_TRUE(page) << httplib::to_string(page.error());
  EXPECT_EQ(page->status, 200);
  // The state is in the page, and cannot end its script element early.
  EXPECT_NE(page->body.find(R"(const INITIAL_STATE = {"t":1,"note":"<\/script>"};)"),
            std::string::npos);
  auto script = client.Get("/app.js");
  ASSERT_TRUE(script);
  EXPECT_NE(script->body.find("new EventSource('/events')"), std::string::npos);

  // The stream: the state now, then each one published after.
  std::string received;
  std::atomic<bool> sawSecond{false};
  std::thread reader([&] {
    httplib::Client events("127.0.0.1", kPort);
    events.set_read_timeout(5, 0);
    events.Get("/events", [&](const char* data, size_t length) {
      received.append(data, length);
      if (received.find(R"(data: {"t":2})") != std::string::npos) sawSecond = true;
      return !sawSecond;  // stop reading once the second state came
    });
  });
  std::this_thread::sleep_for(300ms);
  server.publish(R"({"t":2})");
  reader.join();
  EXPECT_TRUE(sawSecond) << received;
  EXPECT_NE(received.find(R"(data: {"t":1,)"), std::string::npos) << received;

  // A client that opens the stream and then stops reading, until the test
  // lets it go: every publish must be done while it still holds on.
  // Publishing that waited for it would never end before it lets go (and
  // the guard of 60 s would end the test), however slow the machine.
  httplib::Client stalled("127.0.0.1", kPort);
  std::atomic<bool> reading{false};
  std::atomic<bool> released{false};
  std::atomic<bool> gaveUp{false};  // it let go by itself: nobody released it
  std::thread stuck([&] {
    stalled.set_read_timeout(60, 0);
    stalled.Get("/events", [&](const char*, size_t) {
      reading = true;
      const auto guard = std::chrono::steady_clock::now() + 60s;
      while (!released && std::chrono::steady_clock::now() < guard)
        std::this_thread::sleep_for(10ms);
      gaveUp = !released;
      return false;
    });
  });
  while (!reading) std::this_thread::sleep_for(10ms);  // it holds its first event
  const std::string big(1 << 20, 'x');
  for (int i = 0; i < 20; ++i) server.publish("{\"pad\":\"" + big + "\"}");
  EXPECT_FALSE(gaveUp) << "publish waited for the stalled reader";
  released = true;
  server.stop();  // ends the streams; must not hang on the stalled one
  stuck.join();
}

TEST(WebServerOnLoopback, AnAddressInUseIsRefusedWithItsReason) {
  KW_REQUIRE_ISOLATED_NETWORK();
  WebServer first, second;
  std::string error;
  ASSERT_TRUE(first.start("127.0.0.1", kPort + 1, &error)) << error;
  EXPECT_FALSE(second.start("127.0.0.1", kPort + 1, &error));
  EXPECT_NE(error.find("web view: cannot listen on 127.0.0.1:8092"), std::string::npos) << error;
}

}  // namespace
