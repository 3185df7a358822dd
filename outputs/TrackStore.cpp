#include "outputs/TrackStore.h"

#include "outputs/TextOut.h"

namespace kw_out {

TrackStore::TrackStore(size_t maxPointsPerNode) : maxPoints_(maxPointsPerNode > 0 ? maxPointsPerNode : 1) {}

void TrackStore::add(const NodeUpdate& update) {
  if (!hasFix(update)) return;
  Track& t = tracks_[update.node];
  t.last = update;
  t.points.push_back({update.utcSec, update.utcMs, update.lat, update.lon, update.health});
  while (t.points.size() > maxPoints_) t.points.pop_front();
  changed_ = true;
}

size_t TrackStore::pointCount(int node) const {
  const auto it = tracks_.find(node);
  return it == tracks_.end() ? 0 : it->second.points.size();
}

void TrackStore::appendGpx(std::string* out) const {
  out->append(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"flowhost\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
      "xmlns:kw=\"urn:flowhost:gps-feed:1\">\n");
  for (const auto& [node, t] : tracks_) {
    out->append(" <trk>\n  <name>");
    appendXmlText(out, displayName(t.last));
    out->append("</name>\n  <src>");
    appendXmlText(out, t.last.feed);
    out->append("</src>\n  <number>");
    appendInt(out, node);
    out->append("</number>\n  <trkseg>\n");
    for (const Point& p : t.points) {
      out->append("   <trkpt lat=\"");
      appendFixed(out, p.lat, 7);
      out->append("\" lon=\"");
      appendFixed(out, p.lon, 7);
      out->append("\"><time>");
      appendIsoTime(out, p.utcSec, p.utcMs);
      out->append("</time><extensions><kw:health>");
      out->append(healthWord(p.health));
      out->append("</kw:health></extensions></trkpt>\n");
    }
    out->append("  </trkseg>\n </trk>\n");
  }
  out->append("</gpx>\n");
}

void TrackStore::appendGeoJson(std::string* out) const {
  out->append("{\"type\":\"FeatureCollection\",\"features\":[");
  bool first = true;
  const auto properties = [&](const Track& t, int node, const char* kind) {
    out->append(",\"properties\":{\"kind\":\"");
    out->append(kind);
    out->append("\",\"node\":");
    appendInt(out, node);
    out->append(",\"name\":");
    appendJsonString(out, displayName(t.last));
    out->append(",\"feed\":");
    appendJsonString(out, t.last.feed);
    out->append(",\"time\":\"");
    appendIsoTime(out, t.last.utcSec, t.last.utcMs);
    out->append("\",\"health\":");
    appendInt(out, t.last.health);
    out->append(",\"health_text\":\"");
    out->append(healthWord(t.last.health));
    out->append("\",\"idle\":");
    appendFixed(out, t.last.idleSec, 3);
    if (t.last.hasMap) {
      out->append(t.last.inMap ? ",\"in_map\":true,\"x\":" : ",\"in_map\":false,\"x\":");
      appendInt(out, t.last.pixelX);
      out->append(",\"y\":");
      appendInt(out, t.last.pixelY);
    }
    out->append("}}");
  };
  const auto position = [&](double lon, double lat) {
    out->push_back('[');
    appendFixed(out, lon, 7);
    out->push_back(',');
    appendFixed(out, lat, 7);
    out->push_back(']');
  };
  for (const auto& [node, t] : tracks_) {
    if (!first) out->push_back(',');
    first = false;
    out->append("\n{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":");
    position(t.last.lon, t.last.lat);
    out->push_back('}');
    properties(t, node, "position");
    // A LineString needs two or more positions.
    if (t.points.size() >= 2) {
      out->append(",\n{\"type\":\"Feature\",\"geometry\":{\"type\":\"LineString\",\"coordinates\":[");
      bool firstPoint = true;
      for (const Point& p : t.points) {
        if (!firstPoint) out->push_back(',');
        firstPoint = false;
        position(p.lon, p.lat);
      }
      out->append("]}");
      properties(t, node, "track");
    }
  }
  out->append("\n]}\n");
}

}  // namespace kw_out
