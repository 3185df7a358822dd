#include "outputs/TrackStore.h"

#include <algorithm>

#include "outputs/JsonLines.h"
#include "outputs/TextOut.h"

namespace kw_out {

TrackStore::TrackStore(size_t maxPointsPerNode)
    : maxPoints_(maxPointsPerNode > 0 ? maxPointsPerNode : 1) {}

void TrackStore::add(const NodeUpdate& update) {
  if (!hasFix(update)) return;
  Track& t = tracks_[unitId(update)];
  t.last = update;
  keep(&t, update, true);
}

void TrackStore::addState(const NodeUpdate& update) {
  const auto found = tracks_.find(unitId(update));
  if (found == tracks_.end() || !hasFix(update)) return;
  keep(&found->second, update, false);
}

void TrackStore::keep(Track* track, const NodeUpdate& u, bool fix) {
  const bool onMap = u.hasMap && u.inMap;
  track->points.push_back(
      {u.utcSec, u.utcMs, u.lat, u.lon, u.health, fix, onMap, u.pixelX, u.pixelY});
  while (track->points.size() > maxPoints_) {
    track->points.pop_front();
    ++dropped_;
  }
  changed_ = true;
}

size_t TrackStore::pointCount(const UnitId& unit) const {
  const auto it = tracks_.find(unit);
  return it == tracks_.end() ? 0 : it->second.points.size();
}

void TrackStore::appendGpx(std::string* out) const {
  out->append(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"flowhost\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
      "xmlns:kw=\"urn:flowhost:gps-feed:1\">\n");
  for (const auto& [unit, t] : tracks_) {
    out->append(" <trk>\n  <name>");
    appendXmlText(out, unitLabel(t.last));
    out->append("</name>\n  <src>");
    appendXmlText(out, t.last.feed);
    out->append("</src>\n  <number>");
    appendInt(out, unit.node);
    out->append("</number>\n  <trkseg>\n");
    for (const Point& p : t.points) {
      if (!p.fix) continue;
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
  const auto properties = [&](const Track& t, const char* kind) {
    out->append(",\"properties\":{\"kind\":\"");
    out->append(kind);
    out->append("\",");
    appendUnitFields(out, t.last);
    out->append(",\"feed\":");
    appendJsonString(out, t.last.feed);
    out->append(",\"time\":\"");
    appendIsoTime(out, t.last.utcSec, t.last.utcMs);
    out->append("\",");
    appendStateFields(out, t.last);
    out->append("}}");
  };
  const auto position = [&](double lon, double lat) {
    out->push_back('[');
    appendFixed(out, lon, 7);
    out->push_back(',');
    appendFixed(out, lat, 7);
    out->push_back(']');
  };
  for (const auto& [unit, t] : tracks_) {
    if (!first) out->push_back(',');
    first = false;
    out->append("\n{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":");
    position(t.last.lon, t.last.lat);
    out->push_back('}');
    properties(t, "position");
    // A LineString needs two or more positions.
    const auto fixes =
        std::count_if(t.points.begin(), t.points.end(), [](const Point& p) { return p.fix; });
    if (fixes >= 2) {
      out->append(
          ",\n{\"type\":\"Feature\",\"geometry\":{\"type\":\"LineString\",\"coordinates\":[");
      bool firstPoint = true;
      for (const Point& p : t.points) {
        if (!p.fix) continue;
        if (!firstPoint) out->push_back(',');
        firstPoint = false;
        position(p.lon, p.lat);
      }
      out->append("]}");
      properties(t, "track");
    }
  }
  out->append("\n]}\n");
}

}  // namespace kw_out
