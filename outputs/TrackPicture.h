// TrackPicture: the picture of where the nodes went during a run, as an SVG
// document, drawn from the shared track store. The map is a rectangle of
// the map block's pixel width and height; each node's pixel positions (the
// points it had on its map block's area) are joined by a grey line in the
// order they came and marked by dots coloured by the node's health at that
// moment (0 green, 1 orange, 2 red, anything else grey). Pixel (0, 0) is the
// map's upper-left corner, as the map block counts. A node is labelled with
// its name from the node list, "node <number>" when it has none, after
// "<fleet>/" for a unit of a fleet.
//
// A point equal to the node's previous one is not drawn, so a node standing
// still between packets adds nothing; the store keeps each node's newest
// points (older ones are dropped and counted), so a long run shows where
// the nodes are now.
//
// Owns nothing: the store must outlive the picture. Thread safety: the
// store's thread.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "outputs/TrackStore.h"

namespace kw_out {

class TrackPicture {
 public:
  explicit TrackPicture(const TrackStore& tracks) : tracks_(tracks) {}

  // The map's size in pixels (a size below 1 is taken as 1) and its name.
  void setMap(int width, int height, const std::string& name);

  // The dots drawn, and the points the store dropped.
  std::size_t pointCount() const;
  std::size_t droppedPoints() const { return tracks_.droppedPoints(); }
  int width() const { return width_; }
  int height() const { return height_; }

  std::string toSvg() const;
  // Replaces `path` with toSvg() atomically (a reader sees the old picture
  // or the new one); false with a reason on failure.
  bool write(const std::string& path, std::string* error) const;

  // The fill colour of a dot for `health`.
  static const char* healthColor(int health);

 private:
  struct Dot {
    int x;
    int y;
    int health;
    bool operator==(const Dot&) const = default;
  };

  // The node's dots: its points on the map, each unlike the one before.
  static std::vector<Dot> dotsOf(const TrackStore::Track& track);
  // Parts of toSvg().
  static void writeLegend(std::ostream& svg, int ox);
  static void writeTrack(std::ostream& svg, const UnitId& unit, const std::string& label,
                         const std::vector<Dot>& dots, int ox, int oy);

  const TrackStore& tracks_;
  int width_ = 1;
  int height_ = 1;
  std::string name_;
};

}  // namespace kw_out
