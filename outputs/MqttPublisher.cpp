#include "outputs/MqttPublisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <vector>

#include "outputs/JsonLines.h"
#include "outputs/TextOut.h"
#include "platform/failure.h"
#include "platform/files.h"
#include "platform/host_lookup.h"

namespace kw_out {

namespace {

using Clock = std::chrono::steady_clock;
using State = OutputStateChange::State;

std::once_flag libraryInit;

constexpr int kKeepAliveSec = 30;
// The library's keep-alive and retries want a look at least this often.
constexpr auto kHousekeeping = std::chrono::seconds(1);
// The pause before the next attempt after a failed or lost connection:
// the first, doubled after each failure up to the last.
constexpr auto kFirstRetryPause = std::chrono::milliseconds(500);
constexpr auto kLastRetryPause = std::chrono::milliseconds(5000);
// How long a clean stop waits for its goodbye to be written.
constexpr auto kGoodbyeTime = std::chrono::seconds(1);
// A password file is a line of text; more is a mistake.
constexpr size_t kMaxPasswordFile = 4096;
// The largest CA file taken.
constexpr size_t kMaxCaFile = 4 << 20;
constexpr int kStateQos = 1;  // status and events: at least once
constexpr int kPositionQos = 0;

std::pair<int64_t, int> wallNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return {ms / 1000, static_cast<int>(ms % 1000)};
}

// Hands a message to the library; its result.
int handOver(mosquitto* client, const std::string& topic, const std::string& payload, int qos,
             bool retain) {
  return mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), qos, retain);
}

// The reason of a library result: the system's for MOSQ_ERR_ERRNO.
std::string reasonOf(int rc) {
  return rc == MOSQ_ERR_ERRNO ? kw::errnoText(errno) : std::string(mosquitto_strerror(rc));
}

}  // namespace

MqttPublisher::MqttPublisher(size_t maxInFlight)
    : maxInFlight_(maxInFlight), retryPause_(kFirstRetryPause) {}

MqttPublisher::~MqttPublisher() { stop(); }

void MqttPublisher::appendLocation(std::string* out, const NodeUpdate& u, int64_t sentSec,
                                   int sentMs) {
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
  if (sentSec >= 0) {
    out->append("\",\"sent\":\"");
    appendIsoTime(out, sentSec, sentMs);
  }
  out->append("\",");
  appendStateFields(out, u);
  out->push_back('}');
}

void MqttPublisher::appendStatus(std::string* out, const std::string& site, const char* state,
                                 const char* reason, int64_t utcSec, int utcMs) {
  out->append("{\"class\":\"STATUS\",\"site\":");
  appendJsonString(out, site);
  out->append(",\"state\":\"");
  out->append(state);
  out->push_back('"');
  if (utcSec >= 0) {
    out->append(",\"time\":\"");
    appendIsoTime(out, utcSec, utcMs);
    out->push_back('"');
  }
  if (*reason != '\0') {
    out->append(",\"reason\":");
    appendJsonString(out, reason);
  }
  out->push_back('}');
}

bool MqttPublisher::readPasswordFile(const std::string& file, std::string* password,
                                     std::string* error) {
  std::string text;
  if (const kw::Failure failed = kw::readTextFile(file, kMaxPasswordFile, &text)) {
    *error = "--mqtt-password-file: cannot read " + failed.text();
    return false;
  }
  *password = text.substr(0, text.find_first_of("\r\n"));
  return true;
}

bool MqttPublisher::start(const std::string& host, int port, const std::string& prefix,
                          const std::string& site) {
  Settings settings;
  settings.host = host;
  settings.port = port;
  settings.prefix = prefix;
  settings.site = site;
  return start(settings);
}

bool MqttPublisher::start(const Settings& settings) {
  if (client_ != nullptr) {
    error_ = "the MQTT client is already running";
    return false;
  }
  if (settings.port <= 0 || settings.port > 65535) {
    error_ = "MQTT port out of range: " + std::to_string(settings.port);
    return false;
  }
  for (const Subscription& s : settings.subscriptions) {
    if (mosquitto_sub_topic_check(s.filter.c_str()) != MOSQ_ERR_SUCCESS || s.qos < 0 || s.qos > 2) {
      error_ = "not a usable MQTT topic filter: '" + s.filter + "'";
      return false;
    }
  }
  const std::string& prefix = settings.prefix;
  if (prefix.empty() || mosquitto_pub_topic_check(prefix.c_str()) != MOSQ_ERR_SUCCESS ||
      prefix.back() == '/') {
    error_ = "not a usable MQTT topic prefix: '" + prefix + "'";
    return false;
  }
  if (std::string why; !settings.site.empty() && !validSiteName(settings.site, &why)) {
    error_ = why;
    return false;
  }
  if (!settings.caFile.empty()) {
    std::string certificates;
    if (const kw::Failure failed = kw::readTextFile(settings.caFile, kMaxCaFile, &certificates)) {
      error_ = "cannot read the CA file " + failed.text();
      return false;
    }
  }
  settings_ = settings;
  statusTopic_ = settings.site.empty() ? "" : prefix + "/status/" + settings.site;
  std::call_once(libraryInit, [] { mosquitto_lib_init(); });
  client_ = mosquitto_new(nullptr, true, this);
  if (client_ == nullptr) {
    error_ = "cannot make an MQTT client (out of memory or bad arguments)";
    return false;
  }
  if (!setUpClient()) {
    mosquitto_destroy(client_);
    client_ = nullptr;
    return false;
  }
  if (const kw::Failure failed = worker_.start([this] { run(); })) {
    error_ = "the MQTT client: " + failed.text();
    mosquitto_destroy(client_);
    client_ = nullptr;
    return false;
  }
  return true;
}

// The library's callbacks, the login, TLS and the last will.
bool MqttPublisher::setUpClient() {
  // Messages are handed over from the runner's thread while the worker
  // reads and writes: the library locks its queues.
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::connectCallback);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::disconnectCallback);
  mosquitto_publish_callback_set(client_, &MqttPublisher::publishCallback);
  mosquitto_message_callback_set(client_, &MqttPublisher::messageCallback);
  mosquitto_log_callback_set(client_, &MqttPublisher::logCallback);
  const char* user = settings_.user.empty() ? nullptr : settings_.user.c_str();
  const char* password = user != nullptr ? settings_.password.c_str() : nullptr;
  if (const int rc = mosquitto_username_pw_set(client_, user, password); rc != MOSQ_ERR_SUCCESS) {
    error_ = std::string("cannot set the MQTT login: ") + mosquitto_strerror(rc);
    return false;
  }
  if (!settings_.caFile.empty()) {
    const int rc =
        mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error_ = "cannot use the CA file '" + settings_.caFile + "': " + reasonOf(rc);
      return false;
    }
  }
  if (!statusTopic_.empty()) {
    std::string will;
    appendStatus(&will, settings_.site, "offline", "connection lost", -1, 0);
    const int rc = mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(will.size()),
                                      will.data(), kStateQos, true);
    if (rc != MOSQ_ERR_SUCCESS) {
      error_ = std::string("cannot set the MQTT last will: ") + mosquitto_strerror(rc);
      return false;
    }
  }
  return true;
}

void MqttPublisher::stop() {
  if (client_ != nullptr && connected_ && !statusTopic_.empty()) {
    // A clean disconnect cancels the last will: the goodbye says it instead.
    std::string goodbye;
    const auto [sec, ms] = wallNow();
    appendStatus(&goodbye, settings_.site, "offline", "stopped", sec, ms);
    hand(statusTopic_, goodbye, kStateQos, true);
  }
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
  refusal_.clear();
  libraryError_.clear();
  const int rc =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveSec);
  const int fd = rc == MOSQ_ERR_SUCCESS ? mosquitto_socket(client_) : -1;
  if (fd < 0) {
    std::string reason = rc == MOSQ_ERR_SUCCESS ? "no socket" : reasonOf(rc);
    if (rc == MOSQ_ERR_EAI) {
      // The library says only "Lookup error."; the resolver says why.
      if (const kw::Failure lookup = kw::lookUpHost(settings_.host)) reason = lookup.text();
    }
    if (!libraryError_.empty()) reason += " (" + libraryError_ + ")";
    note(State::Refused, "cannot connect to the MQTT broker " + where() + ": " + reason);
    return false;
  }
  socket_ = fd;
  connectionsBefore_ = connections_;
  return true;
}

std::string MqttPublisher::where() const {
  return settings_.host + ":" + std::to_string(settings_.port);
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
  bool closed = false;
  for (const kw::PollLoop::Ready& ready : ready_) {
    if (rc == MOSQ_ERR_SUCCESS &&
        (ready.events & (kw::PollLoop::kReadable | kw::PollLoop::kClosed)))
      rc = mosquitto_loop_read(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS && (ready.events & kw::PollLoop::kWritable))
      rc = mosquitto_loop_write(client_, 1);
    if (ready.events & kw::PollLoop::kClosed) closed = true;
  }
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(client_);
  if (rc != MOSQ_ERR_SUCCESS) {
    lose(reasonOf(rc));
    return;
  }
  if (closed && !connected_) {
    // Over TLS the library takes a connection refused or reset before its
    // handshake for one still in progress and would wait on it for ever
    // (a restarted broker was never reached again): a socket in error
    // before the broker answered is a failed attempt.
    lose("the connection closed before the broker answered");
    return;
  }
  handWaiting();
}

// The socket is gone: the reason, told apart by whether the broker had
// ever answered on it.
void MqttPublisher::lose(const std::string& reason) {
  loop_.forget(socket_);
  socket_ = -1;
  connected_ = false;
  inFlight_ = 0;
  if (connections_ != connectionsBefore_) {
    note(State::Lost, "connection to the MQTT broker " + where() + " lost: " + reason);
  } else if (!refusal_.empty()) {
    note(State::Refused, refusal_);  // the broker's own answer says more
  } else {
    const std::string library = libraryError_.empty() ? "" : " (" + libraryError_ + ")";
    note(State::Refused, "cannot connect to the MQTT broker " + where() + ": " + reason + library);
  }
  pause();
}

// Waits before the next attempt, longer after each failure in a row.
void MqttPublisher::pause() {
  worker_.sleepUntil(Clock::now() + retryPause_);
  retryPause_ = std::min(retryPause_ * 2, std::chrono::milliseconds(kLastRetryPause));
}

// Writes what is queued (the goodbye) and the DISCONNECT, for a moment at most.
void MqttPublisher::disconnect() {
  if (socket_ < 0) return;
  mosquitto_disconnect(client_);
  const Clock::time_point until = Clock::now() + kGoodbyeTime;
  int rc = mosquitto_loop_write(client_, 1);
  while (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(client_) && Clock::now() < until) {
    loop_.watch(socket_, kw::PollLoop::kWritable);
    bool woken = false;
    if (loop_.wait(worker_.wakeEvent(), until, &ready_, &woken)) break;
    rc = mosquitto_loop_write(client_, 1);
  }
  loop_.forget(socket_);
  socket_ = -1;
}

void MqttPublisher::connectCallback(mosquitto*, void* self, int rc) {
  static_cast<MqttPublisher*>(self)->onConnect(rc);
}

void MqttPublisher::disconnectCallback(mosquitto*, void* self, int) {
  static_cast<MqttPublisher*>(self)->onDisconnect();
}

void MqttPublisher::logCallback(mosquitto*, void* self, int level, const char* text) {
  static_cast<MqttPublisher*>(self)->onLog(level, text);
}

// The library's own words on a failure (TLS says here why it failed).
void MqttPublisher::onLog(int level, const char* text) {
  if ((level & MOSQ_LOG_ERR) != 0 && text != nullptr) libraryError_ = text;
}

void MqttPublisher::messageCallback(mosquitto*, void* self, const mosquitto_message* message) {
  auto* p = static_cast<MqttPublisher*>(self);
  ++p->received_;
  if (!p->settings_.sink || message == nullptr || message->topic == nullptr) return;
  const std::string_view payload(static_cast<const char*>(message->payload),
                                 message->payload != nullptr ? message->payloadlen : 0);
  p->settings_.sink(message->topic, payload, message->retain);
}

void MqttPublisher::publishCallback(mosquitto*, void* self, int) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (p->inFlight_.fetch_sub(1) <= 0) p->inFlight_ = 0;
}

// The broker's answer to the login: on success the status, then the
// latest message of every retained topic again.
void MqttPublisher::onConnect(int rc) {
  if (rc != 0) {
    refusal_ =
        "the MQTT broker " + where() + " refused the connection: " + mosquitto_connack_string(rc);
    note(State::Refused, refusal_);
    return;
  }
  inFlight_ = 0;
  connected_ = true;
  retryPause_ = kFirstRetryPause;
  note(connections_++ == 0 ? State::Connected : State::Back, "");
  for (const Subscription& s : settings_.subscriptions) {
    const int sub = mosquitto_subscribe(client_, nullptr, s.filter.c_str(), s.qos);
    if (sub != MOSQ_ERR_SUCCESS) {
      note(State::Lost,
           "cannot subscribe to '" + s.filter + "' at " + where() + ": " + reasonOf(sub));
    }
  }
  if (!statusTopic_.empty()) {
    std::string online;
    const auto [sec, ms] = wallNow();
    appendStatus(&online, settings_.site, "online", "", sec, ms);
    hand(statusTopic_, online, kStateQos, true);
  }
  std::vector<std::pair<std::string, Latest>> all;
  {
    kw::MutexLock lock(&stateMutex_);
    all.assign(latest_.begin(), latest_.end());
  }
  const auto [sec, ms] = wallNow();
  for (auto& [topic, latest] : all)
    hand(topic, remade(std::move(latest), sec, ms), kPositionQos, true);
  handWaiting();
}

void MqttPublisher::onDisconnect() {
  connected_ = false;
  inFlight_ = 0;
}

// A failed attempt to get back after the connection was lost is no new
// state: it stays lost (the reason is kept for the summary).
void MqttPublisher::note(State state, const std::string& reason) {
  kw::MutexLock lock(&stateMutex_);
  if (!reason.empty()) lastError_ = reason;
  if (stateKnown_ && state_ == State::Lost && state == State::Refused) return;
  // A refusal for another reason (the broker now listens, but refuses the
  // login) is news; the same refusal again is not.
  if (stateKnown_ && state == state_ && (state != State::Refused || reason == stateReason_)) return;
  stateKnown_ = true;
  state_ = state;
  stateReason_ = reason;
  changes_.push_back(OutputStateChange{settings_.name, state, reason, where()});
}

void MqttPublisher::takeStateChanges(std::vector<OutputStateChange>* changes) {
  kw::MutexLock lock(&stateMutex_);
  for (OutputStateChange& change : changes_) changes->push_back(std::move(change));
  changes_.clear();
}

// Hands one message to the library, or drops and counts it; the worker is
// woken to write it.
void MqttPublisher::hand(const std::string& topic, const std::string& payload, int qos,
                         bool retain) {
  if (!connected_ || inFlight_ >= static_cast<int64_t>(maxInFlight_) ||
      handOver(client_, topic, payload, qos, retain) != MOSQ_ERR_SUCCESS) {
    ++dropped_;
    return;
  }
  ++inFlight_;
  ++published_;
  if (armed_.exchange(false)) worker_.wake();
}

// An event goes out now when nothing older waits, the broker is there and
// the library's backlog has room; else it waits its turn (the oldest
// first), or is dropped and counted when kMaxWaiting wait already.
void MqttPublisher::handOrKeep(std::string topic, std::string payload) {
  kw::MutexLock lock(&waitingMutex_);
  if (waiting_.empty() && connected_ && inFlight_ < static_cast<int64_t>(maxInFlight_)) {
    const int rc = handOver(client_, topic, payload, kStateQos, false);
    if (rc == MOSQ_ERR_SUCCESS) {
      ++inFlight_;
      ++published_;
      if (armed_.exchange(false)) worker_.wake();
      return;
    }
    if (rc != MOSQ_ERR_NO_CONN) {
      ++dropped_;
      return;
    }
  }
  if (waiting_.size() >= kMaxWaiting) {
    ++dropped_;
    return;
  }
  waiting_.emplace_back(std::move(topic), std::move(payload));
  waitingCount_ = waiting_.size();
  if (connected_ && armed_.exchange(false)) worker_.wake();
}

// On the worker, connected: what waited goes out in order, as far as the
// library's backlog has room (the rest as it is written). The lock keeps
// newer events behind them.
void MqttPublisher::handWaiting() {
  if (waitingCount_ == 0 || !connected_) return;
  kw::MutexLock lock(&waitingMutex_);
  while (!waiting_.empty() && inFlight_ < static_cast<int64_t>(maxInFlight_)) {
    const auto& [topic, payload] = waiting_.front();
    const int rc = handOver(client_, topic, payload, kStateQos, false);
    if (rc == MOSQ_ERR_NO_CONN) break;  // lost again: they wait for the next one
    if (rc == MOSQ_ERR_SUCCESS) {
      ++inFlight_;
      ++published_;
    } else {
      ++dropped_;
    }
    waiting_.pop_front();
  }
  waitingCount_ = waiting_.size();
}

std::string MqttPublisher::topicOf(const std::string& levels) const {
  return settings_.site.empty() ? settings_.prefix + "/" + levels
                                : settings_.prefix + "/" + settings_.site + "/" + levels;
}

void MqttPublisher::remember(const std::string& topic, Latest latest) {
  kw::MutexLock lock(&stateMutex_);
  latest_[topic] = std::move(latest);
}

std::string MqttPublisher::remade(Latest latest, int64_t sec, int ms) {
  std::string payload;
  if (latest.unit) {
    latest.unit->idleSec += static_cast<double>(sec * 1000 + ms - latest.madeMs) / 1000.0;
    appendLocation(&payload, *latest.unit, sec, ms);
  } else {
    appendPortLine(&payload, latest.port, latest.silent, sec, ms);
    payload.pop_back();
  }
  return payload;
}

void MqttPublisher::publishNode(const NodeUpdate& update) {
  if (client_ == nullptr || !hasFix(update)) return;
  const std::string topic = topicOf(unitTopic(update));
  const auto [sec, ms] = wallNow();
  Latest latest{update, {}, false, sec * 1000 + ms};
  latest.unit->site = settings_.site;
  const std::string payload = remade(latest, sec, ms);
  remember(topic, std::move(latest));
  hand(topic, payload, kPositionQos, true);
}

void MqttPublisher::publishPort(const PortCounters& counters, bool silent) {
  if (client_ == nullptr) return;
  const std::string topic = topicOf(portTopic(counters));
  const auto [sec, ms] = wallNow();
  Latest latest{std::nullopt, counters, silent, sec * 1000 + ms};
  latest.port.site = settings_.site;
  const std::string payload = remade(latest, sec, ms);
  remember(topic, std::move(latest));
  hand(topic, payload, kPositionQos, true);
}

// Events are news, not state: sent once, not retained, not sent again.
void MqttPublisher::publishEvent(const Event& event, const NodeUpdate* unit, int64_t utcSec,
                                 int utcMs) {
  if (client_ == nullptr) return;
  PortCounters port;  // a port event names its port as the counters do
  port.port = event.name;
  port.fleet = event.fleet;
  const std::string levels = unit != nullptr ? unitTopic(*unit) : portTopic(port);
  std::string topic = settings_.prefix + "/events/";
  if (!settings_.site.empty()) topic.append(settings_.site).push_back('/');
  topic.append(levels);
  Event ours = event;
  ours.site = settings_.site;
  std::string payload;
  appendEventLine(&payload, ours, utcSec, utcMs);
  payload.pop_back();
  handOrKeep(std::move(topic), std::move(payload));
}

MqttPublisher::Stats MqttPublisher::stats() const {
  Stats s;
  s.connected = connected_;
  s.connections = connections_;
  s.published = published_;
  s.dropped = dropped_;
  s.received = received_;
  s.waiting = waitingCount_;
  kw::MutexLock lock(&stateMutex_);
  s.lastError = lastError_;
  return s;
}

}  // namespace kw_out
