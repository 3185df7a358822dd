// Socket: owns one socket descriptor and closes it when it goes. "No
// socket" is -1 (kNoSocket); a Socket can be moved, never copied.
//
// Owns its descriptor. One thread at a time uses a Socket; fd() may be read
// by a thread that waits on it while the owner keeps it open.
#pragma once

namespace kw {

constexpr int kNoSocket = -1;

class Socket {
 public:
  Socket() = default;
  // Takes over `fd` (kNoSocket for none).
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { close(); }
  Socket(Socket&& other) noexcept : fd_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Gives the descriptor up without closing it.
  int release();
  // Closes the descriptor; nothing when there is none.
  void close();

 private:
  int fd_ = kNoSocket;
};

}  // namespace kw
