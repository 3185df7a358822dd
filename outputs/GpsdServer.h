// A position server that speaks gpsd's JSON protocol on TCP, so that gpsd
// clients (gpspipe, cgps, anything built on libgps) can watch every node.
// A client gets the VERSION banner on connect; ?WATCH={"enable":true,
// "json":true} starts one TPV report per node update, the device "node:<n>"
// naming the node; ?DEVICES lists the nodes heard so far; ?POLL answers the
// latest fix of each.
//
// The server runs its own thread around poll(). publish(), called on the
// runner's thread, formats the report and hands it over under a short lock;
// it never waits for a client. Each client has a bounded output backlog:
// a client that does not read loses its backlog (the lines are counted) and
// keeps getting the newest reports. Commands are bounded in length; a client
// that sends longer ones is disconnected. This file is the outputs' only
// home of socket code.
//
// Owns: the listening socket, the client sockets, the server thread.
// Thread safety: publish() and stats() from any one thread while the server
// runs; start()/stop() from the thread that owns the object.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outputs/NodeUpdate.h"

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
  // (0: any free port, see port()) and starts the server thread. False with
  // the reason in error().
  bool start(const std::string& address, int port);
  void stop();

  // The port listened on, once started.
  int port() const { return port_; }
  const std::string& error() const { return error_; }

  // Reports a node update with a fix to the watching clients.
  void publish(const NodeUpdate& update);

  Stats stats() const;

 private:
  struct Report {
    int node;
    std::string line;  // TPV object with its line feed
  };

  void run();

  Limits limits_;
  std::string error_;
  int port_ = 0;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> armed_{false};  // the server thread may sleep: publish() must wake it

  std::mutex inboxMutex_;
  std::vector<Report> inbox_;
  size_t inboxBytes_ = 0;

  std::atomic<uint64_t> clients_{0}, accepted_{0}, refused_{0}, droppedLines_{0},
      closedLongInput_{0}, inboxDropped_{0};
};

}  // namespace kw_out
