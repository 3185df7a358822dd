// WebState: the state the web view shows, taken on the runner's thread
// after each clock edge and given as one JSON text:
//
//   {"t": seconds, "ticks": n,
//    "graph": {"width", "height", "svg": every block's face painted at its
//              stored position, "links": [[x1, y1, x2, y2], ...]},
//    "maps":  [{"name", "ul": [lat text, lon text], "lr": [...], "width",
//               "height", "nodes": [{"name", "x", "y", "health",
//               "track": [[x, y], ...]}]}],
//    "rows":  [{"name", "node", "feed", "lat", "lon", "utc", "health",
//               "idle", "inMap", "x", "y"}],
//    "ports": [{"block", "name", "group", "port", "taken", "dropped",
//               "rejected", "unknown", "older", "problem"}],
//    "outputs": [{"output", "state", "peer", "reason", "message"}]}
//
// "block" counts sniffer blocks in graph order from 1; "problem" is why the
// port's socket could not be set up, "" when it was. "outputs" holds the
// latest state of each output that has one (the MQTT client: connected,
// refused, lost or back, with the reason).
//
// Maps with the same corners, size and name are shown once. Node names
// are the ones the sniffers read from their node lists. Each node keeps its last kTrackPoints
// positions on its map. The graph is painted again when kGraphRepaint
// seconds have passed since its last painting and is sent as painted then
// in between: a thousand units make a graph of four thousand blocks, whose
// picture is megabytes; the maps and the table follow every tick. A map
// block's corners, size and name are read once (nothing edits them during
// a run).
// Owns the tracks. Thread safety: runner's thread only (it
// paints the blocks).
#pragma once

#include <deque>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "outputs/OutputState.h"

class JGraph;

namespace flowhost {

class WebState {
 public:
  static constexpr size_t kTrackPoints = 120;
  static constexpr double kGraphRepaint = 1.0;  // seconds

  explicit WebState(const JGraph& graph);
  // The outputs' latest states, for the next take().
  void setOutputs(const std::vector<kw_out::OutputStateChange>& outputs);
  std::string take(const std::vector<NodeRow>& rows, const std::vector<PortRow>& ports,
                   double seconds, long long ticks);

 private:
  struct Track {
    int key = -1;  // row index
    std::deque<std::pair<int, int>> points;
  };
  // A map block's stored corners, size and name, and the key of the maps
  // drawn once.
  struct MapInfo {
    std::string ul[2];
    std::string lr[2];
    long long width = 0;
    long long height = 0;
    std::string name;
    std::string key;
  };
  nlohmann::json graphJson() const;
  const MapInfo& mapInfo(int block);
  // Parts of the state.
  static nlohmann::json rowJson(const NodeRow& row);
  static nlohmann::json mapJson(const MapInfo& info);
  static nlohmann::json mapNodeJson(const NodeRow& row, Track* track);
  nlohmann::json portsJson(const std::vector<PortRow>& ports) const;

  const JGraph& graph_;
  std::string graphText_;                  // the graph as last painted, as JSON text
  double graphPaintedAt_ = 0.0;            // the run time of that painting
  std::unordered_map<int, MapInfo> maps_;  // by map block
  std::vector<int> sniffers_;              // the sniffer blocks, in graph order
  std::vector<Track> tracks_;
  nlohmann::json outputs_ = nlohmann::json::array();
};

}  // namespace flowhost
