#include "apps/flowhost/views/web/WebServer.h"
#include "platform/tcp_listener.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "apps/flowhost/views/web/WebPage.h"

namespace flowhost {

namespace {

constexpr auto kKeepAlive = std::chrono::seconds(1);  // a comment line when nothing changed

}  // namespace

WebServer::WebServer() = default;

WebServer::~WebServer() { stop(); }

bool WebServer::parseEndpoint(const std::string& text, std::string* address, int* port) {
  std::string host = kDefaultAddress;
  std::string number = text;
  if (text.empty()) {
    *address = host;
    *port = kDefaultPort;
    return true;
  }
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    number = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
  }
  if (host.empty() || number.empty() || number.size() > 5 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int value = std::atoi(number.c_str());
  if (value < 1 || value > 65535) return false;
  *address = host;
  *port = value;
  return true;
}

bool WebServer::start(const std::string& address, int port, std::string* error) {
  stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  server_ = std::make_unique<httplib::Server>();
  httplib::Server& server = *server_;
  server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    std::string text;
    uint64_t number = 0;
    waitForState(UINT64_MAX, &text, &number);
    res.set_header("Cache-Control", "no-store");
    res.set_content(WebPage::withState(text), "text/html; charset=utf-8");
  });
  server.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(WebPage::script(), "text/javascript; charset=utf-8");
  });
  server.Get("/state", [this](const httplib::Request&, httplib::Response& res) {
    std::string text;
    uint64_t number = 0;
    waitForState(UINT64_MAX, &text, &number);
    res.set_header("Cache-Control", "no-store");
    res.set_content(text, "application/json");
  });
  server.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream", [this, seen](size_t, httplib::DataSink& sink) {
          std::string text;
          uint64_t number = 0;
          if (!waitForState(*seen, &text, &number)) {
            if (number == UINT64_MAX) return false;  // stopping: end the stream
            static const char kComment[] = ": waiting\n\n";
            return sink.write(kComment, sizeof kComment - 1);
          }
          *seen = number;
          const std::string event = "data: " + text + "\n\n";
          return sink.write(event.data(), event.size());
        });
  });
  // Address reuse for a quick restart, but not port sharing (which the
  // library's default adds): a second flowhost on the same port must fail,
  // not silently take half the browsers.
  server.set_socket_options([](socket_t sock) { kw::allowAddressReuse(sock); });
  errno = 0;
  if (!server.bind_to_port(address, port)) {
    const int code = errno;
    if (error != nullptr) {
      *error = "web view: cannot listen on " + address + ":" + std::to_string(port) +
               (code != 0 ? std::string(": ") + std::strerror(code) : std::string());
    }
    server_.reset();
    return false;
  }
  port_ = port;
  thread_ = std::thread([&server] { server.listen_after_bind(); });
  // The library's stop() does nothing before its loop runs, so stop() could
  // otherwise come too early and the join would wait for ever.
  for (int i = 0; i < 2000 && !server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool WebServer::waitForState(uint64_t after, std::string* text, uint64_t* number) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (after != UINT64_MAX) {
    changed_.wait_for(lock, kKeepAlive, [&] { return stopping_ || number_ != after; });
  }
  if (stopping_) {
    *number = UINT64_MAX;
    return false;
  }
  *number = number_;
  if (after != UINT64_MAX && number_ == after) return false;
  *text = state_;
  return true;
}

void WebServer::publish(std::string stateJson) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.swap(stateJson);
    ++number_;
  }
  changed_.notify_all();
}

void WebServer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (server_ != nullptr) server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
  port_ = 0;
}

}  // namespace flowhost
