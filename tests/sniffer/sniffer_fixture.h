// Shared set-up for the sniffer block's tests: the process works in a
// temporary directory (where the plug-in's "logFile.txt" lands), the plug-in
// is loaded once from its shared library, and each test builds its blocks in
// a fresh host graph.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JProbeObj.h"
#include "host/JSourceObj.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "tests/support/temp_dir.h"

namespace kw_test {

// The suite's working directory (made and entered at first use).
TempDir& workDir();

class SnifferTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;

  // A new sniffer block in the graph (not started).
  JQNV_packet_sniffer* makeSniffer();
  // A source block with `outputs` integer outputs linked to the sniffer's
  // inputs 0 (clock) and 1 (on off).
  JSourceObj* driveInputs(JQNV_packet_sniffer* sniffer);
  // Sets the source's output n to `value` and announces it.
  void send(JSourceObj* source, int n, int value);
  // A probe with one input per sniffer output, output i linked to input i.
  JProbeObj* probeAll(JQNV_packet_sniffer* sniffer);

  std::string writeFile(const std::string& name, const std::string& text);
  // The trace log's lines written since the last call of markLog().
  void markLog();
  std::vector<std::string> logSinceMark() const;
  static int count(const std::vector<std::string>& lines, const std::string& line);

  JGraph graph_;
  size_t logMark_ = 0;
};

}  // namespace kw_test
