#include "apps/flowhost/views/table/TableView.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "outputs/NodeUpdate.h"
#include "outputs/TextOut.h"

namespace flowhost {

namespace {

constexpr double kLargeIdle = 1e5;  // seconds; a node never heard from is idle since 1970

std::string integerText(const std::optional<int>& value) {
  return value ? std::to_string(*value) : "-";
}

std::string realText(const std::optional<double>& value, int decimals) {
  if (!value) return "-";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, *value);
  return buffer;
}

std::string idleText(const std::optional<double>& value) {
  if (!value) return "-";
  if (*value < kLargeIdle) return realText(value, 2);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3g", *value);
  return buffer;
}

// Control characters would break the table, and bytes that are not UTF-8
// would take cells that are not counted: a text is shown on one line, as
// valid UTF-8.
std::string printable(const std::optional<std::string>& text) {
  if (!text || text->empty()) return "-";
  std::string out;
  kw_out::appendTerminalText(&out, *text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "-" : out;
}

std::string row(const std::string& lead, const std::string& node, const std::string& latitude,
                const std::string& longitude, const std::string& utc, const std::string& health,
                const std::string& idle, const std::string& inMap, const std::string& x,
                const std::string& y) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%s%5s %11s %12s  %-23s %6s %9s %7s %7s %7s", lead.c_str(),
                node.c_str(), latitude.c_str(), longitude.c_str(), utc.c_str(), health.c_str(),
                idle.c_str(), inMap.c_str(), x.c_str(), y.c_str());
  return buffer;
}

// True when a row belongs to a fleet or a site: the table then shows them.
bool withFleets(const std::vector<NodeRow>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const NodeRow& r) { return !r.fleet.empty() || !r.site.empty(); });
}

// The site and fleet of a row as the table shows them: "north", "yard/north".
std::string scopeText(const NodeRow& r) { return kw_out::unitScope(r.site, r.fleet); }

// ---- live drawing ---------------------------------------------------------

bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The cells the character at text[i] takes: 2 from U+1100 on (where the
// wide scripts begin; counting some narrow ones as wide only leaves a line
// shorter), else 1. *length: its bytes.
int cellsAt(const std::string& text, size_t i, size_t* length) {
  size_t n = 1;
  while (i + n < text.size() && continuationByte(text[i + n])) ++n;
  *length = n;
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead >= 0xF0) return 2;
  if (lead >= 0xE0 && n >= 2) {
    const unsigned cp =
        ((lead & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6);
    return cp >= 0x1100 ? 2 : 1;
  }
  return 1;
}

// The end of the escape sequence that starts at `at` (an ESC): CSI
// sequences end at their final byte, others after one more byte.
size_t escapeEnd(const std::string& text, size_t at) {
  size_t i = at + 1;
  if (i < text.size() && text[i] == '[') {
    for (++i; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 0x40 && c <= 0x7E) return i + 1;
    }
    return text.size();
  }
  return std::min(text.size(), i + 1);
}

// `text` cut to `width` cells; a cut that leaves a colour on is closed.
std::string clipped(const std::string& text, int width) {
  std::string out;
  int cells = 0;
  bool escaped = false;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '\x1b') {
      const size_t end = escapeEnd(text, i);
      out.append(text, i, end - i);
      escaped = true;
      i = end;
      continue;
    }
    size_t length = 0;
    const int wide = cellsAt(text, i, &length);
    if (cells + wide > width) {
      if (escaped) out += "\x1b[0m";
      return out;
    }
    cells += wide;
    out.append(text, i, length);
    i += length;
  }
  return out;
}

// `text` in a cell of `width`: cut, then padded on the left (right-aligned)
// or on the right.
std::string cell(const std::string& text, int width, bool left) {
  std::string out = clipped(text, width);
  const std::string pad(static_cast<size_t>(width - TableView::visibleWidth(out)), ' ');
  return left ? out + pad : pad + out;
}

std::string healthText(const std::optional<int>& health) {
  if (!health) return "-";
  switch (*health) {
    case 0: return "good";
    case 1: return "medium";
    case 2: return "bad";
    default: return std::to_string(*health);
  }
}

const char* healthColour(const std::optional<int>& health) {
  if (!health) return nullptr;
  switch (*health) {
    case 0: return "\x1b[32m";  // green
    case 1: return "\x1b[33m";  // yellow
    case 2: return "\x1b[31m";  // red
    default: return nullptr;
  }
}

struct Column {
  const char* title;
  int width;  // 0: as wide as its widest text, up to `most`
  int most;
  bool left;
  int priority;  // 1 is kept longest
  std::function<std::string(const NodeRow&)> text;
};

std::vector<Column> liveColumns(bool withBlock, bool withFleet) {
  const auto mapped = [](const std::optional<int>& value, const NodeRow& r) {
    return r.mapped ? integerText(value) : "-";
  };
  std::vector<Column> columns;
  if (withBlock) {
    columns.push_back(
        {"block", 5, 0, false, 9, [](const NodeRow& r) { return std::to_string(r.block + 1); }});
  }
  if (withFleet) {
    columns.push_back(
        {"fleet", 0, static_cast<int>(kw_out::kMaxFleetName), true, 1, [](const NodeRow& r) {
           const std::string scope = scopeText(r);
           return scope.empty() ? std::string("-") : printable(scope);
         }});
  }
  columns.push_back(
      {"node", 5, 0, false, 1, [](const NodeRow& r) { return integerText(r.nodeId); }});
  columns.push_back({"name", 0, 20, true, 2, [](const NodeRow& r) {
                       return printable(std::optional<std::string>(r.name));
                     }});
  columns.push_back(
      {"latitude", 11, 0, false, 4, [](const NodeRow& r) { return realText(r.latitude, 6); }});
  columns.push_back(
      {"longitude", 12, 0, false, 5, [](const NodeRow& r) { return realText(r.longitude, 6); }});
  columns.push_back(
      {"utc time", 23, 0, true, 7, [](const NodeRow& r) { return printable(r.utc); }});
  columns.push_back(
      {"health", 6, 0, false, 3, [](const NodeRow& r) { return healthText(r.health); }});
  columns.push_back({"idle s", 9, 0, false, 6, [](const NodeRow& r) { return idleText(r.idle); }});
  columns.push_back({"feed", 0, 16, true, 8, [](const NodeRow& r) {
                       return printable(std::optional<std::string>(r.feed));
                     }});
  columns.push_back(
      {"in_map", 6, 0, false, 10, [mapped](const NodeRow& r) { return mapped(r.inMap, r); }});
  columns.push_back(
      {"pixel_x", 7, 0, false, 11, [mapped](const NodeRow& r) { return mapped(r.pixelX, r); }});
  columns.push_back(
      {"pixel_y", 7, 0, false, 12, [mapped](const NodeRow& r) { return mapped(r.pixelY, r); }});
  return columns;
}

std::string countersText(const std::string& what, uint64_t taken, uint64_t dropped,
                         uint64_t rejected, uint64_t unknown, uint64_t older) {
  return what + ": taken " + std::to_string(taken) + ", dropped " + std::to_string(dropped) +
         ", rejected " + std::to_string(rejected) + ", unknown node " + std::to_string(unknown) +
         ", older " + std::to_string(older);
}

// The footer: one line per port, or as many as `most` allows with the
// last one summing up the rest.
std::vector<std::string> footer(const std::vector<PortRow>& ports, int most) {
  std::vector<std::string> out;
  if (most <= 0) return out;
  const size_t shown =
      ports.size() <= static_cast<size_t>(most) ? ports.size() : static_cast<size_t>(most - 1);
  for (size_t i = 0; i < shown; ++i) {
    const JFeedPortStatus& s = ports[i].stats;
    std::string line =
        countersText("port " + printable(std::optional<std::string>(
                                   kw_out::unitLabel(ports[i].site, ports[i].fleet, s.name))),
                     s.takenIn, s.droppedFull, s.rejected, s.unknownNode, s.older);
    if (!s.setupError.empty()) line += ", not set up";
    out.push_back(line);
  }
  if (shown < ports.size()) {
    uint64_t sums[5] = {};
    for (size_t i = shown; i < ports.size(); ++i) {
      const JFeedPortStatus& s = ports[i].stats;
      sums[0] += s.takenIn;
      sums[1] += s.droppedFull;
      sums[2] += s.rejected;
      sums[3] += s.unknownNode;
      sums[4] += s.older;
    }
    out.push_back(countersText(std::to_string(ports.size() - shown) + " more ports", sums[0],
                               sums[1], sums[2], sums[3], sums[4]));
  }
  return out;
}

}  // namespace

int TableView::visibleWidth(const std::string& line) {
  int cells = 0;
  for (size_t i = 0; i < line.size();) {
    if (line[i] == '\x1b') {
      i = escapeEnd(line, i);
      continue;
    }
    size_t length = 0;
    cells += cellsAt(line, i, &length);
    i += length;
  }
  return cells;
}

namespace {

// The columns shown, by priority until the line is full; variable widths
// from all rows, so that they stay put from page to page.
std::vector<Column> columnsFor(const std::vector<NodeRow>& rows, int width) {
  std::set<int> blocks;
  for (const NodeRow& r : rows) blocks.insert(r.block);
  std::vector<Column> columns = liveColumns(blocks.size() > 1, withFleets(rows));
  for (Column& c : columns) {
    if (c.width > 0) continue;
    int widest = TableView::visibleWidth(c.title);
    for (const NodeRow& r : rows) widest = std::max(widest, TableView::visibleWidth(c.text(r)));
    c.width = std::min(widest, c.most);
  }
  const auto lineWidth = [&columns] {
    int total = -1;
    for (const Column& c : columns) total += c.width + 1;
    return total;
  };
  while (columns.size() > 1 && lineWidth() > width) {
    columns.erase(
        std::max_element(columns.begin(), columns.end(),
                         [](const Column& a, const Column& b) { return a.priority < b.priority; }));
  }
  return columns;
}

// One node's line; its health coloured when `colour`.
std::string nodeLine(const NodeRow& r, const std::vector<Column>& columns, bool colour) {
  std::string line;
  for (const Column& c : columns) {
    if (!line.empty()) line += ' ';
    const std::string text = cell(c.text(r), c.width, c.left);
    const char* shade =
        colour && std::string(c.title) == "health" ? healthColour(r.health) : nullptr;
    line += shade != nullptr ? shade + text + "\x1b[0m" : text;
  }
  return line;
}

}  // namespace

std::vector<std::string> TableView::fitted(const std::vector<NodeRow>& rows,
                                           const std::vector<PortRow>& ports, double elapsed,
                                           long long ticks, const Fit& fit) {
  const int width = std::max(1, fit.columns);
  const int height = std::max(0, fit.lines);
  std::vector<std::string> out;
  if (height == 0) return out;

  // Lines: status and heading, then at least one node line before any
  // footer line, the footer taking at most a quarter.
  int footerLines = ports.empty() ? 0 : std::max(1, (height - 2) / 4);
  footerLines = std::min({footerLines, static_cast<int>(ports.size()), std::max(0, height - 3)});
  const int body = std::max(0, height - 2 - footerLines);
  const size_t count = rows.size();
  const size_t perPage = static_cast<size_t>(std::max(1, body));
  const size_t pages = count == 0 ? 1 : (count + perPage - 1) / perPage;
  const long long page =
      ((fit.page % static_cast<long long>(pages)) + static_cast<long long>(pages)) %
      static_cast<long long>(pages);
  const size_t first = static_cast<size_t>(page) * perPage;
  const size_t last = body == 0 ? first : std::min(count, first + perPage);

  char status[160];
  if (pages > 1 || (body == 0 && count > 0)) {
    std::snprintf(status, sizeof status, "rows %zu-%zu of %zu  t=%.1f s  ticks=%lld",
                  body == 0 ? 0 : first + 1, last, count, elapsed, ticks);
  } else {
    std::snprintf(status, sizeof status, "t=%.1f s  ticks=%lld  nodes=%zu", elapsed, ticks, count);
  }
  out.push_back(clipped(status, width));
  if (height == 1) return out;

  const std::vector<Column> columns = columnsFor(rows, width);
  std::string heading;
  for (const Column& c : columns) {
    heading += (heading.empty() ? "" : " ") + cell(c.title, c.width, c.left);
  }
  out.push_back(clipped(heading, width));

  for (size_t i = first; i < last; ++i) {
    out.push_back(clipped(nodeLine(rows[i], columns, fit.colour), width));
  }
  if (count == 0 && body > 0) {
    out.push_back(clipped(fit.empty, width));
  }
  for (const std::string& line : footer(ports, footerLines)) out.push_back(clipped(line, width));
  return out;
}

TableView::TableView(std::ostream& out, Mode mode, double everySeconds)
    : out_(out), mode_(mode), every_(everySeconds) {}

std::vector<std::string> TableView::lines(const std::vector<NodeRow>& rows, double elapsed,
                                          long long ticks, const char* empty) {
  std::set<int> blocks;
  size_t fleetWidth = 0;
  for (const NodeRow& r : rows) {
    blocks.insert(r.block);
    fleetWidth = std::max(fleetWidth, scopeText(r).size());
  }
  const bool withBlock = blocks.size() > 1;
  if (fleetWidth > 0) fleetWidth = std::max<size_t>(fleetWidth, 5);
  // Block and fleet, when shown, lead each line.
  const auto lead = [&](const std::string& block, const std::string& fleet) {
    std::string text = withBlock ? block + " " : "";
    if (fleetWidth > 0) {
      const std::string shown = fleet.empty() ? "-" : fleet;
      text += shown + std::string(fleetWidth + 1 - shown.size(), ' ');
    }
    return text;
  };

  std::vector<std::string> out;
  char status[128];
  std::snprintf(status, sizeof status, "t=%.1f s  ticks=%lld  nodes=%zu", elapsed, ticks,
                rows.size());
  out.emplace_back(status);
  out.push_back(row(lead("block", "fleet"), "node", "latitude", "longitude", "utc string", "health",
                    "idle s", "in_map", "pixel_x", "pixel_y"));
  for (const NodeRow& r : rows) {
    const bool mapped = r.mapped;
    out.push_back(row(lead(std::to_string(r.block + 1), scopeText(r)), integerText(r.nodeId),
                      realText(r.latitude, 6), realText(r.longitude, 6), printable(r.utc),
                      integerText(r.health), idleText(r.idle), mapped ? integerText(r.inMap) : "-",
                      mapped ? integerText(r.pixelX) : "-", mapped ? integerText(r.pixelY) : "-"));
  }
  if (rows.empty()) out.emplace_back(empty);
  return out;
}

void TableView::setScreen(int columns, int rows) {
  columns = std::max(1, columns);
  rows = std::max(2, rows);
  if (columns == columns_ && rows == rows_) return;
  columns_ = columns;
  rows_ = rows;
  clearScreen_ = drawnLines_ > 0;
}

void TableView::show(const std::vector<NodeRow>& rows, double elapsed, long long ticks,
                     bool force) {
  if (mode_ == Mode::Off) return;
  if (mode_ == Mode::Live) {
    // The last line stays free: a line written there would scroll the
    // first one away.
    const long long page =
        elapsed > 0.0 && elapsed < 1e15 ? static_cast<long long>(elapsed / kPageSeconds) : 0;
    const Fit fit{columns_, rows_ - 1, page, colour_, empty_};
    const std::vector<std::string> drawing = fitted(rows, ports_, elapsed, ticks, fit);
    if (clearScreen_) {
      // The terminal may have rewrapped the old drawing: start afresh.
      out_ << "\x1b[H\x1b[2J";
      clearScreen_ = false;
    } else if (drawnLines_ > 0) {
      // Back to the first line of the previous drawing, and clear below it.
      out_ << "\x1b[" << drawnLines_ << "F\x1b[J";
    }
    for (const std::string& line : drawing) out_ << line << '\n';
    drawnLines_ = static_cast<int>(drawing.size());
    out_.flush();
    return;
  }
  if (!force && lastShown_ >= 0.0 && elapsed - lastShown_ < every_) return;
  lastShown_ = elapsed;
  const std::vector<std::string> drawing = lines(rows, elapsed, ticks, empty_);
  for (const std::string& line : drawing) out_ << line << '\n';
  out_ << '\n';
  out_.flush();
}

}  // namespace flowhost
