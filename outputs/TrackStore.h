// Each node's recent track, the one store every form that draws or writes
// tracks reads (GPX, GeoJSON, the track picture): its fixes in arrival
// order, and the health changes that came without a fix (the picture
// colours its dots by health), at most a set number of points per node
// (the oldest go first, counted as dropped), plus what the track files
// need to name and describe the node. Each point keeps its position on the
// map block's pixel grid when the node had one. Renders the fixes as GPX
// 1.1 (one track per node) and as an RFC 7946 GeoJSON FeatureCollection
// (per node a Point at its last position and a LineString of its track).
// A unit is its fleet and number (NodeUpdate.h): a track is named with the
// unit's label, and the GeoJSON features carry its "fleet".
//
// Owns: the points it keeps.
// Thread safety: one thread (the runner's) only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "outputs/NodeUpdate.h"

namespace kw_out {

class TrackStore {
 public:
  static constexpr size_t kDefaultMaxPoints = 2000;

  explicit TrackStore(size_t maxPointsPerNode = kDefaultMaxPoints);

  // Adds the fix of `update` to its node's track (updates without a fix are
  // ignored). The node's name, feed, health and idle time follow the update.
  void add(const NodeUpdate& update);
  // Adds the node's health change without a new fix: a point at its last
  // position that is no fix (the track files leave it out).
  void addState(const NodeUpdate& update);

  size_t nodeCount() const { return tracks_.size(); }
  // Points kept for `unit` (0 when none).
  size_t pointCount(const UnitId& unit) const;
  // Points pushed out by newer ones since the start.
  size_t droppedPoints() const { return dropped_; }
  bool changed() const { return changed_; }
  void clearChanged() { changed_ = false; }

  // Appends the whole store as a GPX 1.1 document.
  void appendGpx(std::string* out) const;
  // Appends the whole store as a GeoJSON FeatureCollection.
  void appendGeoJson(std::string* out) const;

  struct Point {
    int64_t utcSec;
    int utcMs;
    double lat;
    double lon;
    int health;
    bool fix;    // false: a health change without a new fix
    bool onMap;  // the node was on its map block's area: x and y hold
    int x;
    int y;
  };
  struct Track {
    NodeUpdate last;  // the last fix
    std::deque<Point> points;
  };
  // By unit: fleet, then node number.
  const std::map<UnitId, Track>& tracks() const { return tracks_; }

 private:
  void keep(Track* track, const NodeUpdate& update, bool fix);

  size_t maxPoints_;
  std::map<UnitId, Track> tracks_;
  size_t dropped_ = 0;
  bool changed_ = false;
};

}  // namespace kw_out
