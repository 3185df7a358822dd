// PortReport: the lines flowhost prints about the feed's ports: a warning
// for each port whose socket could not be set up (naming the port list's
// file and line, so the operator knows what to fix), and the counters line
// of each port (what became of the datagrams it received).
//
// Texts from the port list pass through the terminal-text filter.
// Remembers which ports it has warned about, so each failure is told once.
// Thread safety: host's thread only.
#pragma once

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"

namespace flowhost {

class PortReport {
 public:
  // "beacon.mcp:3: group 239.255.42: not an IPv4 address" (the file as the
  // list was found, its 1-based line, then the reason).
  static std::string failureText(const JFeedPortStatus& port);
  // "port beacon 239.255.42.1:47001: taken 120, dropped (full) 0,
  // rejected 0, unknown node 0, older 0", plus ", not set up" for a port
  // whose socket could not be set up; "port north/beacon ..." for a port of
  // fleet north.
  static std::string countersLine(const PortRow& port);

  // The failure texts of the ports in `ports` that failed and were not
  // reported before.
  std::vector<std::string> newFailures(const std::vector<PortRow>& ports);

 private:
  std::set<std::tuple<int, std::string, int, std::string>> told_;  // block, file, line, reason
};

}  // namespace flowhost
