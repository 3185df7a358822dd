// WebServer: flowhost's screen in a browser, served from this process (no
// internet needed): the page and its files, the state as JSON and the
// event stream (see WebRoutes for the addresses).
//
// One worker of the platform (kw::Worker) runs the connections on a poll
// loop (kw::PollLoop), one short handler per event: acceptClients,
// readFrom, writeTo, takeAnswers (the request workers are done),
// sendEvents (the runner published), timedOut. The loop reads a request's
// line and headers itself, within limits, and only a complete request goes
// to one of the request workers (kw::TaskPool), where cpp-httplib parses
// it from memory and answers it to memory (WebRoutes). So:
//  - a request whose headers pass headerBytes is refused (431), one whose
//    body passes bodyBytes is refused (413), both before the rest is read;
//  - a client that is slow to send its headers is cut off after
//    headerTime, an idle connection after idleTime, a response or stream
//    that the client does not take after stuckTime;
//  - at most perClient connections from one address and `connections` in
//    all; further ones are refused (503) at once;
//  - event streams are connections of the loop, not of the workers: any
//    number of open streams leaves every worker free for pages;
//  - each stream has a bounded queue (streamQueue bytes): a browser that
//    does not keep up loses deltas (counted) and then gets a fresh state;
//  - stop() ends every connection at once, whatever the clients do.
//
// Owns the listening socket, the connections, the loop's worker and the
// request workers. The feed and history belong to the caller and outlive
// the server.
// Thread safety: start(), stop() from the owner's thread; notify() and
// stats() from any thread; the handlers run on the loop's worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "apps/flowhost/views/web/WebRoutes.h"
#include "platform/mutex.h"
#include "platform/poll_loop.h"
#include "platform/socket.h"
#include "platform/task_pool.h"
#include "platform/worker.h"

namespace flowhost {

class WebFeed;
class WebHistory;

class WebServer {
 public:
  static constexpr const char* kDefaultAddress = "127.0.0.1";
  static constexpr int kDefaultPort = 8080;

  struct Limits {
    size_t headerBytes = 8 * 1024;                // a request's line and headers
    size_t bodyBytes = 4 * 1024;                  // a request's body: the page sends none
    size_t perClient = 32;                        // connections from one address
    size_t connections = 512;                     // connections in all
    size_t streamQueue = 1 << 20;                 // bytes queued for one event stream
    std::chrono::milliseconds headerTime{10000};  // from a request's first byte to its last header
    std::chrono::milliseconds idleTime{60000};    // between requests
    std::chrono::milliseconds stuckTime{30000};   // a response the client takes nothing of
    std::chrono::milliseconds keepAlive{15000};   // a comment on a quiet stream
    size_t workers = 4;                           // threads that answer requests
  };
  struct Stats {
    uint64_t connections = 0;    // open now
    uint64_t streams = 0;        // event streams open now
    uint64_t accepted = 0;       // since start
    uint64_t refused = 0;        // too many connections (503)
    uint64_t tooLarge = 0;       // headers beyond the limit (431)
    uint64_t timedOut = 0;       // slow headers, idle, or a client that took nothing
    uint64_t droppedEvents = 0;  // deltas a slow browser did not get
    uint64_t freshStates = 0;    // states sent to browsers that fell behind
  };

  WebServer(WebFeed& feed, WebHistory& history, const WebRoutes::Settings& settings);
  WebServer(WebFeed& feed, WebHistory& history, const WebRoutes::Settings& settings,
            const Limits& limits);
  ~WebServer();  // stop()
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Reads "[ADDR:]PORT" (an empty text gives the default); false when the
  // port is not 1 to 65535 or the address is empty.
  static bool parseEndpoint(const std::string& text, std::string* address, int* port);

  // Listens on address:port (0: any free port) and starts serving; false
  // with the reason when the address cannot be had.
  bool start(const std::string& address, int port, std::string* error);
  // The port listened on; 0 before start.
  int port() const { return port_; }
  // The runner published to the feed: the streams are sent the news.
  void notify() { worker_.wake(); }
  // Ends every connection and the threads.
  void stop();
  Stats stats() const;
  // The page's constant settings (WebRoutes::siteJson).
  std::string siteJson() const { return routes_.siteJson(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;
  struct Finished {
    uint64_t id;
    WebRoutes::Answer answer;
  };

  // The loop and its handlers, on the loop's worker.
  void run();
  void dispatch(const kw::PollLoop::Ready& ready);
  void acceptClients();
  void readFrom(Connection* c);
  void startAnswer(Connection* c);
  void takeAnswers() KW_EXCLUDES(answersMutex_);
  void writeTo(Connection* c);
  void sent(Connection* c);
  void sendEvents();
  void sendEventsTo(Connection* c);
  void timedOut(Connection* c);
  void refuse(Connection* c, int status);
  void drain(Connection* c);
  void watchFor(Connection* c);
  void closeDead();
  // Queues `text` as one chunk of a stream's chunked body.
  static void queueChunk(Connection* c, std::shared_ptr<const std::string> text);
  static void queue(Connection* c, std::shared_ptr<const std::string> text);

  // On a request worker.
  void answerOn(uint64_t id, const std::string& request, const WebRoutes::Peer& peer)
      KW_EXCLUDES(answersMutex_);

  // Constant while serving.
  const Limits limits_;
  WebFeed& feed_;
  WebRoutes routes_;
  int port_ = 0;
  kw::Socket listener_;
  kw::Worker worker_;
  kw::TaskPool workers_;

  // The loop's worker only.
  kw::PollLoop loop_;
  std::unordered_map<int, std::unique_ptr<Connection>> connections_;  // by socket
  std::unordered_map<uint64_t, Connection*> byId_;
  std::map<std::string, size_t> perClient_;  // open connections by address
  std::vector<kw::PollLoop::Ready> ready_;
  uint64_t nextId_ = 1;

  // The request workers hand their answers back here.
  kw::Mutex answersMutex_;
  std::vector<Finished> answers_ KW_GUARDED_BY(answersMutex_);

  std::atomic<uint64_t> connectionCount_{0}, streamCount_{0}, accepted_{0}, refused_{0},
      tooLarge_{0}, timedOutCount_{0}, droppedEvents_{0}, freshStates_{0};
};

}  // namespace flowhost
