// The web view under hostile clients, end to end: flowhost's quick start
// serving on loopback inside the isolated namespace, and clients that send
// a huge body, millions of headers, a hundred event streams, headers one
// byte at a time, or unit names full of markup. Each must leave flowhost
// small, serving its page, and ending within a second of SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/outputs/tcp_client.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kw_test::ChildProcess;
using kw_test::TcpClient;
using kw_test::TempDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr int kPort = 8093;

// flowhost's resident memory in MB, from /proc.
long residentMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  }
  return -1;
}

// Sends `head`, then `fill` over and over up to `total` bytes, without ever
// blocking: it stops when the server answered and closed, or took nothing
// for two seconds. Gives what the server answered; *sent counts the bytes
// the server's side took.
std::string push(const std::string& head, const std::string& fill, size_t total, size_t* sent) {
  *sent = 0;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  std::string answer;
  size_t offset = 0;  // into head, then into fill
  bool inHead = true;
  auto lastProgress = Clock::now();
  bool closed = false;
  while (!closed && Clock::now() - lastProgress < 2s) {
    pollfd p{fd, static_cast<short>(POLLIN | (*sent < total ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        answer.append(buffer, static_cast<size_t>(n));
        lastProgress = Clock::now();
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closed = true;
      }
    }
    if (!closed && (p.revents & POLLOUT) && *sent < total) {
      const std::string& text = inHead ? head : fill;
      const ssize_t n = send(fd, text.data() + offset, text.size() - offset, MSG_NOSIGNAL);
      if (n > 0) {
        *sent += static_cast<size_t>(n);
        offset += static_cast<size_t>(n);
        lastProgress = Clock::now();
        if (offset == text.size()) {
          inHead = false;
          offset = 0;
        }
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        closed = true;
      }
    }
  }
  close(fd);
  return answer;
}

class WebLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    dir_.enter();
    dir_.write("units.nod",
               "1 <!--<script>\n2 <img/src=x/onerror=alert(1)>\n3 </script><b>bold\n4 plain\n");
    dir_.write("ports.mcp", "feed 239.255.42.9 47019\n");
    ASSERT_TRUE(flowhost_.start(
        kFlowhost, {"flowhost", "--nodes", "units.nod", "--ports", "ports.mcp", "--table", "off",
                    "--seconds", "90", "--http", "127.0.0.1:" + std::to_string(kPort)}));
    ASSERT_TRUE(flowhost_.readOutUntil(
        [](const std::string& out) { return out.find("web view on http://") != std::string::npos; },
        20s))
        << flowhost_.out() << flowhost_.err();
  }

  void TearDown() override {
    int status = 0;
    if (flowhost_.pid() > 0 && flowhost_.signal(SIGKILL)) flowhost_.waitExit(5s, &status);
  }

  // GET `path` from a fresh connection: the whole answer, "" when none
  // came within `timeout`.
  static std::string get(const std::string& path, std::chrono::milliseconds timeout = 3s) {
    TcpClient client;
    if (!client.connect(kPort)) return "";
    client.send("GET " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
    client.closedByPeer(timeout);
    return client.text();
  }

  // Ends flowhost with SIGTERM; how long it took to exit.
  std::chrono::milliseconds terminate() {
    const auto asked = Clock::now();
    EXPECT_TRUE(flowhost_.signal(SIGTERM));
    int status = 0;
    EXPECT_TRUE(flowhost_.waitExit(30s, &status));
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
  }

  TempDir dir_;
  ChildProcess flowhost_;
};

TEST_F(WebLimits, AGibibyteBodyIsRefusedBeforeItIsRead) {
  size_t sent = 0;
  const std::string answer =
      push("POST / HTTP/1.1\r\nHost: test\r\nContent-Length: 1073741824\r\n\r\n",
           std::string(1 << 20, 'x'), size_t{1} << 30, &sent);
  EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer.substr(0, 200);
  // What the kernel's buffers took, not the body.
  EXPECT_LT(sent, size_t{64} << 20);
  EXPECT_LT(residentMb(flowhost_.pid()), 200);
  EXPECT_NE(get("/").find("HTTP/1.1 200"), std::string::npos);
}

TEST_F(WebLimits, FourMillionHeadersAreRefusedAfterTheFirstKilobytes) {
  std::string lines;
  for (int i = 0; i < 4096; ++i) lines += "X-A: b\r\n";
  size_t sent = 0;
  const std::string answer =
      push("GET / HTTP/1.1\r\nHost: test\r\n", lines, 4000000 * size_t{8}, &sent);
  EXPECT_EQ(answer.rfind("HTTP/1.1 431", 0), 0u) << answer.substr(0, 200);
  EXPECT_LT(sent, size_t{16} << 20);
  EXPECT_LT(residentMb(flowhost_.pid()), 200);
  EXPECT_NE(get("/").find("HTTP/1.1 200"), std::string::npos);
}

TEST_F(WebLimits, AHundredEventStreamsLeaveThePageServed) {
  // Four clients of 25 tabs each, within the share one client may have.
  std::vector<std::unique_ptr<TcpClient>> streams;
  for (int i = 0; i < 100; ++i) {
    auto client = std::make_unique<TcpClient>();
    ASSERT_TRUE(client->connectFrom("127.0.0." + std::to_string(2 + i / 25), kPort)) << i;
    client->send("GET /events HTTP/1.1\r\nHost: test\r\nAccept: text/event-stream\r\n\r\n");
    streams.push_back(std::move(client));
  }
  int started = 0;
  for (auto& s : streams) {
    started += s->readUntil(
        [](const std::string& t) { return t.find("event: state") != std::string::npos; }, 5s);
  }
  EXPECT_EQ(started, 100);
  const auto asked = Clock::now();
  const std::string page = get("/", 3s);
  EXPECT_NE(page.find("HTTP/1.1 200"), std::string::npos);
  EXPECT_LT(Clock::now() - asked, 2s);
  EXPECT_LT(terminate(), 1000ms);
}

TEST_F(WebLimits, SlowHeaderClientsDoNotDelayTheEndOfTheRun) {
  std::vector<std::unique_ptr<TcpClient>> slow;
  for (int i = 0; i < 8; ++i) {
    auto client = std::make_unique<TcpClient>();
    ASSERT_TRUE(client->connect(kPort));
    client->send("GET / HTTP/1.1\r\n");
    slow.push_back(std::move(client));
  }
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done) {
      for (auto& c : slow) c->send("X");
      std::this_thread::sleep_for(200ms);
    }
  });
  std::this_thread::sleep_for(1s);
  EXPECT_NE(get("/").find("HTTP/1.1 200"), std::string::npos);
  EXPECT_LT(terminate(), 1000ms);
  done = true;
  trickle.join();
}

TEST_F(WebLimits, MarkupInUnitNamesReachesThePageOnlyAsJsonText) {
  const std::string page = get("/");
  ASSERT_NE(page.find("HTTP/1.1 200"), std::string::npos) << page;
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'none'; script-src 'self';"),
            std::string::npos);
  // No script on the page carries data: each one is a file of the server.
  const std::regex script("<script([^>]*)>");
  int scripts = 0;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), script);
       it != std::sregex_iterator(); ++it, ++scripts) {
    EXPECT_NE((*it)[1].str().find("src=\"/assets/"), std::string::npos) << (*it)[0];
  }
  EXPECT_GT(scripts, 0);
  EXPECT_EQ(page.find("onerror"), std::string::npos);

  // The state once the first tick made it.
  std::string state;
  nlohmann::json body;
  for (int i = 0; i < 50 && (!body.is_object() || body["units"].empty()); ++i) {
    std::this_thread::sleep_for(100ms);
    state = get("/state");
    body = nlohmann::json::parse(state.substr(state.find("\r\n\r\n") + 4), nullptr, false);
  }
  ASSERT_TRUE(body.is_object()) << state.substr(0, 300);
  std::vector<std::string> names;
  for (const auto& unit : body["units"]) names.push_back(unit[1]);
  EXPECT_EQ(names, (std::vector<std::string>{"<!--<script>", "<img/src=x/onerror=alert(1)>",
                                             "</script><b>bold", "plain"}));
}

}  // namespace
