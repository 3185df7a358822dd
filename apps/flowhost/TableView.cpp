#include "TableView.h"

#include <cstdio>
#include <set>

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

// Control characters would break the table; a text is shown on one line.
std::string printable(const std::optional<std::string>& text) {
  if (!text || text->empty()) return "-";
  std::string out;
  for (char c : *text) out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out.empty() ? "-" : out;
}

std::string row(bool withBlock, const std::string& block, const std::string& node,
                const std::string& latitude, const std::string& longitude, const std::string& utc,
                const std::string& health, const std::string& idle, const std::string& inMap,
                const std::string& x, const std::string& y) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%s%5s %11s %12s  %-23s %6s %9s %7s %7s %7s",
                withBlock ? (block + " ").c_str() : "", node.c_str(), latitude.c_str(),
                longitude.c_str(), utc.c_str(), health.c_str(), idle.c_str(), inMap.c_str(),
                x.c_str(), y.c_str());
  return buffer;
}

}  // namespace

TableView::TableView(std::ostream& out, Mode mode, double everySeconds)
    : out_(out), mode_(mode), every_(everySeconds) {}

std::vector<std::string> TableView::lines(const std::vector<NodeRow>& rows, double elapsed,
                                          long long ticks) {
  std::set<int> blocks;
  for (const NodeRow& r : rows) blocks.insert(r.block);
  const bool withBlock = blocks.size() > 1;

  std::vector<std::string> out;
  char status[128];
  std::snprintf(status, sizeof status, "t=%.1f s  ticks=%lld  nodes=%zu", elapsed, ticks,
                rows.size());
  out.emplace_back(status);
  out.push_back(row(withBlock, "block", "node", "latitude", "longitude", "utc string", "health",
                    "idle s", "in_map", "pixel_x", "pixel_y"));
  for (const NodeRow& r : rows) {
    const bool mapped = r.mapped;
    out.push_back(row(withBlock, std::to_string(r.block + 1), integerText(r.nodeId),
                      realText(r.latitude, 6), realText(r.longitude, 6),
                      printable(r.utc), integerText(r.health), idleText(r.idle),
                      mapped ? integerText(r.inMap) : "-", mapped ? integerText(r.pixelX) : "-",
                      mapped ? integerText(r.pixelY) : "-"));
  }
  if (rows.empty()) out.emplace_back("(no sniffer block with nodes in this document)");
  return out;
}

void TableView::show(const std::vector<NodeRow>& rows, double elapsed, long long ticks,
                     bool force) {
  if (mode_ == Mode::Off) return;
  const std::vector<std::string> drawing = lines(rows, elapsed, ticks);
  if (mode_ == Mode::Live) {
    // Back to the first line of the previous drawing, and clear below it.
    if (drawnLines_ > 0) out_ << "\x1b[" << drawnLines_ << "F\x1b[J";
    for (const std::string& line : drawing) out_ << line << '\n';
    drawnLines_ = static_cast<int>(drawing.size());
    out_.flush();
    return;
  }
  if (!force && lastShown_ >= 0.0 && elapsed - lastShown_ < every_) return;
  lastShown_ = elapsed;
  for (const std::string& line : drawing) out_ << line << '\n';
  out_ << '\n';
  out_.flush();
}

}  // namespace flowhost

