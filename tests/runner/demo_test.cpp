// The demo end to end, inside the isolated network namespace: nmea_beacon
// multicasting and flowhost running examples/demo.json with the real
// plug-ins. All five nodes must come up with health 0 on the map; Ctrl-C
// must end the run cleanly with every block closed and the files written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
using kw_test::ChildProcess;
using kw_test::completeLines;
using kw_test::countOf;
using kw_test::readFile;
using kw_test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;

struct Row {
  int node = -1;
  double latitude = 0, longitude = 0;
  int health = -1, inMap = -1, x = -1, y = -1;
};

// The node rows of the last complete plain table in `out`: the lines after
// the last "t=" status line and its heading, up to the blank line.
std::vector<Row> lastTable(const std::string& out) {
  const std::vector<std::string> lines = completeLines(out);
  std::vector<Row> rows;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("t=", 0) != 0) continue;
    std::vector<Row> block;
    size_t j = i + 2;
    for (; j < lines.size() && !lines[j].empty(); ++j) {
      std::istringstream in(lines[j]);
      Row r;
      std::string utc, idle;
      if (in >> r.node >> r.latitude >> r.longitude >> utc >> r.health >> idle >> r.inMap >> r.x >>
          r.y) {
        block.push_back(r);
      }
    }
    if (j < lines.size()) rows = block;  // complete: the blank line was seen
  }
  return rows;
}

bool allHealthy(const std::vector<Row>& rows) {
  if (rows.size() != 5) return false;
  for (const Row& r : rows) {
    if (r.health != 0 || r.inMap != 65535) return false;
  }
  return true;
}

TEST(Demo, FiveNodesGoRoundTheCircleWithHealthZeroAndCtrlCClosesCleanly) {
  KW_REQUIRE_ISOLATED_NETWORK();
  const std::string ports = readFile(std::string(kExamples) + "/beacon.mcp");
  ASSERT_NE(ports.find("\nbeacon 239.255.42.1 47001\n"), std::string::npos) << ports;

  TempDir dir;
  dir.enter();  // the sniffer's logFile.txt goes here
  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(kBeacon, {"nmea_beacon", "239.255.42.1", "47001"}));
  ChildProcess flowhost;
  ASSERT_TRUE(
      flowhost.start(kFlowhost, {"flowhost", "--table", "plain", "--every", "0.5", "--faces",
                                 dir.file("faces"), "--track", dir.file("track.svg"), "--save-as",
                                 dir.file("saved.json"), std::string(kExamples) + "/demo.json"}));
  const bool healthy =
      flowhost.readOutUntil([](const std::string& out) { return allHealthy(lastTable(out)); }, 20s);
  ASSERT_TRUE(flowhost.signal(SIGINT));
  int status = 0;
  ASSERT_TRUE(flowhost.waitExit(15s, &status)) << flowhost.out();
  ASSERT_TRUE(beacon.signal(SIGTERM));
  int beaconStatus = 0;
  EXPECT_TRUE(beacon.waitExit(5s, &beaconStatus));
  ASSERT_TRUE(healthy) << flowhost.out() << flowhost.err();
  ASSERT_TRUE(WIFEXITED(status)) << flowhost.err();
  EXPECT_EQ(WEXITSTATUS(status), 0) << flowhost.err();
  EXPECT_NE(flowhost.out().find("flowhost: stopped by SIGINT"), std::string::npos);

  // The final table: the five nodes of the node list, on the beacon's circle
  // (35.59 N, 115.44 W, radius 20 minutes) and on the 400 x 400 map.
  const std::vector<Row> rows = lastTable(flowhost.out());
  ASSERT_EQ(rows.size(), 5u) << flowhost.out();
  for (int i = 0; i < 5; ++i) {
    const Row& r = rows[static_cast<size_t>(i)];
    EXPECT_EQ(r.node, i);
    EXPECT_EQ(r.health, 0);
    EXPECT_EQ(r.inMap, 65535);
    EXPECT_GE(r.latitude, 35.25);
    EXPECT_LE(r.latitude, 35.93);
    EXPECT_GE(r.longitude, -115.78);
    EXPECT_LE(r.longitude, -115.10);
    EXPECT_GE(r.x, 0);
    EXPECT_LE(r.x, 400);
    EXPECT_GE(r.y, 0);
    EXPECT_LE(r.y, 400);
  }

  // The track picture: the map and five tracks with green dots.
  const std::string track = readFile(dir.file("track.svg"));
  EXPECT_NE(flowhost.out().find("wrote " + dir.file("track.svg")), std::string::npos);
  EXPECT_NE(track.find("<rect class=\"map\" x=\"20\" y=\"40\" width=\"400\" height=\"400\""),
            std::string::npos);
  EXPECT_NE(track.find("beacon circle"), std::string::npos);
  EXPECT_EQ(countOf(track, "<g class=\"node\""), 5u) << track;
  EXPECT_GE(countOf(track, "fill=\"rgb(0,160,0)\""), 6u);  // the legend's and the nodes'
  EXPECT_EQ(countOf(track, "<polyline class=\"track\""), 5u);
  for (int i = 0; i < 5; ++i) {  // labelled with the node list's names
    EXPECT_NE(track.find(">unit" + std::to_string(i) + "</text>"), std::string::npos) << track;
  }

  // One face per block, each an SVG picture; the map block shows its map's name.
  size_t faces = 0;
  for (const auto& entry : fs::directory_iterator(dir.path() / "faces")) {
    ++faces;
    EXPECT_EQ(readFile(entry.path().string()).rfind("<svg ", 0), 0u) << entry.path();
  }
  EXPECT_EQ(faces, 23u);
  EXPECT_NE(readFile(dir.file("faces/06-JGeoGridObj.svg")).find(">beacon circle</text>"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir.file("faces/03-JQNV_packet_sniffer.svg")));

  // Saved after the run into another folder: the same document, its list
  // names given anew so that they name the same files from there.
  Json saved = Json::parse(readFile(dir.file("saved.json")));
  Json& sniffer = saved["blocks"][2]["entries"];
  EXPECT_EQ(sniffer["node file name"], std::string(kExamples) + "/nodes.nod");
  EXPECT_EQ(sniffer["port file name"], std::string(kExamples) + "/beacon.mcp");
  sniffer["node file name"] = "nodes.nod";
  sniffer["port file name"] = "beacon.mcp";
  EXPECT_EQ(saved, Json::parse(readFile(std::string(kExamples) + "/demo.json")));

  // Every block was closed: the sniffer's trace shows its close and its
  // receivers were started by the on off constant.
  const std::string log = readFile(dir.file("logFile.txt"));
  EXPECT_NE(log.find("JQNV_packet_sniffer::engine() on-off is 1"), std::string::npos);
  EXPECT_NE(log.find("JQNV_packet_sniffer::close()"), std::string::npos);
}

// The quick start on the demo's two list files: no document, the same five
// healthy nodes, and the document it writes runs the same way.
TEST(Demo, QuickStartTracksTheListedUnitsAndItsWrittenDocumentRunsAgain) {
  KW_REQUIRE_ISOLATED_NETWORK();
  TempDir dir;
  dir.enter();
  const std::string nodes = dir.write("mine.nod", readFile(std::string(kExamples) + "/nodes.nod"));
  const std::string ports = dir.write("mine.mcp", readFile(std::string(kExamples) + "/beacon.mcp"));
  const std::string map = "36 -115.8 35.2 -115.05 400x400";

  ChildProcess writer;
  ASSERT_TRUE(writer.start(kFlowhost, {"flowhost", "--nodes", nodes, "--ports", ports, "--map", map,
                                       "--write-document", dir.file("mine.json")}));
  int status = 0;
  ASSERT_TRUE(writer.waitExit(15s, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << writer.err();
  const Json written = Json::parse(readFile(dir.file("mine.json")));
  EXPECT_EQ(written["blocks"][2]["entries"]["node file name"], "mine.nod");
  EXPECT_EQ(writer.out().find("t="), std::string::npos) << writer.out();  // written, not run

  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(kBeacon, {"nmea_beacon", "239.255.42.1", "47001"}));
  const std::vector<std::vector<std::string>> runs = {
      {"flowhost", "--table", "plain", "--every", "0.5", "--nodes", nodes, "--ports", ports,
       "--map", map},
      {"flowhost", "--table", "plain", "--every", "0.5", dir.file("mine.json")},
  };
  for (const std::vector<std::string>& args : runs) {
    ChildProcess flowhost;
    ASSERT_TRUE(flowhost.start(kFlowhost, args));
    const bool healthy = flowhost.readOutUntil(
        [](const std::string& out) { return allHealthy(lastTable(out)); }, 20s);
    ASSERT_TRUE(flowhost.signal(SIGINT));
    ASSERT_TRUE(flowhost.waitExit(15s, &status)) << flowhost.out();
    EXPECT_TRUE(healthy) << args.back() << "\n" << flowhost.out() << flowhost.err();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << flowhost.err();
  }
  ASSERT_TRUE(beacon.signal(SIGTERM));
  EXPECT_TRUE(beacon.waitExit(5s, &status));
}

}  // namespace
