// TableView: prints the node table while the graph runs.
//
// Live mode (a terminal): the table is fitted to the terminal and redrawn
// in place on every call, moving the cursor back over the previous drawing
// with ANSI escape codes (after a change of size, the screen is cleared
// and drawn anew). A live drawing never has more lines than the terminal
// less one (so nothing scrolls away) and no line wider than the terminal:
//  - status line: run time, clock edges and nodes; when the nodes do not
//    all fit, "rows 21-40 of 300" first, and the body pages forward every
//    kPageSeconds while the heading stays on top;
//  - column heading and one line per node of the page;
//  - footer: one counters line per port (taken in, dropped, rejected,
//    unknown node, older); when the ports take more than a quarter of the
//    lines, the last footer line sums up the ports left out.
// Columns that do not fit are dropped, the lowest priority first. Priority
// from high to low: fleet (only shown when a node belongs to one) and node
// number, name (from the node list), health,
// latitude, longitude, idle time, utc time, feed (port names), sniffer
// block (only shown with several sniffers), in_map, pixel_x, pixel_y.
// On screen they stay in reading order (block, fleet, node, name, latitude,
// longitude, utc time, health, idle, feed, in_map, pixel_x, pixel_y).
// Health reads "good", "medium" or "bad", coloured green, yellow or red
// when the view is told it draws on a terminal (setColour), never else.
//
// Plain mode (a pipe or a file): no escape codes; a block of plain lines
// (status line, column heading, one line per node, led by the block and
// the fleet when those are shown) at most once per
// `every` seconds, plus a last one at the end of the run. Off: nothing.
//
// Owns the last ports given; writes to the stream given, which must
// outlive it. Thread safety: host's thread only.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"

namespace flowhost {

class TableView {
 public:
  enum class Mode { Live, Plain, Off };

  static constexpr int kDefaultColumns = 80;  // live size until told the terminal's
  static constexpr int kDefaultRows = 24;
  static constexpr double kPageSeconds = 4.0;  // a page of nodes stays this long

  // What a live drawing is fitted to.
  // What stands in the table while it has no node.
  static constexpr const char* kNoNodes = "(no sniffer block with nodes in this document)";

  struct Fit {
    int columns = kDefaultColumns;
    int lines = kDefaultRows - 1;  // lines the drawing may take
    long long page = 0;            // page of nodes to show, taken round the pages
    bool colour = false;           // health in colour (ANSI escapes)
    const char* empty = kNoNodes;  // the line shown while there is no node
  };

  TableView(std::ostream& out, Mode mode, double everySeconds);

  // The terminal's size in character cells for live drawings. A new size
  // clears the screen at the next drawing.
  void setScreen(int columns, int rows);
  void setColour(bool colour) { colour_ = colour; }
  // The line shown while there is no node (a centre: none heard yet).
  void setEmptyText(const char* text) { empty_ = text; }
  // The ports whose counters the live footer shows.
  void setPorts(std::vector<PortRow> ports) { ports_ = std::move(ports); }

  // Shows the rows at `elapsed` seconds into the run after `ticks` clock
  // edges. In plain mode a block is printed when `force` is set or `every`
  // seconds have passed since the last one.
  void show(const std::vector<NodeRow>& rows, double elapsed, long long ticks, bool force = false);

  // The lines of one plain drawing: the status line, the column heading and
  // one line per node. A value that was not read shows as "-".
  static std::vector<std::string> lines(const std::vector<NodeRow>& rows, double elapsed,
                                        long long ticks, const char* empty = kNoNodes);

  // The lines of one live drawing, fitted as said above.
  static std::vector<std::string> fitted(const std::vector<NodeRow>& rows,
                                         const std::vector<PortRow>& ports, double elapsed,
                                         long long ticks, const Fit& fit);

  // The character cells `line` takes on a terminal: escape sequences take
  // none, a UTF-8 character one.
  static int visibleWidth(const std::string& line);

 private:
  std::ostream& out_;
  const char* empty_ = kNoNodes;
  Mode mode_;
  double every_;
  double lastShown_ = -1.0;  // elapsed time of the last plain block
  int drawnLines_ = 0;       // lines of the last live drawing
  int columns_ = kDefaultColumns;
  int rows_ = kDefaultRows;
  bool colour_ = false;
  bool clearScreen_ = false;  // the size changed since the last drawing
  std::vector<PortRow> ports_;
};

}  // namespace flowhost
