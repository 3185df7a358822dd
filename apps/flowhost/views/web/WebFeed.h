// WebFeed: what the runner hands the web server, kept for the server's
// threads: the newest snapshot (the state a browser starts from), the
// recent delta events in order, and the graph as last painted.
//
// The runner's thread publishes one snapshot and at most one delta a tick;
// the server's threads read them. Each delta carries the number of the
// snapshot it leads to; the feed keeps the last kKeptDeltas, so a browser
// that started from snapshot S gets every delta after S, or learns that it
// fell too far behind and needs a fresh state.
//
// Owns copies of the texts and shares the snapshots.
// Thread safety: every member from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "apps/flowhost/views/web/WebSnapshot.h"
#include "platform/mutex.h"

namespace flowhost {

class WebFeed {
 public:
  static constexpr size_t kKeptDeltas = 64;

  struct Delta {
    uint64_t seq;                              // the snapshot it leads to
    std::shared_ptr<const std::string> event;  // the whole server-sent event
  };

  WebFeed();

  // The runner: a new snapshot and the delta that leads to it ("" when
  // nothing a browser shows changed).
  void publish(std::shared_ptr<const WebSnapshot> snapshot, const std::string& deltaJson)
      KW_EXCLUDES(mutex_);
  std::shared_ptr<const WebSnapshot> latest() const KW_EXCLUDES(mutex_);
  // Appends the deltas after snapshot `seq` to *out and sets *seq to the
  // newest; false when some of them are no longer kept.
  bool deltasAfter(uint64_t* seq, std::vector<Delta>* out) const KW_EXCLUDES(mutex_);

  // The graph: a browser on the Graph page asks for it (wantGraph), the
  // runner paints it while someone asked within the last few seconds.
  void wantGraph() KW_EXCLUDES(mutex_);
  bool graphWanted(std::chrono::steady_clock::time_point now) const KW_EXCLUDES(mutex_);
  void setGraph(std::string json) KW_EXCLUDES(mutex_);
  // The last painting; "" before the first.
  std::shared_ptr<const std::string> graph() const KW_EXCLUDES(mutex_);

  // A state event ("event: state") and a delta event as the stream sends them.
  static std::string stateEvent(const WebSnapshot& snapshot);
  static std::string deltaEvent(uint64_t seq, const std::string& json);

 private:
  mutable kw::Mutex mutex_;
  std::shared_ptr<const WebSnapshot> latest_ KW_GUARDED_BY(mutex_);
  std::deque<Delta> deltas_ KW_GUARDED_BY(mutex_);
  uint64_t oldestKept_ KW_GUARDED_BY(mutex_) = 1;  // deltas from here on are kept
  std::chrono::steady_clock::time_point graphAsked_ KW_GUARDED_BY(mutex_){};
  std::shared_ptr<const std::string> graph_ KW_GUARDED_BY(mutex_);
};

}  // namespace flowhost
