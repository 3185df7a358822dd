// The quick start: the standard graph built from a node list and a port
// list, its map option, its buffer sizing, the split of a long node list
// over several sniffers, and the document it writes.
#include "apps/flowhost/quickstart/QuickStart.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "apps/flowhost/blocks/RunnerBlocks.h"
#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/document/DocumentHints.h"
#include "apps/flowhost/document/NodeListFile.h"
#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/run/PluginSet.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "tests/support/temp_dir.h"

namespace {

using flowhost::DocumentFile;
using flowhost::DocumentHints;
using flowhost::NodeListFile;
using flowhost::QuickStart;
using kw_test::readFile;
using kw_test::TempDir;
using Json = nlohmann::ordered_json;

TEST(QuickStartMap, ReadsSignedCornersAndAPixelSizeAndRefusesWhatIsNotAMap) {
  QuickStart::Map map;
  std::string error;
  ASSERT_TRUE(QuickStart::parseMap("36 -115.8 35.2 -115.05 400x300", &map, &error)) << error;
  EXPECT_DOUBLE_EQ(map.ulLatitude, 36.0);
  EXPECT_DOUBLE_EQ(map.ulLongitude, -115.8);
  EXPECT_DOUBLE_EQ(map.lrLatitude, 35.2);
  EXPECT_DOUBLE_EQ(map.lrLongitude, -115.05);
  EXPECT_EQ(map.width, 400);
  EXPECT_EQ(map.height, 300);
  const struct {
    const char* text;
    const char* reason;
  } bad[] = {
      {"36 -115.8 35.2 400x300", "is not \"UL_LAT"},
      {"36 -115.8 35.2 -115.05 400x300 9", "is not \"UL_LAT"},
      {"91 -115.8 35.2 -115.05 400x300", "latitudes -90 to 90"},
      {"36 -115.8 35.2 nan 400x300", "latitudes -90 to 90"},
      {"36 -115.8 35.2 -115.05 400", "pixel size"},
      {"36 -115.8 35.2 -115.05 0x300", "pixel size"},
      {"36 -115.8 35.2 -115.05 400.5x300", "pixel size"},
      {"35.2 -115.8 36 -115.05 400x300", "north and west"},
      {"36 -115.05 35.2 -115.8 400x300", "north and west"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(QuickStart::parseMap(c.text, &map, &error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
  }
}

TEST(QuickStartSizing, PacketBufferHoldsTwoClockPeriodsOfEveryUnitWithinTheLimits) {
  EXPECT_EQ(QuickStart::packetBufferSize(5, 4.0), 10);  // 5 x 4 / 4 x 2
  EXPECT_EQ(QuickStart::packetBufferSize(20, 4.0), 40);
  EXPECT_EQ(QuickStart::packetBufferSize(7, 3.0), 19);     // 18.67, rounded up
  EXPECT_EQ(QuickStart::packetBufferSize(1, 4.0), 10);     // the property's least
  EXPECT_EQ(QuickStart::packetBufferSize(300, 4.0), 600);  // 300 units on one port
  EXPECT_EQ(QuickStart::packetBufferSize(1000, 4.0), 2000);
  EXPECT_EQ(QuickStart::packetBufferSize(1000, 1.0), 4000);  // and its most
  EXPECT_EQ(QuickStart::kMaxPacketBuffer, JQNV_packet_sniffer::kMaxSlotCount);
}

TEST(NodeLists, AreReadAsTheSnifferReadsThem) {
  NodeListFile list;
  list.parse("# comment 1 2\n\n 7 truck7 extra\n4\n1001 north\n-3 below\nx12 zero\n" +
             std::string(300, '9') + "\n");
  ASSERT_EQ(list.nodes().size(), 3u);  // the 300 nines: two pieces, both above 1000
  EXPECT_EQ(list.nodes()[0].number, 7);
  EXPECT_EQ(list.nodes()[0].name, "truck7");
  EXPECT_EQ(list.nodes()[1].number, 4);
  EXPECT_EQ(list.nodes()[1].name, "");
  EXPECT_EQ(list.nodes()[2].number, 0);  // no leading number reads as 0
  EXPECT_EQ(list.partText(1, 5, "tail"), "# tail\n4\n0 zero\n");
}

class QuickStartGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    flowhost::registerRunnerBlocks();
    static flowhost::PluginSet plugins;  // plug-ins stay loaded for the process
    std::string error;
    ASSERT_TRUE(plugins.loaded().size() >= 2 || plugins.loadDefaults({}, &error)) << error;
  }

  static std::string stored(JModuleObj* block, const std::string& key) {
    JOutputStream stream;
    block->writeContent(stream);
    for (const JEntry& e : stream.entries()) {
      if (e.key != key) continue;
      if (e.kind == JEntry::Kind::Text) return static_cast<char*>(e.text);
      if (e.kind == JEntry::Kind::Integer) return std::to_string(e.integer);
      return std::to_string(e.real);
    }
    return "?";
  }

  TempDir dir_;
};

TEST_F(QuickStartGraph, ALongNodeListIsSplitOverSniffersOf128AndEveryNodeIsWired) {
  std::string nodes;
  for (int i = 0; i < 300; ++i) nodes += std::to_string(i) + " u" + std::to_string(i) + "\n";
  QuickStart::Settings settings;
  settings.nodeFile = dir_.write("many.nod", nodes);
  settings.portFile = dir_.write("two.mcp", "a 239.1.1.1 5000\nb 239.1.1.2 5001\n");
  settings.partFolder = dir_.path().string();
  settings.rate = 2.0;
  QuickStart quick;
  std::string error;
  ASSERT_TRUE(quick.build(settings, &error)) << error;
  EXPECT_EQ(quick.snifferCount(), 3);
  ASSERT_EQ(quick.partLists().size(), 3u);
  EXPECT_EQ(quick.partLists()[2].path, dir_.file("nodes-3.nod"));
  NodeListFile last;
  last.parse(quick.partLists()[2].text);
  ASSERT_EQ(last.nodes().size(), 44u);
  EXPECT_EQ(last.nodes()[0].number, 256);
  EXPECT_EQ(last.nodes()[0].name, "u256");

  JGraph* graph = quick.graph();
  // clock, on off, 3 sniffers, 4 blocks per node; 2 links per sniffer, 13 per
  // node (2 converters, 2 into the map, 9 into the display).
  ASSERT_EQ(graph->blockCount(), 2 + 3 + 4 * 300);
  EXPECT_EQ(graph->linkCount(), 3 * 2 + 13 * 300);
  int sniffers = 0;
  for (int b = 0; b < graph->blockCount(); ++b) {
    JModuleObj* block = graph->block(b);
    if (std::string(block->className()) != "JQNV_packet_sniffer") continue;
    ++sniffers;
    const bool lastOne = sniffers == 3;
    EXPECT_EQ(stored(block, "number of nodes"), lastOne ? "44" : "128");
    EXPECT_EQ(block->ogm, lastOne ? 44 * 8 : 128 * 8);
    // Every sniffer hears every unit of the list on its ports: 300 units at 2 Hz.
    EXPECT_EQ(stored(block, "packet buffer size"), "1200");
    EXPECT_EQ(stored(block, "node file name"), quick.partLists()[sniffers - 1].path);
  }
  EXPECT_EQ(sniffers, 3);
  // The display of the last node carries its name and shows all nine values.
  JModuleObj* display = graph->block(graph->blockCount() - 1);
  EXPECT_EQ(std::string(display->getLabel()), "u299");
  EXPECT_EQ(display->igm, 9);
  for (int input = 0; input < 9; ++input) EXPECT_EQ(display->inputSet(input).size(), 1) << input;
}

TEST_F(QuickStartGraph, TheWrittenDocumentLoadsAgainWithTheSameGraphAndRelativeListNames) {
  QuickStart::Settings settings;
  settings.nodeFile = dir_.write("mine.nod", "5 alpha\n9 bravo\n");
  settings.portFile = dir_.write("mine.mcp", "feed 239.255.42.1 47001\n");
  ASSERT_TRUE(QuickStart::parseMap("36 -115.8 35.2 -115.05 400x400", &settings.map, nullptr));
  QuickStart quick;
  std::string error;
  ASSERT_TRUE(quick.build(settings, &error)) << error;
  EXPECT_TRUE(quick.partLists().empty());

  const std::string path = dir_.file("mine.json");
  ASSERT_TRUE(DocumentFile::writeFile(path, quick.documentText(path), &error)) << error;
  const Json written = Json::parse(readFile(path));
  const Json& sniffer = written["blocks"][2]["entries"];
  EXPECT_EQ(sniffer["node file name"], "mine.nod");
  EXPECT_EQ(sniffer["port file name"], "mine.mcp");
  EXPECT_EQ(sniffer["number of nodes"], 2);
  EXPECT_EQ(sniffer["packet buffer size"], 10);
  EXPECT_EQ(written["blocks"][5]["entries"]["ul_longitude"], "115.80000 W");
  EXPECT_EQ(written["blocks"][5]["entries"]["lr_latitude"], "35.20000 N");

  DocumentFile again;
  ASSERT_TRUE(again.load(path, &error)) << error;
  EXPECT_TRUE(again.unreadableListFiles().empty());
  EXPECT_EQ(again.graph()->blockCount(), quick.graph()->blockCount());
  EXPECT_EQ(again.graph()->linkCount(), quick.graph()->linkCount());
  std::string text;
  ASSERT_TRUE(again.currentText(&text, &error)) << error;
  EXPECT_EQ(Json::parse(text), written);
}

// Two fleets with the same node numbers: each has its own sniffers on its
// own ports, labelled with the fleet, so that the node table (and through
// it every output) tells their units apart, in the running graph and in the
// document it writes.
TEST_F(QuickStartGraph, EachFleetHasItsOwnSniffersAndItsUnitsKeepTheirFleet) {
  std::string nodes;
  for (int i = 0; i < 130; ++i) nodes += std::to_string(i) + " u" + std::to_string(i) + "\n";
  QuickStart::Settings settings;
  settings.fleets = {
      {"north", dir_.write("north.nod", nodes), dir_.write("north.mcp", "a 239.1.1.1 5000\n")},
      {"south", dir_.write("south.nod", "7 u7\n"), dir_.write("south.mcp", "a 239.1.1.2 5000\n")}};
  settings.partFolder = dir_.path().string();
  QuickStart quick;
  std::string error;
  ASSERT_TRUE(quick.build(settings, &error)) << error;
  EXPECT_EQ(quick.snifferCount(), 3);
  ASSERT_EQ(quick.partLists().size(), 2u);
  EXPECT_EQ(quick.partLists()[1].path, dir_.file("nodes-north-2.nod"));
  for (const QuickStart::PartList& part : quick.partLists()) {
    ASSERT_TRUE(DocumentFile::writeFile(part.path, part.text, &error)) << error;
  }
  quick.graph()->startup();

  const auto fleetsOf = [](const JGraph& graph) {
    std::vector<std::string> labels;
    for (const flowhost::NodeRow& row : flowhost::NodeTable(graph).read()) {
      labels.push_back(row.label());
    }
    return labels;
  };
  const std::vector<std::string> labels = fleetsOf(*quick.graph());
  ASSERT_EQ(labels.size(), 131u);
  EXPECT_EQ(labels[0], "north/u0");
  EXPECT_EQ(labels[129], "north/u129");
  EXPECT_EQ(labels[130], "south/u7");
  std::vector<std::string> ports;
  for (int b = 0; b < quick.graph()->blockCount(); ++b) {
    JModuleObj* block = quick.graph()->block(b);
    if (std::string(block->className()) != "JQNV_packet_sniffer") continue;
    ports.push_back(std::string(block->getLabel()) + " " + stored(block, "port file name"));
  }
  EXPECT_EQ(ports, (std::vector<std::string>{"fleet north sniffer 1 " + dir_.file("north.mcp"),
                                             "fleet north sniffer 2 " + dir_.file("north.mcp"),
                                             "fleet south " + dir_.file("south.mcp")}));
  JModuleObj* display = quick.graph()->block(quick.graph()->blockCount() - 1);
  EXPECT_EQ(std::string(display->getLabel()), "south/u7");

  const std::string path = dir_.file("fleets.json");
  ASSERT_TRUE(DocumentFile::writeFile(path, quick.documentText(path), &error)) << error;
  DocumentFile again;
  ASSERT_TRUE(again.load(path, &error)) << error;
  again.graph()->startup();
  EXPECT_EQ(fleetsOf(*again.graph()), labels);
}

TEST_F(QuickStartGraph, ListsThatGiveNothingAreRefusedWithTheirReason) {
  QuickStart::Settings settings;
  settings.nodeFile = dir_.write("empty.nod", "# nobody\n1001 too-high\n");
  settings.portFile = dir_.write("one.mcp", "feed 239.255.42.1 47001\n");
  QuickStart quick;
  std::string error;
  EXPECT_FALSE(quick.build(settings, &error));
  EXPECT_NE(error.find("'" + settings.nodeFile + "' names no node"), std::string::npos) << error;
  settings.nodeFile = dir_.write("one.nod", "1\n");
  settings.portFile = dir_.write("short.mcp", "feed 239.255.42.1\n");
  EXPECT_FALSE(quick.build(settings, &error));
  EXPECT_NE(error.find("names no port"), std::string::npos) << error;
  settings.portFile = dir_.file("missing.mcp");
  EXPECT_FALSE(quick.build(settings, &error));
  EXPECT_NE(error.find("cannot read the port list"), std::string::npos) << error;
  EXPECT_EQ(quick.graph(), nullptr);
}

// ---- hints for documents whose sniffers do not match their node lists ----

// A sniffer document: `count` stored (absent when negative), the list's
// nodes, and one link from `output` to a display.
std::string snifferDocument(int count, const std::string& list, int output) {
  Json entries = {{"node file name", list}, {"port file name", ""}};
  if (count >= 0) entries["number of nodes"] = count;
  const Json doc = {
      {"document", "jhost graph"},
      {"version", 1},
      {"blocks",
       Json::array({Json{{"id", 4}, {"class", "JQNV_packet_sniffer"}, {"entries", entries}},
                    Json{{"id", 8}, {"class", "JDisplayObj"}, {"entries", Json::object()}}})},
      {"links", Json::array({Json{{"from", 4}, {"output", output}, {"to", 8}, {"input", 0}}})}};
  return doc.dump();
}

TEST_F(QuickStartGraph, ARefusedSnifferOutputNamesNumberOfNodesAndTheListsCount) {
  dir_.write("five.nod", "0\n1\n2\n3\n4\n");
  const struct {
    int stored;
    int output;
    const char* hint;
  } cases[] = {
      {-1, 1,
       "\"number of nodes\" (missing); its node list 'five.nod' names 5 nodes: store "
       "\"number of nodes\": 5 to give it outputs 0 to 39"},
      {3, 25, "\"number of nodes\" (3); its node list 'five.nod' names 5 nodes: store"},
      {5, 45, "names 5 nodes, so output 45 would not exist with the whole list either"},
  };
  for (const auto& c : cases) {
    const std::string path =
        dir_.write("doc.json", snifferDocument(c.stored, "five.nod", c.output));
    DocumentFile file;
    std::string reason;
    ASSERT_FALSE(file.load(path, &reason)) << c.output;
    const std::vector<std::string> hints = DocumentHints::forRefusedLink(path, file);
    ASSERT_EQ(hints.size(), 1u) << reason;
    EXPECT_NE(hints[0].find("block 4 (JQNV_packet_sniffer) has 8 outputs per node"),
              std::string::npos);
    EXPECT_NE(hints[0].find(c.hint), std::string::npos) << hints[0];
  }
  // Any other refusal gets no hint.
  Json other = Json::parse(snifferDocument(5, "five.nod", 1));
  other["links"][0]["input"] = 1000;
  const std::string otherPath = dir_.write("other.json", other.dump());
  DocumentFile otherFile;
  std::string reason;
  ASSERT_FALSE(otherFile.load(otherPath, &reason));
  EXPECT_EQ(otherFile.refusal().kind, JRefusal::Kind::MissingInput) << reason;
  EXPECT_TRUE(DocumentHints::forRefusedLink(otherPath, otherFile).empty()) << reason;
}

TEST_F(QuickStartGraph, ANodeListBeyondOneSniffersNodesSaysHowManyAreLeftOut) {
  std::string nodes;
  for (int i = 0; i < 200; ++i) nodes += std::to_string(i) + "\n";
  dir_.write("many.nod", nodes);
  dir_.write("few.nod", "1\n2\n");
  for (const char* list : {"many.nod", "few.nod"}) {
    const std::string path = dir_.write("doc.json", snifferDocument(2, list, 0));
    DocumentFile file;
    std::string reason;
    ASSERT_TRUE(file.load(path, &reason)) << reason;
    const std::vector<std::string> warnings = DocumentHints::forLongNodeLists(*file.graph());
    if (std::string(list) == "few.nod") {
      EXPECT_TRUE(warnings.empty());
      continue;
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("names 200 nodes; a sniffer takes 128, so 72 nodes are left out"),
              std::string::npos)
        << warnings[0];
  }
}

}  // namespace
