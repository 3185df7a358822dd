#include "apps/flowhost/run/NodeTable.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "apps/flowhost/document/SnifferFleet.h"
#include "geogrid/JGeoGridObj.h"
#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JModuleObj.h"
#include "host/JRealData.h"
#include "host/JStringData.h"
#include "outputs/NodeUpdate.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

std::string NodeRow::label() const {
  if (!name.empty()) return kw_out::unitLabel(site, fleet, name);
  return kw_out::unitLabel(site, fleet, nodeId ? "node " + std::to_string(*nodeId) : "node ?");
}

namespace {

using Sniffer = JQNV_packet_sniffer_layout;

constexpr int kMaxHops = 8;

bool isClass(const JModuleObj* block, const char* name) {
  return block != nullptr && block->className() != nullptr &&
         std::strcmp(block->className(), name) == 0;
}

std::optional<int> readInteger(JModuleObj* block, int output) {
  int value = 0;
  JLinkObj link(block, output, nullptr, 0);
  if (!link.access(JIntegerData(value))) return std::nullopt;
  return value;
}

std::optional<double> readReal(JModuleObj* block, int output) {
  double value = 0.0;
  JLinkObj link(block, output, nullptr, 0);
  if (!link.access(JRealData(value))) return std::nullopt;
  return value;
}

std::optional<std::string> readText(JModuleObj* block, int output) {
  JString value;
  JLinkObj link(block, output, nullptr, 0);
  if (!link.access(JStringData(value))) return std::nullopt;
  return std::string(static_cast<char*>(value));
}

}  // namespace

bool NodeTable::feedingOutput(JModuleObj* block, int input, JModuleObj** sniffer, int* output) {
  JLinkObj* link = block->inputSet(input).at(0);
  for (int hop = 0; link != nullptr && hop < kMaxHops; ++hop) {
    JModuleObj* source = link->source();
    if (source == nullptr) return false;
    if (isClass(source, Sniffer::kClassName)) {
      *sniffer = source;
      *output = link->output();
      return true;
    }
    link = source->inputSet(0).at(0);
    if (link == nullptr) link = source->inputSet(1).at(0);
  }
  return false;
}

NodeTable::NodeTable(const JGraph& graph) {
  for (int b = 0; b < graph.blockCount(); ++b) {
    const JModuleObj* block = graph.block(b);
    if (isClass(block, Sniffer::kClassName)) {
      fleets_.push_back(fleetOfLabel(static_cast<char*>(block->getLabel())));
    }
  }
  for (int b = 0; b < graph.blockCount(); ++b) {
    JModuleObj* block = graph.block(b);
    if (!isClass(block, Sniffer::kClassName)) continue;
    const std::string* fleet = &fleets_[static_cast<size_t>(sniffers_)];
    ++sniffers_;
    snifferBlocks_.emplace_back(b, block);
    // A document may store a larger count than the sniffer keeps nodes; the
    // extra groups hold no node, and the table shows no more.
    const int groups =
        std::clamp(Sniffer::nodeOf(block->ogm), 0, static_cast<int>(Sniffer::kMaxNodes));
    const JFeedStatus* status = JFeedStatus::of(block);
    for (int i = 0; i < groups; ++i) nodes_.push_back(Node{block, status, fleet, b, i});
  }
  for (int b = 0; b < graph.blockCount(); ++b) {
    JModuleObj* block = graph.block(b);
    if (!isClass(block, JGeoGridObj::kClassName)) continue;
    for (int input = 0; input < 2; ++input) {
      JModuleObj* sniffer = nullptr;
      int output = 0;
      if (!feedingOutput(block, input, &sniffer, &output)) continue;
      for (Node& node : nodes_) {
        if (node.sniffer == sniffer && node.index == Sniffer::nodeOf(output) &&
            node.map == nullptr) {
          node.map = block;
          node.mapBlock = b;
        }
      }
      break;
    }
  }
}

std::vector<NodeRow> NodeTable::read() const {
  std::vector<NodeRow> rows;
  rows.reserve(nodes_.size());
  const JModuleObj* namedFor = nullptr;
  std::vector<std::string> names;
  std::string allNames;
  for (const Node& node : nodes_) {
    if (node.sniffer != namedFor) {
      namedFor = node.sniffer;
      names = portNames(node.status);
      allNames.clear();
      for (const std::string& name : names) allNames += (allNames.empty() ? "" : ",") + name;
    }
    NodeRow row;
    row.block = node.block;
    row.node = node.index;
    row.fleet = *node.fleet;
    if (node.status != nullptr) {
      const char* name = node.status->feedNodeName(node.index);
      row.name = name != nullptr ? name : "";
      row.heard = node.status->feedNodeHeard(node.index);
      // The port its last packet came on; before any, every port it may come on.
      const int port = node.status->feedNodePort(node.index);
      row.feed = port >= 0 && port < static_cast<int>(names.size())
                     ? names[static_cast<size_t>(port)]
                     : allNames;
    }
    auto output = [&node](Sniffer::Kind kind) { return Sniffer::output(node.index, kind); };
    row.nodeId = readInteger(node.sniffer, output(Sniffer::kNodeId));
    row.health = readInteger(node.sniffer, output(Sniffer::kHealth));
    row.idle = readReal(node.sniffer, output(Sniffer::kIdleTime));
    row.mapped = node.map != nullptr;
    row.mapBlock = node.mapBlock;
    if (row.heard) {
      row.latitude = readReal(node.sniffer, output(Sniffer::kLatitude));
      row.longitude = readReal(node.sniffer, output(Sniffer::kLongitude));
      row.utc = readText(node.sniffer, output(Sniffer::kUtcString));
      row.utcSec = readInteger(node.sniffer, output(Sniffer::kUtcSec));
      row.utcMs = readInteger(node.sniffer, output(Sniffer::kUtcMs));
      if (node.map != nullptr) {
        row.inMap = readInteger(node.map, 0);
        row.pixelX = readInteger(node.map, 1);
        row.pixelY = readInteger(node.map, 2);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// Sniffers that list the same port (name, group, port and interface) share
// its reception, each counting its own share: their rows become one, the
// first sniffer's, with the counts summed, so each datagram counts once.
std::vector<PortRow> NodeTable::ports() const {
  std::vector<PortRow> rows;
  // A fleet's rows stay its own: two fleets that list one port each show
  // their share of it.
  using Key = std::tuple<std::string, std::string, std::string, int, std::string>;
  std::map<Key, std::pair<size_t, int>> seen;  // row, the last block merged into it
  for (size_t b = 0; b < snifferBlocks_.size(); ++b) {
    const auto& [index, block] = snifferBlocks_[b];
    const JFeedStatus* status = JFeedStatus::of(block);
    const int count = status != nullptr ? status->feedPortCount() : 0;
    for (int p = 0; p < count; ++p) {
      PortRow row;
      row.block = index;
      row.fleet = fleets_[b];
      if (!status->feedPortStatus(p, &row.stats)) continue;
      const JFeedPortStatus& s = row.stats;
      const Key key{row.fleet, s.name, s.group, s.port, s.interface};
      const auto [at, fresh] = seen.try_emplace(key, rows.size(), index);
      if (fresh || at->second.second == index) {
        rows.push_back(std::move(row));
        continue;
      }
      at->second.second = index;
      JFeedPortStatus& into = rows[at->second.first].stats;
      into.takenIn += s.takenIn;
      into.droppedFull += s.droppedFull;
      into.rejected += s.rejected;
      into.unknownNode += s.unknownNode;
      into.older += s.older;
      if (into.setupError.empty()) into.setupError = s.setupError;
    }
  }
  return rows;
}

// The names of the sniffer's ports, in list order.
std::vector<std::string> NodeTable::portNames(const JFeedStatus* status) {
  std::vector<std::string> names;
  if (status == nullptr) return names;
  JFeedPortStatus stats;
  for (int p = 0; p < status->feedPortCount(); ++p) {
    if (!status->feedPortStatus(p, &stats)) break;
    names.push_back(stats.name);
  }
  return names;
}

JModuleObj* NodeTable::firstMap() const {
  for (const Node& node : nodes_) {
    if (node.map != nullptr) return node.map;
  }
  return nullptr;
}

}  // namespace flowhost
