#include "outputs/ChangeTracker.h"

namespace kw_out {

const char* eventWord(Event::Kind kind) {
  switch (kind) {
    case Event::Kind::Health: return "health";
    case Event::Kind::EnterMap: return "enter_map";
    case Event::Kind::LeaveMap: return "leave_map";
    case Event::Kind::PortSilent: return "port_silent";
    case Event::Kind::PortBack: return "port_back";
  }
  return "unknown";
}

namespace {

// The unit an event is about, at row `row` of the snapshot.
void unitOf(const NodeUpdate& u, size_t row, Event* e) {
  e->site = u.site;
  e->fleet = u.fleet;
  e->node = u.node;
  e->row = row;
  e->name = displayName(u);
  e->feed = u.feed;
}

void portOf(const PortCounters& c, Event* e) {
  e->site = c.site;
  e->fleet = c.fleet;
  e->name = c.port;
}

}  // namespace

ChangeTracker::ChangeTracker(std::chrono::milliseconds silentAfter) : silentAfter_(silentAfter) {}

void ChangeTracker::nodes(const std::vector<NodeUpdate>& snapshot, std::vector<size_t>* fresh,
                          std::vector<Event>* events) {
  for (size_t i = 0; i < snapshot.size(); ++i) {
    const NodeUpdate& u = snapshot[i];
    if (!hasFix(u)) continue;
    auto [it, first] = nodes_.try_emplace(unitId(u));
    NodeState& s = it->second;
    if (first || u.utcSec != s.utcSec || u.utcMs != s.utcMs) fresh->push_back(i);
    if (!first) {
      if (u.health != s.health) {
        Event e;
        e.kind = Event::Kind::Health;
        unitOf(u, i, &e);
        e.fromHealth = s.health;
        e.toHealth = u.health;
        e.message = "node " + unitLabel(u) + " went " + healthWord(u.health);
        events->push_back(std::move(e));
      }
      // Only a change seen while a map block stays linked is an entry or a
      // departure; linking or unlinking the map block is not.
      if (u.hasMap && s.hasMap && u.inMap != s.inMap) {
        Event e;
        e.kind = u.inMap ? Event::Kind::EnterMap : Event::Kind::LeaveMap;
        unitOf(u, i, &e);
        e.fromHealth = e.toHealth = u.health;
        e.message = "node " + unitLabel(u) + (u.inMap ? " entered the map" : " left the map");
        events->push_back(std::move(e));
      }
    }
    s.utcSec = u.utcSec;
    s.utcMs = u.utcMs;
    s.health = u.health;
    s.hasMap = u.hasMap;
    s.inMap = u.inMap;
  }
}

void ChangeTracker::ports(const std::vector<PortCounters>& counters,
                          std::chrono::steady_clock::time_point now, std::vector<Event>* events) {
  for (const PortCounters& c : counters) {
    auto [it, first] = ports_.try_emplace(portLabel(c));
    PortState& s = it->second;
    if (first) {
      s.taken = c.taken;
      s.lastChange = now;
      continue;
    }
    if (c.taken != s.taken) {
      s.taken = c.taken;
      s.lastChange = now;
      if (s.silent) {
        s.silent = false;
        Event e;
        e.kind = Event::Kind::PortBack;
        portOf(c, &e);
        e.message = "port " + portLabel(c) + " came back";
        events->push_back(std::move(e));
      }
    } else if (!s.silent && s.taken > 0 && now - s.lastChange >= silentAfter_) {
      s.silent = true;
      Event e;
      e.kind = Event::Kind::PortSilent;
      portOf(c, &e);
      e.message = "port " + portLabel(c) + " went silent";
      events->push_back(std::move(e));
    }
  }
}

bool ChangeTracker::portSilent(const PortCounters& port) const {
  const auto it = ports_.find(portLabel(port));
  return it != ports_.end() && it->second.silent;
}

}  // namespace kw_out
