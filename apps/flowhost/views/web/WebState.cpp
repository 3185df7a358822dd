#include "apps/flowhost/views/web/WebState.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "host/JGraph.h"
#include "host/JGraphics.h"
#include "host/JLinkObj.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "outputs/NodeUpdate.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

using Json = nlohmann::json;

namespace {

template <typename T>
Json optional(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

}  // namespace

WebState::WebState(const JGraph& graph) : graph_(graph) {
  for (int b = 0; b < graph.blockCount(); ++b) {
    if (std::string(graph.block(b)->className()) == JQNV_packet_sniffer_layout::kClassName) {
      sniffers_.push_back(b);
    }
  }
}

Json WebState::graphJson() const {
  int width = 1, height = 1;
  for (int b = 0; b < graph_.blockCount(); ++b) {
    const JRect r = graph_.block(b)->getIExtent(0, 0, 1.0);
    width = std::max(width, r.x + r.width + 20);
    height = std::max(height, r.y + r.height + 20);
  }
  width = std::min(width, 100000);
  height = std::min(height, 100000);
  JGraphics canvas(width, height);
  const_cast<JGraph&>(graph_).paint(canvas, 1.0);
  Json links = Json::array();
  for (int i = 0; i < graph_.linkCount(); ++i) {
    JLinkObj* link = graph_.linkAt(i);
    JModuleObj* source = link->source();
    JModuleObj* target = link->target();
    // Port points are in model units, where the faces are painted at scale 1.
    const JFPoint from = source->outputPoint(link->output(), *link);
    const JFPoint to = target->inputPoint(link->input(), *link);
    links.push_back({from.getX(), from.getY(), to.getX(), to.getY()});
  }
  return Json{{"width", width}, {"height", height}, {"svg", canvas.toSvg()}, {"links", links}};
}

const WebState::MapInfo& WebState::mapInfo(int block) {
  auto found = maps_.find(block);
  if (found != maps_.end()) return found->second;
  JModuleObj* map = graph_.block(block);
  JOutputStream stream;
  map->writeContent(stream);
  MapInfo info;
  for (const JEntry& e : stream.entries()) {
    if (e.kind == JEntry::Kind::Text) {
      const char* text = static_cast<char*>(e.text);
      if (e.key == "ul_latitude")
        info.ul[0] = text;
      else if (e.key == "ul_longitude")
        info.ul[1] = text;
      else if (e.key == "lr_latitude")
        info.lr[0] = text;
      else if (e.key == "lr_longitude")
        info.lr[1] = text;
      else if (e.key == "map_name")
        info.name = text;
    } else if (e.kind == JEntry::Kind::Integer) {
      if (e.key == "pixel_width")
        info.width = e.integer;
      else if (e.key == "pixel_height")
        info.height = e.integer;
    }
  }
  info.key = info.ul[0] + "|" + info.ul[1] + "|" + info.lr[0] + "|" + info.lr[1] + "|" +
             std::to_string(info.width) + "x" + std::to_string(info.height) + "|" + info.name;
  return maps_.emplace(block, std::move(info)).first->second;
}

std::string WebState::take(const std::vector<NodeRow>& rows, const std::vector<PortRow>& ports,
                           double seconds, long long ticks) {
  if (graphText_.empty() || seconds - graphPaintedAt_ >= kGraphRepaint ||
      seconds < graphPaintedAt_) {
    graphText_ = graphJson().dump(-1, ' ', false, Json::error_handler_t::replace);
    graphPaintedAt_ = seconds;
  }
  Json state;
  state["t"] = seconds;
  state["ticks"] = ticks;
  Json rowList = Json::array();
  Json maps = Json::array();
  std::map<std::string, size_t> mapIndex;  // by corners, size and name
  tracks_.resize(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    rowList.push_back(rowJson(rows[i]));
    if (!rows[i].mapped || rows[i].mapBlock < 0) continue;
    const MapInfo& info = mapInfo(rows[i].mapBlock);
    auto found = mapIndex.find(info.key);
    if (found == mapIndex.end()) {
      found = mapIndex.emplace(info.key, maps.size()).first;
      maps.push_back(mapJson(info));
    }
    maps[found->second]["nodes"].push_back(mapNodeJson(rows[i], &tracks_[i]));
  }
  state["maps"] = maps;
  state["rows"] = rowList;
  state["ports"] = portsJson(ports);
  // A name or list line that is not UTF-8 must not end the run: such bytes
  // are shown as U+FFFD. The keys come out sorted, "graph" first: the
  // painted graph's text goes in front of the rest as it is, not parsed and
  // written again.
  const std::string text = state.dump(-1, ' ', false, Json::error_handler_t::replace);
  return "{\"graph\":" + graphText_ + "," + text.substr(1);
}

Json WebState::rowJson(const NodeRow& row) {
  Json json = {{"name", row.label()},
               {"node", optional(row.nodeId)},
               {"feed", row.feed},
               {"lat", optional(row.latitude)},
               {"lon", optional(row.longitude)},
               {"utc", optional(row.utc)},
               {"health", optional(row.health)},
               {"idle", optional(row.idle)},
               {"inMap", optional(row.inMap)},
               {"x", optional(row.pixelX)},
               {"y", optional(row.pixelY)}};
  if (!row.fleet.empty()) json["fleet"] = row.fleet;
  return json;
}

Json WebState::mapJson(const MapInfo& info) {
  return {{"name", info.name},
          {"ul", {info.ul[0], info.ul[1]}},
          {"lr", {info.lr[0], info.lr[1]}},
          {"width", std::max(1LL, info.width)},
          {"height", std::max(1LL, info.height)},
          {"nodes", Json::array()}};
}

// A node on its map, with its recent track (kept in *track).
Json WebState::mapNodeJson(const NodeRow& row, Track* track) {
  const bool onMap = row.inMap.value_or(0) != 0 && row.pixelX && row.pixelY;
  if (onMap) {
    const std::pair<int, int> point{*row.pixelX, *row.pixelY};
    if (track->points.empty() || track->points.back() != point) track->points.push_back(point);
    while (track->points.size() > kTrackPoints) track->points.pop_front();
  }
  Json points = Json::array();
  for (const auto& [x, y] : track->points) points.push_back({x, y});
  return {{"name", row.label()},
          {"x", onMap ? Json(*row.pixelX) : Json(nullptr)},
          {"y", onMap ? Json(*row.pixelY) : Json(nullptr)},
          {"health", optional(row.health)},
          {"track", points}};
}

Json WebState::portsJson(const std::vector<PortRow>& ports) const {
  std::map<int, int> snifferNumber;  // graph index to 1, 2, ...
  for (int block : sniffers_) snifferNumber.emplace(block, snifferNumber.size() + 1);
  Json portList = Json::array();
  for (const PortRow& port : ports) {
    const JFeedPortStatus& s = port.stats;
    const auto number = snifferNumber.find(port.block);
    portList.push_back({{"block", number != snifferNumber.end() ? number->second : port.block + 1},
                        {"name", kw_out::unitLabel(port.fleet, s.name)},
                        {"group", s.group},
                        {"port", s.port},
                        {"taken", s.takenIn},
                        {"dropped", s.droppedFull},
                        {"rejected", s.rejected},
                        {"unknown", s.unknownNode},
                        {"older", s.older},
                        {"problem", s.setupError}});
  }
  return portList;
}

}  // namespace flowhost
