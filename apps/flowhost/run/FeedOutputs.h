// FeedOutputs: hands what the runner reads from the sniffer blocks to the
// output forms: those of the kw_out library (JSON lines, gpsd server, GPX
// and GeoJSON files, MQTT, the track picture) and the web view
// (views/web/WebForm), all held by one kw_out::OutputSet. Each tick the
// node rows become node updates (a node never heard from is marked so, and
// no form publishes it); once a second the ports' counters are handed on.
//
// Nothing here waits on a consumer: the forms drop and count what a slow
// one misses (see outputs/OutputForm.h).
// Owns the output set, and the rows and ports the web view shows, for the
// length of the run. Thread safety: host's thread only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/views/web/WebForm.h"
#include "outputs/OutputSet.h"

class JGraph;

namespace flowhost {

class FeedOutputs {
 public:
  // Where the web view is served, and its tiles; empty address: no web view.
  using Web = WebForm::Options;

  // Opens every form `options` ask for and, with `web`, the web view of
  // `graph`; false with the reason in *error (nothing stays open then).
  bool open(const kw_out::OutputOptions& options, const Web& web, const JGraph& graph,
            std::string* error);
  bool isOpen() const { return set_.isOpen(); }

  // The node table's rows of one tick, `seconds` into the run after `ticks`
  // rising clock edges.
  void tick(std::vector<NodeRow> rows, std::chrono::steady_clock::time_point now, double seconds,
            long long ticks);
  void counters(const std::vector<PortRow>& ports, std::chrono::steady_clock::time_point now);
  // At a centre, after each tick: the sites, and which of them changed.
  void sites(const std::vector<kw_out::SiteStatus>& sites, const std::vector<size_t>& changed);
  // State changes of the centre's subscription, told with the next tick.
  void addStateChanges(std::vector<kw_out::OutputStateChange> changes) {
    set_.addStateChanges(std::move(changes));
  }
  // Ends the web view's event streams (the run is over; the files follow).
  void stopServing();
  // Writes the files a last time and stops the servers; *closing says what
  // was written and what failed.
  void close(kw_out::Closing* closing);

  // The forms' state changes handed on with the last tick (a broker lost,
  // say), each once.
  const std::vector<kw_out::OutputStateChange>& stateChanges() const { return set_.stateChanges(); }

  // The gpsd server's port (the one taken when 0 was asked for); 0 when off.
  int gpsdPort() const { return set_.gpsdPort(); }
  // The web view's port; 0 when off.
  int webPort() const { return web_ != nullptr ? web_->webPort() : 0; }
  // One line on what the forms did ("outputs: json dropped 0; ..."), also
  // after close(); "" when no form has figures to tell.
  std::string describe() const { return set_.describe(); }

  // A node row as the output forms take it.
  static kw_out::NodeUpdate update(const NodeRow& row);
  // A port row as the output forms take it.
  static kw_out::PortCounters counters(const PortRow& port);

 private:
  kw_out::OutputSet set_;
  WebForm::Source shown_;   // what the web view shows
  WebForm* web_ = nullptr;  // held by set_
  std::vector<kw_out::NodeUpdate> updates_;
  std::vector<kw_out::PortCounters> ports_;
};

}  // namespace flowhost
