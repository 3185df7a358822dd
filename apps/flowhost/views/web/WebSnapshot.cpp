#include "apps/flowhost/views/web/WebSnapshot.h"

#include "outputs/TextOut.h"

namespace flowhost {

using kw_out::appendFixed;
using kw_out::appendInt;
using kw_out::appendJsonString;
using kw_out::appendUnsigned;

namespace {

// "1.50" is "1.5" and "2.00" is "2": a fixed-point text without the zeros
// that say nothing.
void appendTrimmed(std::string* out, double value, int decimals) {
  const size_t start = out->size();
  appendFixed(out, value, decimals);
  if (out->find('.', start) == std::string::npos) return;
  while (out->back() == '0') out->pop_back();
  if (out->back() == '.') out->pop_back();
}

void appendMap(std::string* out, const WebPosition& p) {
  out->append(!p.heard || !p.hasMap ? "null" : p.inMap ? "1" : "0");
}

}  // namespace

void appendDegrees(std::string* out, double degrees) { appendTrimmed(out, degrees, 6); }

void appendUnitJson(std::string* out, const WebUnit& unit) {
  appendJsonString(out, unit.key);
  out->push_back(',');
  appendJsonString(out, unit.name);
  out->push_back(',');
  appendInt(out, unit.node);
  out->push_back(',');
  appendJsonString(out, unit.feed);
}

void appendPortsJson(std::string* out, const std::vector<WebPort>& ports) {
  out->push_back('[');
  for (size_t i = 0; i < ports.size(); ++i) {
    const WebPort& p = ports[i];
    if (i != 0) out->push_back(',');
    out->append("{\"block\":");
    appendInt(out, p.block);
    out->append(",\"name\":");
    appendJsonString(out, p.name);
    out->append(",\"group\":");
    appendJsonString(out, p.group);
    out->append(",\"port\":");
    appendInt(out, p.port);
    const std::pair<const char*, uint64_t> counters[] = {{"taken", p.taken},
                                                         {"dropped", p.dropped},
                                                         {"rejected", p.rejected},
                                                         {"unknown", p.unknown},
                                                         {"older", p.older}};
    for (const auto& [name, value] : counters) {
      out->append(",\"").append(name).append("\":");
      appendUnsigned(out, value);
    }
    out->append(",\"problem\":");
    appendJsonString(out, p.problem);
    out->append(p.silent ? ",\"silent\":true}" : ",\"silent\":false}");
  }
  out->push_back(']');
}

void appendOutputsJson(std::string* out, const std::vector<WebOutput>& outputs) {
  out->push_back('[');
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (i != 0) out->push_back(',');
    out->push_back('[');
    appendJsonString(out, outputs[i].name);
    out->push_back(',');
    appendJsonString(out, outputs[i].state);
    out->push_back(',');
    appendJsonString(out, outputs[i].reason);
    out->push_back(',');
    appendJsonString(out, outputs[i].peer);
    out->push_back(']');
  }
  out->push_back(']');
}

void appendSitesJson(std::string* out, const std::vector<WebSite>& sites) {
  out->push_back('[');
  for (size_t i = 0; i < sites.size(); ++i) {
    const WebSite& s = sites[i];
    if (i != 0) out->push_back(',');
    out->push_back('[');
    appendJsonString(out, s.name);
    out->push_back(',');
    appendJsonString(out, s.state);
    out->push_back(',');
    appendJsonString(out, s.reason);
    out->push_back(',');
    appendUnsigned(out, s.units);
    out->push_back(',');
    if (s.skew) {
      appendFixed(out, *s.skew, 3);
    } else {
      out->append("null");
    }
    out->push_back(']');
  }
  out->push_back(']');
}

void appendEventJson(std::string* out, const WebEvent& event) {
  out->push_back('[');
  appendInt(out, event.wallMs);
  out->push_back(',');
  appendJsonString(out, event.kind);
  out->push_back(',');
  appendJsonString(out, event.text);
  out->push_back(']');
}

std::string WebSnapshot::stateJson() const {
  std::string out;
  const size_t count = units ? units->size() : 0;
  out.reserve(256 + count * 80);
  out.append("{\"seq\":");
  appendUnsigned(&out, seq);
  out.append(",\"t\":");
  appendTrimmed(&out, t, 3);
  out.append(",\"ticks\":");
  appendInt(&out, ticks);
  out.append(",\"wall\":");
  appendInt(&out, wallMs);
  out.append(",\"site\":").append(site ? *site : std::string("{}"));
  out.append(",\"units\":[");
  for (size_t i = 0; i < count; ++i) {
    const WebPosition& p = positions[i];
    if (i != 0) out.push_back(',');
    out.push_back('[');
    appendUnitJson(&out, (*units)[i]);
    out.push_back(',');
    appendInt(&out, p.health);
    if (p.heard) {
      out.push_back(',');
      appendDegrees(&out, p.lat);
      out.push_back(',');
      appendDegrees(&out, p.lon);
      out.push_back(',');
      appendTrimmed(&out, p.idle, 2);
    } else {
      out.append(",null,null,null");
    }
    out.push_back(',');
    appendMap(&out, p);
    out.push_back(']');
  }
  out.append("],\"areas\":[");
  for (size_t i = 0; areas && i < areas->size(); ++i) {
    const WebArea& a = (*areas)[i];
    if (i != 0) out.push_back(',');
    out.push_back('[');
    appendJsonString(&out, a.name);
    for (const double d : {a.north, a.west, a.south, a.east}) {
      out.push_back(',');
      appendDegrees(&out, d);
    }
    out.push_back(']');
  }
  out.append("],\"ports\":");
  appendPortsJson(&out, ports ? *ports : std::vector<WebPort>());
  out.append(",\"outputs\":");
  appendOutputsJson(&out, outputs ? *outputs : std::vector<WebOutput>());
  out.append(",\"sites\":");
  appendSitesJson(&out, sites ? *sites : std::vector<WebSite>());
  out.append(",\"events\":[");
  bool first = true;
  for (const WebEvent& e : events ? *events : std::deque<WebEvent>()) {
    if (!first) out.push_back(',');
    first = false;
    appendEventJson(&out, e);
  }
  out.append("]}");
  return out;
}

namespace {

// The fields of a unit's row after its identity: lat, lon, utc, health,
// idle, map, x, y.
void appendRowFields(std::string* out, const WebPosition& p) {
  if (p.heard) {
    appendDegrees(out, p.lat);
    out->push_back(',');
    appendDegrees(out, p.lon);
    out->append(",\"");
    kw_out::appendIsoTime(out, p.utcSec, p.utcMs);
    out->append("\",");
  } else {
    out->append("null,null,null,");
  }
  appendInt(out, p.health);
  out->push_back(',');
  if (p.heard)
    appendTrimmed(out, p.idle, 2);
  else
    out->append("null");
  out->push_back(',');
  appendMap(out, p);
  if (p.heard && p.hasMap) {
    out->push_back(',');
    appendInt(out, p.x);
    out->push_back(',');
    appendInt(out, p.y);
  } else {
    out->append(",null,null");
  }
}

}  // namespace

std::string WebSnapshot::rowsJson() const {
  std::string out;
  const size_t count = units ? units->size() : 0;
  out.reserve(64 + count * 120);
  out.append("{\"seq\":");
  appendUnsigned(&out, seq);
  out.append(",\"t\":");
  appendTrimmed(&out, t, 3);
  out.append(",\"rows\":[");
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) out.push_back(',');
    out.push_back('[');
    appendUnitJson(&out, (*units)[i]);
    out.push_back(',');
    appendRowFields(&out, positions[i]);
    out.push_back(']');
  }
  out.append("]}");
  return out;
}

std::string WebSnapshot::unitJson(size_t index) const {
  if (!units || index >= units->size()) return "";
  std::string out = "{\"index\":";
  appendUnsigned(&out, index);
  out.append(",\"t\":");
  appendTrimmed(&out, t, 3);
  out.append(",\"row\":[");
  appendUnitJson(&out, (*units)[index]);
  out.push_back(',');
  appendRowFields(&out, positions[index]);
  out.append("]}");
  return out;
}

}  // namespace flowhost
