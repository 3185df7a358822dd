// WebSnapshot: the web view's picture of one clock tick, made by WebState
// on the runner's thread and from then on only read, by any thread (the
// web server's workers render it for a browser that asks).
//
// What hardly ever changes (each unit's key, name, number and feed, the
// map areas, the ports' lines, the outputs' states, the event list) is
// held through shared pointers that the next snapshot shares while it is
// the same; only the positions are copied every tick. At ten thousand
// units a snapshot is about half a megabyte of positions.
//
// The texts rendered from it are compact JSON, arrays rather than objects
// for the per-unit lines (a unit's index in "units" is its number in every
// later event):
//   stateJson(): {"seq","t","ticks","wall","site":{...},
//                 "units":[[key,name,node,feed,health,lat,lon,idle,map],...],
//                 "areas":[[name,north,west,south,east],...],
//                 "ports":[{...}],"outputs":[[name,state,reason],...],
//                 "events":[[wall ms,kind,text],...] (oldest first)}
//     lat, lon and idle are null for a unit never heard; map is 1 (on its
//     map block's area), 0 (off it) or null (no map block);
//   rowsJson(): {"seq","t","rows":[[key,name,node,feed,lat,lon,utc,health,
//                 idle,map,x,y],...]} for the Units page;
//   unitJson(i): one unit's every field as an object, for its details.
//
// Plain data once made. Thread safety: any thread may read a snapshot
// held through a shared_ptr<const WebSnapshot>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace flowhost {

struct WebUnit {
  std::string key;   // the unit's key as every output forms it
  std::string name;  // its name on screen
  int node = 0;
  std::string feed;  // the port(s) its packets come in on
  bool operator==(const WebUnit&) const = default;
};

struct WebPosition {
  bool heard = false;  // a fix was received: the fields below hold
  double lat = 0.0, lon = 0.0;
  int64_t utcSec = 0;
  int utcMs = 0;
  int health = 2;
  double idle = 0.0;    // seconds since its last packet, at the snapshot's time
  bool hasMap = false;  // a map block is fed from it: inMap, x, y hold
  bool inMap = false;
  int x = 0, y = 0;
};

// A map block's rectangle (the geofence), in signed degrees.
struct WebArea {
  std::string name;
  double north = 0.0, west = 0.0, south = 0.0, east = 0.0;
  bool operator==(const WebArea&) const = default;
};

struct WebPort {
  int block = 0;  // sniffer blocks counted from 1 in graph order
  std::string name, group;
  int port = 0;
  uint64_t taken = 0, dropped = 0, rejected = 0, unknown = 0, older = 0;
  std::string problem;  // why its socket could not be set up, "" when it was
  bool silent = false;
  bool operator==(const WebPort&) const = default;
};

// One output form's state as it last changed ("mqtt", "connected", "",
// "127.0.0.1:1883").
struct WebOutput {
  std::string name, state, reason, peer;
  bool operator==(const WebOutput&) const = default;
};

// At a centre: one site as it stands.
struct WebSite {
  std::string name, state, reason;
  uint64_t units = 0;
  std::optional<double> skew;  // seconds, the site's clock ahead of the centre's
  bool operator==(const WebSite&) const = default;
};

struct WebEvent {
  int64_t wallMs = 0;
  std::string kind;  // "health", "enter_map", "leave_map", "port_silent", "port_back"
  std::string text;
};

struct WebSnapshot {
  uint64_t seq = 0;  // 1 for the first tick, one more each tick
  double t = 0.0;    // seconds since the start of the run
  long long ticks = 0;
  int64_t wallMs = 0;                       // the wall clock at the tick
  std::shared_ptr<const std::string> site;  // constant settings, as a JSON object
  std::shared_ptr<const std::vector<WebUnit>> units;
  std::vector<WebPosition> positions;  // beside units
  std::shared_ptr<const std::vector<WebArea>> areas;
  std::shared_ptr<const std::vector<WebPort>> ports;
  std::shared_ptr<const std::vector<WebOutput>> outputs;
  std::shared_ptr<const std::vector<WebSite>> sites;   // at a centre; else empty
  std::shared_ptr<const std::deque<WebEvent>> events;  // oldest first

  std::string stateJson() const;
  std::string rowsJson() const;
  // Empty when there is no unit `index`.
  std::string unitJson(size_t index) const;
};

// The JSON of the lists a state and an event share.
void appendPortsJson(std::string* out, const std::vector<WebPort>& ports);
void appendOutputsJson(std::string* out, const std::vector<WebOutput>& outputs);
// [[name,state,reason,units,skew or null],...]
void appendSitesJson(std::string* out, const std::vector<WebSite>& sites);
void appendEventJson(std::string* out, const WebEvent& event);
// A unit's identity as in "units": key, name, node, feed (no brackets).
void appendUnitJson(std::string* out, const WebUnit& unit);
// Degrees with six decimals (about 0.1 m), trailing zeros left out.
void appendDegrees(std::string* out, double degrees);

}  // namespace flowhost
