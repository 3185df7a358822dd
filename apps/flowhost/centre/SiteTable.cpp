#include "apps/flowhost/centre/SiteTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "geogrid/JGeoGridObj.h"
#include "outputs/TextOut.h"

namespace flowhost {

namespace {

using State = kw_out::SiteStatus::State;

// The skew window: the smallest delay of this long, or of the one before.
constexpr int64_t kSkewWindowMs = 15000;

int64_t toMs(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1000.0)); }

// The sniffer's own form of a fix time: "2026/12/07,12:34:56.780".
std::string utcText(int64_t sec, int ms) {
  const kw_out::UtcFields t = kw_out::utcFields(sec);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld/%02u/%02u,%02u:%02u:%02u.%03d",
                static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                std::clamp(ms, 0, 999));
  return text;
}

}  // namespace

SiteTable::SiteTable(double medium, double bad, bool everySite)
    : mediumMs_(toMs(medium)), badMs_(toMs(bad)), everySite_(everySite) {}

SiteTable::Site& SiteTable::site(const std::string& name) {
  auto [it, added] = siteRecords_.try_emplace(name);
  if (added) {
    it->second.status.site = name;
    it->second.changed = true;  // a new site is news
  }
  return it->second;
}

// A new state, or a new reason for being offline (the will that explains
// a silence), is a change.
void SiteTable::setState(Site& s, State state, const std::string& reason) {
  if (s.status.state == state && s.status.reason == reason) return;
  s.changed = true;
  s.status.state = state;
  s.status.reason = reason;
}

// A message that came live: the site was there a moment ago (a unit's or
// port's message brings a site that had fallen silent back), and its
// clock shows.
void SiteTable::hear(Site& s, const SiteInbox::Arrival& a) {
  s.lastHeardMs = a.arrivalMs;
  if (s.status.state == State::Offline && !s.offlineByStatus &&
      a.message.kind != SiteMessage::Kind::Status) {
    setState(s, State::Online, "");
  }
  if (!a.message.sentMs) return;
  if (a.arrivalMs - s.windowStartMs >= kSkewWindowMs) {
    s.minDelay[1] = s.minDelay[0];
    s.minDelay[0].reset();
    s.windowStartMs = a.arrivalMs;
  }
  const int64_t delay = a.arrivalMs - *a.message.sentMs;
  if (!s.minDelay[0] || delay < *s.minDelay[0]) s.minDelay[0] = delay;
}

// The centre's clock minus the site's, as the least delay shows it.
std::optional<int64_t> SiteTable::offsetOf(const Site& s) const {
  if (!s.minDelay[0]) return s.minDelay[1];
  if (!s.minDelay[1]) return s.minDelay[0];
  return std::min(*s.minDelay[0], *s.minDelay[1]);
}

void SiteTable::take(const std::vector<SiteInbox::Arrival>& arrivals) {
  for (const SiteInbox::Arrival& a : arrivals) {
    const SiteMessage& m = a.message;
    Site& s = site(m.site);
    if (s.lastHeardMs < 0) s.lastHeardMs = a.arrivalMs;  // silence counts from the first word
    if (!a.retained) hear(s, a);
    switch (m.kind) {
      case SiteMessage::Kind::Location: {
        const kw_out::UnitId id{m.site, m.unit.fleet, m.unit.node};
        const int64_t lastFix =
            m.sentMs ? *m.sentMs - toMs(m.unit.idle) : m.unit.fixSec * 1000 + m.unit.fixMs;
        auto [it, added] = units_.try_emplace(id);
        // A retained copy never takes the place of something newer.
        if (!added && a.retained && lastFix < it->second.lastFixMs) break;
        it->second.last = m.unit;
        it->second.lastFixMs = lastFix;
        break;
      }
      case SiteMessage::Kind::Port: {
        PortRow& row = ports_[kw_out::unitLabel(m.site, m.port.fleet, m.port.name)];
        row.site = m.site;
        row.fleet = m.port.fleet;
        row.stats.name = m.port.name;
        row.stats.takenIn = m.port.taken;
        row.stats.droppedFull = m.port.droppedFull;
        row.stats.rejected = m.port.rejected;
        row.stats.unknownNode = m.port.unknownNode;
        row.stats.older = m.port.older;
        row.stats.setupError = m.port.failure;
        break;
      }
      case SiteMessage::Kind::Status:
        s.offlineByStatus = !m.status.online;
        setState(s, m.status.online ? State::Online : State::Offline,
                 m.status.online ? "" : (m.status.reason.empty() ? "offline" : m.status.reason));
        break;
      default: break;
    }
  }
  publishSites();
}

void SiteTable::judge(int64_t nowMs) {
  for (auto& [name, s] : siteRecords_) {
    if (s.status.state == State::Offline || s.lastHeardMs < 0) continue;
    const int64_t silent = nowMs - s.lastHeardMs;
    if (silent < badMs_) continue;
    char reason[64];
    std::snprintf(reason, sizeof reason, "nothing heard for %.1f s",
                  static_cast<double>(silent) / 1000.0);
    setState(s, State::Offline, reason);
  }
  publishSites();
}

void SiteTable::publishSites() {
  std::map<std::string, size_t> units, ports;
  for (const auto& [id, unit] : units_) ++units[id.site];
  for (const auto& [label, row] : ports_) ++ports[row.site];
  sites_.clear();
  for (auto& [name, s] : siteRecords_) {
    s.status.units = units[name];
    s.ports = ports[name];
    if (!shown(s)) continue;
    const std::optional<int64_t> offset = offsetOf(s);
    if (offset) s.status.skew = static_cast<double>(-*offset) / 1000.0;  // never -0
    sites_.push_back(s.status);
  }
}

std::vector<size_t> SiteTable::takeChanged() {
  std::vector<size_t> changed;
  size_t i = 0;
  for (auto& [name, s] : siteRecords_) {
    if (!shown(s)) continue;  // its changes wait until it is shown
    if (s.changed) changed.push_back(i);
    s.changed = false;
    ++i;
  }
  return changed;
}

std::vector<NodeRow> SiteTable::rows(int64_t nowMs) const {
  std::vector<NodeRow> rows;
  rows.reserve(units_.size());
  const Site* s = nullptr;
  int64_t offset = 0;
  for (const auto& [id, unit] : units_) {
    if (s == nullptr || s->status.site != id.site) {
      s = &siteRecords_.at(id.site);
      offset = offsetOf(*s).value_or(0);
    }
    const SiteMessage::Unit& u = unit.last;
    const int64_t age = std::max<int64_t>(0, nowMs - (unit.lastFixMs + offset));
    NodeRow row;
    row.site = id.site;
    row.fleet = id.fleet;
    row.node = u.node;
    row.nodeId = u.node;
    row.name = u.name;
    row.feed = u.feed;
    row.heard = true;
    row.latitude = u.lat;
    row.longitude = u.lon;
    row.utc = utcText(u.fixSec, u.fixMs);
    row.utcSec = static_cast<int>(u.fixSec);
    row.utcMs = u.fixMs;
    row.health = s->status.state == State::Offline ? kw_out::kHealthBad
                 : age >= badMs_                   ? kw_out::kHealthBad
                 : age >= mediumMs_                ? kw_out::kHealthMedium
                                                   : kw_out::kHealthGood;
    row.idle = static_cast<double>(age) / 1000.0;
    row.mapped = u.hasMap;
    if (u.hasMap) {
      row.inMap = u.inMap ? JGeoGridObj::kInMap : 0;
      row.pixelX = u.x;
      row.pixelY = u.y;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<PortRow> SiteTable::ports() const {
  std::vector<PortRow> rows;
  rows.reserve(ports_.size());
  for (const auto& [label, row] : ports_) rows.push_back(row);
  return rows;
}

}  // namespace flowhost
