// SiteInbox: a centre's subscription to the sites' messages. It holds the
// MQTT client (kw_out::MqttPublisher, which connects, logs in, speaks TLS,
// reconnects with back-off and subscribes again on every connection) with
// two subscriptions: the sites' status (<prefix>/status/+) at QoS 1, so
// that a site's coming and going is never lost, and the units and ports
// (the filter, <prefix>/# unless given) at QoS 0, where a newer position
// makes up for a lost one.
//
// Each message is read (SiteMessage) on the client's worker as it comes
// and waits in a bounded queue for the runner's next take(); when the
// runner falls behind by more than the bound, the newest are dropped and
// counted (the next message of each unit brings it up to date again).
//
// Owns: the client and the queue. Thread safety: start/stop/take/stats/
// takeStateChanges from the runner's thread; the queue is filled on the
// client's worker.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "apps/flowhost/centre/SiteMessage.h"
#include "outputs/MqttPublisher.h"
#include "outputs/OutputState.h"
#include "platform/mutex.h"

namespace flowhost {

class SiteInbox {
 public:
  // One message as it arrived.
  struct Arrival {
    SiteMessage message;
    bool retained = false;  // kept by the broker from before: not news of now
    int64_t arrivalMs = 0;  // the centre's wall clock when it came, ms since 1970
  };
  struct Settings {
    std::string host;
    int port = kw_out::MqttPublisher::kDefaultPort;
    std::string prefix;  // the sites' --mqtt-prefix
    std::string filter;  // the units' and ports' topics; "" for <prefix>/#
    std::string user;
    std::string password;
    std::string caFile;
  };
  struct Stats {
    bool connected = false;
    uint64_t received = 0;  // messages that arrived
    uint64_t ignored = 0;   // not a site's unit, port or status (events, other publishers)
    uint64_t refused = 0;   // claimed to be one and did not hold up
    uint64_t dropped = 0;   // the queue was full
    std::string lastRefusal;
    std::string lastError;  // the connection's
  };

  static constexpr size_t kDefaultBound = 100000;

  explicit SiteInbox(size_t bound = kDefaultBound) : bound_(bound) {}
  SiteInbox(const SiteInbox&) = delete;
  SiteInbox& operator=(const SiteInbox&) = delete;

  // Starts connecting in the background; false with the reason.
  bool start(const Settings& settings, std::string* error);
  void stop() { client_.stop(); }

  // Moves every message that waits to the end of *out, oldest first.
  void take(std::vector<Arrival>* out) KW_EXCLUDES(mutex_);
  Stats stats() const KW_EXCLUDES(mutex_);
  // The connection's state changes since the last call ("mqtt-in").
  void takeStateChanges(std::vector<kw_out::OutputStateChange>* changes) {
    client_.takeStateChanges(changes);
  }

 private:
  void arrive(std::string_view payload, bool retained) KW_EXCLUDES(mutex_);

  const size_t bound_;
  kw_out::MqttPublisher client_;
  mutable kw::Mutex mutex_;
  std::deque<Arrival> queue_ KW_GUARDED_BY(mutex_);
  uint64_t ignored_ KW_GUARDED_BY(mutex_) = 0;
  uint64_t refused_ KW_GUARDED_BY(mutex_) = 0;
  uint64_t dropped_ KW_GUARDED_BY(mutex_) = 0;
  std::string lastRefusal_ KW_GUARDED_BY(mutex_);
};

}  // namespace flowhost
