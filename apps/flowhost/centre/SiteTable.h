// SiteTable: what a centre knows of every site, unit and port it has heard
// of, fed with the messages of the sites (SiteInbox) and read as the node
// table's rows and port rows, so that every output shows remote units as
// it shows local ones.
//
// A unit is site + fleet + node. Its health is judged here, by the same
// thresholds a sniffer uses, from the time of its last fix as its site
// reported it: the site's moment of the last packet (the message's "sent"
// time less the unit's idle time, else the fix's own time), moved onto the
// centre's clock by the site's measured skew. So a position that stopped
// coming ages here as it would at its site, a message that waited in the
// broker (retained) is as old as it is, and a site whose clock is off does
// not make its units look fresher or older than they are.
//
// Skew: each message that came live (not retained) and carries the site's
// clock shows arrival - sent = delay + offset; the smallest value of the
// last half minute or so is taken as the offset (the delay then being the
// least the link has). It is shown per site, in seconds.
//
// A site is online or offline as its retained status says ("offline" is
// its last will when it dies or its link drops, or its goodbye when it
// stops); it is also taken offline when nothing at all came from it for
// the bad threshold (a link that hangs without the broker noticing yet),
// and back online when it speaks again. Every unit of an offline site is
// bad.
//
// Owns its records. Thread safety: one thread (the runner's).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "apps/flowhost/centre/SiteInbox.h"
#include "apps/flowhost/run/NodeTable.h"
#include "outputs/NodeUpdate.h"
#include "outputs/SiteStatus.h"

namespace flowhost {

class SiteTable {
 public:
  // Health thresholds, seconds: medium from `medium` on, bad from `bad` on.
  // `everySite`: list every site whose status comes, also one with no unit
  // or port heard (false when the centre reads a chosen part of the
  // broker: every site's status still comes, but only those with units or
  // ports in that part are the centre's).
  SiteTable(double medium, double bad, bool everySite = true);

  void take(const std::vector<SiteInbox::Arrival>& arrivals);
  // Looks at every site's silence at the centre's wall clock `nowMs`
  // (ms since 1970); call before reading.
  void judge(int64_t nowMs);

  // Every unit, by site, fleet and node, judged at `nowMs`.
  std::vector<NodeRow> rows(int64_t nowMs) const;
  // Every port, by site, fleet and name.
  std::vector<PortRow> ports() const;
  // Every site, by name.
  const std::vector<kw_out::SiteStatus>& sites() const { return sites_; }
  // Indexes into sites() of those whose state changed since the last call.
  std::vector<size_t> takeChanged();

  size_t unitCount() const { return units_.size(); }

 private:
  struct Unit {
    SiteMessage::Unit last;
    int64_t lastFixMs = 0;  // the site's clock: its last packet from the unit
  };
  struct Site {
    kw_out::SiteStatus status;
    bool offlineByStatus = false;  // its status said so (not only silence)
    int64_t lastHeardMs = -1;      // the centre's clock; -1: only retained messages so far
    // Smallest arrival - sent of the current and the previous window.
    std::optional<int64_t> minDelay[2];
    int64_t windowStartMs = 0;
    bool changed = false;
    size_t ports = 0;
  };

  Site& site(const std::string& name);
  bool shown(const Site& s) const { return everySite_ || s.status.units > 0 || s.ports > 0; }
  void hear(Site& s, const SiteInbox::Arrival& a);
  void setState(Site& s, kw_out::SiteStatus::State state, const std::string& reason);
  std::optional<int64_t> offsetOf(const Site& s) const;
  void publishSites();

  int64_t mediumMs_;
  int64_t badMs_;
  bool everySite_;
  std::map<std::string, Site> siteRecords_;
  std::map<kw_out::UnitId, Unit> units_;
  std::map<std::string, PortRow> ports_;   // by portLabel
  std::vector<kw_out::SiteStatus> sites_;  // siteRecords_' statuses, in name order
};

}  // namespace flowhost
