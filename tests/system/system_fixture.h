// Shared set-up for the whole-feed tests: a sniffer block loaded from its
// plug-in, started in a host graph with a node list and a port list, its
// inputs driven by a source block and every output recorded by a probe.
// Each test runs inside the isolated network namespace.
//
// Thread safety: the host's thread (the test's main thread) only.
#pragma once

#include <string>
#include <vector>

#include "tests/sniffer/sniffer_fixture.h"

namespace kw_test {

class SystemTest : public SnifferTest {
 protected:
  void SetUp() override;

  // What a node shows after a tick, read from the probe.
  struct NodeView {
    int id = 0;
    double latitude = 0.0;
    int utcSec = 0;
    int utcMs = 0;
    int health = -1;
    double idle = 0.0;
  };

  // Makes and starts a block, gives it the two lists (written to files of
  // these names), links a source to its inputs and a probe to its outputs.
  // Fails the test when a list does not load.
  void startFeed(const std::string& nodeList, const std::string& portList);
  void turn(bool on) { send(source_, 1, on ? 1 : 0); }
  // One rising edge of the clock, then the fall.
  void tick();
  // What node index i shows after the last tick.
  NodeView view(int i) const;

  // The trace log since markLog(), one entry per tick, each holding the log
  // lines written from the tick line up to the next one.
  std::vector<std::vector<std::string>> ticksSinceMark() const;
  static int countPrefix(const std::vector<std::string>& lines, const std::string& prefix);

  JQNV_packet_sniffer* sniffer_ = nullptr;
  JSourceObj* source_ = nullptr;
  JProbeObj* probe_ = nullptr;
};

}  // namespace kw_test
