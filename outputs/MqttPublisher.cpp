#include "outputs/MqttPublisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "outputs/JsonLines.h"
#include "outputs/TextOut.h"

namespace kw_out {

namespace {

std::once_flag libraryInit;

constexpr int kKeepAliveSec = 30;

}  // namespace

MqttPublisher::MqttPublisher(size_t maxInFlight) : maxInFlight_(maxInFlight) {}

MqttPublisher::~MqttPublisher() { stop(); }

std::string MqttPublisher::topicLevel(const std::string& name) {
  std::string level;
  level.reserve(name.size());
  for (const char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    level.push_back(c < 0x20 || c >= 0x7F || c == '/' || c == '+' || c == '#' ? '_' : ch);
  }
  return level.empty() ? "_" : level;
}

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
  appendJsonString(out, level.size() > 2 ? std::string_view(level).substr(level.size() - 2) : level);
  out->append(",\"node\":");
  appendInt(out, u.node);
  out->append(",\"name\":");
  appendJsonString(out, name);
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
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::connectCallback);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::disconnectCallback);
  mosquitto_publish_callback_set(client_, &MqttPublisher::publishCallback);
  host_ = host;
  port_ = port;
  prefix_ = prefix;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void MqttPublisher::stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(waitMutex_);
      stopping_ = true;
    }
    waitCv_.notify_all();
    thread_.join();
  }
  if (client_ != nullptr) {
    mosquitto_destroy(client_);
    client_ = nullptr;
  }
  connected_ = false;
}

void MqttPublisher::run() {
  bool socketUp = false;
  uint64_t connectionsBefore = 0;  // connections_ when this socket was opened
  const auto pause = [this](std::chrono::milliseconds how_long) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    return !waitCv_.wait_for(lock, how_long, [this] { return stopping_; });
  };
  const auto running = [this] {
    std::lock_guard<std::mutex> lock(waitMutex_);
    return !stopping_;
  };
  while (running()) {
    if (!socketUp) {
      // Host names are looked up here, on this thread, never on the feed's.
      const int rc = mosquitto_connect_async(client_, host_.c_str(), port_, kKeepAliveSec);
      if (rc != MOSQ_ERR_SUCCESS) {
        {
          std::lock_guard<std::mutex> lock(latestMutex_);
          lastError_ = "cannot connect to the MQTT broker " + host_ + ":" + std::to_string(port_) +
                       ": " + mosquitto_strerror(rc);
        }
        if (rc == MOSQ_ERR_ERRNO) {
          std::lock_guard<std::mutex> lock(latestMutex_);
          lastError_ += std::string(" (") + std::strerror(errno) + ")";
        }
        if (!pause(std::chrono::milliseconds(500))) break;
        continue;
      }
      socketUp = true;
      connectionsBefore = connections_;
    }
    const int rc = mosquitto_loop(client_, 100, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
      socketUp = false;
      connected_ = false;
      const bool wasConnected = connections_ != connectionsBefore;
      {
        std::lock_guard<std::mutex> lock(latestMutex_);
        lastError_ = (wasConnected ? "connection to the MQTT broker " : "cannot connect to the MQTT broker ") +
                     host_ + ":" + std::to_string(port_) + (wasConnected ? " lost: " : ": ") +
                     mosquitto_strerror(rc);
      }
      if (!pause(std::chrono::milliseconds(500))) break;
    }
  }
  if (socketUp) {
    mosquitto_disconnect(client_);
    mosquitto_loop(client_, 10, 1);
  }
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
    std::lock_guard<std::mutex> lock(latestMutex_);
    lastError_ = std::string("the MQTT broker refused the connection: ") + mosquitto_connack_string(rc);
    return;
  }
  inFlight_ = 0;
  connected_ = true;
  ++connections_;
  std::vector<std::pair<std::string, std::string>> all;
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    all.assign(latest_.begin(), latest_.end());
  }
  for (const auto& [topic, payload] : all) send(topic, payload);
}

void MqttPublisher::onDisconnect() {
  connected_ = false;
  inFlight_ = 0;
}

void MqttPublisher::send(const std::string& topic, const std::string& payload) {
  if (!connected_ || inFlight_ >= static_cast<int64_t>(maxInFlight_)) {
    ++dropped_;
    return;
  }
  const int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), 0, true);
  if (rc == MOSQ_ERR_SUCCESS) {
    ++inFlight_;
    ++published_;
  } else {
    ++dropped_;
  }
}

void MqttPublisher::publishNode(const NodeUpdate& update) {
  if (client_ == nullptr || !hasFix(update)) return;
  std::string topic = prefix_ + "/" + topicLevel(displayName(update));
  std::string payload;
  appendLocation(&payload, update);
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    latest_[topic] = payload;
  }
  send(topic, payload);
}

void MqttPublisher::publishPort(const PortCounters& counters, bool silent) {
  if (client_ == nullptr) return;
  std::string topic = prefix_ + "/feeds/" + topicLevel(counters.port);
  std::string payload;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  appendPortLine(&payload, counters, silent, ms / 1000, static_cast<int>(ms % 1000));
  payload.pop_back();
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    latest_[topic] = payload;
  }
  send(topic, payload);
}

MqttPublisher::Stats MqttPublisher::stats() const {
  Stats s;
  s.connected = connected_;
  s.connections = connections_;
  s.published = published_;
  s.dropped = dropped_;
  {
    std::lock_guard<std::mutex> lock(latestMutex_);
    s.lastError = lastError_;
  }
  return s;
}

}  // namespace kw_out
