// A line-oriented TCP client for the position server's tests: connects to a
// loopback port, sends text, and collects what arrives until a condition
// holds or time runs out.
//
// Owns: its socket. Thread safety: one thread per object.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kw_test {

class TcpClient {
 public:
  TcpClient() = default;
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Connects to 127.0.0.1:`port`; `receiveBuffer` > 0 shrinks the socket's
  // receive buffer (for clients meant to fall behind).
  bool connect(int port, int receiveBuffer = 0);
  // Connects to 127.0.0.1:`port` from the loopback address `local`
  // ("127.0.0.2"): a client of its own, as far as the server can tell.
  bool connectFrom(const std::string& local, int port);
  bool send(const std::string& text);
  // Reads until `done(text())` holds or `timeout` passes; true when it held.
  bool readUntil(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds timeout);
  // True when the server has closed the connection (read to its end within `timeout`).
  bool closedByPeer(std::chrono::milliseconds timeout);
  void close();

  const std::string& text() const { return text_; }
  // The complete lines received so far.
  std::vector<std::string> lines() const;

 private:
  int fd_ = -1;
  bool eof_ = false;
  std::string text_;
};

// How many complete lines of `text` contain `needle`.
int countLines(const std::string& text, const std::string& needle);
// How many complete lines of `text` begin with `prefix`.
int countLinesStarting(const std::string& text, const std::string& prefix);

}  // namespace kw_test
