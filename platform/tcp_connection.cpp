// Accepting, receiving and sending on TCP sockets (see tcp_connection.h).
#include "platform/tcp_connection.h"

#include <sys/socket.h>

#include <cerrno>

namespace kw {

namespace {

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

IoStatus acceptConnection(const Socket& listener, Socket* connection, Failure* failure) {
  for (;;) {
    const int fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      *connection = Socket(fd);
      return IoStatus::Done;
    }
    if (errno == EINTR) continue;
    // A connection that was reset while it waited is simply gone.
    if (wouldBlock(errno) || errno == ECONNABORTED) return IoStatus::WouldBlock;
    *failure = Failure::fromErrno("accept a connection", errno);
    return IoStatus::Failed;
  }
}

IoStatus receiveSome(const Socket& socket, char* buffer, std::size_t capacity, std::size_t* count,
                     Failure* failure) {
  *count = 0;
  for (;;) {
    const ssize_t received = ::recv(socket.fd(), buffer, capacity, MSG_DONTWAIT);
    if (received > 0) {
      *count = static_cast<std::size_t>(received);
      return IoStatus::Done;
    }
    if (received == 0) return capacity == 0 ? IoStatus::WouldBlock : IoStatus::Closed;
    if (errno == EINTR) continue;
    if (wouldBlock(errno)) return IoStatus::WouldBlock;
    *failure = Failure::fromErrno("receive", errno);
    return IoStatus::Failed;
  }
}

IoStatus sendSome(const Socket& socket, const char* data, std::size_t length, std::size_t* count,
                  Failure* failure) {
  *count = 0;
  for (;;) {
    const ssize_t sent = ::send(socket.fd(), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      *count = static_cast<std::size_t>(sent);
      return IoStatus::Done;
    }
    if (errno == EINTR) continue;
    if (wouldBlock(errno)) return IoStatus::WouldBlock;
    *failure = Failure::fromErrno("send", errno);
    return IoStatus::Failed;
  }
}

}  // namespace kw
