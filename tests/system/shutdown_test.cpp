// Shutdown at size, inside the isolated network namespace: flowhost with a
// thousand running receivers, in one sniffer or spread over two hundred,
// must end within a few seconds of SIGTERM (each receiver pauses 10 ms as it
// stops and each sniffer 100 ms as it closes; one after the other that was
// half a minute). Every receiver is stopped and every sniffer closed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/document_json.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using kw_test::block;
using kw_test::ChildProcess;
using kw_test::countOf;
using kw_test::link;
using kw_test::readFile;
using kw_test::TempDir;
using Clock = std::chrono::steady_clock;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr auto kStopBound = 5s;

// A port list of `count` ports, each its own group and UDP port.
std::string portList(int first, int count) {
  std::string text;
  for (int i = first; i < first + count; ++i) {
    text += "p" + std::to_string(i) + " 239.255." + std::to_string(50 + i / 250) + "." +
            std::to_string(1 + i % 250) + " " + std::to_string(41000 + i) + "\n";
  }
  return text;
}

// A clock (4 Hz) and "on off" 1 feeding `sniffers` sniffer blocks that
// share the thousand ports evenly; runs the document until the receivers
// run, stops it with SIGTERM and returns how long it took to end.
std::chrono::milliseconds stopTime(TempDir& dir, int sniffers, int ports) {
  dir.enter();  // the trace log goes here
  dir.write("nodes.nod", "1\n2\n");
  Json blocks = Json::array(
      {block(1, "JClockObj", {{"rate", 4.0}}), block(2, "JConstantObj", {{"value", 1}})});
  Json links = Json::array();
  const int each = ports / sniffers;
  for (int s = 0; s < sniffers; ++s) {
    const std::string list = "ports" + std::to_string(s) + ".mcp";
    dir.write(list, portList(s * each, each));
    const int id = 3 + s;
    blocks.push_back(
        block(id, "JQNV_packet_sniffer",
              {{"node file name", "nodes.nod"}, {"port file name", list}, {"number of nodes", 2}}));
    links.push_back(link(1, 0, id, 0));
    links.push_back(link(2, 0, id, 1));
  }
  const std::string path = dir.write("many.json", kw_test::document(blocks, links).dump(1));

  ChildProcess child;
  EXPECT_TRUE(child.start(kFlowhost, {"flowhost", "--table", "plain", "--every", "0.25", path}));
  // Two table lines in, every port has been started (the constant is
  // announced before the first tick).
  EXPECT_TRUE(child.readOutUntil(
      [](const std::string& out) { return out.find("ticks=4") != std::string::npos; }, 60s))
      << child.out() << child.err();
  const std::string logBefore = readFile(dir.file("logFile.txt"));
  EXPECT_EQ(countOf(logBefore, "kw_multicast_recv::run() after thread launch"),
            static_cast<size_t>(ports));

  const Clock::time_point signalled = Clock::now();
  EXPECT_TRUE(child.signal(SIGTERM));
  int status = 0;
  EXPECT_TRUE(child.waitExit(120s, &status));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << child.err();
  EXPECT_NE(child.out().find("flowhost: stopped by SIGTERM"), std::string::npos);

  // Each receiver stopped once, each sniffer closed once.
  const std::string log = readFile(dir.file("logFile.txt"));
  EXPECT_EQ(
      countOf(log, "kw_multicast_recv:stop()") - countOf(logBefore, "kw_multicast_recv:stop()"),
      static_cast<size_t>(2 * ports))  // the stop, and the one of the receiver's destructor
      << "stop lines";
  EXPECT_EQ(countOf(log, "JQNV_packet_sniffer::close()"), static_cast<size_t>(sniffers));
  std::cout << "[ figures  ] " << sniffers << " sniffer(s), " << ports << " ports: ended "
            << took.count() << " ms after SIGTERM\n";
  return took;
}

TEST(Shutdown, AThousandPortsOfOneSnifferStopWithinSeconds) {
  KW_REQUIRE_ISOLATED_NETWORK();
  TempDir dir;
  EXPECT_LT(stopTime(dir, 1, 1000), kStopBound);
}

TEST(Shutdown, TwoHundredSniffersCloseWithinSeconds) {
  KW_REQUIRE_ISOLATED_NETWORK();
  TempDir dir;
  EXPECT_LT(stopTime(dir, 200, 1000), kStopBound);
}

}  // namespace
