// Each node's recent track: its fixes in arrival order, at most a set number
// per node (the oldest go first), plus what the track files need to name
// and describe the node. Renders the whole store as GPX 1.1 (one track per
// node) and as an RFC 7946 GeoJSON FeatureCollection (per node a Point at
// its last position and a LineString of its track).
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

  size_t nodeCount() const { return tracks_.size(); }
  // Points kept for `node` (0 when none).
  size_t pointCount(int node) const;
  bool changed() const { return changed_; }
  void clearChanged() { changed_ = false; }

  // Appends the whole store as a GPX 1.1 document.
  void appendGpx(std::string* out) const;
  // Appends the whole store as a GeoJSON FeatureCollection.
  void appendGeoJson(std::string* out) const;

 private:
  struct Point {
    int64_t utcSec;
    int utcMs;
    double lat;
    double lon;
    int health;
  };
  struct Track {
    NodeUpdate last;
    std::deque<Point> points;
  };

  size_t maxPoints_;
  std::map<int, Track> tracks_;
  bool changed_ = false;
};

}  // namespace kw_out
