// Documents: entries written by blocks, read back through dictionaries and
// through the JSON document file; defaults for missing entries; malformed
// documents refused with a reason.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "host/JAddObj.h"
#include "host/JDictionary.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JProbeObj.h"
#include "host/JSourceObj.h"
#include "tests/support/temp_dir.h"

namespace {

// A block storing one entry of each kind after the base's own.
class StoredObj : public JAddObj {
 public:
  const char* className() const override { return "StoredObj"; }
  JObject* clone() const override { return new StoredObj(*this); }
  void writeContent(JOutputStream& stream) override {
    JAddObj::writeContent(stream);
    putInteger(stream, "count", count);
    putDouble(stream, "ratio", ratio);
    putObject(stream, "name", name);
  }
  void readContent(JDictionary& dictionary) override {
    JAddObj::readContent(dictionary);
    count = getInteger(dictionary, "count", -1);
    ratio = getDouble(dictionary, "ratio", -1.5);
    auto* text = static_cast<JString*>(getObject(dictionary, "name"));
    name = text != nullptr ? JString(static_cast<char*>(*text)) : JString("missing");
  }

  int count = 0;
  double ratio = 0.0;
  JString name;
};

class DocumentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StoredObj().Register(); }

  // Writes `block` alone into a document and reads it back.
  static StoredObj* roundTrip(StoredObj* block, std::unique_ptr<JGraph>* loaded) {
    JGraph graph;
    graph.add(block);
    std::string error;
    *loaded = JDocument::fromText(JDocument::toText(graph), &error);
    EXPECT_NE(*loaded, nullptr) << error;
    return *loaded ? dynamic_cast<StoredObj*>((*loaded)->block(0)) : nullptr;
  }
};

TEST_F(DocumentTest, StreamKeepsFirstOrderAndReplacesInPlace) {
  JOutputStream stream;
  JObject::putInteger(stream, "b", 1);
  JObject::putDouble(stream, "a", 2.0);
  JObject::putInteger(stream, "b", 3);
  JObject::putObject(stream, "c", JString("t"));
  JObject::putObject(stream, "d", JFRect());  // not a text: not stored
  ASSERT_EQ(stream.size(), 3);
  EXPECT_EQ(stream.entries()[0].key, "b");
  EXPECT_EQ(stream.entries()[0].integer, 3);
  EXPECT_EQ(stream.entries()[1].key, "a");
  EXPECT_EQ(stream.entries()[2].key, "c");
}

TEST_F(DocumentTest, DictionaryAnswersDefaultsForMissingOrMistypedEntries) {
  JOutputStream stream;
  JObject::putInteger(stream, "int", 7);
  JObject::putDouble(stream, "real", 0.25);
  JObject::putObject(stream, "text", JString("abc"));
  stream.putInteger("huge", 1LL << 40);
  JDictionary dictionary(stream);

  EXPECT_EQ(JObject::getInteger(dictionary, "int", -1), 7);
  EXPECT_EQ(JObject::getInteger(dictionary, "missing", -1), -1);
  EXPECT_EQ(JObject::getInteger(dictionary, "real", -1), -1);
  EXPECT_EQ(JObject::getInteger(dictionary, "text", -1), -1);
  EXPECT_EQ(JObject::getInteger(dictionary, "huge", -1), -1);
  EXPECT_EQ(JObject::getDouble(dictionary, "real", -1.0), 0.25);
  EXPECT_EQ(JObject::getDouble(dictionary, "int", -1.0), 7.0);
  EXPECT_EQ(JObject::getDouble(dictionary, "text", -1.0), -1.0);
  EXPECT_EQ(JObject::getDouble(dictionary, "missing", -1.0), -1.0);
  EXPECT_EQ(JObject::getObject(dictionary, "missing"), nullptr);
  EXPECT_EQ(JObject::getObject(dictionary, "int"), nullptr);
  auto* text = dynamic_cast<JString*>(JObject::getObject(dictionary, "text"));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(*text, "abc");
  // What a block does to the text it read stays out of the stream.
  static_cast<char*>(*text)[0] = 'X';
  EXPECT_STREQ(stream.entries()[2].text, "abc");
}

TEST_F(DocumentTest, BaseEntriesComeFirstAndComeBack) {
  auto* block = new StoredObj();
  block->setBounds(12.5, -3, 100, 50);
  block->setLabel("north gate");
  std::unique_ptr<JGraph> loaded;
  StoredObj* back = roundTrip(block, &loaded);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->getX(), 12.5);
  EXPECT_EQ(back->getY(), -3.0);
  EXPECT_EQ(back->getWidth(), 100.0);
  EXPECT_EQ(back->getHeight(), 50.0);
  EXPECT_STREQ(back->getLabel(), "north gate");

  JOutputStream stream;
  back->writeContent(stream);
  std::vector<std::string> keys;
  for (const JEntry& e : stream.entries()) keys.push_back(e.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"x", "y", "width", "height", "label", "count", "ratio",
                                            "name"}));
}

TEST_F(DocumentTest, NumbersAndTextsRoundTripExactly) {
  const double reals[] = {0.1,      2.0,      -0.0,      1e-300,           5e-324,
                          -2.5e307, HUGE_VAL, -HUGE_VAL, 4.000000000000001};
  const int integers[] = {INT_MIN, INT_MAX, 0, 250};
  const char* texts[] = {"",
                         "plain",
                         "quote\" back\\slash <&>",
                         "\xc3\xa9t\xc3\xa9",
                         "\xff\xfe latin",
                         "line\nbreak\ttab"};
  for (size_t i = 0; i < std::size(reals); ++i) {
    auto* block = new StoredObj();
    block->ratio = reals[i];
    block->count = integers[i % std::size(integers)];
    block->name = texts[i % std::size(texts)];
    std::unique_ptr<JGraph> loaded;
    StoredObj* back = roundTrip(block, &loaded);
    ASSERT_NE(back, nullptr) << "case " << i;
    EXPECT_EQ(back->ratio, reals[i]) << "case " << i;
    EXPECT_EQ(std::signbit(back->ratio), std::signbit(reals[i])) << "case " << i;
    EXPECT_EQ(back->count, integers[i % std::size(integers)]) << "case " << i;
    EXPECT_STREQ(back->name, texts[i % std::size(texts)]) << "case " << i;
  }
  auto* block = new StoredObj();
  block->ratio = std::nan("");
  std::unique_ptr<JGraph> loaded;
  StoredObj* back = roundTrip(block, &loaded);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(std::isnan(back->ratio));
}

TEST_F(DocumentTest, MissingEntriesReadAsTheGivenDefaults) {
  std::string error;
  auto graph = JDocument::fromText(
      R"({"blocks": [{"id": 5, "class": "StoredObj", "entries": {"width": 33.0}}]})", &error);
  ASSERT_NE(graph, nullptr) << error;
  auto* block = dynamic_cast<StoredObj*>(graph->block(0));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->count, -1);
  EXPECT_EQ(block->ratio, -1.5);
  EXPECT_STREQ(block->name, "missing");
  EXPECT_EQ(block->getWidth(), 33.0);
  EXPECT_EQ(block->getHeight(), 60.0);  // kept from construction
}

TEST_F(DocumentTest, UnusableGeometryIsIgnored) {
  std::string error;
  auto graph = JDocument::fromText(
      R"({"blocks": [{"id": 1, "class": "StoredObj",
          "entries": {"x": {"real": "nan"}, "y": 1e300, "width": -5.0, "height": 7}}]})",
      &error);
  ASSERT_NE(graph, nullptr) << error;
  JModuleObj* block = graph->block(0);
  EXPECT_EQ(block->getX(), 0.0);
  EXPECT_EQ(block->getY(), 0.0);
  EXPECT_EQ(block->getWidth(), 80.0);
  EXPECT_EQ(block->getHeight(), 7.0);
}

TEST_F(DocumentTest, GraphWithLinksRoundTrips) {
  JGraph graph;
  auto* source = new JSourceObj(2);
  auto* probe = new JProbeObj(2);
  graph.add(source);
  graph.add(new StoredObj());
  graph.add(probe);
  graph.link(source, 1, probe, 0);
  graph.link(source, 0, probe, 1);
  std::string error;
  auto loaded = JDocument::fromText(JDocument::toText(graph), &error);
  ASSERT_NE(loaded, nullptr) << error;
  ASSERT_EQ(loaded->blockCount(), 3);
  EXPECT_STREQ(loaded->block(0)->className(), "JSourceObj");
  EXPECT_STREQ(loaded->block(1)->className(), "StoredObj");
  EXPECT_EQ(loaded->block(0)->ogm, 2);
  EXPECT_EQ(loaded->block(2)->igm, 2);
  ASSERT_EQ(loaded->linkCount(), 2);
  const JLinkObj* first = loaded->linkAt(0);
  EXPECT_EQ(first->source(), loaded->block(0));
  EXPECT_EQ(first->output(), 1);
  EXPECT_EQ(first->target(), loaded->block(2));
  EXPECT_EQ(first->input(), 0);
  EXPECT_FALSE(loaded->isStarted(loaded->block(0)));
}

TEST_F(DocumentTest, EntryHooksSeeEachEntryInItsPlaceAndMayChangeIt) {
  JGraph graph;
  graph.add(new JSourceObj(1));
  auto* stored = new StoredObj();
  stored->count = 5;
  stored->name = JString("as the block has it");
  graph.add(stored);

  std::vector<std::string> seen;
  const std::string text =
      JDocument::toText(graph, [&seen](const JDocument::EntryPlace& place, JEntry& entry) {
        if (entry.key != "name") return;
        seen.push_back(std::to_string(place.block) + "/" + std::to_string(place.id) + "/" +
                       place.className);
        entry.text = JString("as written");
      });
  EXPECT_EQ(seen, std::vector<std::string>{"1/2/StoredObj"});
  EXPECT_NE(text.find("\"name\": \"as written\""), std::string::npos) << text;

  seen.clear();
  std::string error;
  auto loaded =
      JDocument::fromText(text, &error, [&seen](const JDocument::EntryPlace& place, JEntry& entry) {
        if (entry.key != "count") return;
        seen.push_back(std::to_string(place.block) + "/" + std::to_string(place.id) + "/" +
                       place.className);
        entry.integer = 42;
      });
  ASSERT_NE(loaded, nullptr) << error;
  EXPECT_EQ(seen, std::vector<std::string>{"1/2/StoredObj"});
  auto* back = dynamic_cast<StoredObj*>(loaded->block(1));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->count, 42);  // the block was restored with the changed entry
  EXPECT_STREQ(static_cast<char*>(back->name), "as written");
  EXPECT_EQ(stored->count, 5);  // writing changed the text, not the block
}

TEST_F(DocumentTest, MalformedDocumentsAreRefusedWithAReason) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {"", "not valid JSON"},
      {"{\"blocks\": [", "not valid JSON"},
      {"[1, 2]", "not a JSON object"},
      {"{}", "no \"blocks\" list"},
      {R"({"blocks": {}})", "no \"blocks\" list"},
      {R"({"version": 2, "blocks": []})", "version is not 1"},
      {R"({"blocks": [], "links": 3})", "\"links\" is not a list"},
      {R"({"blocks": [7]})", "block 0: needs an object with an integer \"id\""},
      {R"({"blocks": [{"id": "1", "class": "StoredObj"}]})", "integer \"id\""},
      {R"({"blocks": [{"id": 1}]})", "block 0: needs a text \"class\""},
      {R"({"blocks": [{"id": 1, "class": "StoredObj"}, {"id": 1, "class": "StoredObj"}]})",
       "block 1: id 1 is used twice"},
      {R"({"blocks": [{"id": 1, "class": "JMissingObj"}]})", "unknown module class 'JMissingObj'"},
      {R"({"blocks": [{"id": 1, "class": "StoredObj", "entries": []}]})", "must be an object"},
      {R"({"blocks": [{"id": 1, "class": "StoredObj", "entries": {"count": true}}]})",
       "entry 'count'"},
      {R"({"blocks": [{"id": 1, "class": "StoredObj", "entries": {"count": null}}]})",
       "entry 'count'"},
      {R"({"blocks": [{"id": 1, "class": "StoredObj", "entries": {"name": {"bytes": "f"}}}]})",
       "entry 'name'"},
      {R"({"blocks": [{"id": 1, "class": "StoredObj", "entries": {"n": 18446744073709551615}}]})",
       "entry 'n'"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj"}], "links": [{"from": 1}]})",
       "link 0: needs integer"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj"}, {"id": 2, "class": "JProbeObj"}],
          "links": [{"from": 1, "output": 0, "to": 3, "input": 0}]})",
       "refers to a block id that does not exist"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj"}, {"id": 2, "class": "JProbeObj"}],
          "links": [{"from": 1, "output": 4, "to": 2, "input": 0}]})",
       "link 0: output 4 does not exist"},
      {R"({"blocks": [{"id": 1, "class": "JSourceObj"}, {"id": 2, "class": "JProbeObj"}],
          "links": [{"from": 1, "output": 0, "to": 2, "input": 4294967296}]})",
       "link 0: needs integer"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(JDocument::fromText(c.text, &error), nullptr) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << "\n  gave: " << error;
  }
  // Deep nesting must not exhaust the stack, read or freed.
  std::string error;
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_EQ(JDocument::fromText(deep, &error), nullptr);
  EXPECT_EQ(error, "document nests arrays and objects deeper than 32 levels (at offset 32)");
}

TEST_F(DocumentTest, FilesSaveLoadAndFailClearly) {
  kw_test::TempDir dir;
  JGraph graph;
  auto* block = new StoredObj();
  block->count = 12;
  graph.add(block);
  std::string error;
  const std::string path = dir.file("graph.json");
  ASSERT_TRUE(JDocument::save(graph, path, &error)) << error;
  auto loaded = JDocument::load(path, &error);
  ASSERT_NE(loaded, nullptr) << error;
  EXPECT_EQ(dynamic_cast<StoredObj*>(loaded->block(0))->count, 12);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  EXPECT_FALSE(JDocument::save(graph, dir.file("no/such/dir/graph.json"), &error));
  EXPECT_NE(error.find("cannot write document"), std::string::npos) << error;
  EXPECT_EQ(JDocument::load(dir.file("absent.json"), &error), nullptr);
  EXPECT_EQ(error,
            "cannot read document '" + dir.file("absent.json") + "': No such file or directory");
  EXPECT_EQ(JDocument::load(dir.path().string(), &error), nullptr);  // a directory

  const std::string broken = dir.write("broken.json", "{\"blocks\": [{\"id\": 1");
  EXPECT_EQ(JDocument::load(broken, &error), nullptr);
  EXPECT_NE(error.find("broken.json': document is not valid JSON"), std::string::npos) << error;

  const std::string huge = dir.write("huge.json", "");
  std::filesystem::resize_file(huge, 17u * 1024u * 1024u);  // sparse
  EXPECT_EQ(JDocument::load(huge, &error), nullptr);
  EXPECT_NE(error.find("larger than 4 MiB"), std::string::npos) << error;
}

}  // namespace
