// Publishes positions to an MQTT broker so that other machines can follow
// the units: each node update goes to "<prefix>/<node name or number>" as an
// OwnTracks-style location object, and the port counters to
// "<prefix>/feeds/<port>", all retained so that a late subscriber sees every
// unit at once.
//
// The client (Debian's libmosquitto) is driven from a worker of our own
// (kw::Worker) around a poll loop on the client's socket: connecting,
// reading, writing and the keep-alive are the library's; waiting, waking
// and stopping are ours. The worker reconnects after the broker goes away
// and on each connection publishes again the latest message of every topic
// (a restarted broker without persistence has forgotten them). publish()
// on the runner's thread only hands a message to the library and wakes the
// worker: while the broker is away, or when too many messages wait to be
// written, the message is dropped and counted; its topic's latest content
// is still sent on the next connection.
//
// Each change of the connection's state (connected; refused or lost, with
// the reason) is kept once, for takeStateChanges().
//
// Owns: the libmosquitto client, the worker, the latest message per topic.
// Thread safety: publishNode/publishPort/stats/takeStateChanges from any one
// thread while running; start()/stop() from the thread that owns the
// object; the library's callbacks run on the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "outputs/NodeUpdate.h"
#include "outputs/OutputState.h"
#include "platform/mutex.h"
#include "platform/poll_loop.h"
#include "platform/worker.h"

struct mosquitto;

namespace kw_out {

class MqttPublisher {
 public:
  // The broker's port when the endpoint names none.
  static constexpr int kDefaultPort = 1883;

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

  Stats stats() const KW_EXCLUDES(stateMutex_);
  // Moves the state changes seen since the last call to the end of *changes.
  void takeStateChanges(std::vector<OutputStateChange>* changes) KW_EXCLUDES(stateMutex_);

  // Appends the location object of `update` (no line feed).
  static void appendLocation(std::string* out, const NodeUpdate& update);

 private:
  // The worker's loop and its steps.
  void run();
  bool startConnection();
  void serve();
  void lose(const std::string& reason);
  void pause();
  void disconnect();

  void hand(const std::string& topic, const std::string& payload);
  void remember(const std::string& topic, const std::string& payload) KW_EXCLUDES(stateMutex_);
  // Notes the connection's state; a change from the last one is kept.
  void note(OutputStateChange::State state, const std::string& reason) KW_EXCLUDES(stateMutex_);
  void onConnect(int rc);
  void onDisconnect();
  static void connectCallback(mosquitto*, void* self, int rc);
  static void disconnectCallback(mosquitto*, void* self, int rc);
  static void publishCallback(mosquitto*, void* self, int mid);

  // Constant while the worker runs.
  size_t maxInFlight_;
  std::string host_;
  int port_ = kDefaultPort;
  std::string prefix_;
  std::string error_;
  mosquitto* client_ = nullptr;
  kw::Worker worker_;

  // The worker only.
  kw::PollLoop loop_;
  std::vector<kw::PollLoop::Ready> ready_;
  int socket_ = -1;                 // the client's socket while one is open
  uint64_t connectionsBefore_ = 0;  // connections_ when that socket was opened

  mutable kw::Mutex stateMutex_;
  std::map<std::string, std::string> latest_ KW_GUARDED_BY(stateMutex_);  // topic -> payload
  std::string lastError_ KW_GUARDED_BY(stateMutex_);
  bool stateKnown_ KW_GUARDED_BY(stateMutex_) = false;
  OutputStateChange::State state_ KW_GUARDED_BY(stateMutex_) = OutputStateChange::State::Lost;
  std::vector<OutputStateChange> changes_ KW_GUARDED_BY(stateMutex_);

  std::atomic<bool> armed_{false};  // the worker may sleep: a new message must wake it
  std::atomic<bool> connected_{false};
  std::atomic<int64_t> inFlight_{0};
  std::atomic<uint64_t> connections_{0}, published_{0}, dropped_{0};
};

}  // namespace kw_out
