// The runner's own blocks, driven through a real graph: the clock and its
// schedule, the constant, the degree-to-text converter and the display.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/blocks/JConstantObj.h"
#include "apps/flowhost/blocks/JDegreeTextObj.h"
#include "apps/flowhost/blocks/JDisplayObj.h"
#include "apps/flowhost/blocks/RunnerBlocks.h"
#include "apps/flowhost/run/ClockSchedule.h"
#include "host/JClassRegistry.h"
#include "host/JDictionary.h"
#include "host/JGraph.h"
#include "host/JGraphics.h"
#include "host/JIntegerData.h"
#include "host/JIntegerProperty.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JRealData.h"
#include "host/JRealProperty.h"
#include "host/JSourceObj.h"
#include "host/JStringData.h"
#include "host/JStringProperty.h"

namespace {

using namespace std::chrono_literals;
using flowhost::ClockSchedule;

// Records every integer that reaches its input, and counts rising edges
// the way the sniffer detects them (0 to nonzero).
class EdgeCounter : public JAddObj {
 public:
  EdgeCounter() { igm = 1; }
  void engine(int, JLinkObj& link) override {
    int value = 0;
    if (!link.access(JIntegerData(value))) return;
    if (value != 0 && last_ == 0) ++rising;
    last_ = value != 0 ? 1 : 0;
    values.push_back(value);
  }
  std::vector<int> values;
  int rising = 0;

 private:
  int last_ = 0;
};

// Stores a block and reads it back into a new one of the same class.
template <typename Block>
void copyThroughStorage(Block& from, Block& to) {
  JOutputStream stream;
  from.writeContent(stream);
  JDictionary dictionary(stream);
  to.readContent(dictionary);
}

JDictionary dictionaryWithReal(const char* key, double value) {
  JOutputStream stream;
  stream.putReal(key, value);
  return JDictionary(stream);
}

// ---- clock ---------------------------------------------------------------

TEST(ClockBlock, ToggleAnnouncesAlternatingLevels) {
  JGraph graph;
  auto* clock = static_cast<JClockObj*>(graph.add(new JClockObj()));
  auto* counter = static_cast<EdgeCounter*>(graph.add(new EdgeCounter()));
  ASSERT_NE(graph.link(clock, 0, counter, 0), nullptr);
  clock->setValue(0);
  for (int i = 0; i < 5; ++i) clock->toggle();
  EXPECT_EQ(counter->values, (std::vector<int>{0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(counter->rising, 3);
  clock->setValue(7);  // any nonzero level is output as 1
  EXPECT_EQ(counter->values.back(), 1);
}

TEST(ClockBlock, RateIsCheckedWhereverItComesFrom) {
  JClockObj clock;
  EXPECT_DOUBLE_EQ(clock.rate(), 4.0);
  EXPECT_FALSE(clock.setRate(0.0));
  EXPECT_FALSE(clock.setRate(-2.0));
  EXPECT_FALSE(clock.setRate(std::nan("")));
  EXPECT_FALSE(clock.setRate(1000.5));
  EXPECT_TRUE(clock.setRate(1000.0));
  EXPECT_TRUE(clock.setRate(0.01));
  EXPECT_DOUBLE_EQ(clock.rate(), 0.01);

  JDictionary bad = dictionaryWithReal("rate", std::numeric_limits<double>::infinity());
  clock.readContent(bad);
  EXPECT_DOUBLE_EQ(clock.rate(), 0.01);

  JRealProperty rate("rate", 2.5, 7, 2);
  EXPECT_TRUE(clock.updateProperty(rate));
  EXPECT_DOUBLE_EQ(clock.rate(), 2.5);
  JRealProperty tooFast("rate", 5000.0, 7, 2);
  EXPECT_FALSE(clock.updateProperty(tooFast));
  JRealProperty other("speed", 1.0, 7, 2);
  EXPECT_FALSE(clock.updateProperty(other));
  EXPECT_DOUBLE_EQ(clock.rate(), 2.5);
}

TEST(ClockBlock, RateSurvivesStorage) {
  JClockObj a, b;
  a.setRate(12.5);
  a.setLabel("tick");
  copyThroughStorage(a, b);
  EXPECT_DOUBLE_EQ(b.rate(), 12.5);
  EXPECT_TRUE(b.getLabel() == "tick");
}

// ---- schedule ------------------------------------------------------------

class Schedule : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = static_cast<JClockObj*>(graph_.add(new JClockObj()));
    counter_ = static_cast<EdgeCounter*>(graph_.add(new EdgeCounter()));
    ASSERT_NE(graph_.link(clock_, 0, counter_, 0), nullptr);
  }

  JGraph graph_;
  JClockObj* clock_ = nullptr;
  EdgeCounter* counter_ = nullptr;
  const ClockSchedule::Clock::time_point t0_{std::chrono::hours(5)};
};

TEST_F(Schedule, RisingEdgesComeAtTheRateOnOddHalfPeriods) {
  ClockSchedule schedule;
  ASSERT_TRUE(schedule.add(clock_, 4.0));
  schedule.start(t0_);
  EXPECT_EQ(counter_->values, std::vector<int>{0});  // the start level is announced

  std::vector<long long> risingAt;  // milliseconds after the start
  for (int ms = 0; ms <= 10000; ++ms) {
    const int before = counter_->rising;
    schedule.advance(t0_ + std::chrono::milliseconds(ms));
    if (counter_->rising > before) risingAt.push_back(ms);
  }
  ASSERT_EQ(risingAt.size(), 40u);  // 4 Hz for 10 s
  for (size_t k = 0; k < risingAt.size(); ++k) {
    EXPECT_EQ(risingAt[k], 125 + 250 * static_cast<long long>(k)) << "edge " << k;
  }
  EXPECT_EQ(schedule.risingEdges(), 40);
  EXPECT_EQ(counter_->values.size(), 81u);  // start level + 80 half periods
}

TEST_F(Schedule, NextDueFollowsTheFastestClock) {
  JClockObj* slow = static_cast<JClockObj*>(graph_.add(new JClockObj()));
  ClockSchedule schedule;
  ASSERT_TRUE(schedule.add(clock_, 10.0));  // half period 50 ms
  ASSERT_TRUE(schedule.add(slow, 1.0));     // half period 500 ms
  schedule.start(t0_);
  EXPECT_EQ(schedule.nextDue(), t0_ + 50ms);
  schedule.advance(t0_ + 50ms);
  EXPECT_EQ(schedule.nextDue(), t0_ + 100ms);
  schedule.advance(t0_ + 499ms);
  EXPECT_EQ(slow->value(), 0);
  schedule.advance(t0_ + 500ms);
  EXPECT_EQ(slow->value(), 1);
  EXPECT_EQ(clock_->value(), 0);  // 10 half periods: back to 0
}

TEST_F(Schedule, ALongStallDeliversAtMostTwoEdgesAndEndsOnTheRightLevel) {
  ClockSchedule schedule;
  ASSERT_TRUE(schedule.add(clock_, 4.0));
  schedule.start(t0_);
  EXPECT_EQ(schedule.advance(t0_ + 1000ms), 1);  // 8 half periods due: one cycle, level 0
  EXPECT_EQ(clock_->value(), 0);
  EXPECT_EQ(schedule.advance(t0_ + 2125ms), 2);  // 9 more, odd: level 1
  EXPECT_EQ(clock_->value(), 1);
  EXPECT_EQ(schedule.advance(t0_ + 2125ms), 0);  // nothing new
  EXPECT_EQ(schedule.advance(t0_ + 2250ms), 0);  // one fall
  EXPECT_EQ(clock_->value(), 0);
}

TEST_F(Schedule, RefusesUnusableRatesAndTimeBeforeTheStart) {
  ClockSchedule schedule;
  EXPECT_FALSE(schedule.add(clock_, 0.0));
  EXPECT_FALSE(schedule.add(nullptr, 4.0));
  EXPECT_TRUE(schedule.empty());
  ASSERT_TRUE(schedule.add(clock_, 4.0));
  schedule.start(t0_);
  EXPECT_EQ(schedule.advance(t0_ - 1s), 0);
  EXPECT_EQ(counter_->values.size(), 1u);
}

// ---- constant ------------------------------------------------------------

TEST(ConstantBlock, AnnouncesItsValueOnRequestAndOnEdit) {
  JGraph graph;
  auto* constant = static_cast<JConstantObj*>(graph.add(new JConstantObj()));
  auto* counter = static_cast<EdgeCounter*>(graph.add(new EdgeCounter()));
  ASSERT_NE(graph.link(constant, 0, counter, 0), nullptr);
  constant->setValue(1);
  EXPECT_TRUE(counter->values.empty());  // setting alone announces nothing
  constant->announce();
  EXPECT_EQ(counter->values, std::vector<int>{1});
  JIntegerProperty value("value", -42, 0, 0);
  EXPECT_TRUE(constant->updateProperty(value));
  EXPECT_EQ(counter->values, (std::vector<int>{1, -42}));
  JIntegerProperty other("amount", 3, 0, 0);
  EXPECT_FALSE(constant->updateProperty(other));
  EXPECT_EQ(constant->value(), -42);
}

TEST(ConstantBlock, ValueSurvivesStorageAndOversizedValuesAreIgnored) {
  JConstantObj a, b;
  a.setValue(1);
  copyThroughStorage(a, b);
  EXPECT_EQ(b.value(), 1);
  JOutputStream stream;
  stream.putInteger("value", 1LL << 40);
  JDictionary dictionary(stream);
  b.readContent(dictionary);
  EXPECT_EQ(b.value(), 1);
}

// ---- degree-to-text converter --------------------------------------------

struct FormatCase {
  double degrees;
  JDegreeTextObj::Axis axis;
  const char* text;  // null: not a coordinate
};

TEST(DegreeText, FormatsEveryHemisphereAndRoundsToFiveDigits) {
  using Axis = JDegreeTextObj::Axis;
  const FormatCase cases[] = {
      {35.923775123, Axis::Latitude, "35.92378 N"},
      {-33.8688, Axis::Latitude, "33.86880 S"},
      {-115.439, Axis::Longitude, "115.43900 W"},
      {151.2093, Axis::Longitude, "151.20930 E"},
      {10.123456, Axis::Latitude, "10.12346 N"},
      {10.123454, Axis::Latitude, "10.12345 N"},
      {-10.123456, Axis::Longitude, "10.12346 W"},
      {0.0, Axis::Latitude, "0.00000 N"},
      {-0.000004, Axis::Latitude, "0.00000 N"},  // rounds to 0: no "S"
      {-0.000004, Axis::Longitude, "0.00000 E"},
      {-0.000006, Axis::Latitude, "0.00001 S"},
      {179.999996, Axis::Longitude, "180.00000 E"},
      {90.0, Axis::Latitude, "90.00000 N"},
      {-180.0, Axis::Longitude, "180.00000 W"},
      {90.0001, Axis::Latitude, nullptr},
      {120.0, Axis::Latitude, nullptr},
      {-180.01, Axis::Longitude, nullptr},
      {std::nan(""), Axis::Latitude, nullptr},
      {std::numeric_limits<double>::infinity(), Axis::Longitude, nullptr},
  };
  for (const FormatCase& c : cases) {
    const auto text = JDegreeTextObj::format(c.degrees, c.axis);
    if (c.text == nullptr) {
      EXPECT_FALSE(text.has_value()) << c.degrees << " gave " << text.value_or("");
    } else {
      EXPECT_EQ(text.value_or("(none)"), c.text) << "degrees " << c.degrees;
    }
  }
}

class Converter : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = static_cast<JSourceObj*>(graph_.add(new JSourceObj()));
    converter_ = static_cast<JDegreeTextObj*>(graph_.add(new JDegreeTextObj()));
    display_ = static_cast<JDisplayObj*>(graph_.add(new JDisplayObj()));
    ASSERT_NE(graph_.link(source_, 0, converter_, 0), nullptr);
    ASSERT_NE(graph_.link(converter_, 0, display_, 0), nullptr);
  }
  void send(double degrees) {
    source_->setReal(0, degrees);
    source_->broadcast(0);
  }

  JGraph graph_;
  JSourceObj* source_ = nullptr;
  JDegreeTextObj* converter_ = nullptr;
  JDisplayObj* display_ = nullptr;
};

TEST_F(Converter, AnnouncesTheTextOfEachUsableValue) {
  send(35.5904);
  EXPECT_EQ(display_->last(0)->text, "35.59040 N");
  converter_->setAxis(JDegreeTextObj::Axis::Longitude);
  send(-115.439);
  EXPECT_EQ(display_->last(0)->text, "115.43900 W");
  EXPECT_EQ(display_->received(), 2);
  EXPECT_EQ(display_->last(0)->type, JStringData::id);
}

TEST_F(Converter, AValueThatIsNoCoordinateChangesAndAnnouncesNothing) {
  send(45.0);
  send(std::nan(""));
  send(91.0);
  EXPECT_EQ(display_->received(), 1);
  EXPECT_EQ(converter_->text(), "45.00000 N");
}

TEST_F(Converter, NothingReachesAReaderBeforeTheFirstValue) {
  JString text("untouched");
  JLinkObj link(converter_, 0, nullptr, 0);
  EXPECT_FALSE(link.access(JStringData(text)));
  EXPECT_TRUE(text == "untouched");
}

TEST(DegreeTextAxis, TakenFromPropertyAndStorageOnlyWhenKnown) {
  JDegreeTextObj a;
  JStringProperty east("axis", "east");
  EXPECT_FALSE(a.updateProperty(east));
  EXPECT_EQ(a.axis(), JDegreeTextObj::Axis::Latitude);
  JStringProperty longitude("axis", "longitude");
  EXPECT_TRUE(a.updateProperty(longitude));
  EXPECT_EQ(a.axis(), JDegreeTextObj::Axis::Longitude);

  JDegreeTextObj b;
  copyThroughStorage(a, b);
  EXPECT_EQ(b.axis(), JDegreeTextObj::Axis::Longitude);

  JOutputStream stream;
  stream.putText("axis", JString("sideways"));
  JDictionary dictionary(stream);
  b.readContent(dictionary);
  EXPECT_EQ(b.axis(), JDegreeTextObj::Axis::Longitude);
}

// ---- display -------------------------------------------------------------

TEST(DisplayBlock, KeepsTheLastValueOfEachInputInItsSourcesType) {
  JGraph graph;
  auto* source = static_cast<JSourceObj*>(graph.add(new JSourceObj(3)));
  auto* display = static_cast<JDisplayObj*>(graph.add(new JDisplayObj(3)));
  for (int n = 0; n < 3; ++n) ASSERT_NE(graph.link(source, n, display, n), nullptr);
  source->setInteger(0, 5);
  source->setReal(1, 2.25);
  source->setString(2, "2024/01/02,03:04:05.600");
  for (int round = 0; round < 3; ++round) {
    for (int n = 0; n < 3; ++n) source->broadcast(n);
  }
  source->setInteger(0, 6);
  source->broadcast(0);
  EXPECT_EQ(JDisplayObj::shown(*display->last(0)), "6");
  EXPECT_EQ(JDisplayObj::shown(*display->last(1)), "2.25");
  EXPECT_EQ(JDisplayObj::shown(*display->last(2)), "2024/01/02,03:04:05.600");
  EXPECT_EQ(display->received(), 10);
  EXPECT_EQ(display->last(3), nullptr);

  // One link per input.
  auto* other = static_cast<JSourceObj*>(graph.add(new JSourceObj()));
  EXPECT_EQ(graph.link(other, 0, display, 0), nullptr);

  // The face shows one "tag: value" line per input.
  JGraphics canvas(200, 100);
  display->draw(canvas, 0, 0, 200, 90);
  EXPECT_EQ(canvas.texts(), (std::vector<std::string>{"out 0: 6", "out 1: 2.25",
                                                      "out 2: 2024/01/02,03:04:05.600"}));
}

TEST(DisplayBlock, InputCountIsStoredAndKeptInRange) {
  JDisplayObj a(9), b;
  copyThroughStorage(a, b);
  EXPECT_EQ(b.igm, 9);
  JOutputStream stream;
  stream.putInteger("inputs", 100000);
  JDictionary dictionary(stream);
  b.readContent(dictionary);
  EXPECT_EQ(b.igm, JDisplayObj::kMaxInputs);
  EXPECT_EQ(JDisplayObj(0).igm, 1);
  EXPECT_EQ(JDisplayObj::shown(JDisplayObj::Value{}), "-");
}

// ---- registration --------------------------------------------------------

TEST(RunnerBlocks, AreMadeByClassNameAfterRegistration) {
  ASSERT_TRUE(flowhost::registerRunnerBlocks());
  ASSERT_TRUE(flowhost::registerRunnerBlocks());  // a second call changes nothing
  for (const std::string& name : flowhost::runnerBlockNames()) {
    JModuleObj* block = JClassRegistry::make(name);
    ASSERT_NE(block, nullptr) << name;
    EXPECT_EQ(std::string(block->className()), name);
    delete block;
  }
}

}  // namespace
