// Hostile documents: texts built to exhaust memory, time or the stack while
// a document loads, texts with NUL bytes, and files that cannot be read for
// reasons other than absence. Each is refused with a one-line reason, or
// loads in time proportional to its size.
//
// The time bounds are generous (they hold under the sanitizers on a shared
// machine); they catch a load that grows with the square of the text, not
// a slow one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "host/JAddObj.h"
#include "host/JDictionary.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JProbeObj.h"
#include "host/JSourceObj.h"
#include "tests/support/temp_dir.h"

namespace {

// Passes the integer on its input to its output, announcing it at once:
// a chain of these nests one engine call per block.
class RelayObj : public JAddObj {
 public:
  RelayObj() {
    igm = 1;
    ogm = 1;
  }
  const char* className() const override { return "RelayObj"; }
  JObject* clone() const override { return new RelayObj(*this); }
  void engine(int, JLinkObj& link) override {
    link.access(JIntegerData(value_));
    broadcast(0);
  }
  void access(int, JLinkObj&, const JDataType& data) override {
    static_cast<int&>(data) = value_ + 1;
  }

 private:
  int value_ = 0;
};

constexpr double kGenerousSeconds = 5.0;

class HostileDocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RelayObj().Register(); }

  // Loads `text`, recording how long it took.
  std::unique_ptr<JGraph> timedLoad(const std::string& text, std::string* error) {
    const auto start = std::chrono::steady_clock::now();
    auto graph = JDocument::fromText(text, error);
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return graph;
  }

  // A document of `count` relays with ids 1..count, each linked to the
  // next, the links listed last first.
  static std::string relayChain(int count) {
    std::string text = R"({"blocks": [)";
    for (int i = 1; i <= count; ++i) {
      text += (i > 1 ? "," : "") + std::string(R"({"id":)") + std::to_string(i) +
              R"(,"class":"RelayObj"})";
    }
    text += R"(], "links": [)";
    for (int i = count - 1; i >= 1; --i) {
      text += std::string(R"({"from":)") + std::to_string(i) + R"(,"output":0,"to":)" +
              std::to_string(i + 1) + R"(,"input":0})" + (i > 1 ? "," : "");
    }
    return text + "]}";
  }

  double seconds_ = 0.0;
};

TEST_F(HostileDocumentTest, NestingIsBoundedAndRefusedAtOnce) {
  // Deep nesting under a key nobody reads, as large as the old failures.
  std::string error;
  for (int depth : {10000, 100000}) {
    const std::string text =
        R"({"blocks": [], "unused": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
    EXPECT_EQ(timedLoad(text, &error), nullptr);
    EXPECT_EQ(error, "document nests arrays and objects deeper than 32 levels (at offset 56)");
    EXPECT_LT(seconds_, kGenerousSeconds);
  }
  // Exactly at the bound loads; brackets inside strings do not count.
  const std::string atBound = R"({"blocks": [], "unused": )" + std::string(31, '[') +
                              R"("[[[{{{")" + std::string(31, ']') + "}";
  EXPECT_NE(JDocument::fromText(atBound, &error), nullptr) << error;
  const std::string escaped = R"({"blocks": [], "unused": ")" + std::string(40, '[') + R"(\"" })";
  EXPECT_NE(JDocument::fromText(escaped, &error), nullptr) << error;
  const std::string beyond =
      R"({"blocks": [], "unused": )" + std::string(32, '[') + std::string(32, ']') + "}";
  EXPECT_EQ(JDocument::fromText(beyond, &error), nullptr);
  EXPECT_NE(error.find("deeper than 32 levels"), std::string::npos) << error;
}

TEST_F(HostileDocumentTest, SizeIsBoundedForTextsAsForFiles) {
  std::string text = R"({"blocks": [], "unused": ")";
  text += std::string(JDocument::kMaxBytes - text.size() - 2, 'x') + "\"}";
  std::string error;
  EXPECT_NE(JDocument::fromText(text, &error), nullptr) << error;
  text.insert(text.size() - 2, "x");
  EXPECT_EQ(JDocument::fromText(text, &error), nullptr);
  EXPECT_EQ(error, "document is larger than 4 MiB");
}

TEST_F(HostileDocumentTest, WideObjectsAndLongListsLoadInProportionalTime) {
  // 80,000 entries in one block (about 1 MB); a block answers from them.
  std::string wide = R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {)";
  for (int i = 0; i < 80000; ++i)
    wide += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  wide += R"("outputs": 3}}]})";
  std::string error;
  auto graph = timedLoad(wide, &error);
  ASSERT_NE(graph, nullptr) << error;
  EXPECT_EQ(graph->block(0)->ogm, 3);
  EXPECT_LT(seconds_, kGenerousSeconds) << "80,000 entries";

  // 1 MB of blocks, and one source output linked to every probe, which the
  // graph then takes apart when it is destroyed.
  const int probes = 12000;
  std::string many = R"({"blocks": [{"id": 0, "class": "JSourceObj"})";
  for (int i = 1; i <= probes; ++i)
    many += R"(,{"id":)" + std::to_string(i) + R"(,"class":"JProbeObj"})";
  many += R"(], "links": [)";
  for (int i = probes; i >= 1; --i) {
    many += std::string(R"({"from":0,"output":0,"to":)") + std::to_string(i) + R"(,"input":0})" +
            (i > 1 ? "," : "");
  }
  many += "]}";
  graph = timedLoad(many, &error);
  ASSERT_NE(graph, nullptr) << error;
  EXPECT_EQ(graph->linkCount(), probes);
  const auto start = std::chrono::steady_clock::now();
  graph.reset();
  seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds_, kGenerousSeconds) << "12,000 blocks and links, loaded and destroyed";
}

TEST_F(HostileDocumentTest, DictionaryFindsAndReplacesAmongManyEntries) {
  const auto start = std::chrono::steady_clock::now();
  JDictionary dictionary;
  JEntry entry;
  entry.kind = JEntry::Kind::Integer;
  for (int i = 0; i < 50000; ++i) {
    entry.key = "k" + std::to_string(i);
    entry.integer = i;
    dictionary.add(entry);
  }
  entry.key = "k7";
  entry.integer = -7;
  dictionary.add(entry);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            kGenerousSeconds);
  ASSERT_EQ(dictionary.size(), 50000);
  EXPECT_EQ(dictionary.entries()[7].integer, -7);  // replaced in place
  ASSERT_NE(dictionary.find("k49999"), nullptr);
  EXPECT_EQ(dictionary.find("k49999")->integer, 49999);
  EXPECT_EQ(dictionary.find("k50000"), nullptr);
}

TEST_F(HostileDocumentTest, ChainsAreCheckedOnceAndBounded) {
  // The longest chain allowed, links listed last first, loads in time.
  std::string error;
  auto graph = timedLoad(relayChain(JGraph::kMaxChainBlocks), &error);
  ASSERT_NE(graph, nullptr) << error;
  EXPECT_LT(seconds_, kGenerousSeconds);

  // With a source in front and a probe behind it is as long as allowed; a
  // value sent down it arrives without exhausting the stack.
  const int relays = JGraph::kMaxChainBlocks - 2;
  graph = JDocument::fromText(relayChain(relays), &error);
  ASSERT_NE(graph, nullptr) << error;
  auto* head = new JSourceObj();
  auto* probe = new JProbeObj();
  graph->add(head);
  graph->add(probe);
  ASSERT_NE(graph->link(head, 0, graph->block(0), 0, &error), nullptr) << error;
  ASSERT_NE(graph->link(graph->block(relays - 1), 0, probe, 0, &error), nullptr) << error;
  head->setInteger(0, 5);
  head->broadcast(0);
  ASSERT_NE(probe->last(0), nullptr);
  EXPECT_EQ(probe->last(0)->integer, 5 + relays);
  // Beside the source the chain is as long; one block more in front is
  // refused link by link too.
  auto* beside = new RelayObj();
  auto* before = new RelayObj();
  graph->add(beside);
  graph->add(before);
  ASSERT_NE(graph->link(beside, 0, graph->block(0), 0, &error), nullptr) << error;
  EXPECT_EQ(graph->link(before, 0, beside, 0, &error), nullptr);
  EXPECT_EQ(error, "the links would make a chain through more than 1000 blocks");

  // One block more, or forty thousand, is refused when the document loads.
  for (int count : {JGraph::kMaxChainBlocks + 1, 40000}) {
    EXPECT_EQ(timedLoad(relayChain(count), &error), nullptr);
    EXPECT_EQ(error, "links: the links would make a chain through more than 1000 blocks");
    EXPECT_LT(seconds_, kGenerousSeconds) << count;
  }
}

TEST_F(HostileDocumentTest, AnnouncementsThatMultiplyAreRefused) {
  // Layers of two relays, each linked to both of the next layer: one value
  // into the first layer would reach the last 2^layers times.
  auto lattice = [](int layers) {
    std::string text = R"({"blocks": [)";
    for (int i = 0; i < 2 * layers; ++i) {
      text += (i > 0 ? "," : "") + std::string(R"({"id":)") + std::to_string(i) +
              R"(,"class":"RelayObj"})";
    }
    text += R"(], "links": [)";
    bool first = true;
    for (int layer = 0; layer + 1 < layers; ++layer) {
      for (int from = 2 * layer; from < 2 * layer + 2; ++from) {
        for (int to = 2 * layer + 2; to < 2 * layer + 4; ++to) {
          text += (first ? "" : ",") + std::string(R"({"from":)") + std::to_string(from) +
                  R"(,"output":0,"to":)" + std::to_string(to) + R"(,"input":0})";
          first = false;
        }
      }
    }
    return text + "]}";
  };
  std::string error;
  // 2 + 4 + ... + 2^15 = 65534 links from a first-layer relay: within the
  // bound.
  auto graph = JDocument::fromText(lattice(16), &error);
  ASSERT_NE(graph, nullptr) << error;
  EXPECT_EQ(timedLoad(lattice(17), &error), nullptr);
  EXPECT_EQ(error,
            "links: the links would let one announcement run through more than 100000 links");
  EXPECT_EQ(timedLoad(lattice(400), &error), nullptr);
  EXPECT_NE(error.find("more than 100000 links"), std::string::npos) << error;
  EXPECT_LT(seconds_, kGenerousSeconds);
  // One link at a time: a source in front of one first-layer relay runs
  // through 65535 links; in front of both, through twice that.
  auto* source = new JSourceObj();
  graph->add(source);
  ASSERT_NE(graph->link(source, 0, graph->block(0), 0, &error), nullptr) << error;
  EXPECT_EQ(graph->link(source, 0, graph->block(1), 0, &error), nullptr);
  EXPECT_EQ(error, "the links would let one announcement run through more than 100000 links");
  EXPECT_EQ(graph->linkCount(), 4 * 15 + 1);
}

// A graph with more links than the bound may still announce through each
// of them a few times (a clock driving ten thousand units' blocks does),
// but not through paths that multiply.
TEST_F(HostileDocumentTest, LargeGraphsAnnounceThroughEachLinkAFewTimes) {
  constexpr int kLeaves = 110000;
  JGraph graph;
  auto* hub = graph.add(new RelayObj());
  std::vector<JGraph::LinkRequest> links;
  for (int i = 0; i < kLeaves; ++i) links.push_back({hub, 0, graph.add(new RelayObj()), 0});
  std::string error;
  ASSERT_TRUE(graph.linkAll(links, &error)) << error;
  // A front block reaching the hub by four ways: four times its links.
  auto* front = graph.add(new RelayObj());
  std::vector<JModuleObj*> ways;
  for (int i = 0; i < 5; ++i) {
    ways.push_back(graph.add(new RelayObj()));
    ASSERT_TRUE(graph.linkAll({{ways.back(), 0, hub, 0}}, &error)) << error;
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(graph.linkAll({{front, 0, ways[static_cast<size_t>(i)], 0}}, &error)) << error;
  }
  // The fifth way: five times the hub's links, more than four times the
  // graph's (the refused link counted).
  EXPECT_FALSE(graph.linkAll({{front, 0, ways[4], 0}}, &error));
  EXPECT_EQ(error, "the links would let one announcement run through more than 440040 links");
  EXPECT_EQ(graph.linkCount(), kLeaves + 9);
}

TEST_F(HostileDocumentTest, CyclesAndRefusedLinksLeaveNoLinkBehind) {
  const std::string blocks =
      R"({"blocks": [{"id": 1, "class": "RelayObj"}, {"id": 2, "class": "RelayObj"},
                     {"id": 3, "class": "RelayObj"}], "links": )";
  const struct {
    const char* links;
    const char* reason;
  } cases[] = {
      {R"([{"from": 1, "output": 0, "to": 2, "input": 0}, {"from": 2, "output": 0, "to": 3, "input": 0},
          {"from": 3, "output": 0, "to": 1, "input": 0}])",
       "links: the links would close a cycle"},
      {R"([{"from": 2, "output": 0, "to": 2, "input": 0}])",
       "link 0: the link would close a cycle"},
      {R"([{"from": 1, "output": 0, "to": 2, "input": 0}, {"from": 1, "output": 0, "to": 2, "input": 0}])",
       "link 1: this link already exists"},
      {R"([{"from": 1, "output": 0, "to": 2, "input": 0}, {"from": 1, "output": 1, "to": 3, "input": 0}])",
       "link 1: output 1 does not exist on RelayObj (1 outputs)"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(JDocument::fromText(blocks + c.links + "}", &error), nullptr) << c.links;
    EXPECT_EQ(error, c.reason);
  }

  // A refused batch takes back the links it made, from the graph and from
  // the blocks: a probe whose one input is free again accepts a link.
  JGraph graph;
  auto* source = new JSourceObj(2);
  auto* probe = new JProbeObj(1);
  auto* relay = new RelayObj();
  graph.add(source);
  graph.add(probe);
  graph.add(relay);
  ASSERT_NE(graph.link(source, 1, relay, 0), nullptr);
  std::string error;
  size_t refused = 99;
  EXPECT_FALSE(graph.linkAll({{source, 0, probe, 0}, {relay, 0, probe, 0}}, &error, &refused));
  EXPECT_EQ(refused, 1u);
  EXPECT_EQ(error, "JProbeObj refuses a link on input 0");
  EXPECT_EQ(graph.linkCount(), 1);
  EXPECT_FALSE(graph.linkAll({{source, 0, relay, 0}, {relay, 0, relay, 0}}, &error, &refused));
  EXPECT_EQ(graph.linkCount(), 1);
  ASSERT_TRUE(graph.linkAll({{relay, 0, probe, 0}}, &error)) << error;
  source->setInteger(1, 40);
  source->broadcast(1);
  ASSERT_NE(probe->last(0), nullptr);
  EXPECT_EQ(probe->last(0)->integer, 41);
}

TEST_F(HostileDocumentTest, NulBytesAreRefusedWherever) {
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {std::string(R"({"blocks": []})") + '\0' + "trailing bytes",
       "document holds a NUL byte at offset 14"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj\u0000junk"}]})",
       "block 0: class name 'JSourceObj\\x00junk' holds a NUL byte"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {"label": "cut\u0000here"}}]})",
       "block 0: entry 'label' holds a text with a NUL byte"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {"label": {"bytes": "610062"}}}]})",
       "block 0: entry 'label' holds a text with a NUL byte"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {"out\u0000puts": 2}}]})",
       "block 0: entry name 'out\\x00puts' holds a NUL byte"},
      // Not a NUL, but a message stays on one line whatever a text holds.
      {R"({"blocks": [{"id": 1, "class": "JSource\r\nObj"}]})",
       "block 0: unknown module class 'JSource\\x0d\\x0aObj'"},
      // Not a NUL, but a message stays on one line whatever a key holds.
      {R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {"a\nb": null}}]})",
       "block 0: entry 'a\\x0ab' has a value that is not an integer, a real or a text"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(JDocument::fromText(c.text, &error), nullptr) << c.text;
    EXPECT_EQ(error, c.reason);
  }
}

TEST_F(HostileDocumentTest, UnreadableFilesSayWhy) {
  kw_test::TempDir dir;
  const std::string loop = dir.file("loop.json");
  std::filesystem::create_symlink(loop, loop);
  std::string error;
  EXPECT_EQ(JDocument::load(loop, &error), nullptr);
  EXPECT_EQ(error, "cannot read document '" + loop + "': Too many levels of symbolic links");
  const std::string dangling = dir.file("dangling.json");
  std::filesystem::create_symlink(dir.file("absent.json"), dangling);
  EXPECT_EQ(JDocument::load(dangling, &error), nullptr);
  EXPECT_EQ(error, "cannot read document '" + dangling + "': No such file or directory");
}

}  // namespace
