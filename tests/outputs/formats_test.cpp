// The texts every output form writes: times, escaping, JSON lines, gpsd
// objects and commands, MQTT payloads and topics, GPX and GeoJSON, and the
// changes found between snapshots.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>

#include "outputs/ChangeTracker.h"
#include "outputs/GpsdProtocol.h"
#include "outputs/JsonLines.h"
#include "outputs/MqttPublisher.h"
#include "outputs/OutputSet.h"
#include "outputs/TextOut.h"
#include "outputs/TrackPicture.h"
#include "outputs/TrackStore.h"
#include "tests/support/temp_dir.h"

using nlohmann::json;

namespace kw_out {
namespace {

NodeUpdate fix(int node, std::string name, int64_t sec, double lat, double lon, int health = 0) {
  NodeUpdate u;
  u.node = node;
  u.name = std::move(name);
  u.feed = "com1";
  u.utcSec = sec;
  u.utcMs = 250;
  u.lat = lat;
  u.lon = lon;
  u.health = health;
  u.idleSec = 0.5;
  u.neverHeard = false;
  return u;
}

json parseLine(const std::string& line) {
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one object, one line";
  return json::parse(line, nullptr, false);
}

TEST(TextOut, IsoTimesAcrossCalendarEdges) {
  const auto iso = [](int64_t sec, int ms) {
    std::string s;
    appendIsoTime(&s, sec, ms);
    return s;
  };
  EXPECT_EQ(iso(0, 0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(iso(951782400 + 86399, 999), "2000-02-29T23:59:59.999Z");  // leap day
  EXPECT_EQ(iso(4107542400, 7), "2100-03-01T00:00:00.007Z");           // 2100 is no leap year
  EXPECT_EQ(iso(-1, 0), "1969-12-31T23:59:59.000Z");
  EXPECT_EQ(iso(0, 5000), "1970-01-01T00:00:00.999Z");
  EXPECT_EQ(iso(0, -3), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(iso(std::numeric_limits<int64_t>::max(), 0), "9999-12-31T23:59:59.000Z");
  EXPECT_EQ(iso(std::numeric_limits<int64_t>::min(), 0), "0000-01-01T00:00:00.000Z");
}

// Fixed-point numbers as std::to_chars writes them, also where a value
// lies next to a rounding half or is too large for the quick way.
TEST(TextOut, FixedNumbersMatchToChars) {
  std::mt19937_64 random(22);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double> values = {0.0,        -0.0,         0.5,   1.5,  2.5,   -0.00000005,
                                0.00000015, 179.99999995, -90.0, 1e17, -3e20, 123456789.123456789,
                                0.125,      4.9e-324};
  for (int i = 0; i < 20000; ++i) values.push_back(unit(random) * std::pow(10.0, i % 12 - 4));
  for (int i = 0; i < 2000; ++i) values.push_back(std::round(unit(random) * 1e6) / 1e6 + 5e-8);
  for (const double v : values) {
    for (int decimals = 0; decimals <= 9; ++decimals) {
      std::string ours;
      appendFixed(&ours, v, decimals);
      char buf[400];
      const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
      ASSERT_EQ(ours, std::string(buf, r.ptr)) << v << " with " << decimals << " decimals";
    }
  }
}

TEST(TextOut, HostileNamesStayValidJsonXmlAndTerminalText) {
  const std::string hostile =
      std::string("a\"b\\c\n\x01\x7f<&>'") + "\xff\xc3" + "\xc3\xa9" + "\xed\xa0\x80";
  std::string s;
  appendJsonString(&s, hostile);
  const json parsed = json::parse(s, nullptr, false);
  ASSERT_TRUE(parsed.is_string()) << s;
  EXPECT_EQ(parsed.get<std::string>().substr(0, 9), "a\"b\\c\n\x01\x7f<");
  EXPECT_NE(parsed.get<std::string>().find("\xc3\xa9"), std::string::npos) << "valid UTF-8 is kept";

  std::string x;
  appendXmlText(&x, hostile);
  EXPECT_EQ(x.find_first_of("<>\"'\x01"), std::string::npos) << x;
  EXPECT_NE(x.find("&lt;&amp;&gt;&apos;"), std::string::npos) << x;

  std::string t;
  appendTerminalText(&t, hostile + "\x1b[2J\xc2\x9b" + "2J\xc2\xa0");
  EXPECT_EQ(t,
            "a\"b\\c   <&>'\xEF\xBF\xBD\xEF\xBF\xBD\xc3\xa9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD "
            "[2J 2J\xc2\xa0");

  std::string n;
  appendFixed(&n, std::nan(""), 3);
  appendFixed(&n, 1e300, 3);
  EXPECT_EQ(n, "nullnull");
}

TEST(JsonLines, NodeLineCarriesEveryField) {
  NodeUpdate u = fix(7, "truck7", 1700000000, -33.8688197, 151.2092955, 1);
  u.idleSec = 12.25;
  std::string line;
  appendNodeLine(&line, u);
  json j = parseLine(line);
  ASSERT_TRUE(j.is_object()) << line;
  EXPECT_EQ(j["class"], "NODE");
  EXPECT_EQ(j["node"], 7);
  EXPECT_EQ(j["name"], "truck7");
  EXPECT_EQ(j["feed"], "com1");
  EXPECT_EQ(j["time"], "2023-11-14T22:13:20.250Z");
  EXPECT_DOUBLE_EQ(j["lat"].get<double>(), -33.8688197);
  EXPECT_DOUBLE_EQ(j["lon"].get<double>(), 151.2092955);
  EXPECT_EQ(j["health"], 1);
  EXPECT_EQ(j["health_text"], "medium");
  EXPECT_DOUBLE_EQ(j["idle"].get<double>(), 12.25);
  EXPECT_FALSE(j.contains("in_map")) << "no map block linked";

  u.name.clear();
  u.hasMap = true;
  u.inMap = true;
  u.pixelX = 120;
  u.pixelY = -4;
  line.clear();
  appendNodeLine(&line, u);
  j = parseLine(line);
  EXPECT_EQ(j["name"], "7") << "an unnamed node goes by its number";
  EXPECT_EQ(j["in_map"], true);
  EXPECT_EQ(j["x"], 120);
  EXPECT_EQ(j["y"], -4);
}

TEST(JsonLines, EventAndPortLines) {
  Event e;
  e.kind = Event::Kind::Health;
  e.node = 7;
  e.name = "truck7";
  e.feed = "com1";
  e.fromHealth = 0;
  e.toHealth = 2;
  e.message = "node truck7 went bad";
  std::string line;
  appendEventLine(&line, e, 0, 1);
  json j = parseLine(line);
  EXPECT_EQ(j["class"], "EVENT");
  EXPECT_EQ(j["event"], "health");
  EXPECT_EQ(j["from"], "good");
  EXPECT_EQ(j["to"], "bad");
  EXPECT_EQ(j["message"], "node truck7 went bad");
  EXPECT_EQ(j["time"], "1970-01-01T00:00:00.001Z");

  e.kind = Event::Kind::PortSilent;
  e.name = "com2";
  line.clear();
  appendEventLine(&line, e, 0, 0);
  j = parseLine(line);
  EXPECT_EQ(j["event"], "port_silent");
  EXPECT_EQ(j["port"], "com2");
  EXPECT_FALSE(j.contains("node"));

  PortCounters c{"com1", 10, 2, 3, 4, 5, "cannot join 239.1.1.1: No such device", "", ""};
  line.clear();
  appendPortLine(&line, c, true, 0, 0);
  j = parseLine(line);
  EXPECT_EQ(j["class"], "PORT");
  EXPECT_EQ(j["port"], "com1");
  EXPECT_EQ(j["taken"], 10);
  EXPECT_EQ(j["dropped_full"], 2);
  EXPECT_EQ(j["rejected"], 3);
  EXPECT_EQ(j["unknown_node"], 4);
  EXPECT_EQ(j["older"], 5);
  EXPECT_EQ(j["silent"], true);
  EXPECT_EQ(j["failure"], "cannot join 239.1.1.1: No such device");
}

TEST(ChangeTracker, FreshFixesAndNodeEvents) {
  ChangeTracker t;
  std::vector<size_t> fresh;
  std::vector<Event> events;
  NodeUpdate silentOne;  // never heard: no fix, no event, no 0,0
  silentOne.node = 9;
  std::vector<NodeUpdate> snap{fix(7, "truck7", 100, 1, 2), silentOne};
  snap[0].hasMap = true;
  t.nodes(snap, &fresh, &events);
  EXPECT_EQ(fresh, std::vector<size_t>{0});
  EXPECT_TRUE(events.empty()) << "the first sighting is the baseline";

  fresh.clear();
  t.nodes(snap, &fresh, &events);
  EXPECT_TRUE(fresh.empty()) << "same fix time: nothing new";

  snap[0].health = 2;
  snap[0].inMap = true;
  t.nodes(snap, &fresh, &events);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Event::Kind::Health);
  EXPECT_EQ(events[0].message, "node truck7 went bad");
  EXPECT_EQ(events[1].kind, Event::Kind::EnterMap);
  EXPECT_EQ(events[1].message, "node truck7 entered the map");

  events.clear();
  snap[0].utcMs = 500;
  snap[0].health = 0;
  snap[0].inMap = false;
  t.nodes(snap, &fresh, &events);
  EXPECT_EQ(fresh, std::vector<size_t>{0}) << "a new millisecond is a new fix";
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].message, "node truck7 went good");
  EXPECT_EQ(events[1].kind, Event::Kind::LeaveMap);

  events.clear();
  snap[0].hasMap = false;  // the map block was unlinked: not a departure
  snap[0].inMap = true;
  t.nodes(snap, &fresh, &events);
  snap[0].hasMap = true;
  t.nodes(snap, &fresh, &events);
  EXPECT_TRUE(events.empty());
}

TEST(ChangeTracker, PortGoesSilentAndComesBack) {
  using namespace std::chrono_literals;
  ChangeTracker t(5s);
  const auto t0 = std::chrono::steady_clock::time_point{} + 100s;
  std::vector<Event> events;
  std::vector<PortCounters> ports{{"com1", 0, 0, 0, 0, 0, "", "", ""},
                                  {"com2", 3, 0, 0, 0, 0, "", "", ""}};
  t.ports(ports, t0, &events);
  ports[1].taken = 4;
  t.ports(ports, t0 + 1s, &events);
  t.ports(ports, t0 + 5s, &events);
  EXPECT_TRUE(events.empty());
  t.ports(ports, t0 + 6s, &events);
  ASSERT_EQ(events.size(), 1u) << "com1 never took anything in: it is not 'silent'";
  EXPECT_EQ(events[0].kind, Event::Kind::PortSilent);
  EXPECT_EQ(events[0].message, "port com2 went silent");
  EXPECT_TRUE(t.portSilent(ports[1]));
  t.ports(ports, t0 + 9s, &events);
  EXPECT_EQ(events.size(), 1u) << "reported once";
  ports[1].taken = 5;
  t.ports(ports, t0 + 10s, &events);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].message, "port com2 came back");
  EXPECT_FALSE(t.portSilent(ports[1]));
}

TEST(GpsdProtocol, ObjectsAsLibgpsExpectsThem) {
  std::string s;
  gpsd::appendVersion(&s);
  json j = parseLine(s);
  EXPECT_EQ(j["class"], "VERSION");
  EXPECT_EQ(j["proto_major"], 3);
  EXPECT_TRUE(j["proto_minor"].is_number_integer());
  EXPECT_TRUE(j["release"].is_string());
  EXPECT_TRUE(j["rev"].is_string());

  s.clear();
  gpsd::appendTpv(&s, fix(12, "x", 1700000000, 48.1, -122.5));
  j = parseLine(s);
  EXPECT_EQ(j["class"], "TPV");
  EXPECT_EQ(j["device"], "node:12");
  EXPECT_EQ(j["mode"], 2);
  EXPECT_EQ(j["time"], "2023-11-14T22:13:20.250Z");
  EXPECT_DOUBLE_EQ(j["lat"].get<double>(), 48.1);
  EXPECT_DOUBLE_EQ(j["lon"].get<double>(), -122.5);

  s.clear();
  gpsd::appendPoll(&s, 0, 0, {"{\"class\":\"TPV\"}", "{\"class\":\"TPV\"}"});
  j = parseLine(s);
  EXPECT_EQ(j["class"], "POLL");
  EXPECT_EQ(j["active"], 2);
  EXPECT_EQ(j["tpv"].size(), 2u);
  EXPECT_TRUE(j["gst"].is_array());
  EXPECT_TRUE(j["sky"].is_array());

  s.clear();
  gpsd::appendDevices(&s, {{"node:1", 0, 0, ""}, {"node:2", 0, 0, ""}});
  j = parseLine(s);
  EXPECT_EQ(j["devices"][1]["class"], "DEVICE");
  EXPECT_EQ(j["devices"][1]["path"], "node:2");
}

TEST(GpsdProtocol, CommandsSplitOnSemicolonsAndLines) {
  std::string in =
      "?WATCH={\"enable\":true,\"json\":true};\r\n?POLL;?DEVICES\n  "
      "?VERSION;?WATCH={\"enable\":false};?WATCH={oops;?FOO;?PO";
  gpsd::Command c;
  std::vector<gpsd::Command> got;
  while (gpsd::takeCommand(&in, &c)) got.push_back(c);
  ASSERT_EQ(got.size(), 7u);
  EXPECT_EQ(got[0].kind, gpsd::Command::Kind::Watch);
  EXPECT_TRUE(got[0].watchEnable && got[0].watchJson && got[0].valid);
  EXPECT_EQ(got[1].kind, gpsd::Command::Kind::Poll);
  EXPECT_EQ(got[2].kind, gpsd::Command::Kind::Devices);
  EXPECT_EQ(got[3].kind, gpsd::Command::Kind::Version);
  EXPECT_FALSE(got[4].watchEnable);
  EXPECT_FALSE(got[5].valid);
  EXPECT_EQ(got[6].kind, gpsd::Command::Kind::Unknown);
  EXPECT_EQ(got[6].text, "?FOO");
  EXPECT_EQ(in, "?PO") << "an incomplete command waits for its end";
}

TEST(MqttPayload, OwnTracksLocationAndTopicLevels) {
  NodeUpdate u = fix(7, "truck7", 1700000000, 47.5, 8.25, 2);
  u.idleSec = 30;
  std::string s;
  MqttPublisher::appendLocation(&s, u);
  const json j = json::parse(s, nullptr, false);
  ASSERT_TRUE(j.is_object()) << s;
  EXPECT_EQ(j["_type"], "location");
  EXPECT_DOUBLE_EQ(j["lat"].get<double>(), 47.5);
  EXPECT_DOUBLE_EQ(j["lon"].get<double>(), 8.25);
  EXPECT_EQ(j["tst"], 1700000000);
  EXPECT_EQ(j["tid"], "k7");
  EXPECT_EQ(j["health_text"], "bad");
  EXPECT_DOUBLE_EQ(j["idle"].get<double>(), 30.0);

  EXPECT_EQ(topicLevel("a/b+c#d e\x01\xc3"), "a_b_c_d e__");
  EXPECT_EQ(topicLevel(""), "_");
}

// A unit is fleet and node: without a fleet every name is the node's own,
// with one the fleet leads it; fleet names that would break a topic, a
// path or a device name are refused.
TEST(UnitIdentity, NamesWithAndWithoutAFleet) {
  NodeUpdate plain = fix(3, "unit3", 1, 0, 0);
  EXPECT_EQ(unitKey(plain), "3");
  EXPECT_EQ(unitLabel(plain), "unit3");
  EXPECT_EQ(unitDevice(unitId(plain)), "node:3");
  EXPECT_EQ(unitTopic(plain), "unit3");
  NodeUpdate north = plain;
  north.fleet = "north";
  north.name = "a/b#";
  EXPECT_EQ(unitKey(north), "north/3");
  EXPECT_EQ(unitLabel(north), "north/a/b#");
  EXPECT_EQ(unitDevice(unitId(north)), "node:north/3");
  EXPECT_EQ(unitTopic(north), "north/a_b_") << "the name stays one topic level";
  EXPECT_LT(unitId(plain), unitId(north));
  EXPECT_LT((UnitId{"", "", 2}), (UnitId{"", "", 10})) << "numbers in number order";
  PortCounters port{"com1", 0, 0, 0, 0, 0, "", "", ""};
  EXPECT_EQ(portTopic(port), "feeds/com1");
  port.fleet = "north";
  EXPECT_EQ(portTopic(port), "feeds/north/com1");

  for (const char* good : {"north", "N-2_a", "0", "abcdefghijklmnopqrstuvwxyz012345"}) {
    EXPECT_TRUE(validFleetName(good, nullptr)) << good;
  }
  for (const char* bad : {"", "a/b", "a b", "a+", "#", "-x", "feeds", "\xc3\xa9",
                          "abcdefghijklmnopqrstuvwxyz0123456"}) {
    std::string why;
    EXPECT_FALSE(validFleetName(bad, &why)) << bad;
    EXPECT_NE(why.find("fleet name"), std::string::npos) << why;
  }
}

// The same node number in two fleets is two units in every form: its own
// fix and events, JSON fields, gpsd device, topic and track.
TEST(UnitIdentity, SameNumberInTwoFleetsNeverCollides) {
  std::vector<NodeUpdate> snap{fix(3, "unit3", 100, 10, 20), fix(3, "unit3", 100, -10, -20)};
  snap[0].fleet = "north";
  snap[1].fleet = "south";
  ChangeTracker tracker;
  std::vector<size_t> fresh;
  std::vector<Event> events;
  tracker.nodes(snap, &fresh, &events);
  EXPECT_EQ(fresh, (std::vector<size_t>{0, 1})) << "each its own first fix";
  fresh.clear();
  snap[1].health = kHealthBad;
  tracker.nodes(snap, &fresh, &events);
  EXPECT_TRUE(fresh.empty()) << "north's time is not south's";
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].row, 1u);
  EXPECT_EQ(events[0].message, "node south/unit3 went bad");
  std::string line;
  appendEventLine(&line, events[0], 0, 0);
  EXPECT_EQ(parseLine(line)["fleet"], "south");

  std::string north, south;
  appendNodeLine(&north, snap[0]);
  appendNodeLine(&south, snap[1]);
  EXPECT_EQ(parseLine(north)["fleet"], "north");
  EXPECT_EQ(parseLine(south)["fleet"], "south");
  std::string tpv;
  gpsd::appendTpv(&tpv, snap[1]);
  EXPECT_EQ(parseLine(tpv)["device"], "node:south/3");
  EXPECT_NE(unitTopic(snap[0]), unitTopic(snap[1]));

  TrackStore store;
  for (const NodeUpdate& u : snap) store.add(u);
  EXPECT_EQ(store.nodeCount(), 2u);
  std::string gpx, geo;
  store.appendGpx(&gpx);
  EXPECT_NE(gpx.find("<name>north/unit3</name>"), std::string::npos) << gpx;
  EXPECT_NE(gpx.find("<name>south/unit3</name>"), std::string::npos) << gpx;
  store.appendGeoJson(&geo);
  const json features = json::parse(geo)["features"];
  ASSERT_EQ(features.size(), 2u);
  EXPECT_EQ(features[0]["properties"]["fleet"], "north");
  EXPECT_EQ(features[1]["properties"]["fleet"], "south");
}

TEST(TrackStore, KeepsTheNewestPointsAndWritesRfc7946) {
  TrackStore store(3);
  for (int i = 0; i < 5; ++i) store.add(fix(1, "van \"one\" <&>", 100 + i, 10.0 + i, 20.0 + i));
  store.add(fix(2, "", 200, -45, 170));
  NodeUpdate never;
  never.node = 3;
  store.add(never);
  NodeUpdate wild = fix(4, "wild", 1, std::nan(""), 200);
  store.add(wild);
  EXPECT_EQ(store.pointCount({"", "", 1}), 3u);
  EXPECT_EQ(store.nodeCount(), 2u) << "no track for a node without a fix";

  std::string text;
  store.appendGeoJson(&text);
  const json fc = json::parse(text, nullptr, false);
  ASSERT_TRUE(fc.is_object()) << text;
  EXPECT_EQ(fc["type"], "FeatureCollection");
  ASSERT_TRUE(fc["features"].is_array());
  std::vector<std::string> kinds;
  for (const json& f : fc["features"]) {
    EXPECT_EQ(f["type"], "Feature");
    ASSERT_TRUE(f["properties"].is_object());
    const json& g = f["geometry"];
    const auto checkPosition = [](const json& p) {
      ASSERT_TRUE(p.is_array());
      ASSERT_EQ(p.size(), 2u);
      EXPECT_LE(std::fabs(p[0].get<double>()), 180.0);
      EXPECT_LE(std::fabs(p[1].get<double>()), 90.0);
    };
    if (g["type"] == "Point") {
      checkPosition(g["coordinates"]);
    } else {
      ASSERT_EQ(g["type"], "LineString");
      ASSERT_GE(g["coordinates"].size(), 2u);
      for (const json& p : g["coordinates"]) checkPosition(p);
    }
    kinds.push_back(f["properties"]["name"].get<std::string>() + "/" +
                    g["type"].get<std::string>());
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"van \"one\" <&>/Point", "van \"one\" <&>/LineString",
                                             "2/Point"}));
  const json& line = fc["features"][1]["geometry"]["coordinates"];
  EXPECT_DOUBLE_EQ(line[0][0].get<double>(), 22.0)
      << "longitude first; the oldest two were trimmed";
  EXPECT_DOUBLE_EQ(line[0][1].get<double>(), 12.0);
  EXPECT_DOUBLE_EQ(line[2][1].get<double>(), 14.0);

  text.clear();
  store.appendGpx(&text);
  EXPECT_EQ(text.find("van \"one\""), std::string::npos) << "names are escaped";
  EXPECT_NE(text.find("<name>van &quot;one&quot; &lt;&amp;&gt;</name>"), std::string::npos);
  EXPECT_NE(
      text.find(
          "<trkpt lat=\"14.0000000\" lon=\"24.0000000\"><time>1970-01-01T00:01:44.250Z</time>"),
      std::string::npos);
  EXPECT_EQ(text.find("lat=\"10.0000000\""), std::string::npos);
}

// ---- the track picture, drawn from the track store -------------------------

// A fix of `node` at map pixel (x, y) with `health`, named `name`.
NodeUpdate onMap(int node, const std::string& name, int x, int y, int health) {
  static int64_t second = 1700000000;
  NodeUpdate u = fix(node, name, ++second, 10.0, 20.0);
  u.health = health;
  u.hasMap = u.inMap = true;
  u.pixelX = x;
  u.pixelY = y;
  return u;
}

TEST(TrackPictures, DrawTheMapAndEachNodesDotsColouredByHealth) {
  TrackStore store;
  TrackPicture picture(store);
  picture.setMap(400, 300, "beacon <circle> & co");
  store.add(onMap(0, "node 1", 10, 20, 0));
  store.add(onMap(0, "node 1", 10, 20, 0));  // the same again: not drawn
  store.add(onMap(0, "node 1", 11, 21, 1));
  store.add(onMap(1, "node 2", 399, 299, 2));
  store.add(onMap(1, "node 2", 0, 0, 7));
  EXPECT_EQ(picture.pointCount(), 4u);
  const std::string svg = picture.toSvg();
  EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_NE(svg.find("<rect class=\"map\" x=\"20\" y=\"40\" width=\"400\" height=\"300\""),
            std::string::npos);
  EXPECT_NE(svg.find("beacon &lt;circle&gt; &amp; co"), std::string::npos);
  EXPECT_EQ(svg.find("<circle>"), std::string::npos);
  EXPECT_NE(svg.find("points=\"30,60 31,61\""), std::string::npos);
  EXPECT_NE(svg.find("<circle cx=\"30\" cy=\"60\" r=\"3\" fill=\"rgb(0,160,0)\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find("<circle cx=\"31\" cy=\"61\" r=\"3\" fill=\"rgb(255,140,0)\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find("<circle cx=\"419\" cy=\"339\" r=\"3\" fill=\"rgb(220,0,0)\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find("<circle cx=\"20\" cy=\"40\" r=\"3\" fill=\"rgb(128,128,128)\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find(">node 2</text>"), std::string::npos);
}

TEST(TrackPictures, KeepTheNewestPointsAndShrinkLargeMaps) {
  constexpr size_t kKept = 20000;
  TrackStore store(kKept);
  TrackPicture picture(store);
  picture.setMap(0, -5, "");
  EXPECT_EQ(picture.width(), 1);
  EXPECT_EQ(picture.height(), 1);
  picture.setMap(10000, 5000, "big");
  for (size_t i = 0; i < kKept + 10; ++i) {
    store.add(onMap(0, "n", static_cast<int>(i % 10000), static_cast<int>(i / 10000), 0));
  }
  EXPECT_EQ(picture.pointCount(), kKept);
  EXPECT_EQ(picture.droppedPoints(), 10u);
  const std::string svg = picture.toSvg();
  // The ten oldest went: the track starts at the 11th point (10, 0) and ends
  // at the newest (20009 % 10000, 20009 / 10000) = (9, 2).
  EXPECT_NE(svg.find("points=\"30,40 31,40 "), std::string::npos);
  EXPECT_NE(svg.find(" 29,42\"/>"), std::string::npos);
  EXPECT_NE(svg.find("width=\"1200\""), std::string::npos);
  EXPECT_NE(svg.find("viewBox=\"0 0 10040 5060\""), std::string::npos);

  kw_test::TempDir dir;
  std::string error;
  EXPECT_TRUE(picture.write(dir.file("t.svg"), &error)) << error;
  EXPECT_EQ(kw_test::readFile(dir.file("t.svg")), svg);
  EXPECT_FALSE(picture.write(dir.file("no/such/t.svg"), &error));
  EXPECT_NE(error.find("cannot write the track picture"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace kw_out
