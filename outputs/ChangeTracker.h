// Finds what changed between successive snapshots of the feed: which node
// updates carry a new fix, and the events users want to hear about (a node's
// health grade changes, a node enters or leaves its map block's area, a port
// goes silent or comes back).
//
// Owns: the previous state of every node and port it has seen.
// Thread safety: one thread (the runner's) only.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "outputs/NodeUpdate.h"

namespace kw_out {

struct Event {
  enum class Kind { Health, EnterMap, LeaveMap, PortSilent, PortBack };
  Kind kind = Kind::Health;
  std::string site;    // the unit's or the port's site, at a centre; empty elsewhere
  std::string fleet;   // the unit's or the port's fleet; empty without fleets
  int node = 0;        // node events: the node's number
  size_t row = 0;      // node events: its place in the snapshot
  std::string name;    // node events: name from the list (or number); port events: port name
  std::string feed;    // node events: the port of its last packet
  int fromHealth = 0;  // health events
  int toHealth = 0;
  std::string message;  // e.g. "node truck7 went bad", "node north/truck7 went bad"
};

// "health", "enter_map", "leave_map", "port_silent", "port_back".
const char* eventWord(Event::Kind kind);

class ChangeTracker {
 public:
  // A port whose taken-in count stays the same for `silentAfter` after it
  // has taken something in counts as silent.
  explicit ChangeTracker(std::chrono::milliseconds silentAfter = std::chrono::seconds(5));

  // Compares one tick's snapshot with what was seen before. Appends to
  // `fresh` the index of each update with a new fix (a fix with a time not
  // seen before for that node) and to `events` what changed. The first
  // sighting of a node only sets its baseline; nodes never heard are skipped.
  void nodes(const std::vector<NodeUpdate>& snapshot, std::vector<size_t>* fresh,
             std::vector<Event>* events);

  // Compares the ports' counters (totals since start) at `now`.
  void ports(const std::vector<PortCounters>& counters, std::chrono::steady_clock::time_point now,
             std::vector<Event>* events);

  // True when this port (its fleet and name) is silent now.
  bool portSilent(const PortCounters& port) const;

 private:
  struct NodeState {
    int64_t utcSec = 0;
    int utcMs = 0;
    int health = 0;
    bool hasMap = false;
    bool inMap = false;
  };
  struct PortState {
    uint64_t taken = 0;
    std::chrono::steady_clock::time_point lastChange;
    bool silent = false;
  };

  std::chrono::milliseconds silentAfter_;
  std::map<UnitId, NodeState> nodes_;
  std::map<std::string, PortState> ports_;  // by portLabel: site, fleet and name
};

}  // namespace kw_out
