#include "apps/flowhost/views/web/WebServer.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>

#include "apps/flowhost/views/web/WebPage.h"
#include "cli/endpoint.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/task_pool.h"
#include "platform/tcp_listener.h"

namespace flowhost {

namespace {

constexpr auto kKeepAlive = std::chrono::seconds(1);  // a comment line when nothing changed
constexpr uint64_t kLatest = UINT64_MAX;              // waitForState: no waiting, the state now

// The library's task queue on the platform's threads: each connection the
// server accepts becomes one task of the pool. Without a thread of the pool
// the connection is served on the accepting thread, never dropped (its
// task closes it).
class PoolQueue final : public httplib::TaskQueue {
 public:
  explicit PoolQueue(size_t threads) { pool_.start(threads); }
  void enqueue(std::function<void()> task) override {
    if (!pool_.add(task)) task();
  }
  void shutdown() override { pool_.stop(); }

 private:
  kw::TaskPool pool_;
};

}  // namespace

WebServer::WebServer() = default;

WebServer::~WebServer() { stop(); }

bool WebServer::parseEndpoint(const std::string& text, std::string* address, int* port) {
  if (text.empty()) {
    *address = kDefaultAddress;
    *port = kDefaultPort;
    return true;
  }
  std::string host, why;
  int value = 0;
  if (!kw_cli::parseEndpoint(text, true, kDefaultAddress, kDefaultPort, &host, &value, &why) ||
      value == 0) {
    return false;
  }
  *address = host;
  *port = value;
  return true;
}

bool WebServer::start(const std::string& address, int port, std::string* error) {
  stop();
  {
    kw::MutexLock lock(&mutex_);
    stopping_ = false;
  }
  server_ = std::make_unique<httplib::Server>();
  httplib::Server& server = *server_;
  server.new_task_queue = [] { return new PoolQueue(kConnectionThreads); };
  route(server);
  // Address reuse for a quick restart, but not port sharing (which the
  // library's default adds): a second flowhost on the same port must fail,
  // not silently take half the browsers.
  server.set_socket_options([](socket_t sock) { kw::allowAddressReuse(sock); });
  errno = 0;
  if (!server.bind_to_port(address, port)) {
    const int code = errno;
    if (error != nullptr) {
      *error = "web view: cannot listen on " + address + ":" + std::to_string(port) +
               (code != 0 ? ": " + kw::errnoText(code) : std::string());
    }
    server_.reset();
    return false;
  }
  port_ = port;
  if (!listener_.start(&WebServer::acceptConnections, this)) {
    if (error != nullptr) *error = "web view: no thread could be started to listen";
    server_.reset();
    port_ = 0;
    return false;
  }
  // The library's stop() does nothing before its loop runs, so stop() could
  // otherwise come too early and the join would wait for ever.
  for (int i = 0; i < 2000 && !server.is_running(); ++i) kw::Sleep(1);
  return true;
}

// The addresses served: the page, its script, the state and its stream.
void WebServer::route(httplib::Server& server) {
  server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    std::string text;
    serveState(&text);
    res.set_header("Cache-Control", "no-store");
    res.set_content(WebPage::withState(text), "text/html; charset=utf-8");
  });
  server.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(WebPage::script(), "text/javascript; charset=utf-8");
  });
  server.Get("/state", [this](const httplib::Request&, httplib::Response& res) {
    std::string text;
    serveState(&text);
    res.set_header("Cache-Control", "no-store");
    res.set_content(text, "application/json");
  });
  server.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(0);
    res.set_chunked_content_provider("text/event-stream",
                                     [this, seen](size_t, httplib::DataSink& sink) {
                                       std::string event;
                                       if (!streamNext(seen.get(), &event))
                                         return false;  // stopping: end the stream
                                       return sink.write(event.data(), event.size());
                                     });
  });
}

void WebServer::acceptConnections(void* self) {
  static_cast<WebServer*>(self)->server_->listen_after_bind();
}

void WebServer::serveState(std::string* text) {
  uint64_t number = 0;
  waitForState(kLatest, text, &number);
}

// The next event of a stream: the newest state once it is newer than the
// one the stream sent last, or a comment line after a second without one.
// False when the server is stopping.
bool WebServer::streamNext(uint64_t* seen, std::string* event) {
  std::string text;
  uint64_t number = 0;
  if (!waitForState(*seen, &text, &number)) {
    if (number == kLatest) return false;
    *event = ": waiting\n\n";
    return true;
  }
  *seen = number;
  *event = "data: " + text + "\n\n";
  return true;
}

bool WebServer::waitForState(uint64_t after, std::string* text, uint64_t* number) {
  kw::MutexLock lock(&mutex_);
  if (after != kLatest) {
    const auto deadline = std::chrono::steady_clock::now() + kKeepAlive;
    while (!stopping_ && number_ == after && changed_.waitUntil(&mutex_, deadline)) {
    }
  }
  if (stopping_) {
    *number = kLatest;
    return false;
  }
  *number = number_;
  if (after != kLatest && number_ == after) return false;
  *text = state_;
  return true;
}

void WebServer::publish(std::string stateJson) {
  {
    kw::MutexLock lock(&mutex_);
    state_.swap(stateJson);
    ++number_;
  }
  changed_.signalAll();
}

void WebServer::stop() {
  {
    kw::MutexLock lock(&mutex_);
    stopping_ = true;
  }
  changed_.signalAll();
  if (server_ != nullptr) server_->stop();
  listener_.join();
  server_.reset();
  port_ = 0;
}

}  // namespace flowhost
