// The operations console in a real browser, inside the isolated network
// namespace (which has no network beyond loopback): nmea_beacon
// multicasting, flowhost's quick start serving the console, headless
// Chromium driven through its DevTools protocol. The five demo units are
// drawn with their names and colours and one turns red once its beacon
// stops; a click shows a unit's details; a thousand units are drawn within
// three seconds of the page's load; the offline basemap is drawn with no
// network; tiles come from a generated MBTiles file; a unit whose name is
// markup is shown as text; names never print over one another; the time
// slider shows an earlier moment.
// Screenshots go to <build>/artifacts/console-*.png.
// Each test reports itself skipped, with the reason, when Chromium cannot run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/outputs/tcp_client.h"
#include "tests/support/child_process.h"
#include "tests/support/headless_browser.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kw_test::ChildProcess;
using kw_test::HeadlessBrowser;
using kw_test::TcpClient;
using kw_test::TempDir;
using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;
constexpr const char* kUrl = "http://127.0.0.1:8090/";

// Every unit's marker, drawn alone or within a cluster: its label and its
// health class.
constexpr const char* kDrawnUnits =
    "cluster.getLayers().map(m => m.face.textContent + ' ' +"
    " m.options.icon.options.className.match(/\\bh[012x]\\b/)[0]).sort()";
// The units on the screen: markers alone plus those the clusters count.
constexpr const char* kUnitsOnScreen =
    "document.querySelectorAll('.leaflet-marker-icon.unit').length + "
    "[...document.querySelectorAll('.marker-cluster span')].reduce((n, e) => n + "
    "Number(e.textContent), 0)";

// A PNG of one grey pixel, the tile of every place in the test's MBTiles.
const unsigned char kPixel[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
    0x00, 0x3a, 0x7e, 0x9b, 0x55, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9c, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81, 0x4c, 0x17, 0xd7, 0xdf, 0x00,
    0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

fs::path artifacts() {
  const char* binary = std::getenv("KW_BINARY_DIR");
  const fs::path dir = fs::path(binary != nullptr ? binary : ".") / "artifacts";
  fs::create_directories(dir);
  return dir;
}

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    if (!fs::exists(HeadlessBrowser::kChromium))
      GTEST_SKIP() << HeadlessBrowser::kChromium
                   << " is not installed (scripts/setup installs chromium)";
    dir_.enter();
    std::string why;
    if (!browser_.start(dir_.file("profile"), 1280, 860, &why))
      GTEST_SKIP() << "headless chromium cannot run here: " << why;
  }

  void TearDown() override {
    int status = 0;
    for (auto& beacon : beacons_) {
      beacon->signal(SIGTERM);
      beacon->waitExit(5s, &status);
    }
    if (flowhost_.pid() > 0 && flowhost_.signal(SIGTERM)) flowhost_.waitExit(15s, &status);
  }

  ChildProcess& beacon(const std::vector<std::string>& args) {
    beacons_.push_back(std::make_unique<ChildProcess>());
    std::vector<std::string> all = {"nmea_beacon"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_TRUE(beacons_.back()->start(kBeacon, all));
    return *beacons_.back();
  }

  // The quick start of `nodes` on `ports` with the console on port 8090.
  void serve(const std::string& nodes, const std::string& ports,
             std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"flowhost", "--nodes", nodes,           "--ports",
                                     ports,      "--table", "off",           "--seconds",
                                     "120",      "--http",  "127.0.0.1:8090"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(flowhost_.start(kFlowhost, args));
    ASSERT_TRUE(flowhost_.readOutUntil(
        [](const std::string& out) { return out.find("web view on http://") != std::string::npos; },
        20s))
        << flowhost_.out() << flowhost_.err();
  }

  void open() {
    std::string why;
    ASSERT_TRUE(browser_.open(kUrl, &why)) << why;
    ASSERT_TRUE(browser_.waitFor("document.body.dataset.ready === '1'", 15s))
        << "the console never drew its first state";
  }

  void screenshot(const std::string& name) {
    std::string why;
    EXPECT_TRUE(browser_.screenshot((artifacts() / name).string(), &why)) << why;
  }

  // True when every resource the page loaded came from flowhost itself.
  bool onlyFromFlowhost() {
    return browser_.evaluate(
               "performance.getEntriesByType('resource').every(e => e.name.startsWith('" +
               std::string(kUrl) + "'))") == Json(true);
  }

  TempDir dir_;
  HeadlessBrowser browser_;
  ChildProcess flowhost_;
  std::vector<std::unique_ptr<ChildProcess>> beacons_;
};

TEST_F(Console, TheFiveDemoUnitsAreDrawnAndOneTurnsRedWhenItsBeaconStops) {
  // Units 0 to 3 from one beacon, unit 4 from a beacon of its own.
  beacon({"--nodes", "4", "239.255.42.1", "47001"});
  ChildProcess& fifth = beacon({"--nodes", "1", "--first", "4", "239.255.42.1", "47001"});
  serve(std::string(kExamples) + "/nodes.nod", std::string(kExamples) + "/beacon.mcp",
        {"--map", "36 -115.8 35.2 -115.05 400x400"});
  open();
  const Json healthy = Json{"unit0 h0", "unit1 h0", "unit2 h0", "unit3 h0", "unit4 h0"};
  ASSERT_TRUE(browser_.waitFor(
      std::string(kDrawnUnits) + ".join() === '" + "unit0 h0,unit1 h0,unit2 h0,unit3 h0,unit4 h0'",
      15s))
      << browser_.evaluate(kDrawnUnits);
  EXPECT_EQ(browser_.evaluate(kDrawnUnits), healthy);
  EXPECT_TRUE(browser_.waitFor(std::string(kUnitsOnScreen) + " === 5", 5s));
  EXPECT_EQ(browser_.evaluate("document.querySelector('.legend').textContent"),
            "goodmediumbadnever heard");
  EXPECT_EQ(
      browser_.evaluate("[...document.querySelectorAll('.area-name')].map(e => e.textContent)"),
      Json{"units"});  // the map block's rectangle, named
  EXPECT_TRUE(browser_.waitFor("document.body.dataset.basemap === 'drawn'", 10s));

  // A click on a unit drawn alone shows its details.
  const Json clicked = browser_.evaluate(
      "(() => { const e = document.querySelector('.leaflet-marker-icon.unit');"
      " e.dispatchEvent(new MouseEvent('click', {bubbles: true})); return e.textContent; })()");
  ASSERT_TRUE(clicked.is_string()) << clicked;
  const std::string name = clicked.get<std::string>();
  EXPECT_TRUE(browser_.waitFor("document.getElementById('d-name').textContent === '" + name +
                                   "' && "
                                   "(t => t.includes('number" +
                                   name.substr(4) +
                                   "') && t.includes('feedbeacon') &&"
                                   " /time20\\d\\d-/.test(t) && /position35\\.\\d+, "
                                   "-115\\./.test(t) && t.includes('healthgood'))"
                                   "(document.getElementById('d-fields').textContent)",
                               10s))
      << browser_.evaluate("document.getElementById('d-fields').textContent");
  screenshot("console-5.png");

  // Unit 4's beacon stops: after the bad threshold it is red, the rest not.
  ASSERT_TRUE(fifth.signal(SIGTERM));
  EXPECT_TRUE(browser_.waitFor(
      std::string(kDrawnUnits) + ".join() === '" + "unit0 h0,unit1 h0,unit2 h0,unit3 h0,unit4 h2'",
      15s))
      << browser_.evaluate(kDrawnUnits);
  EXPECT_TRUE(browser_.waitFor(
      "[...document.querySelectorAll('#events li')].some(e => e.textContent.includes('unit4'))",
      5s));
  EXPECT_TRUE(
      browser_.waitFor("document.getElementById('status').textContent.startsWith("
                       "'live · 5 units: 4 good · 0 medium · 1 bad · 0 never heard')",
                       5s))
      << browser_.evaluate("document.getElementById('status').textContent");
  screenshot("console-5-stopped.png");

  // The time slider: an earlier frame shows the five units where they
  // were, in place of the live markers; "live" brings those back.
  ASSERT_TRUE(browser_.waitFor(
      "(fetchHistoryRange(), Number(document.getElementById('h-slider').max) >= 2)", 15s));
  browser_.evaluate(
      "(s => { s.value = '1'; s.dispatchEvent(new Event('input')); })"
      "(document.getElementById('h-slider'))");
  EXPECT_TRUE(
      browser_.waitFor("map.hasLayer(historyLayer) && !map.hasLayer(cluster) && "
                       "historyLayer.getLayers().length === 5 && "
                       "document.getElementById('h-time').textContent.startsWith('at ')",
                       5s))
      << browser_.evaluate("historyLayer.getLayers().length");
  browser_.evaluate("document.getElementById('h-live').click()");
  EXPECT_TRUE(
      browser_.waitFor("!map.hasLayer(historyLayer) && map.hasLayer(cluster) && "
                       "document.getElementById('h-time').textContent === 'live'",
                       5s));
  EXPECT_TRUE(onlyFromFlowhost());
}

TEST_F(Console, AThousandUnitsAreDrawnWithinThreeSecondsOfLoad) {
  std::string nodes, ports;
  for (int n = 0; n < 1000; ++n) nodes += std::to_string(n) + " unit" + std::to_string(n) + "\n";
  for (int k = 1; k <= 8; ++k)
    ports += "feed" + std::to_string(k) + " 239.255.43." + std::to_string(k) + " " +
             std::to_string(47100 + k) + "\n";
  dir_.write("units.nod", nodes);
  dir_.write("ports.mcp", ports);
  serve("units.nod", "ports.mcp", {"--trace", "off"});
  for (int k = 1; k <= 8; ++k) {
    beacon({"--nodes", "125", "--first", std::to_string(125 * (k - 1)), "--interval", "2",
            "239.255.43." + std::to_string(k), std::to_string(47100 + k)});
  }
  // Every unit heard before the page loads.
  bool heard = false;
  for (int i = 0; i < 100 && !heard; ++i) {
    std::this_thread::sleep_for(200ms);
    TcpClient probe;
    if (!probe.connect(8090)) continue;
    probe.send("GET /state HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n");
    probe.closedByPeer(3s);
    heard = probe.text().find("\"unit999\"") != std::string::npos &&
            probe.text().find("null,null,null") == std::string::npos;
  }
  ASSERT_TRUE(heard) << "the thousand units were not all heard";
  open();
  ASSERT_TRUE(browser_.waitFor("document.body.dataset.drawnAt", 10s));
  const Json drawnAt = browser_.evaluate("Number(document.body.dataset.drawnAt)");
  const Json loaded =
      browser_.evaluate("performance.getEntriesByType('navigation')[0].loadEventEnd");
  ASSERT_TRUE(drawnAt.is_number() && loaded.is_number()) << drawnAt << loaded;
  EXPECT_LT(drawnAt.get<double>() - loaded.get<double>(), 3000.0);
  EXPECT_GT(
      browser_
          .evaluate(
              "document.querySelectorAll('.marker-cluster, .leaflet-marker-icon.unit').length")
          .get<int>(),
      0);
  EXPECT_GE(browser_.evaluate("Number(document.body.dataset.markers)").get<int>(), 990);
  std::this_thread::sleep_for(1s);
  screenshot("console-1000.png");
}

TEST_F(Console, TheOfflineBasemapIsDrawnWithNoNetwork) {
  serve(std::string(kExamples) + "/nodes.nod", std::string(kExamples) + "/beacon.mcp");
  open();
  ASSERT_TRUE(browser_.waitFor("document.body.dataset.basemap === 'drawn'", 10s));
  std::this_thread::sleep_for(500ms);
  // Land was painted: the basemap's canvas has many coloured pixels.
  const Json painted = browser_.evaluate(
      "(() => { const c = document.querySelector('.leaflet-basemap-pane canvas');"
      " const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
      " let n = 0; for (let i = 3; i < d.length; i += 4) if (d[i]) ++n; return n; })()");
  ASSERT_TRUE(painted.is_number()) << painted;
  EXPECT_GT(painted.get<int>(), 10000);
  EXPECT_NE(browser_.evaluate("document.querySelector('.leaflet-control-attribution').textContent")
                .get<std::string>()
                .find("Natural Earth"),
            std::string::npos);
  EXPECT_TRUE(onlyFromFlowhost());
  screenshot("console-basemap.png");
}

TEST_F(Console, TilesComeFromAGeneratedMbtilesFile) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.file("area.mbtiles").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "CREATE TABLE metadata (name TEXT, value TEXT);"
               "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
               "tile_data BLOB);"
               "INSERT INTO metadata VALUES ('name', 'test area'), ('format', 'png'), "
               "('attribution', 'Test tiles <b>by us</b>'), ('minzoom', '0'), ('maxzoom', '3');",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
  for (int z = 0; z <= 3; ++z) {
    for (int x = 0; x < (1 << z); ++x) {
      for (int y = 0; y < (1 << z); ++y) {
        sqlite3_bind_int(insert, 1, z);
        sqlite3_bind_int(insert, 2, x);
        sqlite3_bind_int(insert, 3, y);
        sqlite3_bind_blob(insert, 4, kPixel, sizeof kPixel, SQLITE_STATIC);
        ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
      }
    }
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);

  serve(std::string(kExamples) + "/nodes.nod", std::string(kExamples) + "/beacon.mcp",
        {"--tiles", dir_.file("area.mbtiles")});
  open();
  ASSERT_TRUE(browser_.waitFor("Number(document.body.dataset.tilesLoaded) >= 4", 10s))
      << browser_.evaluate("document.body.dataset.tilesLoaded");
  EXPECT_TRUE(browser_.evaluate("[...document.querySelectorAll('img.leaflet-tile')]"
                                ".every(i => i.src.startsWith('" +
                                std::string(kUrl) + "tiles/'))") == Json(true));
  // The file's credit is shown, as text.
  EXPECT_NE(browser_.evaluate("document.querySelector('.leaflet-control-attribution').textContent")
                .get<std::string>()
                .find("Test tiles <b>by us</b>"),
            std::string::npos);
  EXPECT_EQ(browser_.evaluate("fetch('/tiles/9/0/0').then(r => r.status)"), Json(404));
  screenshot("console-tiles.png");
}

TEST_F(Console, AUnitNamedWithMarkupIsShownAsText) {
  dir_.write("units.nod", "0 <img/src=x/onerror=alert(1)>\n1 <!--<script>\n2 unit2\n");
  beacon({"--nodes", "3", "239.255.42.1", "47001"});
  serve("units.nod", std::string(kExamples) + "/beacon.mcp");
  open();
  ASSERT_TRUE(browser_.waitFor(std::string(kUnitsOnScreen) + " === 3", 15s))
      << browser_.evaluate(kDrawnUnits);
  const Json labels =
      browser_.evaluate("cluster.getLayers().map(m => m.face.lastChild.textContent).sort()");
  EXPECT_EQ(labels, (Json{"<!--<script>", "<img/src=x/onerror=alert(1)>", "unit2"}));
  // No element was made of it: no picture among the markers or in the side panel.
  EXPECT_EQ(
      browser_.evaluate("document.querySelectorAll('#side img, .leaflet-marker-pane img').length"),
      Json(0));
  browser_.evaluate(
      "document.getElementById('search').value = 'onerror';"
      "document.getElementById('search').dispatchEvent(new Event('input'))");
  EXPECT_EQ(browser_.evaluate("document.getElementById('found').firstChild.firstChild.textContent"),
            Json("<img/src=x/onerror=alert(1)>"));
  EXPECT_EQ(browser_.dialogs(), 0);
  screenshot("console-markup.png");

  // Two units a little further apart than a cluster's reach, with long
  // names (given to the page directly, the stream closed): both dots are
  // drawn, the second name is hidden rather than printed over the first.
  browser_.evaluate(
      "stream.source.close(); (() => {"
      " const a = map.containerPointToLatLng([300, 300]), b = map.containerPointToLatLng([386, "
      "302]);"
      " applyState({seq: model.seq + 1, t: serverNow(), site: model.site, areas: [], ports: [],"
      "  outputs: [], events: [], units: [['1', 'a rather long name one', 1, 'f', 0, a.lat, a.lng, "
      "0, null],"
      "  ['2', 'a rather long name two', 2, 'f', 0, b.lat, b.lng, 0, null]]}); })()");
  // [labels, labels shown, pairs of labels that overlap, of shown labels that overlap]
  const char* overlaps =
      "(() => { const all = [...document.querySelectorAll('.leaflet-marker-icon.unit .label')];"
      " const shown = all.filter(l => getComputedStyle(l).visibility !== 'hidden');"
      " const pairs = list => { const r = list.map(l => l.getBoundingClientRect()); let n = 0;"
      "  for (let i = 0; i < r.length; ++i) for (let j = i + 1; j < r.length; ++j)"
      "   if (r[i].left < r[j].right && r[j].left < r[i].right && r[i].top < r[j].bottom && "
      "r[j].top < r[i].bottom) ++n;"
      "  return n; };"
      " return [all.length, shown.length, pairs(all), pairs(shown)]; })()";
  EXPECT_TRUE(browser_.waitFor(std::string(overlaps) + ".join() === '2,1,1,0'", 5s))
      << browser_.evaluate(overlaps);
}

}  // namespace
