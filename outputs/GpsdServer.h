// A position server that speaks gpsd's JSON protocol on TCP, so that gpsd
// clients (gpspipe, cgps, anything built on libgps) can watch every node.
// A client gets the VERSION banner on connect; ?WATCH={"enable":true,
// "json":true} starts one TPV report per node update, the device "node:<n>"
// ("node:<fleet>/<n>" for a unit of a fleet, unitDevice)
// naming the node; ?DEVICES lists the nodes heard so far; ?POLL answers the
// latest fix of each.
//
// The server runs on a worker of its own (kw::Worker) around a poll loop
// (kw::PollLoop), one short handler per event, as redis's networking code
// reads: acceptClients (the listener is readable), readFrom and answer (a
// client sent commands), writeTo (a client can take more), drainInbox (the
// runner handed over reports). publish(), on the runner's thread, formats
// the report and hands it over under a short lock; it never waits for a
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
#include <cstddef>
#include <cstdint>
#include <map>
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
  struct Limits {
    size_t maxClients = 1000;
    size_t clientBacklog = 256 * 1024;  // bytes queued per client
    size_t maxCommand = 4096;           // bytes of one command
    size_t inbox = 4 * 1024 * 1024;     // bytes handed over, not yet taken by the server thread
  };
  struct Stats {
    uint64_t clients = 0;          // connected now
    uint64_t accepted = 0;         // connections taken since start
    uint64_t refused = 0;          // connections closed at once: too many clients
    uint64_t droppedLines = 0;     // lines dropped from slow clients' backlogs
    uint64_t closedLongInput = 0;  // clients disconnected for a command beyond the bound
    uint64_t inboxDropped = 0;     // reports dropped before the server thread took them
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

  // Reports a node update with a fix to the watching clients.
  void publish(const NodeUpdate& update) KW_EXCLUDES(inboxMutex_);

  Stats stats() const;

 private:
  struct Report {
    UnitId unit;
    std::string line;  // TPV object with its line feed
  };
  struct Client;

  // The loop and its handlers, on the server's worker.
  void run();
  void dispatch(const kw::PollLoop::Ready& ready);
  void acceptClients();
  void readFrom(Client* client);
  void answer(Client* client, const gpsd::Command& command);
  void writeTo(Client* client);
  void drainInbox() KW_EXCLUDES(inboxMutex_);
  void closeDeadClients();
  bool inboxPending() KW_EXCLUDES(inboxMutex_);
  // Queues `line` for `client` within its backlog bound.
  void enqueue(Client* client, const std::string& line);
  // Watches `client` for what it waits for now.
  void watchFor(const Client& client);
  std::string devicesLine() const;

  // Constant while the worker runs.
  Limits limits_;
  std::string error_;
  int port_ = 0;
  kw::Socket listener_;
  kw::Worker worker_;

  // The server's worker only.
  kw::PollLoop loop_;
  std::unordered_map<int, std::unique_ptr<Client>> clients_;  // by socket
  std::map<UnitId, std::string> latest_;  // unit -> TPV object without line feed
  std::map<UnitId, gpsd::Device> devices_;
  std::vector<Report> taken_;
  std::vector<kw::PollLoop::Ready> ready_;

  // The runner hands reports over here.
  kw::Mutex inboxMutex_;
  std::vector<Report> inbox_ KW_GUARDED_BY(inboxMutex_);
  size_t inboxBytes_ KW_GUARDED_BY(inboxMutex_) = 0;
  std::atomic<bool> armed_{false};  // the worker may sleep: publish() must wake it

  std::atomic<uint64_t> clientCount_{0}, accepted_{0}, refused_{0}, droppedLines_{0},
      closedLongInput_{0}, inboxDropped_{0};
};

}  // namespace kw_out
