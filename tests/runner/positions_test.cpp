// flowhost's position outputs end to end, inside the isolated network
// namespace: nmea_beacon multicasting five units, flowhost running
// examples/demo.json with the real plug-ins and an output option, and the
// real client of each form reading the result (a JSON parser for the JSON
// lines and GeoJSON, gpsbabel for GPX). Also: a port list line that cannot be
// set up is warned of while the good port runs on, a hang-up (SIGHUP) or
// a kill leaves a readable track picture, and the live table fits a real
// terminal (a tmux pane) and follows its resize.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using kw_test::ChildProcess;
using kw_test::completeLines;
using kw_test::countOf;
using kw_test::readFile;
using kw_test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;
constexpr const char* kGpsbabel = "/usr/bin/gpsbabel";

std::string demoDocument() { return std::string(kExamples) + "/demo.json"; }

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
  ASSERT_TRUE(
      flowhost.start(kFlowhost, {"flowhost", "--table", "plain", "--json", "-", demoDocument()}));
  const bool allNodes = flowhost.readOutUntil(
      [](const std::string& out) { return nodesSeen(jsonLines(out)).size() == 5; }, 15s);
  // Silence: every unit goes medium after 2 s and bad after 4 s.
  int beaconStatus = 0;
  ASSERT_TRUE(beacon_.signal(SIGTERM));
  ASSERT_TRUE(beacon_.waitExit(5s, &beaconStatus));
  const bool wentBad = flowhost.readOutUntil(
      [](const std::string& out) {
        return countOf(out, "went bad") >= 5 && countOf(out, "\"silent\":true") > 0;
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

  if (::access(kGpsbabel, X_OK) != 0)
    GTEST_SKIP() << "gpsbabel is not installed (Debian package gpsbabel)";
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
  dir_.write("beacon.mcp",
             "# two feeds, the second mistyped\nbeacon 239.255.42.1 47001\nfar 239.255.42 47002\n");
  dir_.write("doc.json", readFile(demoDocument()));
  ChildProcess flowhost;
  ASSERT_TRUE(flowhost.start(kFlowhost, {"flowhost", "--table", "plain", "--json",
                                         dir_.file("out.jsonl"), dir_.file("doc.json")}));
  const bool counted = flowhost.readOutUntil(
      [](const std::string& out) {
        return out.find("port beacon 239.255.42.1:47001: taken 1") != std::string::npos;
      },
      15s);
  stop(flowhost, SIGINT);
  EXPECT_TRUE(counted) << flowhost.out();
  const std::string warning = "flowhost: warning: " + dir_.file("beacon.mcp") +
                              ":3: group 239.255.42: not an IPv4 address\n";
  EXPECT_EQ(countOf(flowhost.err(), "flowhost: warning: "), 1u) << flowhost.err();
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
  ASSERT_TRUE(
      first.start(kFlowhost, {"flowhost", "--table", "off", "--track", hungUp, demoDocument()}));
  std::this_thread::sleep_for(3s);
  stop(first, SIGHUP);
  EXPECT_NE(first.out().find("flowhost: stopped by SIGHUP"), std::string::npos) << first.out();
  const std::string picture = readFile(hungUp);
  EXPECT_EQ(picture.rfind("<svg ", 0), 0u);
  EXPECT_NE(picture.find("</svg>\n"), std::string::npos);
  EXPECT_EQ(countOf(picture, "<polyline class=\"track\""), 5u) << picture;

  const std::string killed = dir_.file("killed.svg");
  ChildProcess second;
  ASSERT_TRUE(
      second.start(kFlowhost, {"flowhost", "--table", "off", "--track", killed, demoDocument()}));
  std::this_thread::sleep_for(7s);  // past the first rewrite, 5 s in
  ASSERT_TRUE(second.signal(SIGKILL));
  int status = 0;
  ASSERT_TRUE(second.waitExit(5s, &status));
  const std::string left = readFile(killed);
  EXPECT_EQ(left.rfind("<svg ", 0), 0u) << "no picture after a kill 7 s into the run";
  EXPECT_NE(left.find("</svg>\n"), std::string::npos);
  EXPECT_GE(countOf(left, "<polyline class=\"track\""), 4u) << left;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << "a temporary was left: " << entry.path();
  }
}

// tmux on a server socket of the test's own, killed at the end (which
// hangs up on what runs in its panes).
class Tmux {
 public:
  explicit Tmux(std::string socket) : socket_(std::move(socket)) {}
  ~Tmux() { run({"kill-server"}); }
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  // Runs one tmux command; its standard output, or nothing when it failed.
  std::optional<std::string> run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"env", "TERM=xterm", "tmux", "-S", socket_, "-f", "/dev/null"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess tmux;
    int status = 0;
    if (!tmux.start("/usr/bin/env", argv) || !tmux.waitExit(10s, &status)) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return tmux.out();
  }

  // The pane's lines as shown, a wrapped line joined into one (-J).
  std::vector<std::string> pane() {
    const std::optional<std::string> text = run({"capture-pane", "-p", "-J", "-t", "table"});
    return text ? completeLines(*text) : std::vector<std::string>{};
  }

 private:
  std::string socket_;
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The index of the live table's heading in `lines`, -1 when not there.
int headingAt(const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::vector<std::string> w = words(lines[i]);
    if (w.size() >= 2 && w[0] == "node" && w[1] == "name") return static_cast<int>(i);
  }
  return -1;
}

// Forty listed nodes do not fit a pane of 80 x 24: they are paged under
// the heading, nothing wraps and no copy piles up; resized to 60 x 20, the
// table is drawn anew at the top at the new size.
TEST_F(Positions, TheLiveTableFitsATerminalPaneAndFollowsItsResize) {
  if (!fs::exists("/usr/bin/tmux")) GTEST_SKIP() << "/usr/bin/tmux is not installed";
  std::string list;
  for (int i = 0; i < 40; ++i) list += std::to_string(i) + " unit" + std::to_string(i) + "\n";
  const std::string nodes = dir_.write("forty.nod", list);
  const std::string ports = dir_.write("beacon.mcp", "beacon 239.255.42.1 47001\n");
  Tmux tmux(dir_.file("tmux.sock"));
  ASSERT_TRUE(tmux.run({"new-session", "-d", "-s", "table", "-x", "80", "-y", "24", "-c",
                        dir_.path().string(),
                        std::string(kFlowhost) + " --nodes " + nodes + " --ports " + ports +
                            " --map '36 -115.8 35.2 -115.05 400x400'"}));
  const auto settled = [&tmux](size_t columns, size_t rows, bool onTop) {
    std::vector<std::string> lines;
    for (auto until = std::chrono::steady_clock::now() + 15s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(200ms)) {
      lines = tmux.pane();
      const int heading = headingAt(lines);
      bool fits = lines.size() <= rows;
      for (const std::string& line : lines) fits = fits && line.size() <= columns;
      const bool counted = [&] {
        for (const std::string& line : lines) {
          if (line.find(": taken ") != std::string::npos)
            return line.find("taken 0,") == std::string::npos;
        }
        return false;
      }();
      if (heading >= 1 && (!onTop || heading == 1) && fits && counted) break;
    }
    return lines;
  };

  std::vector<std::string> lines = settled(80, 24, false);
  std::string shown;
  for (const std::string& line : lines) shown += line + "\n";
  const int heading = headingAt(lines);
  ASSERT_GE(heading, 1) << shown;
  EXPECT_EQ(lines[static_cast<size_t>(heading) - 1].rfind("rows ", 0), 0u) << shown;
  int headings = 0;
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 80u) << line;
    headings += headingAt({line}) == 0;
  }
  EXPECT_EQ(headings, 1) << "one table, no copies piled up\n" << shown;
  EXPECT_NE(shown.find("port beacon: taken "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" unit"), std::string::npos) << "the names of the node list\n" << shown;

  ASSERT_TRUE(tmux.run({"resize-window", "-t", "table", "-x", "60", "-y", "20"}));
  lines = settled(60, 20, true);
  shown.clear();
  for (const std::string& line : lines) shown += line + "\n";
  ASSERT_EQ(headingAt(lines), 1) << shown;
  EXPECT_EQ(lines[0].rfind("rows ", 0), 0u) << shown;
  EXPECT_LE(lines.size(), 20u);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 60u) << line;
}

// Texts of a port list reach a terminal harmless: a port name that would
// retitle the pane and clear the screen shows with blanks in the plain
// table and its warnings, and the pane keeps its title; a unicast address
// as a group is said to be no multicast group, at the start and when the
// port is set up.
TEST_F(Positions, PortListTextsReachThePaneHarmless) {
  const std::string nodes =
      dir_.write("nodes.nod", readFile(std::string(kExamples) + "/nodes.nod"));
  const std::string ports = dir_.write(
      "sly.mcp", "be\x1b]2;owned\x07\x1b[2Jacon 239.255.42.1 47001\nlocal 10.0.0.1 47002\n");
  const std::string shown = "port be ]2;owned  [2Jacon 239.255.42.1:47001: taken ";
  ChildProcess plain;
  ASSERT_TRUE(
      plain.start(kFlowhost, {"flowhost", "--table", "plain", "--nodes", nodes, "--ports", ports}));
  const bool counted = plain.readOutUntil(
      [&shown](const std::string& out) { return out.find(shown + "1") != std::string::npos; }, 15s);
  stop(plain, SIGINT);
  EXPECT_TRUE(counted) << plain.out();
  for (const std::string* stream : {&plain.out(), &plain.err()}) {
    EXPECT_EQ(stream->find_first_of("\x1b\x07"), std::string::npos) << *stream;
  }
  EXPECT_NE(plain.err().find("flowhost: " + ports + ":2: group 10.0.0.1 is not a multicast group"),
            std::string::npos)
      << plain.err();
  EXPECT_NE(plain.err().find("flowhost: warning: " + ports +
                             ":2: group 10.0.0.1: not a multicast group (224.0.0.0 to "
                             "239.255.255.255)\n"),
            std::string::npos)
      << plain.err();

  if (!fs::exists("/usr/bin/tmux")) GTEST_SKIP() << "/usr/bin/tmux is not installed";
  Tmux tmux(dir_.file("tmux.sock"));
  ASSERT_TRUE(tmux.run(
      {"new-session", "-d", "-s", "table", "-x", "160", "-y", "40", "-c", dir_.path().string(),
       std::string(kFlowhost) + " --table plain --nodes nodes.nod --ports sly.mcp"}));
  const std::optional<std::string> title =
      tmux.run({"display", "-p", "-t", "table", "#{pane_title}"});
  ASSERT_TRUE(title);
  std::string pane;
  for (auto until = std::chrono::steady_clock::now() + 15s;
       std::chrono::steady_clock::now() < until && pane.find(shown + "1") == std::string::npos;
       std::this_thread::sleep_for(200ms)) {
    pane.clear();
    for (const std::string& line : tmux.pane()) pane += line + "\n";
  }
  EXPECT_NE(pane.find(shown), std::string::npos) << pane;
  EXPECT_EQ(tmux.run({"display", "-p", "-t", "table", "#{pane_title}"}), title);
}

}  // namespace
