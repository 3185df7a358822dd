// The runner's parts apart from the blocks: command line, document file,
// node table and its view, track picture.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "apps/flowhost/blocks/JDegreeTextObj.h"
#include "apps/flowhost/blocks/RunnerBlocks.h"
#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/run/FeedOutputs.h"
#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/run/PluginSet.h"
#include "apps/flowhost/run/RunOptions.h"
#include "apps/flowhost/run/TickTimes.h"
#include "apps/flowhost/views/table/PortReport.h"
#include "apps/flowhost/views/table/TableView.h"
#include "apps/flowhost/views/web/MbTiles.h"
#include "apps/flowhost/views/web/WebHistory.h"
#include "apps/flowhost/views/web/WebState.h"
#include "host/JAddObj.h"
#include "host/JClassRegistry.h"
#include "host/JDictionary.h"
#include "host/JFeedStatus.h"
#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JOutputStream.h"
#include "host/JRealData.h"
#include "host/JStringData.h"
#include "tests/support/temp_dir.h"

namespace {

using flowhost::DocumentFile;
using flowhost::FeedOutputs;
using flowhost::NodeRow;
using flowhost::NodeTable;
using flowhost::PortReport;
using flowhost::PortRow;
using flowhost::RunOptions;
using flowhost::TableView;
using flowhost::TickTimes;
using flowhost::WebState;
using kw_test::readFile;
using kw_test::TempDir;
using Json = nlohmann::ordered_json;

// ---- command line ---------------------------------------------------------

bool parse(const std::vector<std::string>& args, RunOptions* options, std::string* error) {
  return flowhost::parseRunOptions(args, options, error);
}

TEST(RunOptionsParse, TakesEveryOptionInBothForms) {
  RunOptions o;
  std::string error;
  ASSERT_TRUE(parse({"-t",          "2.5",  "--rate=8",  "-p",        "a.so",
                     "--plugin",    "b.so", "-P",        "dir",       "--no-default-plugins",
                     "--faces=out", "-k",   "t.svg",     "--table",   "plain",
                     "--every",     "0.5",  "--save-as", "copy.json", "doc.json"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.document, "doc.json");
  EXPECT_DOUBLE_EQ(o.seconds.value_or(0), 2.5);
  EXPECT_DOUBLE_EQ(o.rate.value_or(0), 8.0);
  EXPECT_EQ(o.plugins, (std::vector<std::string>{"a.so", "b.so"}));
  EXPECT_EQ(o.pluginDirs, std::vector<std::string>{"dir"});
  EXPECT_FALSE(o.defaultPlugins);
  EXPECT_EQ(o.facesDir, "out");
  EXPECT_EQ(o.trackFile, "t.svg");
  EXPECT_EQ(o.table, RunOptions::Table::Plain);
  EXPECT_DOUBLE_EQ(o.every, 0.5);
  EXPECT_EQ(o.saveAs, "copy.json");
  EXPECT_FALSE(o.save);

  ASSERT_TRUE(parse({"--json", "-", "--gpsd=2947", "--gpx", "t.gpx", "--geojson", "t.geojson",
                     "--mqtt", "broker.local", "--mqtt-prefix", "site/a", "doc.json"},
                    &o, &error))
      << error;
  EXPECT_TRUE(o.jsonOnStandardOutput());
  EXPECT_EQ(o.outputs.gpsd, "2947");
  EXPECT_EQ(o.outputs.gpx, "t.gpx");
  EXPECT_EQ(o.outputs.geojson, "t.geojson");
  EXPECT_EQ(o.outputs.mqtt, "broker.local");
  EXPECT_EQ(o.outputs.mqttPrefix, "site/a");

  ASSERT_TRUE(parse({"doc.json", "--save"}, &o, &error));
  EXPECT_TRUE(o.save);
  EXPECT_EQ(o.outputs.mqttPrefix, "gpsfeed");
  EXPECT_TRUE(o.outputs.json.empty() && o.outputs.gpsd.empty() && o.outputs.mqtt.empty());
  EXPECT_FALSE(o.seconds.has_value());  // until a stop signal
  EXPECT_TRUE(o.defaultPlugins);
  EXPECT_EQ(o.table, RunOptions::Table::Auto);
  EXPECT_FALSE(o.tickTimes);
  ASSERT_TRUE(parse({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);
  ASSERT_TRUE(parse({"--tick-times", "doc.json"}, &o, &error)) << error;
  EXPECT_TRUE(o.tickTimes);
}

// The percentiles a scale run reports: nearest rank over the kept ticks,
// the longest over all of them.
TEST(TickTimesSummary, NearestRankPercentilesAndTheLongest) {
  TickTimes none;
  EXPECT_EQ(none.summary(), "ticks 0");
  EXPECT_EQ(none.percentile(0.5), 0);

  TickTimes ticks;
  // 1 .. 200 ms in a shuffled order, then one tick that a clock step made negative.
  for (int i = 0; i < 200; ++i) ticks.add(((i * 73) % 200 + 1) * 1000);
  ticks.add(-5);
  EXPECT_EQ(ticks.count(), 201u);
  EXPECT_EQ(ticks.percentile(0.50), 100000);  // rank 101 of 0, 1000 .. 200000
  EXPECT_EQ(ticks.percentile(0.99), 198000);  // rank 199
  EXPECT_EQ(ticks.percentile(1.0), 200000);
  EXPECT_EQ(ticks.percentile(0.0), 0);
  EXPECT_EQ(ticks.longest(), 200000);
  EXPECT_EQ(ticks.summary(), "ticks 201, p50 100.000 ms, p99 198.000 ms, max 200.000 ms");
}

TEST(RunOptionsParse, RefusesBadCommandLinesWithAReason) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{}, "no document given"},
      {{"a.json", "b.json"}, "more than one document"},
      {{"--seconds"}, "needs a number of seconds"},
      {{"-t", "0", "d"}, "is not a number of seconds above 0"},
      {{"-t", "-3", "d"}, "above 0"},
      {{"-t", "5x", "d"}, "above 0"},
      {{"-t", "nan", "d"}, "above 0"},
      {{"-t", "1e30", "d"}, "above 0"},
      {{"--rate", "0", "d"}, "is not between 0.01 and 1000 Hz"},
      {{"--rate=2000", "d"}, "between"},
      {{"--rate", "inf", "d"}, "between"},
      {{"--table", "fancy", "d"}, "is not live, plain or off"},
      {{"--every", "0", "d"}, "above 0"},
      {{"-p"}, "needs a plug-in file"},
      {{"--faces=", "d"}, "needs a folder"},
      {{"--frobnicate", "d"}, "unknown option '--frobnicate'"},
      {{"--save", "--save-as", "x", "d"}, "cannot be used together"},
      {{"--gpsd=localhost", "d"}, "--gpsd: not a port number (0..65535): 'localhost'"},
      {{"--gpsd=127.0.0.1:99999", "d"}, "not a port number"},
      {{"--gpsd", "2948", "d"}, "--gpsd takes its address as --gpsd=2948"},
      {{"--http", "127.0.0.1", "d"}, "--http takes its address as --http=127.0.0.1"},
      {{"--http", "[::1]:8443", "d"}, "--http=[::1]:8443"},
      {{"--version=1", "d"}, "option '--version' takes no value"},
      {{"--mqtt-user", "u", "d"}, "--mqtt-user belongs to --mqtt HOST[:PORT]"},
      {{"--mqtt", "b", "--mqtt-password-file", "p", "d"}, "needs --mqtt-user NAME"},
      {{"--medium", "1", "d"}, "--medium belongs to the quick start"},
      {{"--nodes", "n", "--ports", "p", "--medium", "5"}, "must be below the bad one"},
      {{"--nodes", "n", "--ports", "p", "--bad", "0"}, "above 0"},
      {{"--mqtt", ":1883", "d"}, "--mqtt: no host before ':'"},
      {{"--mqtt", "host:x", "d"}, "not a port number"},
      {{"--mqtt-prefix", "a/#", "d"}, "may not hold '#' or '+'"},
      {{"--json"}, "needs a file or '-'"},
      {{"--nodes", "n.nod"}, "--nodes needs --ports FILE"},
      {{"--ports", "p.mcp"}, "--ports needs --nodes FILE"},
      {{"--nodes", "n", "--ports", "p", "d.json"}, "cannot be used together"},
      {{"--nodes", "n", "--ports", "p", "--save"}, "use --write-document FILE"},
      {{"--nodes", "n", "--ports", "p", "--map", "1 2 3"}, "is not \"UL_LAT"},
      {{"--map", "36 -116 35 -115 9x9", "d"}, "belongs to the quick start"},
      {{"--fleet", "north"}, "is not NAME=NODES,PORTS"},
      {{"--fleet", "north=n.nod"}, "is not NAME=NODES,PORTS"},
      {{"--fleet", "north=,p.mcp"}, "is not NAME=NODES,PORTS"},
      {{"--fleet", "a/b=n,p"}, "fleet name 'a/b' may hold only"},
      {{"--fleet", "=n,p"}, "fleet name '' is empty"},
      {{"--fleet", "x=n,p", "--fleet", "x=m,q"}, "fleet 'x' is given twice"},
      {{"--fleet", "x=n,p", "--nodes", "n", "--ports", "p"}, "name every fleet"},
      {{"--fleet", "x=n,p", "d.json"}, "cannot be used together"},
      {{"--tiles", "area.mbtiles", "d"}, "--tiles shows on the web view: add --http"},
      {{"--mqtt-in", "b", "d.json"}, "runs without a document or node lists"},
      {{"--mqtt-in", "b", "--mqtt", "b"}, "would publish the sites' units again"},
      {{"--mqtt-in", "b", "--track", "t.svg"}, "--track needs a graph"},
      {{"--mqtt-in-topic", "gpsfeed/#"}, "belongs to --mqtt-in"},
      {{"--mqtt-in", "b", "--mqtt-in-topic", "gpsfeed/#/x"}, "is not an MQTT topic filter"},
      {{"--mqtt-in", "b", "--mqtt-in-topic", "gpsfeed/ya+rd"}, "is not an MQTT topic filter"},
      {{"--site", "yard", "d"}, "--site names what --mqtt"},
      {{"--mqtt", "b", "--site", "events", "d"}, "topic level the MQTT output uses"},
      {{"--mqtt", "b", "--mqtt-rate", "0", "d"}, "--mqtt-rate '0' is not"},
  };
  for (const auto& c : cases) {
    RunOptions o;
    std::string error;
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    EXPECT_FALSE(parse(c.args, &o, &error)) << joined;
    EXPECT_NE(error.find(c.reason), std::string::npos) << joined << "-> " << error;
  }
}

// Each --fleet is a named fleet with its own lists; a comma in the node
// list's name stays in it.
TEST(RunOptionsParse, FleetsAreNamedQuickStarts) {
  RunOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--fleet", "north=a,b.nod,n.mcp", "--fleet=s-2=s.nod,s.mcp"}, &o, &error))
      << error;
  EXPECT_TRUE(o.quickStart());
  ASSERT_EQ(o.fleets.size(), 2u);
  EXPECT_EQ(o.fleets[0].name, "north");
  EXPECT_EQ(o.fleets[0].nodeFile, "a,b.nod");
  EXPECT_EQ(o.fleets[0].portFile, "n.mcp");
  EXPECT_EQ(o.fleets[1].name, "s-2");
  EXPECT_EQ(o.fleets[1].nodeFile, "s.nod");
}

TEST(RunOptionsParse, OptionalAddressesFollowAnEqualsSignAndSwallowNothing) {
  const struct {
    std::vector<std::string> args;
    const char* address;
    int port;
  } cases[] = {
      {{"--http", "d.json"}, "127.0.0.1", 8080},
      {{"d.json", "--http"}, "127.0.0.1", 8080},
      {{"--http=9000", "d.json"}, "127.0.0.1", 9000},
      {{"--http=0.0.0.0:81", "d.json"}, "0.0.0.0", 81},
      {{"--http=[::1]:8443", "d.json"}, "::1", 8443},
      {{"--http", "--gpsd", "d.json"}, "127.0.0.1", 8080},
  };
  for (const auto& c : cases) {
    RunOptions o;
    std::string error;
    ASSERT_TRUE(parse(c.args, &o, &error)) << c.args[0] << " " << error;
    EXPECT_TRUE(o.http);
    EXPECT_EQ(o.httpAddress, c.address) << c.args[0];
    EXPECT_EQ(o.httpPort, c.port) << c.args[0];
    EXPECT_EQ(o.document, "d.json");
  }
  RunOptions o;
  std::string error;
  // --gpsd alone serves on gpsd's own port; the next option stays an option.
  ASSERT_TRUE(parse({"--gpsd", "--json", "-", "d.json"}, &o, &error)) << error;
  EXPECT_EQ(o.outputs.gpsd, "127.0.0.1:2947");
  EXPECT_EQ(o.outputs.json, "-");
  EXPECT_EQ(o.document, "d.json");
  ASSERT_TRUE(parse({"--gpsd=0.0.0.0:2948", "d.json"}, &o, &error)) << error;
  EXPECT_EQ(o.outputs.gpsd, "0.0.0.0:2948");
  EXPECT_FALSE(parse({"--http=:80", "d.json"}, &o, &error));
  EXPECT_FALSE(parse({"--http=70000", "d.json"}, &o, &error));
  EXPECT_NE(error.find("is not [ADDR:]PORT"), std::string::npos) << error;
}

// ---- plug-ins ------------------------------------------------------------

// Given folders come first; then an installed program looks only in its
// installation's plug-in folder and a program of the build tree only at the
// build's files. A build tree's plug-in must never reach an installed one.
TEST(PluginSearch, GivenFoldersThenTheInstallationOrTheBuildNeverBoth) {
  namespace fs = std::filesystem;
  const char* tree = std::getenv("KW_BINARY_DIR");
  ASSERT_NE(tree, nullptr);
  const fs::path build = fs::weakly_canonical(tree);
  const auto inBuild = [&](const std::string& place) {
    const fs::path relative = fs::path(place).lexically_relative(build);
    return !relative.empty() && *relative.begin() != "..";
  };
  const std::vector<std::string> dirs{"/opt/a", "/opt/b"};

  const std::vector<std::string> installed =
      flowhost::PluginSet::candidates("JGeoGridObj.so", dirs, "/opt/gps/bin");
  ASSERT_EQ(installed.size(), 3u);
  EXPECT_EQ(installed[0], "/opt/a/JGeoGridObj.so");
  EXPECT_EQ(installed[1], "/opt/b/JGeoGridObj.so");
  EXPECT_EQ(installed[2].rfind("/opt/gps/", 0), 0u) << installed[2];
  EXPECT_NE(installed[2].find("/gps_feed/plugins/JGeoGridObj.so"), std::string::npos)
      << installed[2];

  // This test program lives in the build tree.
  const std::vector<std::string> here = flowhost::PluginSet::candidates("JGeoGridObj.so", dirs);
  ASSERT_EQ(here.size(), 3u);
  EXPECT_TRUE(inBuild(here[2])) << here[2];
  EXPECT_TRUE(fs::is_regular_file(here[2])) << here[2];
  EXPECT_EQ(fs::path(here[2]).filename(), "JGeoGridObj.so");

  // An installation made inside the build tree is still an installation.
  const fs::path prefix = build / "plugin-search-test-prefix";
  const fs::path bin = prefix / "bin";
  fs::remove_all(prefix);
  fs::create_directories(bin);
  fs::create_directories(flowhost::PluginSet::installedFolder(bin.string()));
  const std::vector<std::string> inside =
      flowhost::PluginSet::candidates("JGeoGridObj.so", {}, bin.string());
  fs::remove_all(prefix);
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0].rfind(prefix.string() + "/", 0), 0u) << inside[0];

  // A program that cannot find its own folder looks only where it is told.
  EXPECT_EQ(flowhost::PluginSet::candidates("JGeoGridObj.so", dirs, ""),
            (std::vector<std::string>{"/opt/a/JGeoGridObj.so", "/opt/b/JGeoGridObj.so"}));
}

TEST(PluginSearch, ADefaultPlugInThatIsFoundButBrokenIsAnError) {
  TempDir dir;
  dir.write("JQNV_packet_sniffer.so", "not a library\n");
  flowhost::PluginSet plugins;
  std::string error;
  EXPECT_FALSE(plugins.loadDefaults({dir.path().string()}, &error));
  EXPECT_NE(error.find("cannot load plug-in '" + dir.file("JQNV_packet_sniffer.so") + "'"),
            std::string::npos)
      << error;
  EXPECT_TRUE(plugins.loaded().empty());
}

// ---- document file --------------------------------------------------------

// Stands in for a block that names a list file, like the sniffer: stores
// "list file name" and, at startup, drops a name it cannot read.
class ListFileBlock : public JAddObj {
 public:
  const char* className() const override { return "JListFileTestObj"; }
  JObject* clone() const override { return new ListFileBlock(*this); }
  void writeContent(JOutputStream& stream) override {
    JAddObj::writeContent(stream);
    putObject(stream, "list file name", JString(name.c_str()));
  }
  void readContent(JDictionary& dictionary) override {
    JAddObj::readContent(dictionary);
    if (auto* text = static_cast<JString*>(getObject(dictionary, "list file name"))) {
      name = static_cast<char*>(*text);
    }
  }
  void startup() override {
    if (!std::ifstream(name)) name.clear();
  }
  std::string name;
};

class DocumentFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    flowhost::registerRunnerBlocks();
    if (!JClassRegistry::contains("JListFileTestObj")) JClassRegistry::add(new ListFileBlock());
  }

  static std::string document(const std::string& fileName) {
    Json doc = {
        {"document", "jhost graph"},
        {"version", 1},
        {"blocks",
         Json::array({Json{{"id", 7},
                           {"class", "JListFileTestObj"},
                           {"entries", Json{{"label", "lists"}, {"list file name", fileName}}}},
                      Json{{"id", 9}, {"class", "JClockObj"}, {"entries", Json{{"rate", 2.0}}}}})},
        {"links", Json::array()}};
    return doc.dump(2) + "\n";
  }

  ListFileBlock* listBlock(const DocumentFile& file) {
    return dynamic_cast<ListFileBlock*>(file.graph()->block(0));
  }

  TempDir dir_;
};

TEST_F(DocumentFiles, RelativeNamesAreTakenFromTheDocumentsFolderAndSavedAsWritten) {
  std::filesystem::create_directories(dir_.path() / "docs" / "lists");
  dir_.write("docs/lists/a.nod", "1\n");
  const std::string path = dir_.write("docs/demo.json", document("lists/a.nod"));

  DocumentFile file;
  std::string error;
  ASSERT_TRUE(file.load(path, &error)) << error;
  EXPECT_EQ(listBlock(file)->name, (dir_.path() / "docs" / "lists" / "a.nod").string());
  EXPECT_TRUE(file.checkListFiles(&error)) << error;

  std::string text;
  ASSERT_TRUE(file.currentText(&text, &error)) << error;
  const Json saved = Json::parse(text);
  EXPECT_EQ(saved["blocks"][0]["entries"]["list file name"], "lists/a.nod");
  EXPECT_EQ(saved["blocks"][1]["entries"]["rate"], 2.0);

  // A name the block changed itself is saved as it now is.
  listBlock(file)->name = "/elsewhere/b.nod";
  ASSERT_TRUE(file.currentText(&text, &error)) << error;
  EXPECT_EQ(Json::parse(text)["blocks"][0]["entries"]["list file name"], "/elsewhere/b.nod");
}

TEST_F(DocumentFiles, AListFileThatCannotBeReadIsNamedBeforeAnythingStarts) {
  const std::string path = dir_.write("demo.json", document("missing.nod"));
  DocumentFile file;
  std::string error;
  ASSERT_TRUE(file.load(path, &error)) << error;
  EXPECT_FALSE(file.checkListFiles(&error));
  EXPECT_NE(error.find("block 7 (JListFileTestObj)"), std::string::npos) << error;
  EXPECT_NE(error.find("\"list file name\" names 'missing.nod'"), std::string::npos) << error;
  EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

TEST_F(DocumentFiles, ANameDroppedDuringTheRunBlocksTheSave) {
  const std::string path = dir_.write("demo.json", document("gone.nod"));
  DocumentFile file;
  std::string error;
  ASSERT_TRUE(file.load(path, &error)) << error;
  file.graph()->startup();  // the block drops the name it cannot read
  std::string text;
  EXPECT_FALSE(file.currentText(&text, &error));
  EXPECT_NE(error.find("dropped its \"list file name\" ('gone.nod')"), std::string::npos) << error;
}

// A save names its lists from where it is written, and is refused, with
// nothing written, when a list it names would not be found from there.
TEST_F(DocumentFiles, ASaveNamesItsListsFromItsOwnFolderOrIsRefused) {
  std::filesystem::create_directories(dir_.path() / "docs" / "lists");
  std::filesystem::create_directories(dir_.path() / "other");
  const std::string list = dir_.write("docs/lists/a.nod", "1\n");
  const std::string path = dir_.write("docs/demo.json", document("lists/a.nod"));
  DocumentFile file;
  std::string error;
  ASSERT_TRUE(file.load(path, &error)) << error;
  std::string text;
  ASSERT_TRUE(file.currentText(&text, &error, dir_.file("other/demo.json"))) << error;
  EXPECT_EQ(Json::parse(text)["blocks"][0]["entries"]["list file name"], list);
  ASSERT_TRUE(file.currentText(&text, &error, dir_.file("top.json"))) << error;
  EXPECT_EQ(Json::parse(text)["blocks"][0]["entries"]["list file name"], "docs/lists/a.nod");
  EXPECT_TRUE(DocumentFile::save(dir_.file("top.json"), text, &error)) << error;

  // The text as first written, saved elsewhere: its list is not there.
  ASSERT_TRUE(file.currentText(&text, &error)) << error;
  EXPECT_FALSE(DocumentFile::save(dir_.file("other/demo.json"), text, &error));
  EXPECT_EQ(error,
            "it would not find its list files again: block 1 (JListFileTestObj): \"list "
            "file name\" names 'lists/a.nod' (" +
                dir_.file("other/lists/a.nod") + ": No such file or directory)");
  EXPECT_FALSE(std::filesystem::exists(dir_.file("other/demo.json")));
}

TEST_F(DocumentFiles, BadDocumentsAreRefusedWithTheirReason) {
  const struct {
    std::string name;
    std::string text;
    const char* reason;
  } cases[] = {
      {"broken.json", "{\"blocks\": [", "is not valid JSON"},
      {"array.json", "[1, 2]", "not a JSON object"},
      {"noblocks.json", "{\"document\": \"jhost graph\"}", "has no \"blocks\" list"},
      {"unknown.json", "{\"blocks\": [{\"id\": 1, \"class\": \"NoSuchObj\"}]}",
       "unknown module class 'NoSuchObj'"},
      {"port.json",
       "{\"blocks\": [{\"id\": 1, \"class\": \"JClockObj\"}, {\"id\": 2, \"class\": "
       "\"JDisplayObj\"}],"
       " \"links\": [{\"from\": 1, \"output\": 3, \"to\": 2, \"input\": 0}]}",
       "output 3 does not exist on JClockObj"},
  };
  for (const auto& c : cases) {
    const std::string path = dir_.write(c.name, c.text);
    DocumentFile file;
    std::string error;
    EXPECT_FALSE(file.load(path, &error)) << c.name;
    EXPECT_EQ(file.graph(), nullptr);
    EXPECT_NE(error.find("document '" + path + "'"), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
  DocumentFile file;
  std::string error;
  EXPECT_FALSE(file.load(dir_.file("absent.json"), &error));
  EXPECT_NE(error.find("cannot read document '" + dir_.file("absent.json") +
                       "': No such file or directory"),
            std::string::npos)
      << error;
  EXPECT_FALSE(file.load(dir_.path().string(), &error));
  EXPECT_NE(error.find("a folder, not a regular file"), std::string::npos) << error;
}

TEST_F(DocumentFiles, WritingReplacesTheFileWholeOrNotAtAll) {
  const std::string path = dir_.write("doc.json", "old");
  std::string error;
  ASSERT_TRUE(DocumentFile::writeFile(path, "new text\n", &error)) << error;
  EXPECT_EQ(readFile(path), "new text\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  EXPECT_FALSE(DocumentFile::writeFile(dir_.file("no/such/folder/doc.json"), "x", &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
  // A target that cannot be replaced (a folder) keeps what it was.
  std::filesystem::create_directories(dir_.path() / "taken" / "inside");
  EXPECT_FALSE(DocumentFile::writeFile(dir_.file("taken"), "x", &error));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "taken" / "inside"));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("taken") + ".tmp"));
}

// ---- node table -----------------------------------------------------------

// Stands in for the sniffer: two nodes, eight outputs each; answers only
// once started, as the real block does. Its feed status: two ports, the
// second one not set up; node 0 is named and was last heard on the second
// port.
class FakeSniffer : public JAddObj, public JFeedStatus {
 public:
  FakeSniffer() {
    igm = 2;
    ogm = 16;
  }
  const char* className() const override { return "JQNV_packet_sniffer"; }
  JObject* clone() const override { return new FakeSniffer(*this); }
  void startup() override { started = true; }
  int outputType(int n) override {
    const int k = n % 8;
    return k == 1 || k == 2 || k == 7 ? JRealData::id : k == 5 ? JStringData::id : JIntegerData::id;
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (!started || n < 0 || n >= ogm) return;
    const int i = n / 8;
    switch (n % 8) {
      case 0: static_cast<int&>(data) = 10 + i; break;
      case 1: static_cast<double&>(data) = 35.5 + i; break;
      case 2: static_cast<double&>(data) = -115.25 - i; break;
      case 3: static_cast<int&>(data) = 1704164645 + i; break;
      case 4: static_cast<int&>(data) = 600; break;
      case 5: static_cast<JString&>(data) = JString("2024/01/02,03:04:05.600"); break;
      case 6: static_cast<int&>(data) = i; break;
      case 7: static_cast<double&>(data) = 0.5 + i; break;
      default: static_cast<int&>(data) = 0;
    }
  }
  int feedPortCount() const override { return started ? 2 : 0; }
  bool feedPortStatus(int index, JFeedPortStatus* out) const override {
    if (index < 0 || index >= feedPortCount()) return false;
    *out = JFeedPortStatus{};
    out->name = index == 0 ? "com1" : "com2";
    out->takenIn = 40 + static_cast<uint64_t>(index);
    out->listFile = "site.mcp";
    out->line = 2 + index;
    if (index == 1) out->setupError = "group 239.255.42: not an IPv4 address";
    return true;
  }
  const char* feedNodeName(int node) const override { return started && node == 0 ? "truck7" : ""; }
  bool feedNodeHeard(int node) const override { return started && heard[node]; }
  // Node 0's last packet came on com2; node 1 took none.
  int feedNodePort(int node) const override { return started && node == 0 && heard[0] ? 1 : -1; }

  bool started = false;
  bool heard[2] = {true, true};
};

// Stands in for the map block: three integer outputs.
class FakeMap : public JAddObj {
 public:
  explicit FakeMap(int base) : base_(base) {
    igm = 2;
    ogm = 3;
  }
  const char* className() const override { return "JGeoGridObj"; }
  JObject* clone() const override { return new FakeMap(*this); }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (n >= 0 && n < 3) static_cast<int&>(data) = n == 0 ? 65535 : base_ + n;
  }

 private:
  int base_;
};

class Nodes : public ::testing::Test {
 protected:
  void SetUp() override {
    sniffer_ = static_cast<FakeSniffer*>(graph_.add(new FakeSniffer()));
    auto* unfed = graph_.add(new FakeMap(900));  // fed by nobody
    auto* converter = graph_.add(new JDegreeTextObj());
    map1_ = graph_.add(new FakeMap(100));  // node 1, through a converter
    map0_ = graph_.add(new FakeMap(200));  // node 0, longitude input only
    ASSERT_NE(unfed, nullptr);
    ASSERT_NE(graph_.link(sniffer_, 9, converter, 0), nullptr);
    ASSERT_NE(graph_.link(converter, 0, map1_, 0), nullptr);
    ASSERT_NE(graph_.link(sniffer_, 2, map0_, 1), nullptr);
  }

  JGraph graph_;
  FakeSniffer* sniffer_ = nullptr;
  JModuleObj* map0_ = nullptr;
  JModuleObj* map1_ = nullptr;
};

TEST_F(Nodes, FindsEachNodesMapUpstreamAndReadsCurrentValues) {
  const NodeTable table(graph_);
  ASSERT_EQ(table.size(), 2);
  EXPECT_EQ(table.snifferCount(), 1);
  EXPECT_EQ(table.firstMap(), map0_);

  std::vector<NodeRow> rows = table.read();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(rows[0].nodeId.has_value());  // not started: nothing answered
  EXPECT_TRUE(rows[0].mapped);

  graph_.startup();
  rows = table.read();
  EXPECT_EQ(rows[0].nodeId, 10);
  EXPECT_EQ(rows[1].nodeId, 11);
  EXPECT_DOUBLE_EQ(rows[1].latitude.value_or(0), 36.5);
  EXPECT_DOUBLE_EQ(rows[1].longitude.value_or(0), -116.25);
  EXPECT_EQ(rows[1].utc.value_or(""), "2024/01/02,03:04:05.600");
  EXPECT_EQ(rows[1].health, 1);
  EXPECT_DOUBLE_EQ(rows[1].idle.value_or(0), 1.5);
  EXPECT_EQ(rows[0].mapBlock, graph_.indexOf(map0_));
  EXPECT_EQ(rows[0].pixelX, 201);
  EXPECT_EQ(rows[1].mapBlock, graph_.indexOf(map1_));
  EXPECT_EQ(rows[1].inMap, 65535);
  EXPECT_EQ(rows[1].pixelY, 102);
}

// A node never heard from has no position, time or map place to show or
// publish (its outputs hold zeros: "null island"); health and idle stay.
TEST_F(Nodes, NodesNeverHeardFromHaveNoPositionAndPortsAreListed) {
  const NodeTable table(graph_);
  EXPECT_TRUE(table.ports().empty()) << "not started: no ports";
  graph_.startup();
  sniffer_->heard[1] = false;
  const std::vector<NodeRow> rows = table.read();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].heard);
  EXPECT_EQ(rows[0].name, "truck7");
  EXPECT_EQ(rows[0].feed, "com2") << "the port its last packet came on";
  EXPECT_EQ(rows[1].feed, "com1,com2") << "never heard: every port it may come on";
  EXPECT_EQ(rows[0].utcSec, 1704164645);
  EXPECT_EQ(FeedOutputs::update(rows[0]).utcMs, 600);
  EXPECT_TRUE(rows[0].latitude.has_value());
  EXPECT_FALSE(rows[1].heard);
  EXPECT_EQ(rows[1].nodeId, 11);
  EXPECT_EQ(rows[1].health, 1);
  EXPECT_FALSE(rows[1].latitude || rows[1].longitude || rows[1].utc || rows[1].utcSec ||
               rows[1].inMap || rows[1].pixelX || rows[1].pixelY);
  EXPECT_TRUE(rows[1].mapped);
  EXPECT_FALSE(FeedOutputs::update(rows[0]).neverHeard);
  EXPECT_TRUE(FeedOutputs::update(rows[1]).neverHeard) << "the output forms never publish it";
  EXPECT_EQ(FeedOutputs::update(rows[0]).name, "truck7");
  EXPECT_TRUE(FeedOutputs::update(rows[1]).hasMap == false);

  const std::vector<PortRow> ports = table.ports();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[1].block, graph_.indexOf(sniffer_));
  EXPECT_EQ(FeedOutputs::counters(ports[0]).taken, 40u);
  EXPECT_EQ(FeedOutputs::counters(ports[1]).failure, "group 239.255.42: not an IPv4 address");
}

// Two sniffers listing the same ports share their receptions and count
// their own shares: the table shows each port once, at the first sniffer,
// with the counts summed.
TEST_F(Nodes, APortListedByTwoSniffersIsOneRowWithTheirCountsSummed) {
  graph_.add(new FakeSniffer());
  graph_.startup();
  const NodeTable table(graph_);
  ASSERT_EQ(table.snifferCount(), 2);
  const std::vector<PortRow> ports = table.ports();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].block, graph_.indexOf(sniffer_));
  EXPECT_EQ(ports[0].stats.name, "com1");
  EXPECT_EQ(ports[0].stats.takenIn, 80u);
  EXPECT_EQ(ports[1].stats.takenIn, 82u);
  EXPECT_EQ(ports[1].stats.setupError, "group 239.255.42: not an IPv4 address");
}

// Sniffers of two fleets that list the same ports keep a row each: a
// fleet's port is its own, with its own share of the counts.
TEST_F(Nodes, APortListedByTwoFleetsIsARowInEach) {
  JModuleObj* south = graph_.add(new FakeSniffer());
  south->setLabel(JString("fleet south"));
  graph_.startup();
  const NodeTable table(graph_);
  const std::vector<PortRow> ports = table.ports();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].fleet, "");
  EXPECT_EQ(ports[0].stats.takenIn, 40u);
  EXPECT_EQ(ports[2].fleet, "south");
  EXPECT_EQ(ports[2].block, graph_.indexOf(south));
  EXPECT_EQ(ports[2].stats.name, "com1");
  EXPECT_EQ(ports[2].stats.takenIn, 40u);
}

// Each port that could not be set up is told once, naming the list's file
// and line; every port has a counters line.
TEST(PortReports, FailuresAreToldOnceWithTheirListLine) {
  PortRow good;
  good.stats.name = "beacon";
  good.stats.group = "239.255.42.1";
  good.stats.port = 47001;
  good.stats.takenIn = 120;
  good.stats.older = 3;
  PortRow bad = good;
  bad.stats.name = "far";
  bad.stats.group = "239.255.42";
  bad.stats.listFile = "beacon.mcp";
  bad.stats.line = 3;
  bad.stats.setupError = "group 239.255.42: not an IPv4 address";
  PortReport report;
  EXPECT_EQ(report.newFailures({good, bad}),
            std::vector<std::string>{"beacon.mcp:3: group 239.255.42: not an IPv4 address"});
  EXPECT_TRUE(report.newFailures({good, bad}).empty()) << "told once";
  PortRow other = bad;
  other.block = 7;  // the same line read by a second sniffer block
  EXPECT_EQ(report.newFailures({other}).size(), 1u);
  EXPECT_EQ(PortReport::countersLine(good),
            "port beacon 239.255.42.1:47001: taken 120, dropped (full) 0, rejected 0, "
            "unknown node 0, older 3");
  EXPECT_NE(PortReport::countersLine(bad).find(", not set up"), std::string::npos);
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

TEST_F(Nodes, TableLinesShowEveryColumnAndADashForWhatWasNotRead) {
  const NodeTable table(graph_);
  std::vector<std::string> lines = TableView::lines(table.read(), 1.25, 3);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "t=1.2 s  ticks=3  nodes=2");
  EXPECT_EQ(words(lines[1]),
            (std::vector<std::string>{"node", "latitude", "longitude", "utc", "string", "health",
                                      "idle", "s", "in_map", "pixel_x", "pixel_y"}));
  EXPECT_EQ(words(lines[2]),
            (std::vector<std::string>{"-", "-", "-", "-", "-", "-", "-", "-", "-"}));
  graph_.startup();
  lines = TableView::lines(table.read(), 2.0, 8);
  EXPECT_EQ(words(lines[3]),
            (std::vector<std::string>{"11", "36.500000", "-116.250000", "2024/01/02,03:04:05.600",
                                      "1", "1.50", "65535", "101", "102"}));
}

TEST(TableLines, NodesWithoutAMapAndASecondSnifferAreShownAsSuch) {
  NodeRow a;
  a.block = 0;
  a.nodeId = 3;
  a.idle = 1.7e9;  // never heard from: idle since 1970
  a.utc = std::string("");
  NodeRow b = a;
  b.block = 4;
  const std::vector<std::string> lines = TableView::lines({a, b}, 0, 0);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(words(lines[1])[0], "block");
  EXPECT_EQ(words(lines[2]),
            (std::vector<std::string>{"1", "3", "-", "-", "-", "-", "1.7e+09", "-", "-", "-"}));
  EXPECT_EQ(words(lines[3])[0], "5");
  EXPECT_EQ(TableView::lines({}, 0, 0).back(), "(no sniffer block with nodes in this document)");
}

TEST(TableViewModes, PlainIsPacedAndFreeOfEscapesLiveRedrawsInPlace) {
  NodeRow row;
  row.nodeId = 1;
  std::ostringstream plain;
  TableView plainView(plain, TableView::Mode::Plain, 1.0);
  for (int i = 0; i <= 10; ++i) plainView.show({row}, i * 0.25, i);  // 2.5 s at 4 Hz
  plainView.show({row}, 2.6, 11, true);                              // the last one
  const std::string text = plain.str();
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  size_t blocks = 0;
  for (size_t at = text.find("t="); at != std::string::npos; at = text.find("t=", at + 1)) ++blocks;
  EXPECT_EQ(blocks, 4u);  // at 0, 1 and 2 s, and the forced one

  std::ostringstream live;
  TableView liveView(live, TableView::Mode::Live, 1.0);
  liveView.show({row}, 0.0, 0);
  EXPECT_EQ(live.str().find('\x1b'), std::string::npos);  // nothing to draw over yet
  liveView.show({row}, 0.25, 1);
  EXPECT_NE(live.str().find("\x1b[3F\x1b[J"), std::string::npos);  // back over 3 lines

  std::ostringstream off;
  TableView offView(off, TableView::Mode::Off, 1.0);
  offView.show({row}, 0.0, 0, true);
  EXPECT_TRUE(off.str().empty());
}

// ---- live table fitted to the terminal ------------------------------------

std::vector<NodeRow> manyNodes(int count) {
  std::vector<NodeRow> rows;
  for (int i = 0; i < count; ++i) {
    NodeRow r;
    r.node = i;
    r.nodeId = i + 1;
    r.name = i == 7 ? "Z\xC3\xBCrich \xC3\xA9tage seventeen, the long way"
                    : "unit-" + std::to_string(i + 1);
    r.feed = "com1,com2";
    r.latitude = 36.5;
    r.longitude = -116.25;
    r.utc = "2024/01/02,03:04:05.600";
    r.health = i % 3;
    r.idle = 0.25;
    r.mapped = true;
    r.inMap = 65535;
    r.pixelX = 101;
    r.pixelY = 102;
    rows.push_back(r);
  }
  return rows;
}

std::vector<PortRow> twoPorts() {
  PortRow a;
  a.stats.name = "com1";
  a.stats.takenIn = 120;
  a.stats.older = 3;
  PortRow b;
  b.stats.name = "com2";
  b.stats.setupError = "group 239.255.42: not an IPv4 address";
  return {a, b};
}

// Across every page: no line wider than the screen, no more lines than
// allowed, the heading on top, every node shown exactly once.
void expectPagesCoverEveryNode(int columns, int height, int nodes) {
  SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(height));
  const std::vector<NodeRow> rows = manyNodes(nodes);
  std::map<int, int> seen;
  std::string heading;
  for (long long page = 0; page < nodes; ++page) {
    const std::vector<std::string> lines =
        TableView::fitted(rows, twoPorts(), 12.3, 49, {columns, height, page, false});
    ASSERT_LE(lines.size(), static_cast<size_t>(height));
    ASSERT_GE(lines.size(), 3u);
    for (const std::string& line : lines) {
      EXPECT_LE(TableView::visibleWidth(line), columns) << line;
    }
    if (page == 0) heading = lines[1];
    EXPECT_EQ(lines[1], heading) << "page " << page;
    EXPECT_EQ(words(lines[1])[0], "node");
    EXPECT_EQ(lines[0].rfind("rows ", 0), 0u) << lines[0];
    if (lines[0].rfind("rows 1-", 0) == 0 && page > 0) break;  // round the pages
    for (size_t i = 2; i < lines.size(); ++i) {
      if (lines[i].find(": taken ") != std::string::npos) continue;  // the footer
      ++seen[std::stoi(words(lines[i])[0])];
    }
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(nodes));
  for (const auto& [node, times] : seen) EXPECT_EQ(times, 1) << "node " << node;
}

TEST(LiveTable, PagesUnderAFixedHeadingReachEveryNodeAndNeverOverflow) {
  expectPagesCoverEveryNode(80, 23, 300);
  expectPagesCoverEveryNode(40, 9, 300);
  expectPagesCoverEveryNode(40, 9, 7);

  const std::vector<NodeRow> rows = manyNodes(300);
  std::vector<std::string> lines =
      TableView::fitted(rows, twoPorts(), 12.3, 49, {80, 23, 1, false});
  // 23 lines: status, heading, 19 nodes, the two ports.
  EXPECT_EQ(lines[0], "rows 20-38 of 300  t=12.3 s  ticks=49");
  EXPECT_EQ(lines.size(), 23u);
  EXPECT_EQ(lines[21], "port com1: taken 120, dropped 0, rejected 0, unknown node 0, older 3");
  EXPECT_EQ(lines[22],
            "port com2: taken 0, dropped 0, rejected 0, unknown node 0, older 0, not set up");

  // Two ports and one line for them: it sums them up.
  lines = TableView::fitted(rows, twoPorts(), 0, 0, {40, 9, 0, false});
  EXPECT_EQ(lines.back(), "2 more ports: taken 120, dropped 0, reje");

  // Everything fits: no paging, all columns in reading order.
  lines = TableView::fitted(manyNodes(2), {}, 1.25, 3, {200, 23, 5, false});
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "t=1.2 s  ticks=3  nodes=2");
  EXPECT_EQ(words(lines[1]), (std::vector<std::string>{"node", "name", "latitude", "longitude",
                                                       "utc", "time", "health", "idle", "s", "feed",
                                                       "in_map", "pixel_x", "pixel_y"}));
  EXPECT_EQ(words(lines[3]), (std::vector<std::string>{"2", "unit-2", "36.500000", "-116.250000",
                                                       "2024/01/02,03:04:05.600", "medium", "0.25",
                                                       "com1,com2", "65535", "101", "102"}));
}

TEST(LiveTable, ColumnsAreDroppedLowestPriorityFirstAndNamesCutAtACharacter) {
  const std::vector<NodeRow> rows = manyNodes(9);
  const auto headingAt = [&rows](int columns) {
    return words(TableView::fitted(rows, {}, 0, 0, {columns, 23, 0, false})[1]);
  };
  EXPECT_EQ(headingAt(40), (std::vector<std::string>{"node", "name", "health"}));
  EXPECT_EQ(headingAt(80), (std::vector<std::string>{"node", "name", "latitude", "longitude",
                                                     "health", "idle", "s"}));
  EXPECT_EQ(headingAt(3).size(), 1u);  // narrower than the first column: cut, not wrapped
  // The long UTF-8 name is cut to the 20-cell name column, never inside a character.
  const std::string line = TableView::fitted(rows, {}, 0, 0, {40, 23, 0, false})[9];
  EXPECT_NE(line.find("Z\xC3\xBCrich \xC3\xA9tage sevente"), std::string::npos) << line;
  EXPECT_EQ(TableView::visibleWidth(line), 33);

  // A name may hold escape sequences, bytes that are not UTF-8 and wide
  // characters: none of them may move the cursor or overflow the line.
  std::vector<NodeRow> hostile = manyNodes(2);
  hostile[0].name =
      "\x1b[2J\xff\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1\xe4\xba\xac"
      "\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1\xe4\xba\xac";  // then ten kanji
  const std::vector<std::string> shown = TableView::fitted(hostile, {}, 0, 0, {40, 9, 0, false});
  for (const std::string& l : shown) EXPECT_EQ(l.find('\x1b'), std::string::npos) << l;
  EXPECT_EQ(TableView::visibleWidth(shown[2]), 33);
  // " [2J" and U+FFFD take 5 cells; 7 kanji of 2 cells fill the 20.
  EXPECT_NE(shown[2].find(" ["
                          "2J\xEF\xBF\xBD\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d\xb1\xe4\xba\xac\xe6\x9d"
                          "\xb1\xe4\xba\xac\xe6\x9d\xb1 "),
            std::string::npos)
      << shown[2];
}

TEST(LiveTable, HealthIsColouredOnlyWhenTheViewDrawsOnATerminal) {
  const std::vector<NodeRow> rows = manyNodes(3);
  std::string joined;
  for (const std::string& line : TableView::fitted(rows, twoPorts(), 0, 0, {80, 23, 0, false})) {
    joined += line;
  }
  EXPECT_EQ(joined.find('\x1b'), std::string::npos);
  const std::vector<std::string> coloured =
      TableView::fitted(rows, twoPorts(), 0, 0, {80, 23, 0, true});
  EXPECT_NE(coloured[2].find("\x1b[32m  good\x1b[0m"), std::string::npos) << coloured[2];
  EXPECT_NE(coloured[3].find("\x1b[33mmedium\x1b[0m"), std::string::npos);
  EXPECT_NE(coloured[4].find("\x1b[31m   bad\x1b[0m"), std::string::npos);
  EXPECT_EQ(coloured[1].find('\x1b'), std::string::npos);  // the heading stays plain

  std::ostringstream terminal, pipe;
  TableView onTerminal(terminal, TableView::Mode::Live, 1.0);
  TableView intoPipe(pipe, TableView::Mode::Live, 1.0);
  onTerminal.setColour(true);
  onTerminal.show(rows, 0, 0);
  intoPipe.show(rows, 0, 0);
  EXPECT_NE(terminal.str().find("\x1b[31m"), std::string::npos);
  EXPECT_EQ(pipe.str().find('\x1b'), std::string::npos);
}

TEST(LiveTable, ANewSizeRedrawsTheWholeScreenAtThatSize) {
  const std::vector<NodeRow> rows = manyNodes(40);
  std::ostringstream out;
  TableView view(out, TableView::Mode::Live, 1.0);
  view.setPorts(twoPorts());
  view.setScreen(80, 24);
  view.show(rows, 0, 0);
  EXPECT_EQ(out.str().find('\x1b'), std::string::npos);
  view.show(rows, 0.25, 1);
  EXPECT_NE(out.str().find("\x1b[23F\x1b[J"), std::string::npos) << "back over the 23 lines";
  out.str("");
  view.setScreen(40, 10);
  view.show(rows, 0.5, 2);
  const std::string text = out.str();
  ASSERT_EQ(text.rfind("\x1b[H\x1b[2J", 0), 0u);
  std::istringstream drawn(text.substr(7));
  int count = 0;
  for (std::string line; std::getline(drawn, line); ++count) {
    EXPECT_LE(TableView::visibleWidth(line), 40) << line;
  }
  EXPECT_EQ(count, 9);
}

// One tick of the web view's state from the node table's rows: the
// snapshot and the delta that leads to it.
std::string tickWeb(WebState* web, const std::vector<kw_out::NodeUpdate>& nodes,
                    const std::vector<size_t>& fresh,
                    std::shared_ptr<const flowhost::WebSnapshot>* snapshot,
                    const std::vector<kw_out::Event>& events = {}) {
  const std::vector<kw_out::OutputStateChange> states;
  const kw_out::OutputTick tick{nodes, fresh, events, states, std::chrono::steady_clock::now(),
                                1000,  0};
  std::string delta;
  *snapshot = web->tick(tick, 1.0, 4, &delta);
  return delta;
}

TEST_F(Nodes, WebStateCarriesEachPortsCountersAndSurvivesBytesThatAreNotUtf8) {
  graph_.startup();
  const NodeTable table(graph_);
  WebState web(graph_, "{}");
  std::vector<PortRow> ports = table.ports();
  ASSERT_EQ(ports.size(), 2u);
  ports[0].stats.droppedFull = 5;
  ports[0].stats.rejected = 6;
  ports[0].stats.unknownNode = 7;
  ports[0].stats.older = 8;
  ports[1].stats.name = "bad\xff";  // a port list line in another encoding
  const kw_out::ChangeTracker tracker;
  const std::vector<kw_out::PortCounters> counters;
  const std::vector<kw_out::Event> none;
  web.ports(ports, kw_out::OutputPorts{counters, none, tracker, {}, 0, 0});
  std::vector<kw_out::NodeUpdate> nodes;
  for (const NodeRow& row : table.read()) nodes.push_back(FeedOutputs::update(row));
  std::shared_ptr<const flowhost::WebSnapshot> snapshot;
  const auto delta = nlohmann::json::parse(tickWeb(&web, nodes, {}, &snapshot));
  ASSERT_EQ(delta["ports"].size(), 2u);  // the new lines travel with the next tick
  const auto state = nlohmann::json::parse(snapshot->stateJson());
  EXPECT_EQ(state["ports"][0], nlohmann::json::parse(R"({"block": 1, "name": "com1", "group": "",
      "port": 0, "taken": 40, "dropped": 5, "rejected": 6, "unknown": 7, "older": 8, "problem": "",
      "silent": false})"));
  EXPECT_EQ(state["ports"][1]["taken"], 41);
  EXPECT_EQ(state["ports"][1]["problem"], "group 239.255.42: not an IPv4 address");
  EXPECT_EQ(state["ports"][1]["name"], "bad\xEF\xBF\xBD");
  EXPECT_EQ(state["units"][0][3], "com2");  // heard: the port it was last heard on
}

// Each delta carries only what changed since the one before: new fixes,
// health grades, map flags, events; a tick where nothing changed has none.
TEST(WebStateDeltas, OnlyTheUnitsThatChangedTravel) {
  JGraph graph;
  WebState web(graph, "{}");
  std::vector<kw_out::NodeUpdate> nodes(3);
  for (int i = 0; i < 3; ++i) {
    nodes[i].node = 10 + i;
    nodes[i].name = "u" + std::to_string(i);
    nodes[i].neverHeard = false;
    nodes[i].lat = 35.0 + i;
    nodes[i].lon = -115.0;
    nodes[i].health = kw_out::kHealthGood;
  }
  std::shared_ptr<const flowhost::WebSnapshot> snapshot;
  auto delta = nlohmann::json::parse(tickWeb(&web, nodes, {0, 1, 2}, &snapshot));
  EXPECT_EQ(delta["units"],
            nlohmann::json::parse(R"([["10","u0",10,""],["11","u1",11,""],["12","u2",12,""]])"));
  EXPECT_EQ(delta["p"].size(), 3u);

  nodes[1].lat = 36.5;
  delta = nlohmann::json::parse(tickWeb(&web, nodes, {1}, &snapshot));
  EXPECT_EQ(delta["p"], nlohmann::json::parse("[[1,36.5,-115]]"));
  for (const char* part : {"units", "h", "m", "f", "ports", "ev"})
    EXPECT_FALSE(delta.contains(part)) << part;

  EXPECT_EQ(tickWeb(&web, nodes, {}, &snapshot), "");  // nothing changed: no event at all

  nodes[2].health = kw_out::kHealthBad;
  kw_out::Event went;
  went.kind = kw_out::Event::Kind::Health;
  went.message = "node u2 went bad";
  delta = nlohmann::json::parse(tickWeb(&web, nodes, {}, &snapshot, {went}));
  EXPECT_EQ(delta["h"], nlohmann::json::parse("[[2,2]]"));
  EXPECT_EQ(delta["ev"], nlohmann::json::parse(R"([[1000000,"health","node u2 went bad"]])"));
  EXPECT_FALSE(delta.contains("p"));
  // The snapshot holds the same: a browser that starts now sees all of it.
  const auto state = nlohmann::json::parse(snapshot->stateJson());
  EXPECT_EQ(state["units"][1], nlohmann::json::parse(R"(["11","u1",11,"",0,36.5,-115,0,null])"));
  EXPECT_EQ(state["units"][2][4], 2);
  EXPECT_EQ(state["events"].size(), 1u);
}

// The time slider's frames: one every few seconds, the last hour kept, a
// frame asked for by time is the nearest one, and a unit not heard by then
// is left out of it.
TEST(WebHistoryFrames, KeepsTheLastHourAndAnswersWithTheNearestFrame) {
  flowhost::WebHistory history;
  flowhost::WebSnapshot s;
  s.positions.resize(2);
  s.positions[0].heard = true;
  s.positions[0].health = 1;
  for (int t = 0; t <= 4000; ++t) {
    s.t = t;
    s.wallMs = 1000LL * t;
    s.positions[0].lat = 35.0 + t * 1e-5;
    s.positions[0].lon = -115.0;
    s.positions[1].heard = t >= 3990;  // the second unit heard only in the last frames
    s.positions[1].lat = 40.0;
    history.add(s);
  }
  EXPECT_EQ(history.frames(), 721u);  // 400 s to 4000 s, every 5 s
  const auto range = nlohmann::json::parse(history.rangeJson());
  EXPECT_EQ(range["from"], 400.0);
  EXPECT_EQ(range["to"], 4000.0);
  auto frame = nlohmann::json::parse(history.frameJson(1001.0));
  EXPECT_EQ(frame["t"], 1000.0);
  EXPECT_EQ(frame["p"], nlohmann::json::parse("[[0,35.01,-115.0,1]]"));
  EXPECT_EQ(nlohmann::json::parse(history.frameJson(1003.0))["t"], 1005.0);
  EXPECT_EQ(nlohmann::json::parse(history.frameJson(-50.0))["t"], 400.0);
  frame = nlohmann::json::parse(history.frameJson(1e9));
  EXPECT_EQ(frame["t"], 4000.0);
  EXPECT_EQ(frame["p"].size(), 2u);
}

// MBTiles files: a browser's XYZ row is the file's row counted from the
// south; a file of vector tiles, or no database at all, is refused with
// the reason.
TEST(MbTilesFile, ServesTheRowCountedFromTheSouthAndRefusesWhatItCannotServe) {
  TempDir dir;
  const auto make = [&](const std::string& name, const std::string& format) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(dir.file(name).c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE metadata (name TEXT, value TEXT);"
        "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data "
        "BLOB);"
        "INSERT INTO metadata VALUES ('format', '" +
        format +
        "'), ('attribution', 'Survey'), "
        "('minzoom', '4'), ('maxzoom', '2');"
        "INSERT INTO tiles VALUES (2, 1, 0, 'south'), (2, 1, 3, 'north');";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    return dir.file(name);
  };
  std::string error;
  auto tiles = flowhost::MbTiles::open(make("area.mbtiles", "jpg"), &error);
  ASSERT_NE(tiles, nullptr) << error;
  std::string data;
  ASSERT_TRUE(tiles->tile(2, 1, 0, &data));
  EXPECT_EQ(data, "north");
  ASSERT_TRUE(tiles->tile(2, 1, 3, &data));
  EXPECT_EQ(data, "south");
  EXPECT_FALSE(tiles->tile(2, 1, 1, &data));
  EXPECT_FALSE(tiles->tile(2, 4, 0, &data));  // beyond the zoom level's columns
  EXPECT_FALSE(tiles->tile(31, 0, 0, &data));
  EXPECT_EQ(tiles->contentType(), "image/jpeg");
  EXPECT_EQ(tiles->attribution(), "Survey");
  EXPECT_EQ(tiles->name(), "area.mbtiles");
  EXPECT_EQ(tiles->minZoom(), 2);  // the file's two zooms the wrong way round
  EXPECT_EQ(tiles->maxZoom(), 4);

  EXPECT_EQ(flowhost::MbTiles::open(make("vector.mbtiles", "pbf"), &error), nullptr);
  EXPECT_NE(error.find("its tiles are \"pbf\"; only raster tiles"), std::string::npos) << error;
  dir.write("notes.mbtiles", "not a database at all, just some text that is long enough to read\n");
  EXPECT_EQ(flowhost::MbTiles::open(dir.file("notes.mbtiles"), &error), nullptr);
  EXPECT_NE(error.find("notes.mbtiles: not an MBTiles file"), std::string::npos) << error;
  EXPECT_EQ(flowhost::MbTiles::open(dir.file("missing.mbtiles"), &error), nullptr);
  EXPECT_NE(error.find("missing.mbtiles: "), std::string::npos) << error;
}

}  // namespace
