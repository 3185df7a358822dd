#include "outputs/JsonLines.h"

#include "outputs/TextOut.h"

namespace kw_out {

void appendStateFields(std::string* out, const NodeUpdate& u) {
  out->append("\"health\":");
  appendInt(out, u.health);
  out->append(",\"health_text\":\"");
  out->append(healthWord(u.health));
  out->append("\",\"idle\":");
  appendFixed(out, u.idleSec, 3);
  if (u.hasMap) {
    out->append(u.inMap ? ",\"in_map\":true,\"x\":" : ",\"in_map\":false,\"x\":");
    appendInt(out, u.pixelX);
    out->append(",\"y\":");
    appendInt(out, u.pixelY);
  }
}

void appendUnitFields(std::string* out, const NodeUpdate& u) {
  if (!u.site.empty()) {
    out->append("\"site\":");
    appendJsonString(out, u.site);
    out->push_back(',');
  }
  if (!u.fleet.empty()) {
    out->append("\"fleet\":");
    appendJsonString(out, u.fleet);
    out->push_back(',');
  }
  out->append("\"node\":");
  appendInt(out, u.node);
  out->append(",\"name\":");
  if (u.name.empty()) {
    out->push_back('"');
    appendInt(out, u.node);
    out->push_back('"');
  } else {
    appendJsonString(out, u.name);
  }
}

void appendNodeLine(std::string* out, const NodeUpdate& u) {
  out->append("{\"class\":\"NODE\",");
  appendUnitFields(out, u);
  out->append(",\"feed\":");
  appendJsonString(out, u.feed);
  out->append(",\"time\":\"");
  appendIsoTime(out, u.utcSec, u.utcMs);
  out->append("\",\"lat\":");
  appendFixed(out, u.lat, 7);
  out->append(",\"lon\":");
  appendFixed(out, u.lon, 7);
  out->push_back(',');
  appendStateFields(out, u);
  out->append("}\n");
}

void appendEventLine(std::string* out, const Event& e, int64_t utcSec, int utcMs) {
  out->append("{\"class\":\"EVENT\",\"event\":\"");
  out->append(eventWord(e.kind));
  out->append("\",\"time\":\"");
  appendIsoTime(out, utcSec, utcMs);
  out->push_back('"');
  if (!e.site.empty()) {
    out->append(",\"site\":");
    appendJsonString(out, e.site);
  }
  if (!e.fleet.empty()) {
    out->append(",\"fleet\":");
    appendJsonString(out, e.fleet);
  }
  if (e.kind == Event::Kind::PortSilent || e.kind == Event::Kind::PortBack) {
    out->append(",\"port\":");
    appendJsonString(out, e.name);
  } else {
    out->append(",\"node\":");
    appendInt(out, e.node);
    out->append(",\"name\":");
    appendJsonString(out, e.name);
    out->append(",\"feed\":");
    appendJsonString(out, e.feed);
    if (e.kind == Event::Kind::Health) {
      out->append(",\"from\":\"");
      out->append(healthWord(e.fromHealth));
      out->append("\",\"to\":\"");
      out->append(healthWord(e.toHealth));
      out->push_back('"');
    }
  }
  out->append(",\"message\":");
  appendJsonString(out, e.message);
  out->append("}\n");
}

void appendOutputLine(std::string* out, const OutputStateChange& c, int64_t utcSec, int utcMs) {
  out->append("{\"class\":\"OUTPUT\",\"output\":");
  appendJsonString(out, c.output);
  out->append(",\"state\":\"");
  out->append(stateWord(c.state));
  out->append("\",\"time\":\"");
  appendIsoTime(out, utcSec, utcMs);
  out->append("\",\"peer\":");
  appendJsonString(out, c.peer);
  out->append(",\"reason\":");
  appendJsonString(out, c.reason);
  out->append(",\"message\":");
  appendJsonString(out, describe(c));
  out->append("}\n");
}

void appendPortLine(std::string* out, const PortCounters& c, bool silent, int64_t utcSec,
                    int utcMs) {
  out->append("{\"class\":\"PORT\",");
  if (!c.site.empty()) {
    out->append("\"site\":");
    appendJsonString(out, c.site);
    out->push_back(',');
  }
  if (!c.fleet.empty()) {
    out->append("\"fleet\":");
    appendJsonString(out, c.fleet);
    out->push_back(',');
  }
  out->append("\"port\":");
  appendJsonString(out, c.port);
  out->append(",\"time\":\"");
  appendIsoTime(out, utcSec, utcMs);
  out->append("\",\"taken\":");
  appendUnsigned(out, c.taken);
  out->append(",\"dropped_full\":");
  appendUnsigned(out, c.droppedFull);
  out->append(",\"rejected\":");
  appendUnsigned(out, c.rejected);
  out->append(",\"unknown_node\":");
  appendUnsigned(out, c.unknownNode);
  out->append(",\"older\":");
  appendUnsigned(out, c.older);
  out->append(silent ? ",\"silent\":true" : ",\"silent\":false");
  out->append(",\"failure\":");
  appendJsonString(out, c.failure);
  out->append("}\n");
}

void appendSiteLine(std::string* out, const SiteStatus& site, int64_t utcSec, int utcMs) {
  out->append("{\"class\":\"SITE\",\"site\":");
  appendJsonString(out, site.site);
  out->append(",\"time\":\"");
  appendIsoTime(out, utcSec, utcMs);
  out->append("\",\"state\":\"");
  out->append(siteStateWord(site.state));
  out->append("\",\"reason\":");
  appendJsonString(out, site.reason);
  out->append(",\"units\":");
  appendUnsigned(out, site.units);
  out->append(",\"skew\":");
  if (site.skew) {
    appendFixed(out, *site.skew, 3);
  } else {
    out->append("null");
  }
  out->append("}\n");
}

const char* siteStateWord(SiteStatus::State state) {
  switch (state) {
    case SiteStatus::State::Online: return "online";
    case SiteStatus::State::Offline: return "offline";
    case SiteStatus::State::Unknown: return "unknown";
  }
  return "unknown";
}

}  // namespace kw_out
