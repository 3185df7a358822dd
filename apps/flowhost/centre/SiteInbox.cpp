#include "apps/flowhost/centre/SiteInbox.h"

#include <chrono>

namespace flowhost {

namespace {

constexpr int kStatusQos = 1;
constexpr int kPositionQos = 0;

int64_t wallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool SiteInbox::start(const Settings& s, std::string* error) {
  kw_out::MqttPublisher::Settings client;
  client.host = s.host;
  client.port = s.port;
  client.prefix = s.prefix;
  client.user = s.user;
  client.password = s.password;
  client.caFile = s.caFile;
  client.name = "mqtt-in";
  client.subscriptions = {{s.prefix + "/status/+", kStatusQos},
                          {s.filter.empty() ? s.prefix + "/#" : s.filter, kPositionQos}};
  client.sink = [this](std::string_view, std::string_view payload, bool retained) {
    arrive(payload, retained);
  };
  if (client_.start(client)) return true;
  *error = "--mqtt-in: " + client_.error();
  return false;
}

// On the client's worker.
void SiteInbox::arrive(std::string_view payload, bool retained) {
  Arrival arrival{SiteMessage::read(payload), retained, wallMs()};
  kw::MutexLock lock(&mutex_);
  switch (arrival.message.kind) {
    case SiteMessage::Kind::None: ++ignored_; return;
    case SiteMessage::Kind::Refused:
      ++refused_;
      lastRefusal_ = arrival.message.refusal;
      return;
    default: break;
  }
  if (queue_.size() >= bound_) {
    ++dropped_;
    return;
  }
  queue_.push_back(std::move(arrival));
}

void SiteInbox::take(std::vector<Arrival>* out) {
  std::deque<Arrival> waiting;
  {
    kw::MutexLock lock(&mutex_);
    waiting.swap(queue_);
  }
  for (Arrival& a : waiting) out->push_back(std::move(a));
}

SiteInbox::Stats SiteInbox::stats() const {
  const kw_out::MqttPublisher::Stats client = client_.stats();
  Stats s;
  s.connected = client.connected;
  s.received = client.received;
  s.lastError = client.lastError;
  kw::MutexLock lock(&mutex_);
  s.ignored = ignored_;
  s.refused = refused_;
  s.dropped = dropped_;
  s.lastRefusal = lastRefusal_;
  return s;
}

}  // namespace flowhost
