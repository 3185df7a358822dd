// FeedOutputs: hands what the runner reads from the sniffer blocks to the
// output forms (JSON lines, gpsd server, GPX/GeoJSON files, MQTT) of the
// kw_out library. Each tick the node rows become node updates (a node never
// heard from is marked so, and no form publishes it); once a second the
// ports' counters are handed on.
//
// Nothing here waits on a consumer: the forms drop and count what a slow
// one misses (see outputs/OutputSet.h).
// Owns the kw_out::OutputSet for the length of the run.
// Thread safety: host's thread only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "outputs/OutputSet.h"

namespace flowhost {

class FeedOutputs {
 public:
  // True when any form is asked for in `options`.
  static bool wanted(const kw_out::OutputOptions& options);

  // Opens every form asked for; false with the reason in *error.
  bool open(const kw_out::OutputOptions& options, std::string* error);
  bool isOpen() const { return open_; }

  void tick(const std::vector<NodeRow>& rows, std::chrono::steady_clock::time_point now);
  void counters(const std::vector<PortRow>& ports, std::chrono::steady_clock::time_point now);
  // Writes the track files a last time and stops the servers.
  void close();
  // The gpsd server's port (the one taken when 0 was asked for); 0 when off.
  int gpsdPort() const { return set_.gpsdPort(); }
  // One line on what the forms did ("outputs: json dropped 0; ..."), also
  // after close().
  std::string describe() const;

  // A node row as the output forms take it.
  static kw_out::NodeUpdate update(const NodeRow& row);
  // A port row as the output forms take it.
  static kw_out::PortCounters counters(const PortRow& port);

 private:
  kw_out::OutputSet set_;
  bool open_ = false;
  std::vector<kw_out::NodeUpdate> updates_;
  std::vector<kw_out::PortCounters> ports_;
};

}  // namespace flowhost
