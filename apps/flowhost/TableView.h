// TableView: prints the node table while the graph runs.
//
// Live mode (a terminal): the table is redrawn in place on every call,
// moving the cursor back over the previous drawing with ANSI escape codes.
// Plain mode (a pipe or a file): no escape codes; a block of plain lines
// (status line, column heading, one line per node) at most once per
// `every` seconds, plus a last one at the end of the run. Off: nothing.
//
// Owns nothing; writes to the stream given, which must outlive it.
// Thread safety: host's thread only.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "NodeTable.h"

namespace flowhost {

class TableView {
 public:
  enum class Mode { Live, Plain, Off };

  TableView(std::ostream& out, Mode mode, double everySeconds);

  // Shows the rows at `elapsed` seconds into the run after `ticks` clock
  // edges. In plain mode a block is printed when `force` is set or `every`
  // seconds have passed since the last one.
  void show(const std::vector<NodeRow>& rows, double elapsed, long long ticks, bool force = false);

  // The lines of one drawing: the status line, the column heading and one
  // line per node. A value that was not read shows as "-".
  static std::vector<std::string> lines(const std::vector<NodeRow>& rows, double elapsed,
                                        long long ticks);

 private:
  std::ostream& out_;
  Mode mode_;
  double every_;
  double lastShown_ = -1.0;  // elapsed time of the last plain block
  int drawnLines_ = 0;       // lines of the last live drawing
};

}  // namespace flowhost
