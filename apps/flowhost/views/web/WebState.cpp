#include "apps/flowhost/views/web/WebState.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

#include "geogrid/JGeoGridObj.h"
#include "geogrid/parse_coordinate.h"
#include "host/JGraph.h"
#include "host/JGraphics.h"
#include "host/JLinkObj.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "outputs/TextOut.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

using Json = nlohmann::json;
using kw_out::appendInt;

namespace {

// A map block's stored corners and name, read through its own storage.
WebArea areaOf(JModuleObj* map) {
  JOutputStream stream;
  map->writeContent(stream);
  WebArea area;
  for (const JEntry& e : stream.entries()) {
    if (e.kind != JEntry::Kind::Text) continue;
    const char* text = static_cast<char*>(e.text);
    // Corner texts are degrees as written (the map block's own reading).
    const double degrees = parse_coordinate(text) / 1e5;
    if (e.key == "ul_latitude")
      area.north = degrees;
    else if (e.key == "ul_longitude")
      area.west = degrees;
    else if (e.key == "lr_latitude")
      area.south = degrees;
    else if (e.key == "lr_longitude")
      area.east = degrees;
    else if (e.key == "map_name")
      area.name = text;
  }
  return area;
}

void appendMapFlag(std::string* out, const WebPosition& p) {
  out->append(!p.heard || !p.hasMap ? "null" : p.inMap ? "1" : "0");
}

int mapFlag(const WebPosition& p) { return !p.heard || !p.hasMap ? -1 : p.inMap ? 1 : 0; }

// Starts the delta's list `name` the first time, else separates.
void listItem(std::string* delta, const char* name, bool* started) {
  if (!*started) {
    delta->append(",\"").append(name).append("\":[");
    *started = true;
  } else {
    delta->push_back(',');
  }
}

void endList(std::string* delta, bool started) {
  if (started) delta->push_back(']');
}

}  // namespace

WebState::WebState(const JGraph& graph, std::string siteJson) : graph_(graph) {
  for (int b = 0; b < graph.blockCount(); ++b) {
    if (std::string(graph.block(b)->className()) == JQNV_packet_sniffer_layout::kClassName)
      sniffers_.push_back(b);
  }
  auto first = std::make_shared<WebSnapshot>();
  first->site = std::make_shared<const std::string>(std::move(siteJson));
  first->units = std::make_shared<const std::vector<WebUnit>>();
  first->areas = std::make_shared<const std::vector<WebArea>>(areasOf(graph));
  first->ports = std::make_shared<const std::vector<WebPort>>();
  first->outputs = std::make_shared<const std::vector<WebOutput>>();
  first->events = std::make_shared<const std::deque<WebEvent>>();
  first->sites = std::make_shared<const std::vector<WebSite>>();
  ports_ = first->ports;
  sites_ = first->sites;
  last_ = std::move(first);
}

std::vector<WebArea> WebState::areasOf(const JGraph& graph) {
  std::vector<WebArea> areas;
  for (int b = 0; b < graph.blockCount(); ++b) {
    JModuleObj* block = graph.block(b);
    if (std::string(block->className()) != JGeoGridObj::kClassName) continue;
    WebArea area = areaOf(block);
    if (std::find(areas.begin(), areas.end(), area) == areas.end())
      areas.push_back(std::move(area));
  }
  return areas;
}

std::shared_ptr<const WebSnapshot> WebState::tick(const kw_out::OutputTick& tick, double seconds,
                                                  long long ticks, std::string* delta) {
  auto next = std::make_shared<WebSnapshot>(*last_);
  next->seq = last_->seq + 1;
  next->t = seconds;
  next->ticks = ticks;
  next->wallMs = tick.utcSec * 1000 + tick.utcMs;
  std::string body;
  takeUnits(tick, next.get(), &body);
  takeOutputs(tick, next.get(), &body);
  for (const kw_out::Event& event : tick.events) addEvent(next->wallMs, event);
  takeEvents(next.get(), &body);
  if (portsChanged_) {
    next->ports = ports_;
    body.append(",\"ports\":");
    appendPortsJson(&body, *ports_);
    portsChanged_ = false;
  }
  if (sitesChanged_) {
    next->sites = sites_;
    body.append(",\"sites\":");
    appendSitesJson(&body, *sites_);
    sitesChanged_ = false;
  }
  delta->clear();
  if (!body.empty()) {
    delta->append("{\"seq\":");
    kw_out::appendUnsigned(delta, next->seq);
    delta->append(",\"t\":");
    kw_out::appendFixed(delta, seconds, 3);
    delta->append(",\"ticks\":");
    appendInt(delta, ticks);
    delta->append(",\"wall\":");
    appendInt(delta, next->wallMs);
    delta->append(body).push_back('}');
  }
  last_ = next;
  return next;
}

// The units: who they are (rarely changes), and where and how they are.
void WebState::takeUnits(const kw_out::OutputTick& tick, WebSnapshot* next, std::string* delta) {
  const std::vector<kw_out::NodeUpdate>& nodes = tick.nodes;
  const std::vector<WebUnit>& before = *last_->units;
  std::vector<WebUnit> units(nodes.size());
  bool identityChanged = nodes.size() != before.size();
  std::vector<size_t> renamed;
  for (size_t i = 0; i < nodes.size(); ++i) {
    units[i] = WebUnit{kw_out::unitKey(nodes[i]), kw_out::unitLabel(nodes[i]), nodes[i].node,
                       nodes[i].feed};
    if (i < before.size() && !(units[i] == before[i])) renamed.push_back(i);
  }
  if (identityChanged || !renamed.empty())
    next->units = std::make_shared<const std::vector<WebUnit>>(std::move(units));
  if (identityChanged) {
    delta->append(",\"units\":[");
    for (size_t i = 0; i < next->units->size(); ++i) {
      if (i != 0) delta->push_back(',');
      delta->push_back('[');
      appendUnitJson(delta, (*next->units)[i]);
      delta->push_back(']');
    }
    delta->push_back(']');
  } else if (!renamed.empty()) {
    bool started = false;
    for (const size_t i : renamed) {
      listItem(delta, "f", &started);
      delta->push_back('[');
      appendInt(delta, static_cast<int64_t>(i));
      delta->push_back(',');
      appendUnitJson(delta, (*next->units)[i]);
      delta->push_back(']');
    }
    endList(delta, started);
  }

  next->positions.resize(nodes.size());
  const std::vector<WebPosition>& was = last_->positions;
  std::string health, map;
  bool healthStarted = false, mapStarted = false, fixStarted = false;
  std::vector<bool> fresh(nodes.size(), false);
  for (const size_t i : tick.fresh) fresh[i] = true;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const kw_out::NodeUpdate& u = nodes[i];
    WebPosition& p = next->positions[i];
    const WebPosition old = i < was.size() ? was[i] : WebPosition{false, 0, 0, 0, 0, -1};
    p.heard = kw_out::hasFix(u);
    p.health = u.health;
    if (p.heard) {
      p.lat = u.lat;
      p.lon = u.lon;
      p.utcSec = u.utcSec;
      p.utcMs = u.utcMs;
      p.idle = u.idleSec;
      p.hasMap = u.hasMap;
      p.inMap = u.inMap;
      p.x = u.pixelX;
      p.y = u.pixelY;
    }
    if (p.heard && (fresh[i] || !old.heard || old.lat != p.lat || old.lon != p.lon)) {
      listItem(delta, "p", &fixStarted);
      delta->push_back('[');
      appendInt(delta, static_cast<int64_t>(i));
      delta->push_back(',');
      appendDegrees(delta, p.lat);
      delta->push_back(',');
      appendDegrees(delta, p.lon);
      delta->push_back(']');
    }
    if (p.health != old.health) {
      listItem(&health, "h", &healthStarted);
      health.push_back('[');
      appendInt(&health, static_cast<int64_t>(i));
      health.push_back(',');
      appendInt(&health, p.health);
      health.push_back(']');
    }
    if (mapFlag(p) != mapFlag(old)) {
      listItem(&map, "m", &mapStarted);
      map.push_back('[');
      appendInt(&map, static_cast<int64_t>(i));
      map.push_back(',');
      appendMapFlag(&map, p);
      map.push_back(']');
    }
  }
  endList(delta, fixStarted);
  endList(&health, healthStarted);
  endList(&map, mapStarted);
  delta->append(health).append(map);
}

// The outputs' states, in the order they first told one.
void WebState::takeOutputs(const kw_out::OutputTick& tick, WebSnapshot* next, std::string* delta) {
  if (tick.outputStates.empty()) return;
  std::vector<WebOutput> outputs = *last_->outputs;
  for (const kw_out::OutputStateChange& change : tick.outputStates) {
    WebOutput line{change.output, kw_out::stateWord(change.state), change.reason, change.peer};
    auto same = std::find_if(outputs.begin(), outputs.end(),
                             [&](const WebOutput& o) { return o.name == change.output; });
    if (same == outputs.end())
      outputs.push_back(std::move(line));
    else
      *same = std::move(line);
  }
  next->outputs = std::make_shared<const std::vector<WebOutput>>(std::move(outputs));
  delta->append(",\"outputs\":");
  appendOutputsJson(delta, *next->outputs);
}

void WebState::sites(const kw_out::SiteReport& report) {
  std::vector<WebSite> sites;
  sites.reserve(report.sites.size());
  for (const kw_out::SiteStatus& s : report.sites) {
    sites.push_back(WebSite{s.site, kw_out::siteStateWord(s.state), s.reason, s.units, s.skew});
  }
  const int64_t wallMs = report.utcSec * 1000 + report.utcMs;
  for (const size_t i : report.changed) {
    const kw_out::SiteStatus& s = report.sites[i];
    newEvents_.push_back(WebEvent{wallMs, "site",
                                  "site " + s.site + " " + kw_out::siteStateWord(s.state) +
                                      (s.reason.empty() ? std::string() : " (" + s.reason + ")")});
  }
  // Skews move by milliseconds: only a change of a tenth of a second or
  // more (or of anything else) is sent.
  bool same = sites.size() == sites_->size();
  for (size_t i = 0; same && i < sites.size(); ++i) {
    const WebSite& a = sites[i];
    const WebSite& b = (*sites_)[i];
    same = a.name == b.name && a.state == b.state && a.reason == b.reason && a.units == b.units &&
           a.skew.has_value() == b.skew.has_value() &&
           (!a.skew || std::fabs(*a.skew - *b.skew) < 0.1);
  }
  if (same) return;
  sites_ = std::make_shared<const std::vector<WebSite>>(std::move(sites));
  sitesChanged_ = true;
}

void WebState::addEvent(int64_t wallMs, const kw_out::Event& event) {
  newEvents_.push_back(WebEvent{wallMs, kw_out::eventWord(event.kind), event.message});
}

void WebState::takeEvents(WebSnapshot* next, std::string* delta) {
  if (newEvents_.empty()) return;
  auto events = std::make_shared<std::deque<WebEvent>>(*last_->events);
  delta->append(",\"ev\":[");
  for (size_t i = 0; i < newEvents_.size(); ++i) {
    if (i != 0) delta->push_back(',');
    appendEventJson(delta, newEvents_[i]);
    events->push_back(std::move(newEvents_[i]));
  }
  delta->push_back(']');
  while (events->size() > kEvents) events->pop_front();
  next->events = std::move(events);
  newEvents_.clear();
}

void WebState::ports(const std::vector<PortRow>& rows, const kw_out::OutputPorts& report) {
  std::map<int, int> snifferNumber;  // graph index to 1, 2, ...
  for (int block : sniffers_) snifferNumber.emplace(block, snifferNumber.size() + 1);
  std::vector<WebPort> ports;
  ports.reserve(rows.size());
  for (const PortRow& row : rows) {
    const JFeedPortStatus& s = row.stats;
    const auto number = snifferNumber.find(row.block);
    kw_out::PortCounters port;  // the port as the outputs name it: fleet and name
    port.site = row.site;
    port.fleet = row.fleet;
    port.port = s.name;
    ports.push_back(WebPort{number != snifferNumber.end() ? number->second : row.block + 1,
                            kw_out::portLabel(port), s.group, s.port, s.takenIn, s.droppedFull,
                            s.rejected, s.unknownNode, s.older, s.setupError,
                            report.tracker.portSilent(port)});
  }
  const int64_t wallMs = report.utcSec * 1000 + report.utcMs;
  for (const kw_out::Event& event : report.events) addEvent(wallMs, event);
  if (ports != *ports_) {
    ports_ = std::make_shared<const std::vector<WebPort>>(std::move(ports));
    portsChanged_ = true;
  }
}

std::string WebState::graphJson() const {
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
    // Port points are in model units, where the faces are painted at scale 1.
    const JFPoint from = link->source()->outputPoint(link->output(), *link);
    const JFPoint to = link->target()->inputPoint(link->input(), *link);
    links.push_back({from.getX(), from.getY(), to.getX(), to.getY()});
  }
  // A name that is not UTF-8 must not end the run: such bytes become U+FFFD.
  return Json{{"width", width}, {"height", height}, {"svg", canvas.toSvg()}, {"links", links}}.dump(
      -1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace flowhost
