// Accepting, receiving and sending on TCP sockets (see tcp_connection.h).
#include "platform/tcp_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
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

Failure peerAddress(const Socket& socket, std::string* address, int* port) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(socket.fd(), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
    return Failure::fromErrno("the peer's address", errno);
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (peer.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
  } else {
    return Failure::because("the peer's address", "not an internet address");
  }
  *address = text;
  return Failure();
}

Failure endSending(const Socket& socket) {
  if (::shutdown(socket.fd(), SHUT_WR) != 0) return Failure::fromErrno("end sending", errno);
  return Failure();
}

}  // namespace kw
