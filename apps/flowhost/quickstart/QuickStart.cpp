#include "apps/flowhost/quickstart/QuickStart.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/document/SnifferFleet.h"
#include "feed/list_file.h"
#include "geogrid/JGeoGridObj.h"
#include "host/JDictionary.h"
#include "host/JDocument.h"
#include "host/JEntry.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "outputs/NodeUpdate.h"
#include "platform/terminal_text.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

namespace fs = std::filesystem;
using Layout = JQNV_packet_sniffer_layout;

namespace {

// Where the blocks sit, in model units: one row of converters, map and
// display per node, as in the demo document.
constexpr double kRowHeight = 90.0;
constexpr double kTop = 20.0;

class Entries {
 public:
  Entries& real(const char* key, double value) {
    JEntry e;
    e.key = key;
    e.kind = JEntry::Kind::Real;
    e.real = value;
    dictionary_.add(e);
    return *this;
  }
  Entries& integer(const char* key, long long value) {
    JEntry e;
    e.key = key;
    e.kind = JEntry::Kind::Integer;
    e.integer = value;
    dictionary_.add(e);
    return *this;
  }
  Entries& text(const char* key, const std::string& value) {
    JEntry e;
    e.key = key;
    e.kind = JEntry::Kind::Text;
    e.text = JString(value.c_str());
    dictionary_.add(e);
    return *this;
  }
  Entries& box(double x, double y, double w, double h, const std::string& label) {
    return real("x", x).real("y", y).real("width", w).real("height", h).text("label", label);
  }
  JDictionary& dictionary() { return dictionary_; }

 private:
  JDictionary dictionary_;
};

// Signed degrees as the map block reads them: "36.00000 N".
std::string degreeText(double degrees, char positive, char negative) {
  char text[48];
  std::snprintf(text, sizeof text, "%.5f %c", std::fabs(degrees),
                degrees < 0 ? negative : positive);
  return text;
}

bool number(const std::string& token, double low, double high, double* out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(token.c_str(), &end);
  if (token.empty() || errno != 0 || *end != '\0' || !std::isfinite(v) || v < low || v > high) {
    return false;
  }
  *out = v;
  return true;
}

bool refuse(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

}  // namespace

QuickStart::QuickStart() = default;
QuickStart::~QuickStart() = default;

bool QuickStart::parseMap(const std::string& text, Map* map, std::string* error) {
  std::istringstream in(text);
  std::string ulLat, ulLon, lrLat, lrLon, size, extra;
  in >> ulLat >> ulLon >> lrLat >> lrLon >> size;
  const std::string form = "map '" + text + "' is not \"UL_LAT UL_LON LR_LAT LR_LON WIDTHxHEIGHT\"";
  if (size.empty() || (in >> extra)) return refuse(error, form);
  Map m;
  if (!number(ulLat, -90, 90, &m.ulLatitude) || !number(lrLat, -90, 90, &m.lrLatitude) ||
      !number(ulLon, -180, 180, &m.ulLongitude) || !number(lrLon, -180, 180, &m.lrLongitude)) {
    return refuse(error,
                  form + " (latitudes -90 to 90, longitudes -180 to 180, in signed degrees)");
  }
  const size_t x = size.find('x');
  double w = 0, h = 0;
  if (x == std::string::npos || !number(size.substr(0, x), 1, kMaxMapPixels, &w) ||
      !number(size.substr(x + 1), 1, kMaxMapPixels, &h) || w != std::floor(w) ||
      h != std::floor(h)) {
    return refuse(error, form + " (a pixel size such as 400x400, at most " +
                             std::to_string(kMaxMapPixels) + " a side)");
  }
  if (m.ulLatitude <= m.lrLatitude || m.ulLongitude >= m.lrLongitude) {
    return refuse(error,
                  form + " (the upper left corner must lie north and west of the lower right)");
  }
  m.width = static_cast<int>(w);
  m.height = static_cast<int>(h);
  *map = m;
  return true;
}

int QuickStart::packetBufferSize(int units, double rate) {
  if (!(rate > 0)) return kMaxPacketBuffer;
  const double wanted = std::ceil(units * static_cast<double>(kPacketsPerUnit) / rate * 2.0);
  return static_cast<int>(std::clamp(wanted, double(kMinPacketBuffer), double(kMaxPacketBuffer)));
}

// The graph being put together: blocks made by class name and restored
// from their entries, and the links to make once every block is there.
class QuickStart::Assembly {
 public:
  Assembly() : graph_(std::make_unique<JGraph>()) {}

  // The new block, or nullptr with the reason kept for failure().
  JModuleObj* make(const char* className, Entries& entries) {
    JModuleObj* block = graph_->create(className, &reason_);
    if (block != nullptr) block->readContent(entries.dictionary());
    return block;
  }
  void link(JModuleObj* from, int output, JModuleObj* to, int input) {
    links_.push_back({from, output, to, input});
  }
  bool linkAll() { return graph_->linkAll(links_, &reason_); }
  std::string failure() const { return "quick start: " + reason_; }
  std::unique_ptr<JGraph> take() { return std::move(graph_); }

 private:
  std::unique_ptr<JGraph> graph_;
  std::vector<JGraph::LinkRequest> links_;
  std::string reason_;
};

std::vector<QuickStart::Fleet> QuickStart::fleetsOf(const Settings& settings) {
  if (!settings.fleets.empty()) return settings.fleets;
  return {Fleet{"", settings.nodeFile, settings.portFile}};
}

bool QuickStart::needsPartLists(const Settings& settings) {
  for (const Fleet& fleet : fleetsOf(settings)) {
    NodeListFile list;
    if (list.read(fleet.nodeFile, nullptr) &&
        list.nodes().size() > static_cast<size_t>(kNodesPerSniffer)) {
      return true;
    }
  }
  return false;
}

int QuickStart::nodeCount() const {
  size_t count = 0;
  for (const Built& fleet : fleets_) count += fleet.nodes.nodes().size();
  return static_cast<int>(count);
}

bool QuickStart::readLists(Built* fleet, std::string* error) {
  std::string reason;
  const std::string& nodeFile = fleet->fleet.nodeFile;
  const std::string& portFile = fleet->fleet.portFile;
  if (!fleet->nodes.read(nodeFile, &reason)) return refuse(error, reason);
  if (fleet->nodes.nodes().empty()) {
    return refuse(error, "the node list '" + kw::terminalText(nodeFile) +
                             "' names no node (lines \"<number> [name]\", number 0 to 1000)");
  }
  const kw::PortList ports = kw::readPortList(portFile.c_str());
  if (ports.refused) {
    return refuse(error, kw::listRefusalText("port list", portFile, ports.notes.front()));
  }
  if (ports.entries.empty()) {
    return refuse(error, "the port list '" + kw::terminalText(portFile) +
                             "' names no port (lines \"<name> <group> <port>\")");
  }
  return true;
}

void QuickStart::splitNodeList(const Settings& settings, Built* fleet) {
  const int total = static_cast<int>(fleet->nodes.nodes().size());
  fleet->sniffers = (total + kNodesPerSniffer - 1) / kNodesPerSniffer;
  if (fleet->sniffers <= 1) return;
  fleet->firstPart = static_cast<int>(parts_.size());
  const std::string stem =
      settings.partStem + (fleet->fleet.name.empty() ? "" : "-" + fleet->fleet.name);
  std::error_code ec;
  for (int k = 0; k < fleet->sniffers; ++k) {
    const size_t first = static_cast<size_t>(k) * kNodesPerSniffer;
    const size_t count = std::min<size_t>(kNodesPerSniffer, total - first);
    const fs::path path = fs::absolute(
        fs::path(settings.partFolder) / (stem + "-" + std::to_string(k + 1) + ".nod"), ec);
    parts_.push_back(PartList{
        path.lexically_normal().string(),
        fleet->nodes.partText(first, count,
                              "Nodes " + std::to_string(first + 1) + " to " +
                                  std::to_string(first + count) + " of " + fleet->fleet.nodeFile +
                                  ", for sniffer " + std::to_string(k + 1))});
  }
}

bool QuickStart::build(const Settings& settings, std::string* error) {
  graph_.reset();
  parts_.clear();
  fleets_.clear();
  sniffers_ = 0;
  int rows = 0;
  for (const Fleet& fleet : fleetsOf(settings)) {
    Built built;
    built.fleet = fleet;
    if (!readLists(&built, error)) {
      fleets_.clear();
      parts_.clear();
      return false;
    }
    splitNodeList(settings, &built);
    built.firstSniffer = sniffers_;
    built.firstRow = rows;
    sniffers_ += built.sniffers;
    rows += static_cast<int>(built.nodes.nodes().size());
    fleets_.push_back(std::move(built));
  }

  Assembly assembly;
  Entries clockEntries;
  clockEntries.box(20, kTop, 80, 50, "clock").real("rate", settings.rate);
  JModuleObj* clock = assembly.make("JClockObj", clockEntries);
  Entries onOffEntries;
  onOffEntries.box(20, kTop + 70, 80, 40, "on off").integer("value", 1);
  JModuleObj* onOff = clock != nullptr ? assembly.make("JConstantObj", onOffEntries) : nullptr;
  if (onOff == nullptr) return refuse(error, assembly.failure());
  for (const Built& fleet : fleets_) {
    if (!addSniffers(assembly, settings, fleet, clock, onOff)) {
      return refuse(error, assembly.failure());
    }
  }
  if (!assembly.linkAll()) return refuse(error, assembly.failure());
  graph_ = assembly.take();
  return true;
}

// The fleet's sniffers, each fed by the clock and the constant, with their
// nodes' rows.
bool QuickStart::addSniffers(Assembly& assembly, const Settings& settings, const Built& fleet,
                             JModuleObj* clock, JModuleObj* onOff) {
  std::error_code ec;
  const std::string nodeFile = fs::absolute(fleet.fleet.nodeFile, ec).lexically_normal().string();
  const std::string portFile = fs::absolute(fleet.fleet.portFile, ec).lexically_normal().string();
  const int total = static_cast<int>(fleet.nodes.nodes().size());
  for (int k = 0; k < fleet.sniffers; ++k) {
    const int first = k * kNodesPerSniffer;
    const int count = std::min(kNodesPerSniffer, total - first);
    const int row = fleet.firstRow + first;
    std::string label = fleet.sniffers > 1 ? "sniffer " + std::to_string(k + 1) : "sniffer";
    if (!fleet.fleet.name.empty()) label = fleetLabel(fleet.fleet.name, k + 1, fleet.sniffers);
    Entries e;
    e.box(130, kTop + kRowHeight * row, 120, kRowHeight * count - 10, label)
        .text("node file name",
              fleet.sniffers > 1 ? parts_[static_cast<size_t>(fleet.firstPart + k)].path : nodeFile)
        .text("port file name", portFile)
        .integer("number of nodes", count)
        .integer("MAX packet size", 250)
        .integer("packet buffer size", packetBufferSize(total, settings.rate))
        .real("medium threshold", settings.medium)
        .real("bad threshold", settings.bad);
    JModuleObj* sniffer = assembly.make(Layout::kClassName, e);
    if (sniffer == nullptr) return false;
    assembly.link(clock, 0, sniffer, 0);
    assembly.link(onOff, 0, sniffer, 1);
    for (int j = 0; j < count; ++j) {
      if (!addNodeRow(assembly, settings.map, fleet, sniffer, j, first + j)) return false;
    }
  }
  return true;
}

// One node's row: its latitude and longitude converters, its map block and
// its display, fed by output group `slot` of `sniffer`; `index` is the
// node's place in its fleet's list.
bool QuickStart::addNodeRow(Assembly& assembly, const Map& map, const Built& fleet,
                            JModuleObj* sniffer, int slot, int index) {
  const int row = fleet.firstRow + index;
  const double y = kTop + kRowHeight * row;
  const NodeListFile::Node& node = fleet.nodes.nodes()[static_cast<size_t>(index)];
  const std::string name = kw_out::unitLabel(
      fleet.fleet.name, node.name.empty() ? "node " + std::to_string(node.number) : node.name);
  Entries lat, lon, grid, display;
  lat.box(280, y, 100, 36, "latitude " + std::to_string(row)).text("axis", "latitude");
  lon.box(280, y + 42, 100, 36, "longitude " + std::to_string(row)).text("axis", "longitude");
  grid.box(410, y, 100, 78, "map " + std::to_string(row))
      .text("ul_latitude", degreeText(map.ulLatitude, 'N', 'S'))
      .text("ul_longitude", degreeText(map.ulLongitude, 'E', 'W'))
      .text("lr_latitude", degreeText(map.lrLatitude, 'N', 'S'))
      .text("lr_longitude", degreeText(map.lrLongitude, 'E', 'W'))
      .text("map_name", "units")
      .integer("pixel_width", map.width)
      .integer("pixel_height", map.height);
  display.box(540, y, 200, 80, name).integer("inputs", 9);
  JModuleObj* latitude = assembly.make("JDegreeTextObj", lat);
  JModuleObj* longitude = latitude != nullptr ? assembly.make("JDegreeTextObj", lon) : nullptr;
  JModuleObj* mapBlock =
      longitude != nullptr ? assembly.make(JGeoGridObj::kClassName, grid) : nullptr;
  JModuleObj* shown = mapBlock != nullptr ? assembly.make("JDisplayObj", display) : nullptr;
  if (shown == nullptr) return false;
  assembly.link(sniffer, Layout::output(slot, Layout::kLatitude), latitude, 0);
  assembly.link(sniffer, Layout::output(slot, Layout::kLongitude), longitude, 0);
  assembly.link(latitude, 0, mapBlock, 0);
  assembly.link(longitude, 0, mapBlock, 1);
  const int kinds[] = {Layout::kNodeId,    Layout::kLatitude, Layout::kLongitude,
                       Layout::kUtcString, Layout::kHealth,   Layout::kIdleTime};
  int input = 0;
  for (int kind : kinds) assembly.link(sniffer, Layout::output(slot, kind), shown, input++);
  for (int out = 0; out < 3; ++out) assembly.link(mapBlock, out, shown, input++);
  return true;
}

std::string QuickStart::documentText(const std::string& documentPath) const {
  if (graph_ == nullptr) return "";
  // List names relative to the document's folder, as the runner reads them.
  auto relative = [&documentPath](const JDocument::EntryPlace&, JEntry& entry) {
    const std::string suffix = DocumentFile::kFileNameSuffix;
    if (entry.kind != JEntry::Kind::Text || entry.key.size() < suffix.size() ||
        entry.key.compare(entry.key.size() - suffix.size(), suffix.size(), suffix) != 0) {
      return;
    }
    entry.text =
        JString(DocumentFile::nameFor(documentPath, static_cast<char*>(entry.text)).c_str());
  };
  return JDocument::toText(*graph_, relative);
}

}  // namespace flowhost
