// The JSON stream and the track files: a stream never blocks on a reader
// that does not read, track files are replaced whole, and the whole set
// writes what users' tools read (gpsbabel for GPX).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "outputs/FileWriter.h"
#include "outputs/LineStream.h"
#include "outputs/OutputSet.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace kw_out {
namespace {

NodeUpdate fix(int node, std::string name, int64_t sec, double lat, double lon) {
  NodeUpdate u;
  u.node = node;
  u.name = std::move(name);
  u.feed = "com1";
  u.utcSec = sec;
  u.lat = lat;
  u.lon = lon;
  u.health = kHealthGood;
  u.neverHeard = false;
  return u;
}

std::string drain(int fd) {
  std::string got;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  return got;
}

TEST(LineStream, FullPipeDropsWholeLinesWithoutBlocking) {
  int p[2];
  ASSERT_EQ(::pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
  ::fcntl(p[1], F_SETFL, 0);  // the stream must make it non-blocking itself
  {
    LineStream stream(4096);
    ASSERT_TRUE(stream.attach(p[1]));
    const std::string line(99, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5000; ++i) stream.write(line + "\n");  // 500 kB into a 64 kB pipe
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s)
        << "writes must not wait for the reader";
    EXPECT_GT(stream.droppedLines(), 0u);
    EXPECT_LE(stream.backlog(), 4096u);
    const uint64_t dropped = stream.droppedLines();

    std::string got = drain(p[0]);
    stream.flush();
    got += drain(p[0]);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.size() % 100, 0u) << "only whole lines reach the reader";
    EXPECT_EQ(got.size() / 100 + dropped, 5000u) << "every line is delivered or counted";
    EXPECT_TRUE(stream.error().empty());

    ::close(p[0]);  // the reader goes away: a counted failure, no signal, no crash
    ::signal(SIGPIPE, SIG_IGN);
    stream.write(line + "\n");
    EXPECT_NE(stream.error().find("Broken pipe"), std::string::npos) << stream.error();
    stream.write(line + "\n");
  }
  ::close(p[1]);
}

TEST(LineStream, OpenFailureCarriesTheReason) {
  LineStream stream;
  EXPECT_FALSE(stream.open("/nonexistent-folder/out.jsonl"));
  EXPECT_NE(stream.error().find("No such file or directory"), std::string::npos) << stream.error();
  stream.write("{}\n");  // harmless when not open
}

// The writer replaces files whole (through the platform's atomic write) and
// keeps the reason of a write that failed, leaving the old file in place.
TEST(FileWriter, ReplacesWholeAndReportsAFailedWrite) {
  kw_test::TempDir dir;
  const std::string target = dir.file("track.gpx");
  FileWriter writer;
  writer.submit(target, std::string(1 << 20, 'n'));
  writer.drain();
  EXPECT_EQ(kw_test::readFile(target).size(), 1u << 20);
  EXPECT_EQ(writer.written(), 1u);
  EXPECT_EQ(writer.lastError(), "");

  if (::geteuid() != 0) {
    ::chmod(dir.path().c_str(), 0555);  // the folder refuses the temporary
    writer.submit(target, "new\n");
    writer.drain();
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_NE(writer.lastError().find("Permission denied"), std::string::npos)
        << writer.lastError();
    EXPECT_EQ(kw_test::readFile(target).size(), 1u << 20) << "the target is left as it was";
  }
  writer.submit(dir.file("missing/x.gpx"), "x");
  writer.drain();
  EXPECT_NE(writer.lastError().find("missing"), std::string::npos) << writer.lastError();
  EXPECT_EQ(writer.written(), 1u);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "no temporary is left behind";
}

TEST(FileWriter, KeepsOnlyTheNewestPendingContent) {
  kw_test::TempDir dir;
  FileWriter writer;
  for (int i = 0; i < 200; ++i) writer.submit(dir.file("a.json"), std::to_string(i));
  writer.submit(dir.file("b.json"), "b");
  writer.drain();
  EXPECT_EQ(kw_test::readFile(dir.file("a.json")), "199");
  EXPECT_EQ(kw_test::readFile(dir.file("b.json")), "b");
  EXPECT_EQ(writer.written() + writer.replaced(), 201u);
  writer.submit(dir.file("nofolder/c.json"), "c");
  writer.drain();
  EXPECT_NE(writer.lastError().find("No such file or directory"), std::string::npos)
      << writer.lastError();
}

// A run of the whole set: node updates, a health change, a port that goes
// silent, and the files at the end.
TEST(OutputSet, JsonStreamEventsAndTrackFiles) {
  kw_test::TempDir dir;
  OutputOptions o;
  o.json = dir.file("feed.jsonl");
  o.gpx = dir.file("tracks.gpx");
  o.geojson = dir.file("tracks.geojson");
  o.fileInterval = 2s;
  o.trackPoints = 50;
  OutputSet set;
  ASSERT_TRUE(set.open(o)) << set.error();
  const auto t0 = std::chrono::steady_clock::now();
  NodeUpdate never;
  never.node = 3;
  never.name = "ghost";
  std::vector<PortCounters> ports{{"com1", 0, 0, 0, 0, 0, "", "", ""}};
  for (int tick = 0; tick < 100; ++tick) {
    std::vector<NodeUpdate> nodes{fix(1, "truck1", 1000 + tick, 45 + tick * 1e-4, 7),
                                  fix(2, "", 2000, -10, -20), never};
    if (tick >= 60) nodes[1].health = 2;
    set.tick(nodes, t0 + tick * 100ms);
    if (tick % 10 == 0) {
      if (tick < 30) ports[0].taken += 5;
      set.counters(ports, t0 + tick * 100ms);
    }
  }
  // Written during the run on the writer thread, not only at the end.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!std::filesystem::exists(o.gpx) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(std::filesystem::exists(o.gpx));
  set.close();

  std::istringstream lines(kw_test::readFile(o.json));
  std::string line;
  int nodeLines = 0, node2Lines = 0, portLines = 0;
  std::vector<std::string> messages;
  while (std::getline(lines, line)) {
    const json j = json::parse(line, nullptr, false);
    ASSERT_TRUE(j.is_object()) << line;
    if (j["class"] == "NODE") {
      ++nodeLines;
      EXPECT_NE(j["name"], "ghost") << "a node never heard is not published";
      if (j["node"] == 2) ++node2Lines;
    } else if (j["class"] == "PORT") {
      ++portLines;
    } else if (j["class"] == "EVENT") {
      messages.push_back(j["message"]);
      if (j["event"] == "health") {
        EXPECT_EQ(j["from"], "good") << line;  // the grade before the change
        EXPECT_EQ(j["to"], "bad") << line;
      }
    }
  }
  EXPECT_EQ(nodeLines, 101) << "100 fixes of node 1, one of node 2 (its fix never changes)";
  EXPECT_EQ(node2Lines, 1);
  EXPECT_EQ(portLines, 10);
  EXPECT_EQ(messages, (std::vector<std::string>{"node 2 went bad", "port com1 went silent"}));

  const json fc = json::parse(kw_test::readFile(o.geojson), nullptr, false);
  ASSERT_TRUE(fc.is_object());
  ASSERT_EQ(fc["features"].size(), 3u) << "node 1: point and track; node 2: point only";
  EXPECT_EQ(fc["features"][1]["geometry"]["coordinates"].size(), 50u) << "the track is bounded";
  EXPECT_DOUBLE_EQ(fc["features"][0]["geometry"]["coordinates"][1].get<double>(), 45 + 99 * 1e-4);
}

TEST(OutputSet, OpenFailsWithTheOptionAndReason) {
  OutputSet set;
  OutputOptions o;
  o.json = "/nonexistent-folder/x.jsonl";
  EXPECT_FALSE(set.open(o));
  EXPECT_EQ(set.error().rfind("--json: cannot open", 0), 0u) << set.error();
  o = OutputOptions{};
  o.gpsd = "127.0.0.1:99999";
  EXPECT_FALSE(set.open(o));
  EXPECT_EQ(set.error().rfind("--gpsd: not a port number", 0), 0u) << set.error();
  o = OutputOptions{};
  o.mqtt = "localhost";
  o.mqttPrefix = "bad/#";
  EXPECT_FALSE(set.open(o));
  EXPECT_EQ(set.error().rfind("--mqtt: not a usable MQTT topic prefix", 0), 0u) << set.error();
}

// A form's own state change (its broker lost, say) reaches every form with
// the next tick once, the JSON stream as one OUTPUT line, and stays the
// form's latest state.
TEST(OutputSet, AFormsStateChangeReachesEveryFormOnce) {
  struct Teller final : OutputForm {
    std::vector<OutputStateChange> pending;
    void tick(const OutputTick&) override {}
    void takeStateChanges(std::vector<OutputStateChange>* changes) override {
      changes->insert(changes->end(), pending.begin(), pending.end());
      pending.clear();
    }
  };
  struct Listener final : OutputForm {
    std::vector<std::vector<OutputStateChange>> seen;
    void tick(const OutputTick& tick) override { seen.push_back(tick.outputStates); }
  };
  kw_test::TempDir dir;
  OutputOptions o;
  o.json = dir.file("feed.jsonl");
  OutputSet set;
  ASSERT_TRUE(set.open(o)) << set.error();
  auto teller = std::make_unique<Teller>();
  auto listener = std::make_unique<Listener>();
  Teller* tells = teller.get();
  Listener* hears = listener.get();
  set.add(std::move(teller));
  set.add(std::move(listener));
  tells->pending.push_back(
      {"mqtt", OutputStateChange::State::Lost, "broker gone", "127.0.0.1:1883"});
  set.tick({});
  set.tick({});
  ASSERT_EQ(hears->seen.size(), 2u);
  ASSERT_EQ(hears->seen[0].size(), 1u);
  EXPECT_EQ(hears->seen[0][0].reason, "broker gone");
  EXPECT_TRUE(hears->seen[1].empty());
  ASSERT_EQ(set.outputStates().size(), 1u);
  EXPECT_EQ(set.outputStates()[0].state, OutputStateChange::State::Lost);
  set.close();
  std::vector<json> said;
  std::istringstream lines(kw_test::readFile(o.json));
  for (std::string line; std::getline(lines, line);) {
    const json j = json::parse(line);
    if (j["class"] == "OUTPUT") said.push_back(j);
  }
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0]["output"], "mqtt");
  EXPECT_EQ(said[0]["state"], "lost");
  EXPECT_EQ(said[0]["peer"], "127.0.0.1:1883");
  EXPECT_EQ(said[0]["reason"], "broker gone");
  EXPECT_EQ(said[0]["message"], "mqtt lost: broker gone");
}

// gpsbabel, the tool many users convert tracks with, reads our GPX: every
// node's track, points in order.
TEST(OutputSet, GpxReadByGpsbabel) {
  const char* gpsbabel = "/usr/bin/gpsbabel";
  if (::access(gpsbabel, X_OK) != 0)
    GTEST_SKIP() << "gpsbabel is not installed (Debian package gpsbabel)";
  kw_test::TempDir dir;
  OutputOptions o;
  o.gpx = dir.file("tracks.gpx");
  {
    OutputSet set;
    ASSERT_TRUE(set.open(o)) << set.error();
    for (int tick = 0; tick < 5; ++tick)
      set.tick({fix(1, "truck <1>", 1700000000 + tick, 45.5 + tick * 0.001, 7.25),
                fix(2, "", 1700000000 + tick, -33.25, 151.5 - tick * 0.001)});
  }
  // The command users run: every point, in order, as latitude, longitude.
  kw_test::ChildProcess csv;
  ASSERT_TRUE(csv.start(gpsbabel, {"gpsbabel", "-i", "gpx", "-f", o.gpx, "-o", "csv", "-F", "-"}));
  int status = -1;
  ASSERT_TRUE(csv.waitExit(20s, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << csv.err();
  const std::vector<std::string> rows = kw_test::completeLines(csv.out());
  ASSERT_EQ(rows.size(), 10u) << csv.out();
  EXPECT_EQ(rows[0], "45.50000, 07.25000, ");
  EXPECT_EQ(rows[4], "45.50400, 07.25000, ");
  EXPECT_EQ(rows[5], "-33.25000, 151.50000, ");
  EXPECT_EQ(rows[9], "-33.25000, 151.49600, ");

  // Read back as GPX: the tracks keep their names, times and our extensions.
  kw_test::ChildProcess gpx;
  ASSERT_TRUE(
      gpx.start(gpsbabel, {"gpsbabel", "-t", "-i", "gpx", "-f", o.gpx, "-o", "gpx", "-F", "-"}));
  ASSERT_TRUE(gpx.waitExit(20s, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << gpx.err();
  EXPECT_NE(gpx.out().find("<name>truck &lt;1&gt;</name>"), std::string::npos) << gpx.out();
  EXPECT_NE(gpx.out().find("<name>2</name>"), std::string::npos);
  EXPECT_NE(gpx.out().find("<time>2023-11-14T22:13:24Z</time>"), std::string::npos);
  EXPECT_NE(gpx.out().find("<kw:health>good</kw:health>"), std::string::npos);
}

}  // namespace
}  // namespace kw_out
