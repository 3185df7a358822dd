// JGraph::closeTogether: every started block closed exactly once, blocks
// never started left alone, and blocks that pause in their close pausing
// side by side. Labelled threaded: ThreadSanitizer checks the hand-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/JAddObj.h"
#include "host/JGraph.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pauses 100 ms in its close, as the sniffer does after ending its feed.
class PausingObj : public JAddObj {
 public:
  explicit PausingObj(std::atomic<int>* closes) : closes_(closes) {}
  const char* className() const override { return "PausingObj"; }
  JObject* clone() const override { return new PausingObj(*this); }
  void close() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    closes_->fetch_add(1);
    ++myCloses;
  }
  int myCloses = 0;

 private:
  std::atomic<int>* closes_;
};

TEST(CloseTogether, EachStartedBlockClosesOnceAndThePausesOverlap) {
  std::atomic<int> closes{0};
  JGraph graph;
  std::vector<PausingObj*> blocks;
  for (int i = 0; i < 40; ++i) {
    blocks.push_back(static_cast<PausingObj*>(graph.add(new PausingObj(&closes))));
  }
  graph.startup();
  auto* late = static_cast<PausingObj*>(graph.add(new PausingObj(&closes)));  // never started

  const Clock::time_point start = Clock::now();
  graph.closeTogether(16);
  const auto took = Clock::now() - start;
  EXPECT_EQ(closes.load(), 40);
  for (PausingObj* block : blocks) {
    EXPECT_EQ(block->myCloses, 1);
    EXPECT_FALSE(graph.isStarted(block));
  }
  EXPECT_EQ(late->myCloses, 0);
  // One after the other: 4 s; sixteen at a time: three rounds of 100 ms.
  EXPECT_LT(took, std::chrono::milliseconds(2000));

  graph.close();  // nothing left to close
  EXPECT_EQ(closes.load(), 40);
  graph.closeTogether(0);  // at least the calling thread closes; nothing to do
  EXPECT_EQ(closes.load(), 40);
}

}  // namespace
