// Publishes positions to an MQTT broker so that other machines can follow
// the units: each node update goes to "<prefix>/<node name or number>" as an
// OwnTracks-style location object, and the port counters to
// "<prefix>/feeds/<port>", all retained so that a late subscriber sees every
// unit at once.
//
// The client (Debian's libmosquitto) runs on its own thread, which connects,
// reconnects on its own after the broker goes away, and on each connection
// publishes again the latest message of every topic (a restarted broker
// without persistence has forgotten them). publish() on the runner's thread
// only hands a message to the library: while the broker is away, or when
// too many messages wait to be written, the message is dropped and counted;
// its topic's latest content is still sent on the next connection.
//
// Owns: the libmosquitto client, its thread, the latest message per topic.
// Thread safety: publishNode/publishPort/stats from any one thread while
// running; start()/stop() from the thread that owns the object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "outputs/NodeUpdate.h"

struct mosquitto;

namespace kw_out {

class MqttPublisher {
 public:
  struct Stats {
    bool connected = false;
    uint64_t connections = 0;  // successful connections (the first and every reconnection)
    uint64_t published = 0;    // messages handed to the library
    uint64_t dropped = 0;      // messages not handed over: broker away or backlog full
    std::string lastError;     // the last connection failure with its reason
  };

  explicit MqttPublisher(size_t maxInFlight = 10000);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Starts connecting to `host`:`port` in the background; `prefix` is the
  // first topic level(s), e.g. "gps". False with the reason in error() when
  // the prefix is not a valid topic or the client cannot be made. A broker
  // that cannot be reached is not an error: the client keeps trying.
  bool start(const std::string& host, int port, const std::string& prefix);
  void stop();
  const std::string& error() const { return error_; }

  void publishNode(const NodeUpdate& update);
  // `silent`: the port has gone silent (see ChangeTracker).
  void publishPort(const PortCounters& counters, bool silent = false);

  Stats stats() const;

  // The topic level that stands for `name`: characters MQTT reserves ('/',
  // '+', '#') and anything but printable ASCII become '_'.
  static std::string topicLevel(const std::string& name);
  // Appends the location object of `update` (no line feed).
  static void appendLocation(std::string* out, const NodeUpdate& update);

 private:
  void run();
  void send(const std::string& topic, const std::string& payload);
  void onConnect(int rc);
  void onDisconnect();
  static void connectCallback(mosquitto*, void* self, int rc);
  static void disconnectCallback(mosquitto*, void* self, int rc);
  static void publishCallback(mosquitto*, void* self, int mid);

  size_t maxInFlight_;
  std::string host_;
  int port_ = 1883;
  std::string prefix_;
  std::string error_;
  mosquitto* client_ = nullptr;
  std::thread thread_;

  std::mutex waitMutex_;
  std::condition_variable waitCv_;
  bool stopping_ = false;

  mutable std::mutex latestMutex_;
  std::map<std::string, std::string> latest_;  // topic -> payload
  std::string lastError_;                      // guarded by latestMutex_

  std::atomic<bool> connected_{false};
  std::atomic<int64_t> inFlight_{0};
  std::atomic<uint64_t> connections_{0}, published_{0}, dropped_{0};
};

}  // namespace kw_out
