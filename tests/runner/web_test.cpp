// The web view in a real browser, inside the isolated network namespace:
// nmea_beacon multicasting, flowhost's quick start serving the page on
// loopback, headless Chromium loading it. The page must show the five
// demo nodes, their positions must move between two looks, and once the
// beacon stops every node must turn red (health 2) in the table and on the
// map. Screenshots go to <build>/artifacts/web-*.png.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/isolation.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kw_test::ChildProcess;
using kw_test::countOf;
using kw_test::TempDir;
namespace fs = std::filesystem;

constexpr const char* kFlowhost = KW_FLOWHOST_PATH;
constexpr const char* kBeacon = KW_NMEA_BEACON_PATH;
constexpr const char* kExamples = KW_EXAMPLES_DIR;
constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kUrl = "http://127.0.0.1:8090/";

struct Row {
  std::string health;  // "0", "1", "2" or "x"
  std::string latitude, longitude;
};

// Runs headless Chromium once with `extra` arguments on `url`; its standard
// output, or "" with the reason in `why` when it did not finish.
std::string chromium(const TempDir& dir, const std::string& profile,
                     const std::vector<std::string>& extra, const std::string& url,
                     std::string* why) {
  ChildProcess browser;
  std::vector<std::string> args = {"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                   "--user-data-dir=" + dir.file(profile)};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(url);
  if (!browser.start(kChromium, args)) {
    *why = "cannot start " + std::string(kChromium);
    return "";
  }
  browser.readOutUntil(
      [](const std::string& out) { return out.find("</html>") != std::string::npos; }, 25s);
  int status = 0;
  if (!browser.waitExit(5s, &status)) {
    browser.signal(SIGKILL);
    browser.waitExit(5s, &status);
    *why = "chromium did not finish: " + browser.err().substr(0, 400);
    return "";
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *why = "chromium failed: " + browser.err().substr(0, 400);
    return "";
  }
  return browser.out();
}

// The node table's rows in a DOM dump, by node name.
std::map<std::string, Row> tableRows(const std::string& dom) {
  static const std::regex row(
      "<tr class=\"row h(.)\" data-name=\"([^\"]*)\">.*?<td class=\"lat\">([^<]*)</td>"
      "<td class=\"lon\">([^<]*)</td>");
  std::map<std::string, Row> rows;
  for (auto it = std::sregex_iterator(dom.begin(), dom.end(), row); it != std::sregex_iterator();
       ++it) {
    rows[(*it)[2].str()] = Row{(*it)[1].str(), (*it)[3].str(), (*it)[4].str()};
  }
  return rows;
}

TEST(WebView, ShowsTheFiveNodesMovingAndTurnsThemRedWhenTheBeaconStops) {
  KW_REQUIRE_ISOLATED_NETWORK();
  if (!fs::exists(kChromium))
    GTEST_SKIP() << kChromium << " is not installed (scripts/setup installs chromium)";
  TempDir dir;
  dir.enter();
  std::string why;
  const std::string probe =
      chromium(dir, "probe", {"--dump-dom"},
               "data:text/html,<p id=p></p><script>p.textContent='ran'</script>", &why);
  if (probe.find("ran</p>") == std::string::npos)
    GTEST_SKIP() << "headless chromium cannot run here: " << why;

  const char* binary = std::getenv("KW_BINARY_DIR");
  const fs::path artifacts = fs::path(binary != nullptr ? binary : ".") / "artifacts";
  fs::create_directories(artifacts);

  ChildProcess beacon;
  ASSERT_TRUE(beacon.start(kBeacon, {"nmea_beacon", "239.255.42.1", "47001"}));
  ChildProcess flowhost;
  ASSERT_TRUE(flowhost.start(
      kFlowhost, {"flowhost", "--nodes", std::string(kExamples) + "/nodes.nod", "--ports",
                  std::string(kExamples) + "/beacon.mcp", "--map", "36 -115.8 35.2 -115.05 400x400",
                  "--table", "off", "--seconds", "80", "--http=127.0.0.1:8090",
                  // No broker listens there: the output's state shows as refused.
                  "--mqtt", "127.0.0.1:1999"}));
  ASSERT_TRUE(flowhost.readOutUntil(
      [](const std::string& out) {
        return out.find("web view on http://127.0.0.1:8090/") != std::string::npos;
      },
      20s))
      << flowhost.out() << flowhost.err();
  std::this_thread::sleep_for(2s);  // every node heard a few times

  const std::string first = chromium(dir, "a", {"--dump-dom"}, kUrl, &why);
  ASSERT_FALSE(first.empty()) << why;
  const std::map<std::string, Row> before = tableRows(first);
  ASSERT_EQ(before.size(), 5u) << first.substr(0, 3000);
  for (const char* name : {"unit0", "unit1", "unit2", "unit3", "unit4"}) {
    ASSERT_EQ(before.count(name), 1u) << name;
    EXPECT_EQ(before.at(name).health, "0") << name;
  }
  EXPECT_EQ(countOf(first, "<circle class=\"node h0\""), 5u);           // the five dots on the map
  EXPECT_NE(first.find("36.00000 N, 115.80000 W"), std::string::npos);  // its corner
  EXPECT_NE(first.find("<line "), std::string::npos);                   // the graph's links
  EXPECT_NE(first.find(">clock 4 Hz<"), std::string::npos);             // a face as drawn
  // Under the node table, the port's counters: datagrams taken in already.
  std::smatch port;
  ASSERT_TRUE(std::regex_search(
      first, port,
      std::regex(
          "<tr class=\"port\"><td class=\"block\">1</td><td class=\"name\">beacon</td>"
          "<td class=\"address\">239\\.255\\.42\\.1:47001</td><td class=\"taken\">([0-9]+)</td>")))
      << first;
  EXPECT_GT(std::stoi(port[1].str()), 0);
  // Beside the ports, each output's latest state with its reason.
  EXPECT_TRUE(std::regex_search(
      first, std::regex("<tr class=\"output refused\"><td class=\"block\">output</td>"
                        "<td class=\"name\">mqtt</td><td class=\"address\">127\\.0\\.0\\.1:1999"
                        "</td>.*?Connection refused</td></tr>")))
      << first;
  chromium(dir, "b",
           {"--window-size=1100,1500", "--screenshot=" + (artifacts / "web-live.png").string()},
           kUrl, &why);
  EXPECT_TRUE(fs::exists(artifacts / "web-live.png")) << why;

  std::this_thread::sleep_for(1500ms);
  const std::string second = chromium(dir, "c", {"--dump-dom"}, kUrl, &why);
  const std::map<std::string, Row> later = tableRows(second);
  ASSERT_EQ(later.size(), 5u) << why;
  for (const auto& [name, row] : later) {
    EXPECT_TRUE(row.latitude != before.at(name).latitude ||
                row.longitude != before.at(name).longitude)
        << name << " stayed at " << row.latitude << " " << row.longitude;
  }

  // Silence: after the bad threshold (4 s) every node is red.
  ASSERT_TRUE(beacon.signal(SIGTERM));
  int status = 0;
  EXPECT_TRUE(beacon.waitExit(5s, &status));
  std::this_thread::sleep_for(5s);
  const std::string silent = chromium(dir, "d", {"--dump-dom"}, kUrl, &why);
  const std::map<std::string, Row> stopped = tableRows(silent);
  ASSERT_EQ(stopped.size(), 5u) << why;
  for (const auto& [name, row] : stopped) EXPECT_EQ(row.health, "2") << name;
  EXPECT_EQ(countOf(silent, "<circle class=\"node h2\""), 5u);
  chromium(dir, "e",
           {"--window-size=1100,1500", "--screenshot=" + (artifacts / "web-stopped.png").string()},
           kUrl, &why);
  EXPECT_TRUE(fs::exists(artifacts / "web-stopped.png")) << why;

  ASSERT_TRUE(flowhost.signal(SIGINT));
  ASSERT_TRUE(flowhost.waitExit(15s, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << flowhost.err();
}

}  // namespace
