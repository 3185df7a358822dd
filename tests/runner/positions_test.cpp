// flowhost's position outputs end to end, inside the isolated network
// namespace: nmea_beacon multicasting five units, flowhost running
// examples/demo.json with the real plug-ins and an output option, and the
// real client of each form reading the result (a JSON parser for the JSON
// lines and GeoJSON, gpsbabel for GPX). Also: a port list line that cannot be
// set up is warned of while the good port runs on, and a hang-up (SIGHUP) or
// a kill leaves a readable track picture.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/isolation.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using kw_test::ChildProcess;
using kw_test::completeLines;
using kw_test::readFile;
using kw_test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;
constexpr const char* kGpsbabel = "/usr/bin/gpsbabel";

std::string demoDocument() { return std::string(kExamples) + "/demo.json"; }

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The JSON objects of the complete lines of `text`; a line that is not a
// JSON object fails the test.
std::vector<Json> jsonLines(const std::string& text) {
  std::vector<Json> objects;
  for (const std::string& line : completeLines(text)) {
    Json j = Json::parse(line, nullptr, false);
    EXPECT_TRUE(j.is_object()) << "not a JSON object: " << line;
    if (j.is_object()) objects.push_back(std::move(j));
  }
  return objects;
}

// The node numbers with a NODE object in `objects`.
std::set<int> nodesSeen(const std::vector<Json>& objects) {
  std::set<int> nodes;
  for (const Json& j : objects) {
    if (j.value("class", "") == "NODE") nodes.insert(j["node"].get<int>());
  }
  return nodes;
}

class Positions : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    dir_.enter();  // the sniffer's logFile.txt goes here
    ASSERT_TRUE(beacon_.start(kBeacon, {"nmea_beacon", "239.255.42.1", "47001"}));
  }
  void TearDown() override {
    int status = 0;
    if (beacon_.signal(SIGTERM)) beacon_.waitExit(5s, &status);
  }
  // Stops flowhost with `signalNumber` and expects a clean exit.
  void stop(ChildProcess& flowhost, int signalNumber) {
    ASSERT_TRUE(flowhost.signal(signalNumber));
    int status = 0;
    ASSERT_TRUE(flowhost.waitExit(15s, &status)) << flowhost.err();
    ASSERT_TRUE(WIFEXITED(status)) << flowhost.err();
    EXPECT_EQ(WEXITSTATUS(status), 0) << flowhost.err();
  }

  TempDir dir_;
  ChildProcess beacon_;
};

// --json - : standard output holds JSON lines only (the runner's own lines
// go to standard error): a NODE per new fix of every unit with its name,
// feed and time, PORT counters once a second, and health and port EVENTs
// when the units fall silent.
TEST_F(Positions, JsonLinesOnStandardOutputCarryEveryUnitCountersAndEvents) {
  ChildProcess flowhost;
  ASSERT_TRUE(flowhost.start(kFlowhost, {"flowhost", "--table", "plain", "--json", "-",
                                         demoDocument()}));
  const bool allNodes = flowhost.readOutUntil(
      [](const std::string& out) { return nodesSeen(jsonLines(out)).size() == 5; }, 15s);
  // Silence: every unit goes medium after 2 s and bad after 4 s.
  int beaconStatus = 0;
  ASSERT_TRUE(beacon_.signal(SIGTERM));
  ASSERT_TRUE(beacon_.waitExit(5s, &beaconStatus));
  const bool wentBad = flowhost.readOutUntil(
      [](const std::string& out) {
        return count(out, "went bad") >= 5 && count(out, "\"silent\":true") > 0;
      },
      15s);
  stop(flowhost, SIGINT);
  ASSERT_TRUE(allNodes) << flowhost.out() << flowhost.err();
  EXPECT_TRUE(wentBad) << flowhost.out();

  const std::vector<Json> objects = jsonLines(flowhost.out());
  EXPECT_EQ(nodesSeen(objects), (std::set<int>{0, 1, 2, 3, 4}));
  size_t ports = 0, healthEvents = 0, silentEvents = 0;
  for (const Json& j : objects) {
    const std::string kind = j["class"];
    if (kind == "NODE") {
      EXPECT_EQ(j["name"], "unit" + std::to_string(j["node"].get<int>())) << j;
      EXPECT_EQ(j["feed"], "beacon");
      EXPECT_EQ(j["time"].get<std::string>().size(), 24u) << j;  // 2026-12-09T02:47:45.759Z
      EXPECT_GE(j["lat"].get<double>(), 35.25);
      EXPECT_LE(j["lat"].get<double>(), 35.93);
      EXPECT_GE(j["lon"].get<double>(), -115.78);
      EXPECT_LE(j["lon"].get<double>(), -115.10);
      EXPECT_EQ(j["in_map"], true);
    } else if (kind == "PORT") {
      ++ports;
      EXPECT_EQ(j["port"], "beacon");
      EXPECT_EQ(j["failure"], "");
    } else if (kind == "EVENT" && j["event"] == "health") {
      ++healthEvents;
    } else if (kind == "EVENT" && j["event"] == "port_silent") {
      ++silentEvents;
      EXPECT_EQ(j["message"], "port beacon went silent");
    }
  }
  EXPECT_GE(ports, 4u);
  EXPECT_GE(healthEvents, 10u) << "good to medium, medium to bad, for each unit";
  EXPECT_EQ(silentEvents, 1u);
  // The last counters: packets were taken in, none lost.
  const auto last = std::find_if(objects.rbegin(), objects.rend(),
                                 [](const Json& j) { return j["class"] == "PORT"; });
  ASSERT_NE(last, objects.rend());
  EXPECT_GE((*last)["taken"].get<int>(), 5);
  EXPECT_EQ((*last)["dropped_full"], 0);
  EXPECT_EQ((*last)["silent"], true) << "the beacon stopped";
  // The table and the runner's lines went to standard error.
  EXPECT_NE(flowhost.err().find("t="), std::string::npos);
  EXPECT_NE(flowhost.err().find("port beacon 239.255.42.1:47001: taken "), std::string::npos);
  EXPECT_NE(flowhost.err().find("flowhost: stopped by SIGINT"), std::string::npos);
}

// --gpx and --geojson: files rewritten during the run (not only at the end),
// read by gpsbabel and checked against RFC 7946's structure.
TEST_F(Positions, GpxIsReadByGpsbabelAndGeoJsonHasEveryUnit) {
  const std::string gpx = dir_.file("tracks.gpx");
  const std::string geojson = dir_.file("tracks.geojson");
  ChildProcess flowhost;
  ASSERT_TRUE(flowhost.start(kFlowhost, {"flowhost", "--table", "off", "--gpx", gpx, "--geojson",
                                         geojson, demoDocument()}));
  // Written every few seconds while the run goes on.
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (!fs::exists(gpx) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(fs::exists(gpx)) << "no GPX file during the run";
  std::this_thread::sleep_for(1s);
  stop(flowhost, SIGTERM);
  // The summary counts the writes during the run and the last one at the end.
  std::smatch written;
  ASSERT_TRUE(std::regex_search(flowhost.out(), written, std::regex("files written ([0-9]+)\n")))
      << flowhost.out();
  EXPECT_GE(std::stoi(written[1].str()), 4) << "two files, during the run and at the end";

  const Json collection = Json::parse(readFile(geojson), nullptr, false);
  ASSERT_TRUE(collection.is_object()) << readFile(geojson);
  EXPECT_EQ(collection["type"], "FeatureCollection");
  std::set<std::string> points, lines;
  for (const Json& feature : collection["features"]) {
    EXPECT_EQ(feature["type"], "Feature");
    const Json& geometry = feature["geometry"];
    const std::string name = feature["properties"]["name"];
    if (geometry["type"] == "Point") {
      points.insert(name);
      ASSERT_EQ(geometry["coordinates"].size(), 2u);
      EXPECT_LT(geometry["coordinates"][0].get<double>(), -115.0) << "longitude first";
      EXPECT_GT(geometry["coordinates"][1].get<double>(), 35.0);
    } else if (geometry["type"] == "LineString") {
      lines.insert(name);
      EXPECT_GE(geometry["coordinates"].size(), 2u);
    }
  }
  const std::set<std::string> units{"unit0", "unit1", "unit2", "unit3", "unit4"};
  EXPECT_EQ(points, units);
  EXPECT_EQ(lines, units);

  if (::access(kGpsbabel, X_OK) != 0) GTEST_SKIP() << "gpsbabel is not installed (Debian package gpsbabel)";
  ChildProcess babel;
  ASSERT_TRUE(babel.start(kGpsbabel, {"gpsbabel", "-i", "gpx", "-f", gpx, "-o", "csv", "-F", "-"}));
  int status = 0;
  ASSERT_TRUE(babel.waitExit(20s, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << babel.err();
  size_t points2 = 0;
  for (const std::string& line : completeLines(babel.out())) {
    double lat = 0, lon = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf, %lf", &lat, &lon), 2) << line;
    EXPECT_GE(lat, 35.25);
    EXPECT_LE(lat, 35.93);
    EXPECT_GE(lon, -115.78);
    EXPECT_LE(lon, -115.10);
    ++points2;
  }
  EXPECT_GE(points2, 10u) << babel.out();
}

// A port list line whose group is no IPv4 address: one warning naming the
// list file's line, and the good port runs on.
TEST_F(Positions, AFailingPortIsWarnedOfAndTheOthersRunOn) {
  dir_.write("nodes.nod", readFile(std::string(kExamples) + "/nodes.nod"));
  dir_.write("beacon.mcp", "# two feeds, the second mistyped\nbeacon 239.255.42.1 47001\nfar 239.255.42 47002\n");
  dir_.write("doc.json", readFile(demoDocument()));
  ChildProcess flowhost;
  ASSERT_TRUE(flowhost.start(kFlowhost, {"flowhost", "--table", "plain", "--json", dir_.file("out.jsonl"),
                                         dir_.file("doc.json")}));
  const bool counted = flowhost.readOutUntil(
      [](const std::string& out) { return out.find("port beacon 239.255.42.1:47001: taken 1") != std::string::npos; },
      15s);
  stop(flowhost, SIGINT);
  EXPECT_TRUE(counted) << flowhost.out();
  const std::string warning =
      "flowhost: warning: " + dir_.file("beacon.mcp") + ":3: group 239.255.42: not an IPv4 address\n";
  EXPECT_EQ(count(flowhost.err(), "flowhost: warning: "), 1u) << flowhost.err();
  EXPECT_NE(flowhost.err().find(warning), std::string::npos) << flowhost.err();
  EXPECT_NE(flowhost.out().find("port far 239.255.42:47002: taken 0, dropped (full) 0, rejected 0, "
                                "unknown node 0, older 0, not set up"),
            std::string::npos)
      << flowhost.out();
  bool failureInStream = false;
  for (const Json& j : jsonLines(readFile(dir_.file("out.jsonl")))) {
    if (j["class"] == "PORT" && j["port"] == "far") {
      failureInStream = j["failure"] == "group 239.255.42: not an IPv4 address";
    }
  }
  EXPECT_TRUE(failureInStream);
}

// A hang-up ends the run like SIGTERM: the track picture is written whole.
// A kill that gives no chance to close still leaves the picture of a few
// seconds before.
TEST_F(Positions, HangUpOrKillLeavesAReadableTrackPicture) {
  const std::string hungUp = dir_.file("hangup.svg");
  ChildProcess first;
  ASSERT_TRUE(first.start(kFlowhost, {"flowhost", "--table", "off", "--track", hungUp, demoDocument()}));
  std::this_thread::sleep_for(3s);
  stop(first, SIGHUP);
  EXPECT_NE(first.out().find("flowhost: stopped by SIGHUP"), std::string::npos) << first.out();
  const std::string picture = readFile(hungUp);
  EXPECT_EQ(picture.rfind("<svg ", 0), 0u);
  EXPECT_NE(picture.find("</svg>\n"), std::string::npos);
  EXPECT_EQ(count(picture, "<polyline class=\"track\""), 5u) << picture;

  const std::string killed = dir_.file("killed.svg");
  ChildProcess second;
  ASSERT_TRUE(second.start(kFlowhost, {"flowhost", "--table", "off", "--track", killed, demoDocument()}));
  std::this_thread::sleep_for(7s);  // past the first rewrite, 5 s in
  ASSERT_TRUE(second.signal(SIGKILL));
  int status = 0;
  ASSERT_TRUE(second.waitExit(5s, &status));
  const std::string left = readFile(killed);
  EXPECT_EQ(left.rfind("<svg ", 0), 0u) << "no picture after a kill 7 s into the run";
  EXPECT_NE(left.find("</svg>\n"), std::string::npos);
  EXPECT_GE(count(left, "<polyline class=\"track\""), 4u) << left;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << "a temporary was left: " << entry.path();
  }
}

}  // namespace
