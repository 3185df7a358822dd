// TrackPicture: the picture of where the nodes went during a run, as an SVG
// document. The map is a rectangle of the map block's pixel width and
// height; each node's pixel positions are joined by a grey line in the
// order they came and marked by dots coloured by the node's health at that
// moment (0 green, 1 orange, 2 red, anything else grey). Pixel (0, 0) is the
// map's upper-left corner, as the map block counts.
//
// Owns its points. A point equal to the node's previous one is not kept, so
// a node standing still between packets adds nothing; a node keeps its
// newest kMaxPointsPerNode points: a new one beyond that pushes the oldest
// out (counted as dropped), so a long run shows where the nodes are now.
// Thread safety: one thread at a time.
#pragma once

#include <cstddef>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace flowhost {

class TrackPicture {
 public:
  static constexpr std::size_t kMaxPointsPerNode = 20000;

  struct Point {
    int x;
    int y;
    int health;
  };

  // The map's size in pixels (a size below 1 is taken as 1) and its name.
  void setMap(int width, int height, const std::string& name);
  // Adds a point to the track of `node` (a stable index chosen by the
  // caller), labelled `label` on the picture.
  void add(int node, const std::string& label, int x, int y, int health);

  std::size_t pointCount() const;
  std::size_t droppedPoints() const { return dropped_; }
  int width() const { return width_; }
  int height() const { return height_; }

  std::string toSvg() const;
  // Replaces `path` with toSvg() atomically (a reader sees the old picture
  // or the new one); false with a reason on failure.
  bool write(const std::string& path, std::string* error) const;

  // The fill colour of a dot for `health`.
  static const char* healthColor(int health);

 private:
  struct Track {
    int node;
    std::string label;
    std::deque<Point> points;
  };

  Track& track(int node, const std::string& label);
  // Parts of toSvg().
  static void writeLegend(std::ostream& svg, int ox);
  static void writeTrack(std::ostream& svg, const Track& t, int ox, int oy);

  int width_ = 1;
  int height_ = 1;
  std::string name_;
  std::vector<Track> tracks_;
  std::size_t dropped_ = 0;
};

}  // namespace flowhost
