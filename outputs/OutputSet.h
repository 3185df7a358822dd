// The runner's one handle on every output form. The runner fills an
// OutputOptions from its command line, opens the set once (which makes
// every form the options ask for, see OutputForm.h), adds forms of its own
// (the web view), then hands it each tick's node snapshot and, once a
// second, the port counters; close() writes the files a last time and
// stops the servers.
//
//   kw_out::OutputOptions o;  o.json = "-";  o.gpsd = "2947";
//   kw_out::OutputSet outputs;
//   if (!outputs.open(o)) { report outputs.error(); }
//   every tick:      outputs.tick(nodes);
//   once a second:   outputs.counters(ports);
//   at the end:      outputs.close(&closing);
//
// The set finds what changed (ChangeTracker: new fixes, health and map
// events, silent ports), keeps the nodes' recent tracks when a form draws
// or writes them, rewrites the track files every fileInterval while they
// changed, and gathers the forms' own state changes (a broker lost) to hand
// to every form with the next tick, and to the runner (stateChanges()), and
// keeps the latest state of each form that reported one (outputStates()).
// Nothing here waits on a consumer.
//
// Owns: every form, the shared track store and file writer.
// Thread safety: one thread (the runner's) for all members.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "outputs/ChangeTracker.h"
#include "outputs/NodeUpdate.h"
#include "outputs/OutputForm.h"

namespace kw_out {

class OutputSet {
 public:
  using Stats = OutputStats;

  OutputSet();
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Opens every form named in `options`. False with the reason in error()
  // when one cannot be opened (nothing stays open then). Using the JSON
  // stream makes the process ignore SIGPIPE, so that a reader that goes
  // away is a counted write failure instead of the end of the process.
  bool open(const OutputOptions& options);
  const std::string& error() const { return error_; }
  // Adds a form made outside this library; it takes part from the next tick.
  void add(std::unique_ptr<OutputForm> form);
  // True while some form is open.
  bool isOpen() const { return !forms_.empty(); }
  // The shared store of the nodes' tracks (made at the first call).
  TrackStore& tracks();

  // One tick's snapshot of every listed node.
  void tick(const std::vector<NodeUpdate>& nodes);
  void tick(const std::vector<NodeUpdate>& nodes, std::chrono::steady_clock::time_point now);
  // The ports' counters, totals since start; once a second.
  void counters(const std::vector<PortCounters>& ports);
  void counters(const std::vector<PortCounters>& ports, std::chrono::steady_clock::time_point now);

  // At a centre, after each tick: the sites, and which of them changed.
  void sites(const std::vector<SiteStatus>& sites, const std::vector<size_t>& changed);
  // State changes of something outside the forms that the outputs tell as
  // their own (a centre's subscription): handed on with the next tick.
  void addStateChanges(std::vector<OutputStateChange> changes);

  // Writes the files a last time (and waits for them), stops the servers
  // and closes the stream; *closing (when given) says what was written and
  // what failed. Also done by the destructor.
  void close(Closing* closing = nullptr);

  // The forms' state changes the last tick handed on, in order.
  const std::vector<OutputStateChange>& stateChanges() const { return states_; }
  // The latest state of every form that reported one, in the order first reported.
  const std::vector<OutputStateChange>& outputStates() const { return latest_; }

  // The gpsd server's port (useful with port 0); 0 when it is off.
  int gpsdPort() const;
  Stats stats() const;
  // One line for the log, e.g. "outputs: json dropped 0; gpsd 2 clients, dropped 0; ...";
  // "" when no form has figures to tell. After close(), the line as it stood
  // when the last files were written.
  std::string describe() const;

 private:
  void rewrite(std::chrono::steady_clock::time_point now);
  void keepTracks(const std::vector<NodeUpdate>& nodes);
  void gatherStates();

  OutputOptions options_;
  std::string error_;
  ChangeTracker tracker_;
  std::unique_ptr<OutputShared> shared_;
  std::vector<std::unique_ptr<OutputForm>> forms_;
  std::chrono::steady_clock::time_point lastRewrite_{};
  std::vector<size_t> fresh_;
  std::vector<Event> events_;
  std::vector<OutputStateChange> states_;  // gathered for the last tick
  std::vector<OutputStateChange> latest_;  // by form
  std::vector<OutputStateChange> added_;   // from outside, for the next tick
  std::string closed_;                     // describe() at the last close()
};

}  // namespace kw_out
