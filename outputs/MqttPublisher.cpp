#include "outputs/MqttPublisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <vector>

#include "outputs/JsonLines.h"
#include "outputs/TextOut.h"
#include "platform/failure.h"

namespace kw_out {

namespace {

using Clock = std::chrono::steady_clock;
using State = OutputStateChange::State;

std::once_flag libraryInit;

constexpr int kKeepAliveSec = 30;
// The library's keep-alive and retries want a look at least this often.
constexpr auto kHousekeeping = std::chrono::seconds(1);
// The pause before the next attempt after a failed or lost connection.
constexpr auto kRetryPause = std::chrono::milliseconds(500);

// The reason of a library result: the system's for MOSQ_ERR_ERRNO.
std::string reasonOf(int rc) {
  return rc == MOSQ_ERR_ERRNO ? kw::errnoText(errno) : std::string(mosquitto_strerror(rc));
}

}  // namespace

MqttPublisher::MqttPublisher(size_t maxInFlight) : maxInFlight_(maxInFlight) {}

MqttPublisher::~MqttPublisher() { stop(); }

void MqttPublisher::appendLocation(std::string* out, const NodeUpdate& u) {
  const std::string name = displayName(u);
  const std::string level = topicLevel(name);
  out->append("{\"_type\":\"location\",\"lat\":");
  appendFixed(out, u.lat, 7);
  out->append(",\"lon\":");
  appendFixed(out, u.lon, 7);
  out->append(",\"tst\":");
  appendInt(out, u.utcSec);
  out->append(",\"tid\":");
  appendJsonString(out,
                   level.size() > 2 ? std::string_view(level).substr(level.size() - 2) : level);
  out->push_back(',');
  appendUnitFields(out, u);
  out->append(",\"feed\":");
  appendJsonString(out, u.feed);
  out->append(",\"time\":\"");
  appendIsoTime(out, u.utcSec, u.utcMs);
  out->append("\",");
  appendStateFields(out, u);
  out->push_back('}');
}

bool MqttPublisher::start(const std::string& host, int port, const std::string& prefix) {
  if (client_ != nullptr) {
    error_ = "the MQTT client is already running";
    return false;
  }
  if (port <= 0 || port > 65535) {
    error_ = "MQTT port out of range: " + std::to_string(port);
    return false;
  }
  if (prefix.empty() || mosquitto_pub_topic_check(prefix.c_str()) != MOSQ_ERR_SUCCESS ||
      prefix.back() == '/') {
    error_ = "not a usable MQTT topic prefix: '" + prefix + "'";
    return false;
  }
  std::call_once(libraryInit, [] { mosquitto_lib_init(); });
  client_ = mosquitto_new(nullptr, true, this);
  if (client_ == nullptr) {
    error_ = "cannot make an MQTT client (out of memory or bad arguments)";
    return false;
  }
  // Messages are handed over from the runner's thread while the worker
  // reads and writes: the library locks its queues.
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::connectCallback);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::disconnectCallback);
  mosquitto_publish_callback_set(client_, &MqttPublisher::publishCallback);
  host_ = host;
  port_ = port;
  prefix_ = prefix;
  if (const kw::Failure failed = worker_.start([this] { run(); })) {
    error_ = "the MQTT client: " + failed.text();
    mosquitto_destroy(client_);
    client_ = nullptr;
    return false;
  }
  return true;
}

void MqttPublisher::stop() {
  worker_.stop();
  if (client_ != nullptr) {
    mosquitto_destroy(client_);
    client_ = nullptr;
  }
  connected_ = false;
}

// The loop: connect when there is no socket, serve it while there is one,
// pause after a failure. Ends with a clean disconnect.
void MqttPublisher::run() {
  while (!worker_.stopping()) {
    if (socket_ < 0 && !startConnection()) {
      pause();
      continue;
    }
    serve();
  }
  disconnect();
}

// Starts a connection; the broker's answer comes in serve(). Host names
// are looked up here, on the worker, never on the feed's thread.
bool MqttPublisher::startConnection() {
  const int rc = mosquitto_connect_async(client_, host_.c_str(), port_, kKeepAliveSec);
  const int fd = rc == MOSQ_ERR_SUCCESS ? mosquitto_socket(client_) : -1;
  if (fd < 0) {
    const std::string reason = rc == MOSQ_ERR_SUCCESS ? "no socket" : reasonOf(rc);
    note(State::Refused, "cannot connect to the MQTT broker " + host_ + ":" +
                             std::to_string(port_) + ": " + reason);
    return false;
  }
  socket_ = fd;
  connectionsBefore_ = connections_;
  return true;
}

// One wait on the client's socket (writable too while the library has
// something to send), then the library reads, writes and keeps alive.
void MqttPublisher::serve() {
  const unsigned writable = mosquitto_want_write(client_) ? unsigned{kw::PollLoop::kWritable} : 0u;
  loop_.watch(socket_, kw::PollLoop::kReadable | writable);
  armed_ = true;
  bool woken = false;
  const kw::Failure failed =
      loop_.wait(worker_.wakeEvent(), Clock::now() + kHousekeeping, &ready_, &woken);
  armed_ = false;
  if (failed) {
    lose(failed.text());
    return;
  }
  int rc = MOSQ_ERR_SUCCESS;
  for (const kw::PollLoop::Ready& ready : ready_) {
    if (rc == MOSQ_ERR_SUCCESS &&
        (ready.events & (kw::PollLoop::kReadable | kw::PollLoop::kClosed)))
      rc = mosquitto_loop_read(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS && (ready.events & kw::PollLoop::kWritable))
      rc = mosquitto_loop_write(client_, 1);
  }
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(client_);
  if (rc != MOSQ_ERR_SUCCESS) lose(reasonOf(rc));
}

// The socket is gone: the reason, told apart by whether the broker had
// ever answered on it.
void MqttPublisher::lose(const std::string& reason) {
  loop_.forget(socket_);
  socket_ = -1;
  connected_ = false;
  inFlight_ = 0;
  const std::string where = host_ + ":" + std::to_string(port_);
  if (connections_ != connectionsBefore_) {
    note(State::Lost, "connection to the MQTT broker " + where + " lost: " + reason);
  } else {
    note(State::Refused, "cannot connect to the MQTT broker " + where + ": " + reason);
  }
  pause();
}

void MqttPublisher::pause() { worker_.sleepUntil(Clock::now() + kRetryPause); }

void MqttPublisher::disconnect() {
  if (socket_ < 0) return;
  mosquitto_disconnect(client_);
  mosquitto_loop_write(client_, 1);
  loop_.forget(socket_);
  socket_ = -1;
}

void MqttPublisher::connectCallback(mosquitto*, void* self, int rc) {
  static_cast<MqttPublisher*>(self)->onConnect(rc);
}

void MqttPublisher::disconnectCallback(mosquitto*, void* self, int) {
  static_cast<MqttPublisher*>(self)->onDisconnect();
}

void MqttPublisher::publishCallback(mosquitto*, void* self, int) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (p->inFlight_.fetch_sub(1) <= 0) p->inFlight_ = 0;
}

void MqttPublisher::onConnect(int rc) {
  if (rc != 0) {
    note(State::Refused,
         std::string("the MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
    return;
  }
  inFlight_ = 0;
  connected_ = true;
  ++connections_;
  note(State::Connected, "");
  std::vector<std::pair<std::string, std::string>> all;
  {
    kw::MutexLock lock(&stateMutex_);
    all.assign(latest_.begin(), latest_.end());
  }
  for (const auto& [topic, payload] : all) hand(topic, payload);
}

void MqttPublisher::onDisconnect() {
  connected_ = false;
  inFlight_ = 0;
}

void MqttPublisher::note(State state, const std::string& reason) {
  kw::MutexLock lock(&stateMutex_);
  if (!reason.empty()) lastError_ = reason;
  if (stateKnown_ && state == state_) return;
  stateKnown_ = true;
  state_ = state;
  changes_.push_back(OutputStateChange{"mqtt", state, reason});
}

void MqttPublisher::takeStateChanges(std::vector<OutputStateChange>* changes) {
  kw::MutexLock lock(&stateMutex_);
  for (OutputStateChange& change : changes_) changes->push_back(std::move(change));
  changes_.clear();
}

// Hands one message to the library, or drops and counts it; the worker is
// woken to write it.
void MqttPublisher::hand(const std::string& topic, const std::string& payload) {
  if (!connected_ || inFlight_ >= static_cast<int64_t>(maxInFlight_)) {
    ++dropped_;
    return;
  }
  const int rc = mosquitto_publish(client_, nullptr, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), 0, true);
  if (rc != MOSQ_ERR_SUCCESS) {
    ++dropped_;
    return;
  }
  ++inFlight_;
  ++published_;
  if (armed_.exchange(false)) worker_.wake();
}

void MqttPublisher::remember(const std::string& topic, const std::string& payload) {
  kw::MutexLock lock(&stateMutex_);
  latest_[topic] = payload;
}

void MqttPublisher::publishNode(const NodeUpdate& update) {
  if (client_ == nullptr || !hasFix(update)) return;
  const std::string topic = prefix_ + "/" + unitTopic(update);
  std::string payload;
  appendLocation(&payload, update);
  remember(topic, payload);
  hand(topic, payload);
}

void MqttPublisher::publishPort(const PortCounters& counters, bool silent) {
  if (client_ == nullptr) return;
  const std::string topic = prefix_ + "/" + portTopic(counters);
  std::string payload;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  appendPortLine(&payload, counters, silent, ms / 1000, static_cast<int>(ms % 1000));
  payload.pop_back();
  remember(topic, payload);
  hand(topic, payload);
}

MqttPublisher::Stats MqttPublisher::stats() const {
  Stats s;
  s.connected = connected_;
  s.connections = connections_;
  s.published = published_;
  s.dropped = dropped_;
  kw::MutexLock lock(&stateMutex_);
  s.lastError = lastError_;
  return s;
}

}  // namespace kw_out
