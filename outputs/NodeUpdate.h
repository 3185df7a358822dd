// The data the runner hands the output forms once per tick: one NodeUpdate
// per listed node and, once a second, one PortCounters per port.
//
// Plain values, copied freely; no thread rules of their own.
#pragma once

#include <cstdint>
#include <string>

namespace kw_out {

// Health grades as the node handler gives them.
enum : int { kHealthGood = 0, kHealthMedium = 1, kHealthBad = 2 };

// "good", "medium", "bad", or "unknown" for any other grade.
const char* healthWord(int health);

struct NodeUpdate {
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

// A unit's identity as every output forms it. Outputs never format the
// node number themselves: they take these, so that what tells units apart
// lives in one place.
//
// The text that names a unit to users: its name, or its number when the
// name is empty (MQTT's topic level, track names, event messages).
std::string displayName(const NodeUpdate& update);

// The text that tells a unit from every other unit of the run, for keys
// and identifiers (the web view's units): its number ("3"). Outputs form a
// unit's key here, never from the number themselves.
std::string unitKey(const NodeUpdate& update);
// The unit's device path in the gpsd protocol: "node:" and its key.
std::string gpsdDevice(const NodeUpdate& update);

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
};

}  // namespace kw_out
