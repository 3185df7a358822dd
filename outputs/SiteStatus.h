// SiteStatus: how a centre sees one site (a flowhost that publishes its
// units to the broker the centre reads): online or offline and why, how
// many units it has, and how far its clock is from the centre's.
//
// Plain values; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kw_out {

struct SiteStatus {
  enum class State { Unknown, Online, Offline };
  std::string site;
  State state = State::Unknown;  // Unknown: units came, no status yet
  std::string reason;  // why offline: "connection lost", "stopped", "nothing heard for 4 s"
  size_t units = 0;
  // The site's clock minus the centre's, in seconds, as its messages show
  // it (the smallest delay seen lately); empty until a message told.
  std::optional<double> skew;
};

// "online", "offline", "unknown".
const char* siteStateWord(SiteStatus::State state);

// The sites as they stand, and which of them changed state since the last
// report.
struct SiteReport {
  const std::vector<SiteStatus>& sites;
  const std::vector<size_t>& changed;  // indexes into sites
  int64_t utcSec;
  int utcMs;
};

}  // namespace kw_out
