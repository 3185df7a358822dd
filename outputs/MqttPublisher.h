// Publishes positions to an MQTT broker so that other machines can follow
// the units. Every topic names this flowhost's site (e.g. "yard") below
// the prefix (e.g. "gpsfeed"), so that the sites of one broker stay apart:
//
//   <prefix>/<site>/<unit>          each unit's OwnTracks-style location,
//                                   retained, QoS 0 (<unit>: its label's
//                                   levels, "unit3", "north/unit3"), with
//                                   "site" and "sent" (this machine's wall
//                                   clock when the message was made)
//   <prefix>/<site>/feeds/<port>    each port's counters, retained, QoS 0
//   <prefix>/events/<site>/<unit>   a unit's events (health, map enter and
//   <prefix>/events/<site>/feeds/<port>   leave) and a port's (silent,
//                                   back), as the JSON stream's EVENT
//                                   objects with "site", QoS 1
//   <prefix>/status/<site>          this flowhost's status, retained, QoS 1:
//     {"class":"STATUS","site":"<site>","state":"online","time":"<ISO>"}
//     and, as the broker's last will when the connection dies without a
//     goodbye (or sent at a clean stop, "reason":"stopped"),
//     {"class":"STATUS","site":"<site>","state":"offline","reason":"connection lost"}
//
// A subscriber to "<prefix>/status/+" learns every site and whether it is
// there; one to "<prefix>/#" gets the whole picture. A client without a
// site (one that only subscribes) publishes without the site level and
// without a status.
//
// The client (Debian's libmosquitto) is driven from a worker of our own
// (kw::Worker) around a poll loop on the client's socket: connecting,
// reading, writing, TLS and the keep-alive are the library's; waiting,
// waking and stopping are ours. The worker reconnects after the broker goes
// away or refuses (waiting 0.5 s, then twice as long each time up to 5 s)
// and on each connection publishes again the latest message of every
// retained topic (a restarted broker without persistence has forgotten
// them), made anew: "sent" (a port's "time") is the wall clock of the new
// message, so a reader that measures a site's clock by it is not misled by
// the time the broker was away, and a unit's "idle" grows by the wait, so
// that "sent" less "idle" stays the moment the unit was last heard. publish*() on the runner's
// thread only hands a message to the library and wakes the worker. While the broker is away, or too
// many messages wait to be written, a retained topic's message is dropped and counted (its latest
// content goes out on the next connection anyway); the other messages (events) wait in a queue of
// kMaxWaiting and go out in order, before anything newer, once the broker is back and has taken the
// backlog; beyond that bound they are dropped and counted.
//
// The same client also serves a centre that reads other flowhosts back:
// with subscriptions in its settings it subscribes to them on every
// connection (each at its own QoS) and hands each message that arrives to
// the sink, on the worker.
//
// Each change of the connection's state (connected; refused or lost, with
// the reason; back) is kept once, for takeStateChanges(). A broker that
// refuses the login says why ("not authorised"); a TLS failure carries the
// library's own words ("certificate verify failed").
//
// Owns: the libmosquitto client, the worker, the latest message per topic,
// the events waiting for the broker.
// Thread safety: publish*/stats/takeStateChanges from any one thread while
// running; start()/stop() from the thread that owns the object; the
// library's callbacks run on the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "outputs/ChangeTracker.h"
#include "outputs/NodeUpdate.h"
#include "outputs/OutputState.h"
#include "platform/mutex.h"
#include "platform/poll_loop.h"
#include "platform/worker.h"

struct mosquitto;
struct mosquitto_message;

namespace kw_out {

class MqttPublisher {
 public:
  // The broker's port when the endpoint names none: MQTT's, or MQTT over
  // TLS's.
  static constexpr int kDefaultPort = 1883;
  static constexpr int kDefaultTlsPort = 8883;
  // The most messages that are not retained (events) waiting for the
  // broker to come back.
  static constexpr size_t kMaxWaiting = 10000;

  // One topic filter to subscribe to, and the largest QoS to take it at.
  struct Subscription {
    std::string filter;
    int qos = 0;
  };
  // A message that arrived: its topic, payload and whether the broker kept
  // it from before (retained) rather than passing it on as it came. Called
  // on the worker; it must not wait.
  using Sink = std::function<void(std::string_view topic, std::string_view payload, bool retained)>;

  struct Settings {
    std::string host;
    int port = kDefaultPort;
    std::string prefix;         // the first topic level(s), e.g. "gpsfeed"
    std::string site;           // the level after the prefix, and the status; "" none
    std::string user;           // "" logs in without a name
    std::string password;       // with `user`
    std::string caFile;         // "" plain TCP; else TLS, the broker checked against these CAs
    std::string name = "mqtt";  // the output's name in its state changes
    std::vector<Subscription> subscriptions;  // subscribed to on every connection
    Sink sink;                                // takes what they bring
  };

  struct Stats {
    bool connected = false;
    uint64_t connections = 0;  // successful connections (the first and every reconnection)
    uint64_t published = 0;    // messages handed to the library
    uint64_t dropped = 0;      // messages not handed over: broker away or backlog full
    uint64_t waiting = 0;      // events waiting for the broker to come back
    uint64_t received = 0;     // messages that arrived on the subscriptions
    std::string lastError;     // the last connection failure with its reason
  };

  explicit MqttPublisher(size_t maxInFlight = 10000);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Starts connecting in the background. False with the reason in error()
  // when the prefix is not a valid topic, the site not a valid site name,
  // the CA file cannot be used or the client cannot be made. A broker that cannot be reached is not
  // an error: the client keeps trying.
  bool start(const Settings& settings);
  bool start(const std::string& host, int port, const std::string& prefix,
             const std::string& site = "");
  // Says "offline" (when it publishes a status) and disconnects cleanly.
  void stop();
  const std::string& error() const { return error_; }

  void publishNode(const NodeUpdate& update);
  // `silent`: the port has gone silent (see ChangeTracker).
  void publishPort(const PortCounters& counters, bool silent = false);
  // A unit's event (`unit` its update) or a port's (`unit` null), seen at
  // `utcSec`/`utcMs`.
  void publishEvent(const Event& event, const NodeUpdate* unit, int64_t utcSec, int utcMs);

  Stats stats() const KW_EXCLUDES(stateMutex_);
  // Moves the state changes seen since the last call to the end of *changes.
  void takeStateChanges(std::vector<OutputStateChange>* changes) KW_EXCLUDES(stateMutex_);

  // The password in the first line of `file` (--mqtt-password-file); false
  // with the reason.
  static bool readPasswordFile(const std::string& file, std::string* password, std::string* error);

  // Appends the location object of `update` (no line feed); with "sent"
  // when `sentSec` >= 0.
  static void appendLocation(std::string* out, const NodeUpdate& update, int64_t sentSec = -1,
                             int sentMs = 0);
  // Appends the status object of `site`: `state` "online" or "offline",
  // `reason` "" for none, `utcSec` < 0 for no time.
  static void appendStatus(std::string* out, const std::string& site, const char* state,
                           const char* reason, int64_t utcSec, int utcMs);

 private:
  // The worker's loop and its steps.
  void run();
  bool startConnection();
  void serve();
  void lose(const std::string& reason);
  void pause();
  void disconnect();
  bool setUpClient();

  void hand(const std::string& topic, const std::string& payload, int qos, bool retain);
  // Hands an event over, or keeps it until the broker is back.
  void handOrKeep(std::string topic, std::string payload) KW_EXCLUDES(waitingMutex_);
  // Hands over the events that waited, in order (on the worker).
  void handWaiting() KW_EXCLUDES(waitingMutex_);
  // `levels` below the prefix and the site: "<prefix>/<site>/<levels>".
  std::string topicOf(const std::string& levels) const;
  // The latest message of a retained topic, made at `sec`/`ms`, kept to
  // be made anew on the next connection.
  struct Latest;
  void remember(const std::string& topic, Latest latest) KW_EXCLUDES(stateMutex_);
  // The message of `latest` made anew at `sec`/`ms`.
  static std::string remade(Latest latest, int64_t sec, int ms);
  // Notes the connection's state; a change from the last one is kept.
  void note(OutputStateChange::State state, const std::string& reason) KW_EXCLUDES(stateMutex_);
  std::string where() const;
  void onConnect(int rc);
  void onDisconnect();
  void onLog(int level, const char* text);
  static void connectCallback(mosquitto*, void* self, int rc);
  static void disconnectCallback(mosquitto*, void* self, int rc);
  static void publishCallback(mosquitto*, void* self, int mid);
  static void messageCallback(mosquitto*, void* self, const mosquitto_message* message);
  static void logCallback(mosquitto*, void* self, int level, const char* text);

  // Constant while the worker runs.
  size_t maxInFlight_;
  Settings settings_;
  std::string statusTopic_;  // "" without a status
  std::string error_;
  mosquitto* client_ = nullptr;
  kw::Worker worker_;

  // The worker only.
  kw::PollLoop loop_;
  std::vector<kw::PollLoop::Ready> ready_;
  int socket_ = -1;                 // the client's socket while one is open
  uint64_t connectionsBefore_ = 0;  // connections_ when that socket was opened
  std::string refusal_;             // why the broker refused the last login, "" when it did not
  std::string libraryError_;        // the library's last error report (TLS)
  std::chrono::milliseconds retryPause_;

  mutable kw::Mutex stateMutex_;
  // A location (with `unit`) or a port's counters: what went into it and
  // when it was made. Made anew, a location says it is sent now and its
  // unit idle for as much longer as it waited (so its last fix stays where
  // it was); the counters say they are now.
  struct Latest {
    std::optional<NodeUpdate> unit;
    PortCounters port;
    bool silent = false;
    int64_t madeMs = 0;
  };
  std::map<std::string, Latest> latest_ KW_GUARDED_BY(stateMutex_);  // by topic
  std::string lastError_ KW_GUARDED_BY(stateMutex_);
  bool stateKnown_ KW_GUARDED_BY(stateMutex_) = false;
  std::string stateReason_ KW_GUARDED_BY(stateMutex_);  // the reason of the last change told
  OutputStateChange::State state_ KW_GUARDED_BY(stateMutex_) = OutputStateChange::State::Lost;
  std::vector<OutputStateChange> changes_ KW_GUARDED_BY(stateMutex_);

  // Events for the broker while it is away: topic and payload, oldest first.
  mutable kw::Mutex waitingMutex_;
  std::deque<std::pair<std::string, std::string>> waiting_ KW_GUARDED_BY(waitingMutex_);

  std::atomic<bool> armed_{false};  // the worker may sleep: a new message must wake it
  std::atomic<bool> connected_{false};
  std::atomic<int64_t> inFlight_{0};
  std::atomic<uint64_t> connections_{0}, published_{0}, dropped_{0}, received_{0};
  std::atomic<size_t> waitingCount_{0};  // waiting_.size(), read without the lock
};

}  // namespace kw_out
