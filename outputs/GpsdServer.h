// A position server that speaks gpsd's JSON protocol on TCP, so that gpsd
// clients (gpspipe, cgps, xgps, anything built on libgps, python3-gps) can
// watch the units. A client gets the VERSION banner on connect;
// ?WATCH={"enable":true,"json":true} starts one TPV report per new fix,
// the device ("node:7", "node:north/7": unitDevice) telling the units apart; with "nmea":true
// (gpspipe -r) each fix comes as NMEA 0183 sentences instead or as well;
// ?POLL answers the latest fix of each unit.
//
// Devices. libgps, and so cgps and most clients, refuses a DEVICES list of
// more than four entries, and gpsd itself never has more; a flowhost may
// carry a thousand units. So the DEVICES list names one device, "all",
// that stands for every unit (its subtype says how many have been heard),
// and a client that follows one unit (a WATCH with "device":"node:7", as
// `cgps host:port:node:7` sends) is told of that unit alone and gets only
// its reports. Every TPV still names its unit, so a client that follows
// "all" (gpspipe -w) tells them apart.
//
// Clients. A client that does not watch (it never sent a WATCH, or turned
// it off) and sends nothing for Limits::idleTimeout is closed. When the
// client limit is reached, a new connection takes the place of the client
// that has idled longest without watching; only when every client watches
// is the new one turned away. So idle connections cannot lock clients out.
//
// The server runs on a worker of its own (kw::Worker) around a poll loop
// (kw::PollLoop), one short handler per event, as redis's networking code
// reads: acceptClients (the listener is readable), readFrom and answer (a
// client sent commands), writeTo (a client can take more), expire (an idle
// client's deadline passed), drainInbox (the runner handed over fixes).
// publish(), on the runner's thread, hands the fix over under a short lock
// (the texts are made on the server's worker); it never waits for a
// client. Each client has a bounded output backlog: a client that does not
// read loses its backlog (the lines are counted) and keeps getting the
// newest reports. Commands are bounded in length; a client that sends
// longer ones is disconnected.
//
// Owns: the listening socket, the client sockets, the worker.
// Thread safety: publish() and stats() from any one thread while the server
// runs; start()/stop() from the thread that owns the object; everything
// else on the server's worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "outputs/GpsdProtocol.h"
#include "outputs/NodeUpdate.h"
#include "platform/mutex.h"
#include "platform/poll_loop.h"
#include "platform/socket.h"
#include "platform/worker.h"

namespace kw_out {

class GpsdServer {
 public:
  // gpsd's own port, where its clients look first.
  static constexpr int kDefaultPort = 2947;

  struct Limits {
    size_t maxClients = 1000;
    size_t clientBacklog = 256 * 1024;  // bytes queued per client
    size_t maxCommand = 4096;           // bytes of one command
    size_t inbox = 20000;               // fixes handed over, not yet taken by the server thread
    // A client that does not watch is closed after this long without a command.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
  };
  struct Stats {
    uint64_t clients = 0;          // connected now
    uint64_t accepted = 0;         // connections taken since start
    uint64_t refused = 0;          // connections closed at once: every client watches
    uint64_t droppedLines = 0;     // lines dropped from slow clients' backlogs
    uint64_t closedLongInput = 0;  // clients disconnected for a command beyond the bound
    uint64_t closedIdle = 0;       // clients closed for idling: timed out or replaced
    uint64_t inboxDropped = 0;     // fixes dropped before the server thread took them
  };

  GpsdServer();
  explicit GpsdServer(const Limits& limits);
  ~GpsdServer();
  GpsdServer(const GpsdServer&) = delete;
  GpsdServer& operator=(const GpsdServer&) = delete;

  // Listens on the IPv4 `address` ("localhost" means 127.0.0.1) and `port`
  // (0: any free port, see port()) and starts the server's worker. False
  // with the reason in error().
  bool start(const std::string& address, int port);
  void stop();

  // The port listened on, once started.
  int port() const { return port_; }
  const std::string& error() const { return error_; }

  // Reports a unit's new fix to the clients that follow it.
  void publish(const NodeUpdate& update) KW_EXCLUDES(inboxMutex_);

  Stats stats() const;

 private:
  struct Client;
  // A unit heard so far, in the order first heard.
  struct Unit {
    std::string key;  // unitDevice: its device path
    std::string tpv;  // its latest TPV object, without the line end
    gpsd::Device device;
  };

  // The loop and its handlers, on the server's worker.
  void run();
  void dispatch(const kw::PollLoop::Ready& ready);
  void acceptClients();
  bool makeRoom();
  void readFrom(Client* client);
  void answer(Client* client, const gpsd::Command& command);
  void watch(Client* client, const gpsd::Command& command, std::string* reply);
  void writeTo(Client* client);
  void expire(Client* client);
  void drainInbox() KW_EXCLUDES(inboxMutex_);
  void deliver(const NodeUpdate& fix, Unit* unit);
  void closeDeadClients();
  bool inboxPending() KW_EXCLUDES(inboxMutex_);
  // Marks `client` to be closed at the end of the round.
  void drop(Client* client);
  // Queues `line` for `client` within its backlog bound.
  void enqueue(Client* client, const std::string& line);
  // Watches `client` for what it waits for now.
  void watchFor(const Client& client);
  // An idle client's deadline from now; a watching client has none.
  void setIdleDeadline(const Client& client);
  Unit& unitOf(const NodeUpdate& fix);
  std::string devicesLine(const Client& client) const;
  std::string pollLine(const Client& client) const;

  // Constant while the worker runs.
  Limits limits_;
  std::string error_;
  int port_ = 0;
  kw::Socket listener_;
  kw::Worker worker_;

  // The server's worker only.
  kw::PollLoop loop_;
  std::unordered_map<int, std::unique_ptr<Client>> clients_;  // by socket
  size_t dying_ = 0;                                          // clients marked dead this round
  std::vector<Client*> watchers_;  // the clients that watch, rebuilt when one changes
  bool watchersChanged_ = false;
  std::vector<Unit> units_;
  std::unordered_map<std::string, size_t> unitIndex_;  // key -> place in units_
  std::vector<NodeUpdate> taken_;
  std::vector<kw::PollLoop::Ready> ready_;
  std::string text_;  // scratch for the texts of one fix

  // The runner hands fixes over here.
  kw::Mutex inboxMutex_;
  std::vector<NodeUpdate> inbox_ KW_GUARDED_BY(inboxMutex_);
  std::atomic<bool> armed_{false};  // the worker may sleep: publish() must wake it

  std::atomic<uint64_t> clientCount_{0}, accepted_{0}, refused_{0}, droppedLines_{0},
      closedLongInput_{0}, closedIdle_{0}, inboxDropped_{0};
};

}  // namespace kw_out
