// Centre: what a flowhost run with --mqtt-in has instead of a graph: the
// subscription to the sites (SiteInbox) and what they said (SiteTable).
// The runner refreshes it on its own pace and reads node rows and port
// rows from it as it reads them from a graph's node table, so the table,
// the web view and every output form show the sites' units unchanged.
//
//   Centre centre;
//   centre.start(settings, &error);
//   each tick:    centre.refresh(nowMs);  rows = centre.rows(nowMs);
//   at the end:   centre.stop();
//
// Owns the inbox and the table. Thread safety: the runner's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/flowhost/centre/SiteInbox.h"
#include "apps/flowhost/centre/SiteTable.h"

namespace flowhost {

class Centre {
 public:
  struct Settings {
    SiteInbox::Settings inbox;
    double medium = 2.0;  // health thresholds, seconds
    double bad = 4.0;
  };

  Centre(const Settings& settings);
  // Starts the subscription; false with the reason.
  bool start(std::string* error);
  void stop() { inbox_.stop(); }

  // Takes in what arrived and judges the sites' silence at `nowMs` (the
  // wall clock, ms since 1970).
  void refresh(int64_t nowMs);
  std::vector<NodeRow> rows(int64_t nowMs) const { return table_.rows(nowMs); }
  std::vector<PortRow> ports() const { return table_.ports(); }
  const std::vector<kw_out::SiteStatus>& sites() const { return table_.sites(); }
  // The sites whose state changed since the last call (indexes into sites()).
  std::vector<size_t> takeChanged() { return table_.takeChanged(); }
  void takeStateChanges(std::vector<kw_out::OutputStateChange>* changes) {
    inbox_.takeStateChanges(changes);
  }
  // "mqtt-in connected, 3 sites, 600 units, received 1234, refused 0, dropped 0".
  std::string describe() const;

 private:
  Settings settings_;
  SiteInbox inbox_;
  SiteTable table_;
  std::vector<SiteInbox::Arrival> arrivals_;
};

}  // namespace flowhost
