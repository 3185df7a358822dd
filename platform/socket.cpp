// Socket ownership (see socket.h).
#include "platform/socket.h"

#include <unistd.h>

namespace kw {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

int Socket::release() {
  const int fd = fd_;
  fd_ = kNoSocket;
  return fd;
}

void Socket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = kNoSocket;
}

}  // namespace kw
