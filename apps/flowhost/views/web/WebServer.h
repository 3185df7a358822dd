// WebServer: flowhost's screen in a browser. Serves one page (WebPage),
// the latest state as JSON ("/state") and every new state as server-sent
// events ("/events"), all from this process, so the page needs no internet.
//
// The runner's thread calls publish() once a tick with the state's JSON
// text; the text is swapped in under a short lock and the event streams
// are woken. The HTTP server (cpp-httplib) accepts on a thread of its own
// (kw::Thread) and serves each connection on a pool of the platform's
// threads (kw::TaskPool, given to the library as its task queue); they
// only ever copy the latest text, so a slow or stalled browser never holds
// the runner up.
//
// Owns the server, its threads and the latest text.
// Thread safety: start(), stop() and publish() from one thread (the
// runner's); the handlers run on the server's threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mutex.h"
#include "platform/thread.h"

namespace httplib {
class Server;
}

namespace flowhost {

class WebServer {
 public:
  static constexpr const char* kDefaultAddress = "127.0.0.1";
  static constexpr int kDefaultPort = 8080;

  WebServer();
  ~WebServer();  // stop()
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Reads "[ADDR:]PORT" (an empty text gives the default); false when the
  // port is not 1 to 65535 or the address is empty.
  static bool parseEndpoint(const std::string& text, std::string* address, int* port);

  // Binds to address:port and starts serving on a thread of its own; false
  // with the reason when the address cannot be bound.
  bool start(const std::string& address, int port, std::string* error);
  // The port bound (the chosen one when 0 was asked for); 0 before start.
  int port() const { return port_; }
  // Replaces the state every page is shown.
  void publish(std::string stateJson) KW_EXCLUDES(mutex_);
  // Ends every event stream and the server, and joins its thread.
  void stop() KW_EXCLUDES(mutex_);

  // Connections served at once (the task pool's threads).
  static constexpr size_t kConnectionThreads = 8;

 private:
  void route(httplib::Server& server);
  // The handlers of the addresses and the event stream's provider.
  void serveState(std::string* text) KW_EXCLUDES(mutex_);
  bool streamNext(uint64_t* seen, std::string* event) KW_EXCLUDES(mutex_);
  // The latest state and its number, for the handlers.
  bool waitForState(uint64_t after, std::string* text, uint64_t* number) KW_EXCLUDES(mutex_);
  static void acceptConnections(void* self);

  std::unique_ptr<httplib::Server> server_;
  kw::Thread listener_;
  int port_ = 0;

  kw::Mutex mutex_;
  kw::CondVar changed_;
  std::string state_ KW_GUARDED_BY(mutex_) = "{}";
  uint64_t number_ KW_GUARDED_BY(mutex_) = 0;
  bool stopping_ KW_GUARDED_BY(mutex_) = false;
};

}  // namespace flowhost
