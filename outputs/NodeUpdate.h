// The data the runner hands the output forms once per tick: one NodeUpdate
// per listed node and, once a second, one PortCounters per port; and the
// one place that says how a unit is named in every output.
//
// A unit is a fleet and a node number: each fleet numbers its own units,
// so the same number in two fleets is two units. A run with one unnamed
// fleet (a plain document, or --nodes/--ports) has the empty fleet, and
// then every name below is the node's own ("3", "unit3", "node:3").
// A centre that shows the units of many sites (--mqtt-in) adds the site
// the unit was published from in front: site + fleet + node is then the
// identity ("yard/north/3"); elsewhere the site is empty.
// Every output forms a unit's key, label, device and topic with the
// functions here, never from the node number alone.
//
// Plain values and pure functions; any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace kw_out {

// Health grades as the node handler gives them.
enum : int { kHealthGood = 0, kHealthMedium = 1, kHealthBad = 2 };

// "good", "medium", "bad", or "unknown" for any other grade.
const char* healthWord(int health);

struct NodeUpdate {
  std::string site;         // the publishing site, at a centre; empty elsewhere
  std::string fleet;        // the unit's fleet; empty when the run has one unnamed fleet
  int node = 0;             // node number from the node list
  std::string name;         // name from the node list; empty: the number stands in
  std::string feed;         // name of the port the last packet came in on
  int64_t utcSec = 0;       // moment of the fix, seconds since 1970 (UTC)
  int utcMs = 0;            // and its milliseconds, 0..999
  double lat = 0.0;         // signed degrees, north positive
  double lon = 0.0;         // signed degrees, east positive
  int health = kHealthBad;  // 0 good, 1 medium, 2 bad
  double idleSec = 0.0;     // seconds since the node's last accepted packet
  bool neverHeard = true;   // nothing received yet: no position to publish
  bool hasMap = false;      // a map block is linked: inMap/pixelX/pixelY hold
  bool inMap = false;
  int pixelX = 0;
  int pixelY = 0;
};

// The node's name from the node list, or its number when the name is
// empty (without the fleet; see unitLabel).
std::string displayName(const NodeUpdate& update);

// A unit's identity: equal exactly for updates of the same unit. Ordered by
// fleet, then number, so that a run without fleets lists units by number.
struct UnitId {
  std::string site;
  std::string fleet;
  int node = 0;
  auto operator<=>(const UnitId&) const = default;
};
UnitId unitId(const NodeUpdate& update);

// Site and fleet as the levels in front of a unit's or a port's name:
// "", "north", "yard", "yard/north".
std::string unitScope(std::string_view site, std::string_view fleet);

// The unit as one text, for keys: "3", or "north/3" in fleet north.
std::string unitKey(const UnitId& unit);
std::string unitKey(const NodeUpdate& update);
// What names the unit to people: "unit3" (its name, else its number), or
// "north/unit3" in fleet north. `name` is what stands for the node.
std::string unitLabel(std::string_view fleet, std::string_view name);
std::string unitLabel(std::string_view site, std::string_view fleet, std::string_view name);
std::string unitLabel(const NodeUpdate& update);
// The unit's gpsd device path: "node:3", or "node:north/3".
std::string unitDevice(const UnitId& unit);
// The unit's topic levels below a prefix: its label, each level made safe
// for MQTT ('/', '+', '#' and control bytes become '_'): "unit3",
// "north/unit3".
std::string unitTopic(const NodeUpdate& update);
// One MQTT topic level made of `text` as above ("_" for an empty text).
std::string topicLevel(std::string_view text);

// Fleet names: 1 to kMaxFleetName characters of A-Z, a-z, 0-9, '_' and
// '-', not starting with '-' (so they are safe in topics, paths, device
// names and command lines), and not a topic level the outputs use for
// themselves ("feeds"). False with the reason otherwise.
inline constexpr size_t kMaxFleetName = 32;
bool validFleetName(std::string_view name, std::string* why);

// Site names: 1 to kMaxSiteName characters of A-Z, a-z, 0-9, '_', '-' and
// '.' (a host name is one), not starting with '-' or '.', and not a topic
// level the MQTT output uses for itself ("status", "events"). False with
// the reason otherwise.
inline constexpr size_t kMaxSiteName = 64;
bool validSiteName(std::string_view name, std::string* why);

// True when the update carries a position that may be published: heard at
// least once, finite coordinates within -90..90 and -180..180.
bool hasFix(const NodeUpdate& update);

struct PortCounters {
  std::string port;          // port name from the port list
  uint64_t taken = 0;        // datagrams taken in since the port started
  uint64_t droppedFull = 0;  // dropped because the write half was full
  uint64_t rejected = 0;     // envelope or checksum wrong
  uint64_t unknownNode = 0;  // for node numbers not listed, or negative
  uint64_t older = 0;        // older than the node's last accepted packet
  std::string failure;       // why the port could not be set up; empty if it was
  std::string fleet;         // the fleet whose port list names it; empty as for units
  std::string site;          // the publishing site, at a centre; empty elsewhere
};

// A port as one text: "beacon", or "north/beacon" for a port of fleet
// north's port list.
std::string portLabel(const PortCounters& counters);
// Its topic levels below a prefix: "feeds/beacon", "feeds/north/beacon".
std::string portTopic(const PortCounters& counters);

}  // namespace kw_out
