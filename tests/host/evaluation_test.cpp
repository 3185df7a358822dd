// The evaluation core: links, broadcast, access with type conversion, link
// refusal, block lifecycle in the graph, and the base block's defaults.
#include <gtest/gtest.h>

#include <cmath>

#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JProbeObj.h"
#include "host/JRealData.h"
#include "host/JSourceObj.h"
#include "host/JStringData.h"
#include "host/JStringProperty.h"
#include "tests/host/test_blocks.h"

namespace {

using host_test::ClosedOutputObj;
using host_test::Counts;
using host_test::RecorderObj;
using host_test::WrongTypeObj;

TEST(BroadcastTest, CallsEngineOnEveryLinkOfThatOutputInLinkOrder) {
  std::vector<std::string> log;
  JGraph graph;
  auto* source = graph.add(new RecorderObj("src", 0, 2, nullptr, nullptr, 40));
  auto* a = graph.add(new RecorderObj("a", 2, 0, &log));
  auto* b = graph.add(new RecorderObj("b", 1, 0, &log));
  ASSERT_NE(graph.link(source, 0, b, 0), nullptr);
  ASSERT_NE(graph.link(source, 0, a, 1), nullptr);
  ASSERT_NE(graph.link(source, 1, a, 0), nullptr);
  ASSERT_NE(graph.link(source, 0, a, 0), nullptr);

  source->broadcast(0);
  EXPECT_EQ(log, (std::vector<std::string>{"b:0=40", "a:1=40", "a:0=40"}));
  log.clear();
  source->broadcast(1);
  EXPECT_EQ(log, (std::vector<std::string>{"a:0=41"}));
  log.clear();
  source->broadcast(2);  // no such output: nobody hears it
  EXPECT_TRUE(log.empty());
}

// An output with more links than broadcast keeps on its stack, next to
// other outputs, as links are made and removed between broadcasts.
TEST(BroadcastTest, ManyLinksOfOneOutputFollowLinksMadeAndRemoved) {
  std::vector<std::string> log;
  JGraph graph;
  auto* source = graph.add(new RecorderObj("src", 0, 3, nullptr, nullptr, 5));
  std::vector<JModuleObj*> targets;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
    targets.push_back(graph.add(new RecorderObj(name, 1, 0, &log)));
    ASSERT_NE(graph.link(source, 2, targets.back(), 0), nullptr);
  }
  auto* other = graph.add(new RecorderObj("o", 1, 0, &log));
  ASSERT_NE(graph.link(source, 0, other, 0), nullptr);
  source->broadcast(2);
  EXPECT_EQ(log, (std::vector<std::string>{"a:0=7", "b:0=7", "c:0=7", "d:0=7", "e:0=7", "f:0=7"}));
  log.clear();
  ASSERT_TRUE(graph.remove(targets[1]));
  auto* late = graph.add(new RecorderObj("g", 1, 0, &log));
  ASSERT_NE(graph.link(source, 2, late, 0), nullptr);
  source->broadcast(2);
  EXPECT_EQ(log, (std::vector<std::string>{"a:0=7", "c:0=7", "d:0=7", "e:0=7", "f:0=7", "g:0=7"}));
  log.clear();
  source->broadcast(0);
  source->broadcast(1);  // a port without links
  EXPECT_EQ(log, (std::vector<std::string>{"o:0=5"}));
}

TEST(BroadcastTest, PropagatesThroughAChain) {
  std::vector<std::string> log;
  JGraph graph;
  auto* source = new JSourceObj();
  graph.add(source);
  auto* middle = graph.add(new RecorderObj("mid", 1, 1, &log, nullptr, 7));
  auto* probe = new JProbeObj();
  graph.add(probe);
  graph.link(source, 0, middle, 0);
  graph.link(middle, 0, probe, 0);
  source->setInteger(0, 3);
  source->broadcast(0);
  middle->broadcast(0);
  EXPECT_EQ(log, (std::vector<std::string>{"mid:0=3"}));
  ASSERT_EQ(probe->values().size(), 1u);
  EXPECT_EQ(probe->values()[0].integer, 7);
}

TEST(AccessTest, ProbeRecordsEachTypeAsTheOutputAnnouncesIt) {
  JGraph graph;
  auto* source = new JSourceObj(3);
  auto* probe = new JProbeObj(3);
  graph.add(source);
  graph.add(probe);
  for (int n = 0; n < 3; ++n) ASSERT_NE(graph.link(source, n, probe, n), nullptr);
  source->setInteger(0, -12);
  source->setReal(1, 45.123456789);
  source->setString(2, "2004/01/28,12:43:27.500");
  for (int n = 0; n < 3; ++n) source->broadcast(n);

  ASSERT_EQ(probe->values().size(), 3u);
  EXPECT_EQ(probe->last(0)->type, JIntegerData::id);
  EXPECT_EQ(probe->last(0)->integer, -12);
  EXPECT_EQ(probe->last(1)->type, JRealData::id);
  EXPECT_EQ(probe->last(1)->real, 45.123456789);
  EXPECT_EQ(probe->last(2)->type, JStringData::id);
  EXPECT_EQ(probe->last(2)->text, "2004/01/28,12:43:27.500");
  EXPECT_EQ(probe->inputType(1), JRealData::id);
  EXPECT_EQ(JProbeObj::display(*probe->last(1)), "45.1235");
}

TEST(AccessTest, ProbeRecordsNothingWhenTheSourceAnswersNothing) {
  JGraph graph;
  auto* silent = graph.add(new JModuleObj());  // the base access answers nothing
  silent->ogm = 1;
  auto* probe = new JProbeObj();
  graph.add(probe);
  graph.link(silent, 0, probe, 0);
  silent->broadcast(0);
  EXPECT_TRUE(probe->values().empty());
}

TEST(AccessTest, ALinkWithoutSourceLeavesDataUntouched) {
  JLinkObj none;
  int value = 5;
  EXPECT_FALSE(none.access(JIntegerData(value)));
  EXPECT_EQ(value, 5);
}

TEST(AccessTest, AWriteOfTheWrongTypeCannotReachTheVariable) {
  WrongTypeObj source;
  JLinkObj link(&source, 0, nullptr, 0);
  int value = 42;
  EXPECT_FALSE(link.access(JIntegerData(value)));
  EXPECT_EQ(value, 42);
  // Also when the block is called directly, without the host in between.
  JIntegerData data(value);
  JLinkObj none;
  source.access(0, none, data);
  EXPECT_EQ(value, 42);
  EXPECT_FALSE(data.reached());
}

// Values that cross a link between outputs and inputs of different types.
TEST(AccessTest, ConvertsBetweenTypes) {
  JSourceObj source;
  JLinkObj link(&source, 0, nullptr, 0);

  source.setReal(0, 45.5);
  JString text("old");
  EXPECT_TRUE(link.access(JStringData(text)));
  EXPECT_STREQ(text, "45.5");
  int integer = 0;
  EXPECT_TRUE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, 45);
  source.setReal(0, -7.9);
  EXPECT_TRUE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, -7);
  source.setReal(0, 1e300);
  EXPECT_TRUE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, 2147483647);
  source.setReal(0, std::nan(""));
  integer = 9;
  EXPECT_FALSE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, 9);

  source.setInteger(0, -300);
  double real = 0.0;
  EXPECT_TRUE(link.access(JRealData(real)));
  EXPECT_EQ(real, -300.0);
  EXPECT_TRUE(link.access(JStringData(text)));
  EXPECT_STREQ(text, "-300");

  source.setString(0, "  +17 nodes");
  EXPECT_TRUE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, 17);
  source.setString(0, "4525.00000 N");
  EXPECT_TRUE(link.access(JRealData(real)));
  EXPECT_EQ(real, 4525.0);
  source.setString(0, "north");
  real = 1.25;
  EXPECT_FALSE(link.access(JRealData(real)));
  EXPECT_EQ(real, 1.25);
  source.setString(0, "99999999999");  // beyond int
  integer = 3;
  EXPECT_FALSE(link.access(JIntegerData(integer)));
  EXPECT_EQ(integer, 3);
}

TEST(AccessTest, ATextValueIsTheReadersOwnCopy) {
  JSourceObj source;
  source.setString(0, "abc");
  JLinkObj link(&source, 0, nullptr, 0);
  JString first;
  link.access(JStringData(first));
  static_cast<char*>(first)[0] = 'X';
  JString second;
  link.access(JStringData(second));
  EXPECT_STREQ(second, "abc");
}

class LinkRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = graph.add(new RecorderObj("src", 1, 2, nullptr));
    target = graph.add(new RecorderObj("dst", 2, 1, nullptr));
  }
  // The reason a link is refused for; "" when it is made.
  std::string refusal(JModuleObj* from, int output, JModuleObj* to, int input) {
    std::string error;
    return graph.link(from, output, to, input, &error) == nullptr ? error : "";
  }

  JGraph graph;
  JModuleObj* source = nullptr;
  JModuleObj* target = nullptr;
};

TEST_F(LinkRefusalTest, PortsMustExist) {
  EXPECT_EQ(refusal(source, 2, target, 0), "output 2 does not exist on RecorderObj (2 outputs)");
  EXPECT_EQ(refusal(source, -1, target, 0), "output -1 does not exist on RecorderObj (2 outputs)");
  EXPECT_EQ(refusal(source, 0, target, 2), "input 2 does not exist on RecorderObj (2 inputs)");
  EXPECT_EQ(refusal(source, 0, target, -1), "input -1 does not exist on RecorderObj (2 inputs)");
  EXPECT_EQ(refusal(source, 1, target, 1), "");
  EXPECT_EQ(graph.linkCount(), 1);
}

TEST_F(LinkRefusalTest, BlocksMustBeInThisGraph) {
  RecorderObj outsider("out", 1, 1, nullptr);
  EXPECT_EQ(refusal(&outsider, 0, target, 0), "both blocks of a link must be in this graph");
  EXPECT_EQ(refusal(source, 0, nullptr, 0), "both blocks of a link must be in this graph");
}

TEST_F(LinkRefusalTest, NoDuplicatesAndNoCycles) {
  EXPECT_EQ(refusal(source, 0, target, 0), "");
  EXPECT_EQ(refusal(source, 0, target, 0), "this link already exists");
  EXPECT_EQ(refusal(target, 0, source, 0), "the link would close a cycle");
  EXPECT_EQ(refusal(target, 0, target, 1), "the link would close a cycle");
}

TEST_F(LinkRefusalTest, TheBlocksAreAsked) {
  auto* closed = graph.add(new ClosedOutputObj());
  EXPECT_EQ(refusal(closed, 0, target, 0), "ClosedOutputObj refuses a link on output 0");
  auto* probe = graph.add(new JProbeObj());
  EXPECT_EQ(refusal(source, 0, probe, 0), "");
  EXPECT_EQ(refusal(source, 1, probe, 0), "JProbeObj refuses a link on input 0");
}

TEST_F(LinkRefusalTest, InputSetCountsTheLinksOfOneInput) {
  EXPECT_EQ(target->inputSet(0).size(), 0);
  JLinkObj* first = graph.link(source, 0, target, 0);
  graph.link(source, 1, target, 0);
  graph.link(source, 1, target, 1);
  EXPECT_EQ(target->inputSet(0).size(), 2);
  EXPECT_EQ(target->inputSet(0).at(0), first);
  EXPECT_EQ(target->inputSet(1).size(), 1);
  EXPECT_EQ(source->outputSet(1).size(), 2);
  EXPECT_TRUE(graph.unlink(first));
  EXPECT_FALSE(graph.unlink(first));
  EXPECT_EQ(target->inputSet(0).size(), 1);
  EXPECT_EQ(source->outputSet(0).size(), 0);
}

TEST(GraphLifecycleTest, StartsOnceClosesStartedBlocksAndDestroysAll) {
  Counts counts;
  {
    JGraph graph;
    auto* a = graph.add(new RecorderObj("a", 1, 1, nullptr, &counts));
    graph.startup();
    graph.startup();
    EXPECT_EQ(counts.startups, 1);
    graph.add(new RecorderObj("b", 1, 1, nullptr, &counts));  // never started
    EXPECT_TRUE(graph.isStarted(a));
    EXPECT_EQ(graph.add(a), nullptr);  // already in a graph
  }
  EXPECT_EQ(counts.closes, 1);
  EXPECT_EQ(counts.destroyed, 2);
}

TEST(GraphLifecycleTest, RemovingABlockRemovesItsLinksFirst) {
  Counts counts;
  JGraph graph;
  auto* source = graph.add(new JSourceObj());
  auto* doomed = graph.add(new RecorderObj("d", 1, 1, nullptr, &counts));
  auto* probe = graph.add(new JProbeObj());
  graph.link(source, 0, doomed, 0);
  graph.link(doomed, 0, probe, 0);
  graph.startup();
  EXPECT_TRUE(graph.remove(doomed));
  EXPECT_EQ(counts.closes, 1);
  EXPECT_EQ(counts.destroyed, 1);
  EXPECT_EQ(graph.linkCount(), 0);
  EXPECT_EQ(probe->inputSet(0).size(), 0);
  EXPECT_EQ(graph.blockCount(), 2);
  EXPECT_FALSE(graph.remove(doomed));
  source->broadcast(0);  // must not reach the destroyed block
}

TEST(GraphLifecycleTest, UnknownClassIsReported) {
  JGraph graph;
  std::string error;
  EXPECT_EQ(graph.create("JNoSuchObj", &error), nullptr);
  EXPECT_EQ(error, "unknown module class 'JNoSuchObj'");
  EXPECT_EQ(graph.create(nullptr, &error), nullptr);
  auto* probe = graph.create("JProbeObj", &error);
  ASSERT_NE(probe, nullptr);
  EXPECT_STREQ(probe->className(), "JProbeObj");
}

TEST(ModuleDefaultsTest, BaseBlockHasNoPortsAndNeutralAnswers) {
  JModuleObj block;
  EXPECT_EQ(block.igm, 0);
  EXPECT_EQ(block.ogm, 0);
  EXPECT_STREQ(block.inputTag(0), "");
  EXPECT_STREQ(block.outputTag(3), "");
  EXPECT_EQ(block.inputType(0), JIntegerData::id);
  EXPECT_EQ(block.outputType(0), JIntegerData::id);
  EXPECT_EQ(block.inputFace(0), JModuleObj::LEFT_FACE);
  EXPECT_EQ(block.outputFace(0), JModuleObj::RIGHT_FACE);
  EXPECT_TRUE(block.inputAllowed(0));
  EXPECT_TRUE(block.outputAllowed(0));
}

TEST(ModuleDefaultsTest, BaseOffersAndTakesOnlyTheLabel) {
  JModuleObj block;
  JArray properties = block.getProperties();
  ASSERT_EQ(properties.size(), 1);
  auto* label = dynamic_cast<JStringProperty*>(properties.at(0));
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->getName() == "label");
  label->setValue("gate 4");
  EXPECT_TRUE(block.updateProperty(*label));
  EXPECT_STREQ(block.getLabel(), "gate 4");
  JStringProperty other("map_name", "x");
  EXPECT_FALSE(block.updateProperty(other));
}

TEST(ModuleDefaultsTest, ACopyKeepsTheStateButNotTheLinks) {
  JGraph graph;
  auto* source = graph.add(new JSourceObj());
  auto* block = graph.add(new RecorderObj("r", 1, 3, nullptr));
  block->setBounds(10, 20, 30, 40);
  block->moduleColor = JColor::green;
  graph.link(source, 0, block, 0);
  std::unique_ptr<JModuleObj> copy(static_cast<JModuleObj*>(block->clone()));
  EXPECT_EQ(copy->ogm, 3);
  EXPECT_EQ(copy->getWidth(), 30);
  EXPECT_EQ(copy->moduleColor, JColor::green);
  EXPECT_EQ(copy->inputSet(0).size(), 0);
  EXPECT_EQ(copy->graph(), nullptr);
  JGraph other;
  EXPECT_NE(other.add(copy.release()), nullptr);
}

}  // namespace
