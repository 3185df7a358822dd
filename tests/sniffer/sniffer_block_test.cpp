#include <cstdio>
#include <string>

#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "host/JClassRegistry.h"
#include "host/JComponent.h"
#include "host/JDictionary.h"
#include "host/JDocument.h"
#include "host/JFileProperty.h"
#include "host/JGraphics.h"
#include "host/JIntegerData.h"
#include "host/JIntegerProperty.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JRealData.h"
#include "host/JRealProperty.h"
#include "host/JRegion.h"
#include "host/JStringData.h"
#include "host/JStringProperty.h"
#include "tests/sniffer/sniffer_fixture.h"

namespace {

using kw_test::SnifferTest;

std::string ptr(const void* block) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", block);
  return text;
}

bool same(const JFRect& a, const JFRect& b) {
  return a.getX() == b.getX() && a.getY() == b.getY() && a.getWidth() == b.getWidth() &&
         a.getHeight() == b.getHeight();
}

JString text(const std::string& s) { return JString(s.c_str()); }

class SnifferBlock : public SnifferTest {
 protected:
  // A started block whose node file lists `nodes` nodes (1..nodes).
  JQNV_packet_sniffer* startedWith(int nodes, const std::string& ports = "") {
    JQNV_packet_sniffer* sniffer = makeSniffer();
    graph_.startup();
    if (nodes > 0) {
      std::string listing;
      for (int i = 1; i <= nodes; ++i)
        listing += std::to_string(i) + " n" + std::to_string(i) + "\n";
      JFileProperty edit("node file name",
                         text(writeFile("nodes" + std::to_string(nodes) + ".nod", listing)),
                         "*.nod");
      EXPECT_TRUE(sniffer->updateProperty(edit));
    }
    if (!ports.empty()) {
      JFileProperty edit("port file name", text(writeFile("ports.mcp", ports)), "*.mcp");
      EXPECT_TRUE(sniffer->updateProperty(edit));
    }
    return sniffer;
  }
};

TEST_F(SnifferBlock, NewBlockPorts) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  EXPECT_STREQ(sniffer->className(), "JQNV_packet_sniffer");
  EXPECT_EQ(sniffer->igm, 2);
  EXPECT_EQ(sniffer->ogm, 0);
  EXPECT_TRUE(sniffer->outputTag(0) == "ERROR");
  EXPECT_TRUE(sniffer->inputTag(0) == "clock");
  EXPECT_TRUE(sniffer->inputTag(1) == "on off");
  EXPECT_TRUE(sniffer->inputTag(2) == "ERROR");
  EXPECT_EQ(sniffer->inputType(7), JIntegerData::id);
  EXPECT_EQ(sniffer->inputFace(0), 1);
  EXPECT_EQ(sniffer->outputFace(3), 2);
  EXPECT_EQ(sniffer->outputType(-3), JIntegerData::id);
  EXPECT_EQ(sniffer->outputType(4093), JStringData::id);
  EXPECT_EQ(sniffer->outputType(-7), JIntegerData::id);  // remainder -7, not 1
  const JColor brighter = JColor::green.brighter();
  EXPECT_EQ(sniffer->moduleColor.getGreen(), brighter.getGreen());
}

TEST_F(SnifferBlock, PortsForThreeAndTwoHundredNodes) {
  JQNV_packet_sniffer* three = startedWith(3);
  EXPECT_EQ(three->ogm, 24);
  EXPECT_TRUE(three->outputTag(10) == "longitude of node 1\n");
  EXPECT_EQ(three->outputType(10), JRealData::id);
  EXPECT_TRUE(three->outputTag(21) == "utc string of node 2\n");
  EXPECT_EQ(three->outputType(21), JStringData::id);
  EXPECT_TRUE(three->outputTag(0) == "node id of node 0\n");
  EXPECT_TRUE(three->outputTag(23) == "idle time of node 2\n");
  EXPECT_TRUE(three->outputTag(24) == "ERROR");
  EXPECT_TRUE(three->outputTag(-1) == "ERROR");
  // Out-of-range outputs sit where output 1 of 17 would.
  EXPECT_TRUE(same(three->outputArea(24), three->rightArea(1, 0, 17, 0.01, 0.99, 6)));
  EXPECT_TRUE(same(three->outputArea(5), three->rightArea(5, 0, 25, 0.01, 0.99, 6)));
  EXPECT_TRUE(same(three->inputArea(1), three->topArea(1, 0, 2, 0.25, 0.5, 6)));

  JQNV_packet_sniffer* many = startedWith(200);
  EXPECT_EQ(many->nodeGroups(), 128u);
  EXPECT_EQ(many->ogm, 1024);
  EXPECT_EQ(many->handlers()->nodeCount_, 200u);
}

TEST_F(SnifferBlock, InputsTakeOneLinkEach) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  driveInputs(sniffer);
  auto* other = static_cast<JSourceObj*>(graph_.add(new JSourceObj(1)));
  EXPECT_EQ(graph_.link(other, 0, sniffer, 0), nullptr);
  EXPECT_FALSE(sniffer->inputAllowed(1));
  EXPECT_TRUE(sniffer->outputAllowed(5));
}

TEST_F(SnifferBlock, ClockTicksOnRisingEdgesOnly) {
  JQNV_packet_sniffer* sniffer = startedWith(1);
  JSourceObj* source = driveInputs(sniffer);
  JProbeObj* probe = probeAll(sniffer);
  std::vector<int> ticksAfter;
  for (int value : {0, 1, 1, 0, 5, 3, 0, 1}) {
    send(source, 0, value);
    ticksAfter.push_back(static_cast<int>(probe->values().size()) / 8);
  }
  EXPECT_EQ(ticksAfter, (std::vector<int>{0, 1, 1, 1, 2, 2, 2, 3}));
  EXPECT_EQ(count(logSinceMark(), "JQNV_packet_sniffer::engine() processing tick"), 3);
}

TEST_F(SnifferBlock, OnOffActsOnEveryValue) {
  JQNV_packet_sniffer* sniffer = startedWith(1, "a 239.255.42.30 47040\n");
  JSourceObj* source = driveInputs(sniffer);
  markLog();
  send(source, 1, 1);
  EXPECT_TRUE(sniffer->handlers()->getPort(0)->isRunning());
  send(source, 1, 7);
  send(source, 1, 0);
  EXPECT_FALSE(sniffer->handlers()->getPort(0)->isRunning());
  const auto lines = logSinceMark();
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::engine() on-off is 1"), 1);
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::engine() on-off is 7"), 1);
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::engine() on-off is 0"), 1);
  EXPECT_EQ(count(lines, "In kw_qnv_portHandler::run()"), 2);
}

TEST_F(SnifferBlock, AccessOnUnstartedBlockLeavesData) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  int value = 42;
  JIntegerData data(value);
  JLinkObj link;
  markLog();
  sniffer->access(0, link, data);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(logSinceMark(), std::vector<std::string>{"JQNV_packet_sniffer::access() n=" +
                                                     std::to_string(0) + " " + ptr(sniffer)});
}

TEST_F(SnifferBlock, AccessKindsAndRanges) {
  JQNV_packet_sniffer* sniffer = startedWith(2);
  JLinkObj link;
  int integer = -5;
  JIntegerData integerData(integer);
  sniffer->access(16, link, integerData);
  EXPECT_EQ(integer, -5);
  sniffer->access(-1, link, integerData);
  EXPECT_EQ(integer, -5);
  sniffer->access(8, link, integerData);
  EXPECT_EQ(integer, 2);  // node id of index 1
  sniffer->access(14, link, integerData);
  EXPECT_EQ(integer, 2);  // health of a node that never heard a packet
  sniffer->access(12, link, integerData);
  EXPECT_EQ(integer, 0);  // its millitm
  double real = -1;
  JRealData realData(real);
  sniffer->access(15, link, realData);
  EXPECT_GT(real, 1e9);  // idle since 1970
  JString text("untouched");
  JStringData textData(text);
  markLog();
  sniffer->access(13, link, textData);
  EXPECT_TRUE(text == "");
  EXPECT_EQ(logSinceMark().back(), "JQNV_packet_sniffer::access getTimeString ");
}

TEST_F(SnifferBlock, StoredCountLargerThanList) {
  JQNV_packet_sniffer* sniffer = startedWith(3);
  JOutputStream stream;
  stream.putInteger("number of nodes", 5);
  JDictionary dictionary(stream);
  static_cast<JObject*>(sniffer)->readContent(dictionary);
  EXPECT_EQ(sniffer->ogm, 40);
  JLinkObj link;
  int integer = -5;
  JIntegerData integerData(integer);
  sniffer->access(8 * 4, link, integerData);  // node id of a group with no node
  EXPECT_EQ(integer, 0);
  integer = -5;
  sniffer->access(8 * 4 + 6, link, integerData);  // its health: untouched
  EXPECT_EQ(integer, -5);
  // The face counts the list's nodes, not the groups.
  JGraphics graphics(200, 200);
  sniffer->draw(graphics, 0, 0, 60, 60);
  EXPECT_EQ(graphics.texts(), (std::vector<std::string>{"QNV", "0 ports", "3 nodes"}));
}

TEST_F(SnifferBlock, TickBroadcastsEveryOutputInOrder) {
  JQNV_packet_sniffer* sniffer = startedWith(3);
  JSourceObj* source = driveInputs(sniffer);
  JProbeObj* probe = probeAll(sniffer);
  send(source, 0, 1);
  ASSERT_EQ(probe->values().size(), 24u);
  for (int n = 0; n < 24; ++n) EXPECT_EQ(probe->values()[n].input, n);
  EXPECT_EQ(probe->values()[16].integer, 3);  // node id of index 2
  EXPECT_EQ(probe->values()[22].integer, 2);  // health
}

TEST_F(SnifferBlock, ListLongerThanGroupsNeverAnnouncesPastOgm) {
  JQNV_packet_sniffer* sniffer = startedWith(3);
  JOutputStream stream;
  stream.putInteger("number of nodes", 1);
  JDictionary dictionary(stream);
  static_cast<JObject*>(sniffer)->readContent(dictionary);
  ASSERT_EQ(sniffer->ogm, 8);
  JSourceObj* source = driveInputs(sniffer);
  JProbeObj* probe = probeAll(sniffer);
  send(source, 0, 1);
  EXPECT_EQ(probe->values().size(), 8u);
}

TEST_F(SnifferBlock, StoredNodeCountIsClamped) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  for (auto [stored, groups] : {std::pair{-3, 0u}, {2000000000, 128u}, {0, 0u}, {7, 7u}}) {
    JOutputStream stream;
    stream.putInteger("number of nodes", stored);
    JDictionary dictionary(stream);
    static_cast<JObject*>(sniffer)->readContent(dictionary);
    EXPECT_EQ(sniffer->nodeGroups(), groups) << stored;
    EXPECT_EQ(sniffer->ogm, static_cast<int>(8 * groups)) << stored;
  }
}

TEST_F(SnifferBlock, PropertiesOfNewBlock) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  JArray list = sniffer->getProperties();
  const int base = list.size() - 7;
  ASSERT_GE(base, 0);
  auto name = [&](int i) {
    return std::string(static_cast<JProperty*>(list.at(base + i))->getName());
  };
  EXPECT_EQ(name(0), "node file name");
  EXPECT_EQ(name(1), "port file name");
  EXPECT_EQ(name(2), "MAX packet size");
  EXPECT_EQ(name(3), "packet buffer size");
  EXPECT_EQ(name(4), "medium threshold");
  EXPECT_EQ(name(5), "bad threshold");
  EXPECT_EQ(name(6), "version");
  auto* nodeFile = static_cast<JFileProperty*>(list.at(base));
  EXPECT_TRUE(nodeFile->getValue() == "");
  EXPECT_TRUE(nodeFile->getFilter() == "*.nod");
  EXPECT_TRUE(static_cast<JFileProperty*>(list.at(base + 1))->getFilter() == "*.mcp");
  auto* size = static_cast<JIntegerProperty*>(list.at(base + 2));
  EXPECT_EQ(size->getValue(), 250);
  EXPECT_EQ(size->getMinimum(), 20);
  EXPECT_EQ(size->getMaximum(), 300);
  auto* buffer = static_cast<JIntegerProperty*>(list.at(base + 3));
  EXPECT_EQ(buffer->getValue(), 20);
  EXPECT_EQ(buffer->getMinimum(), 10);
  EXPECT_EQ(buffer->getMaximum(), 4000);  // a second of 1000 units
  auto* medium = static_cast<JRealProperty*>(list.at(base + 4));
  EXPECT_EQ(medium->getValue(), 2.0);
  EXPECT_EQ(medium->getWidth(), 5);
  EXPECT_EQ(medium->getPrecision(), 3);
  EXPECT_EQ(static_cast<JRealProperty*>(list.at(base + 5))->getValue(), 4.0);
  const std::string version(static_cast<JStringProperty*>(list.at(base + 6))->getValue());
  EXPECT_EQ(version.rfind("0.7 - ", 0), 0u) << version;
  EXPECT_EQ(version.back(), '\n');
  EXPECT_EQ(version.size(), 6u + 24u + 1u) << version;  // "Www Mmm dd hh:mm:ss yyyy"
}

TEST_F(SnifferBlock, PropertyEdits) {
  JQNV_packet_sniffer* fresh = makeSniffer();
  // Before startup a file edit is taken but nothing is stored.
  JFileProperty early("node file name", text(writeFile("early.nod", "1\n")), "*.nod");
  EXPECT_TRUE(fresh->updateProperty(early));
  EXPECT_STREQ(fresh->nodeFile(), "");
  EXPECT_EQ(fresh->repaintRequests(), 1);

  JQNV_packet_sniffer* sniffer = startedWith(2, "a 239.255.42.31 47041\n");
  JRealProperty bad("bad threshold", 6.5, 5, 3);
  EXPECT_TRUE(sniffer->updateProperty(bad));
  EXPECT_EQ(sniffer->handlers()->mediumMs_, 2000);
  EXPECT_EQ(sniffer->handlers()->badMs_, 6500);
  JIntegerProperty size("MAX packet size", 300, 20, 300);
  EXPECT_TRUE(sniffer->updateProperty(size));
  EXPECT_EQ(sniffer->handlers()->slotSize_, 250);
  JStringProperty version("version", "9.9");
  EXPECT_FALSE(sniffer->updateProperty(version));
  JStringProperty unknown("no such property", "x");
  EXPECT_FALSE(sniffer->updateProperty(unknown));

  // Rereading the node list stops the running receivers.
  sniffer->handlers()->runAll();
  ASSERT_TRUE(sniffer->handlers()->getPort(0)->isRunning());
  JFileProperty nodes("node file name", text(writeFile("five.nod", "1\n2\n3\n4\n5\n")), "*.nod");
  EXPECT_TRUE(sniffer->updateProperty(nodes));
  EXPECT_FALSE(sniffer->handlers()->getPort(0)->isRunning());
  EXPECT_EQ(sniffer->ogm, 40);

  // An unreadable file keeps the old name, but the old list is gone.
  JFileProperty missing("node file name", text(kw_test::workDir().file("missing.nod")), "*.nod");
  EXPECT_TRUE(sniffer->updateProperty(missing));
  EXPECT_EQ(std::string(sniffer->nodeFile()), kw_test::workDir().file("five.nod"));
  EXPECT_EQ(sniffer->handlers()->nodeCount_, 0u);

  // A name too long for the field is refused and the list kept.
  JFileProperty ports("port file name", text(std::string(300, 'p')), "*.mcp");
  EXPECT_TRUE(sniffer->updateProperty(ports));
  EXPECT_EQ(sniffer->handlers()->portCount_, 1u);
}

TEST_F(SnifferBlock, DocumentRoundTrip) {
  JQNV_packet_sniffer* sniffer = startedWith(3, "a 239.255.42.32 47042\nb 239.255.42.33 47043\n");
  JRealProperty medium("medium threshold", 1.25, 5, 3);
  sniffer->updateProperty(medium);
  JIntegerProperty buffer("packet buffer size", 55, 10, 100);
  sniffer->updateProperty(buffer);

  JOutputStream stream;
  static_cast<JObject*>(sniffer)->writeContent(stream);
  const std::vector<std::string> tail = {
      "node file name",  "port file name",     "number of nodes",  "version",
      "MAX packet size", "packet buffer size", "medium threshold", "bad threshold"};
  ASSERT_GE(stream.size(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(stream.entries()[stream.size() - 8 + i].key, tail[i]);
  }

  JGraph other;
  auto* restored = static_cast<JQNV_packet_sniffer*>(other.create("JQNV_packet_sniffer"));
  JDictionary dictionary(stream);
  static_cast<JObject*>(restored)->readContent(dictionary);
  EXPECT_STREQ(restored->nodeFile(), sniffer->nodeFile());
  EXPECT_STREQ(restored->portFile(), sniffer->portFile());
  EXPECT_EQ(restored->ogm, 24);
  other.startup();
  ASSERT_NE(restored->handlers(), nullptr);
  EXPECT_EQ(restored->handlers()->portCount_, 2u);
  EXPECT_EQ(restored->handlers()->nodeCount_, 3u);
  // Startup builds the feed with the stored thresholds and buffer size.
  EXPECT_EQ(restored->handlers()->mediumMs_, 1250);
  EXPECT_EQ(restored->handlers()->badMs_, 4000);
  EXPECT_EQ(restored->handlers()->getNode(0)->mediumMs_, 1250);
  EXPECT_EQ(restored->handlers()->slotSize_, 250);
  EXPECT_EQ(restored->handlers()->slotCount_, 55);
  EXPECT_EQ(restored->handlers()->getPort(1)->receiver()->slotCount(), 55);
  JArray list = restored->getProperties();
  EXPECT_EQ(static_cast<JRealProperty*>(list.at(list.size() - 3))->getValue(), 1.25);
  EXPECT_EQ(static_cast<JIntegerProperty*>(list.at(list.size() - 4))->getValue(), 55);

  // Read while a list exists: the thresholds reach it at once.
  static_cast<JObject*>(restored)->readContent(dictionary);
  EXPECT_EQ(restored->handlers()->mediumMs_, 1250);
}

TEST_F(SnifferBlock, DocumentWithNoEntries) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  JDictionary empty;
  static_cast<JObject*>(sniffer)->readContent(empty);
  EXPECT_EQ(sniffer->ogm, 0);
  JArray list = sniffer->getProperties();
  const int base = list.size() - 7;
  // Missing entries keep the defaults, and are saved back as such.
  EXPECT_EQ(static_cast<JIntegerProperty*>(list.at(base + 2))->getValue(), 250);
  EXPECT_EQ(static_cast<JIntegerProperty*>(list.at(base + 3))->getValue(), 20);
  EXPECT_EQ(static_cast<JRealProperty*>(list.at(base + 4))->getValue(), 2.0);
  EXPECT_EQ(static_cast<JRealProperty*>(list.at(base + 5))->getValue(), 4.0);
  EXPECT_STREQ(sniffer->nodeFile(), "");
  JOutputStream stream;
  static_cast<JObject*>(sniffer)->writeContent(stream);
  JDictionary saved(stream);
  EXPECT_EQ(JObject::getInteger(saved, "MAX packet size", -1), 250);
  EXPECT_EQ(JObject::getInteger(saved, "packet buffer size", -1), 20);
  EXPECT_EQ(JObject::getDouble(saved, "medium threshold", -1), 2.0);
  EXPECT_EQ(JObject::getDouble(saved, "bad threshold", -1), 4.0);
}

// Values the dialog could not have given (saved by older versions as 0, or
// edited by hand) start the feed with the defaults.
TEST_F(SnifferBlock, StoredValuesOutsideTheirLimitsGiveTheDefaults) {
  JOutputStream stream;
  JObject::putInteger(stream, "MAX packet size", 0);
  JObject::putInteger(stream, "packet buffer size", JQNV_packet_sniffer::kMaxSlotCount + 1);
  JObject::putDouble(stream, "medium threshold", 0.0);
  JObject::putDouble(stream, "bad threshold", -3.0);
  JQNV_packet_sniffer* sniffer = makeSniffer();
  JDictionary dictionary(stream);
  static_cast<JObject*>(sniffer)->readContent(dictionary);
  graph_.startup();
  ASSERT_NE(sniffer->handlers(), nullptr);
  EXPECT_EQ(sniffer->handlers()->slotSize_, 250);
  EXPECT_EQ(sniffer->handlers()->slotCount_, 20);
  EXPECT_EQ(sniffer->handlers()->mediumMs_, 2000);
  EXPECT_EQ(sniffer->handlers()->badMs_, 4000);
}

TEST_F(SnifferBlock, CloseAndCloneAndCopyLines) {
  JQNV_packet_sniffer* sniffer = startedWith(3);
  markLog();
  JObject* copy = sniffer->clone();
  auto* clone = static_cast<JQNV_packet_sniffer*>(copy);
  EXPECT_EQ(clone->handlers(), nullptr);
  EXPECT_EQ(clone->ogm, 24);
  EXPECT_STREQ(clone->nodeFile(), sniffer->nodeFile());
  const auto lines = logSinceMark();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "JQNV_packet_sniffer::clone() " + ptr(sniffer));
  EXPECT_EQ(lines[1], "JQNV_packet_sniffer::JQNV_packet_sniffer(&) " + ptr(clone));
  delete copy;

  sniffer->close();
  EXPECT_EQ(sniffer->handlers(), nullptr);
  JSourceObj* source = driveInputs(sniffer);
  markLog();
  send(source, 0, 0);
  send(source, 0, 1);
  EXPECT_EQ(count(logSinceMark(), "JQNV_packet_sniffer::engine() processing tick"), 0);
}

TEST_F(SnifferBlock, FaceTextsAndRectangles) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  JGraphics graphics(300, 300);
  sniffer->draw(graphics, 10, 100, 80, 60);
  EXPECT_EQ(graphics.texts(), (std::vector<std::string>{"QNV", "0 ports", "0 nodes"}));
  std::vector<JRect> rects;
  for (const auto& op : graphics.ops()) {
    if (op.kind == JGraphics::Kind::Text) rects.push_back(op.rect);
  }
  ASSERT_EQ(rects.size(), 3u);
  EXPECT_TRUE(rects[0] == JRect(10, 105, 80, 20));
  EXPECT_TRUE(rects[1] == JRect(10, 120, 80, 20));
  EXPECT_TRUE(rects[2] == JRect(10, 135, 80, 20));

  JGraphics small(300, 300);
  sniffer->draw(small, 0, 0, 50, 10);
  rects.clear();
  for (const auto& op : small.ops()) {
    if (op.kind == JGraphics::Kind::Text) rects.push_back(op.rect);
  }
  ASSERT_EQ(rects.size(), 3u);
  EXPECT_TRUE(rects[0] == JRect(0, 0, 50, 3));
  EXPECT_TRUE(rects[1] == JRect(0, 3, 50, 3));
  EXPECT_TRUE(rects[2] == JRect(0, 6, 50, 3));

  // A height above 2^30 (restored geometry): the third line still lies two
  // thirds down, not at a wrapped position.
  const int tall = (1 << 30) + 6;
  JGraphics huge(300, 300);
  sniffer->draw(huge, 0, 0, 50, tall);
  rects.clear();
  for (const auto& op : huge.ops()) {
    if (op.kind == JGraphics::Kind::Text) rects.push_back(op.rect);
  }
  ASSERT_EQ(rects.size(), 3u);
  EXPECT_EQ(rects[2].y, static_cast<int>((2 * int64_t{tall}) / 3 - tall / 12));
  EXPECT_GT(rects[2].y, rects[1].y);

  JQNV_packet_sniffer* started = startedWith(5, "a 239.255.42.34 47044\nb 239.255.42.35 47045\n");
  JGraphics face(300, 300);
  JRegion everywhere;
  started->paint(face, 0, 0, everywhere, 1.0);
  EXPECT_EQ(face.texts(), (std::vector<std::string>{"QNV", "2 ports", "5 nodes"}));
  // The status square: a 3D rectangle in the block's colour, set in by depth2.
  const JRect extent = started->getIExtent(0, 0, 1.0);
  const int d = started->depth2();
  bool square = false;
  for (const auto& op : face.ops()) {
    if (op.kind == JGraphics::Kind::Fill3DRect &&
        op.rect == JRect(extent.x + d, extent.y + d, d, d)) {
      square = op.color.getGreen() == started->moduleColor.getGreen() && op.bevel == 3;
    }
  }
  EXPECT_TRUE(square);
  std::string error;
  EXPECT_TRUE(face.writeSvg(kw_test::workDir().file("sniffer_face.svg"), &error)) << error;
}

TEST_F(SnifferBlock, TypicalSessionTraceLines) {
  markLog();
  JQNV_packet_sniffer* sniffer = startedWith(1);
  const auto lines = logSinceMark();
  // Blocks made by the host are copies of the registered prototype.
  EXPECT_GE(count(lines, "JQNV_packet_sniffer::JQNV_packet_sniffer(&) " + ptr(sniffer)), 1);
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::startup() " + ptr(sniffer)), 1);
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::updateProperty() " + ptr(sniffer)), 1);
  EXPECT_EQ(count(lines, "JQNV_packet_sniffer::updateNNodes() " + ptr(sniffer)), 1);
  EXPECT_EQ(count(lines, "kw_qnv_nodeHandler::kw_qnv_nodeHandler() " +
                             ptr(sniffer->handlers()->getNode(0))),
            1);

  JGraphics graphics(100, 100);
  JLinkObj link;
  markLog();
  sniffer->inputPoint(1, link);
  sniffer->outputArea(3);
  sniffer->inputType(0);
  EXPECT_EQ(logSinceMark(),
            (std::vector<std::string>{
                "JQNV_packet_sniffer::innputPoinnt() n=" + std::to_string(1) + " " + ptr(sniffer),
                "JQNV_packet_sniffer::outputArea() n=" + std::to_string(3) + " " + ptr(sniffer),
                "JQNV_packet_sniffer::inputType() " + ptr(sniffer)}));
  JSourceObj* source = driveInputs(sniffer);
  markLog();
  send(source, 0, 1);
  const auto tick = logSinceMark();
  char engine[256];
  std::snprintf(engine, sizeof engine, "JQNV_packet_sniffer::engine() n=%d %p  ----- ogm is %d", 0,
                static_cast<void*>(sniffer), 8);
  ASSERT_GE(tick.size(), 2u);
  EXPECT_EQ(tick[0], engine);
  EXPECT_EQ(tick[1], "JQNV_packet_sniffer::engine() processing tick");
}

TEST_F(SnifferBlock, AddButtonBuildsACountedTemporary) {
  JQNV_packet_sniffer* sniffer = makeSniffer();
  auto version = [&] {
    JArray list = sniffer->getProperties();
    return std::string(static_cast<JStringProperty*>(list.at(list.size() - 1))->getValue());
  };
  const std::string before = version();
  JComponent palette;
  markLog();
  sniffer->addButton(&palette);
  sniffer->addButton(&palette);
  EXPECT_EQ(palette.buttons().size(), 2u);
  // Each temporary is a default construction with the next instance number.
  std::vector<int> numbers;
  for (const std::string& l : logSinceMark()) {
    const std::string head = "JQNV_packet_sniffer::JQNV_packet_sniffer() 0x";
    if (l.rfind(head, 0) == 0) numbers.push_back(std::stoi(l.substr(l.find('#') + 1)));
  }
  ASSERT_EQ(numbers.size(), 2u);
  EXPECT_EQ(numbers[1], numbers[0] + 1);
  EXPECT_GE(numbers[0], 1);  // #0 was the block built at load
  EXPECT_EQ(before, version());
  EXPECT_TRUE(JClassRegistry::contains("JQNV_packet_sniffer"));
}

}  // namespace
