#include "platform/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace kw {

Socket openTcpListener(const std::string& address, int port, int backlog, int* boundPort,
                       Failure* failure) {
  const std::string host = address == "localhost" ? "127.0.0.1" : address;
  const std::string where = host + ":" + std::to_string(port);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (port < 0 || port > 65535) {
    *failure = Failure::because("port " + std::to_string(port), "out of range");
    return Socket();
  }
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
    *failure = Failure::because(address, "not an IPv4 address");
    return Socket();
  }
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener.valid()) {
    *failure = Failure::fromErrno("cannot make a TCP socket", errno);
    return Socket();
  }
  const int one = 1;
  if (::setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    *failure = Failure::fromErrno("cannot reuse the address of " + where, errno);
    return Socket();
  }
  if (::bind(listener.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    *failure = Failure::fromErrno("cannot bind " + where, errno);
    return Socket();
  }
  if (::listen(listener.fd(), backlog) != 0) {
    *failure = Failure::fromErrno("cannot listen on " + where, errno);
    return Socket();
  }
  socklen_t length = sizeof sa;
  if (::getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
    *failure = Failure::fromErrno("cannot read the bound address of " + where, errno);
    return Socket();
  }
  *boundPort = ntohs(sa.sin_port);
  return listener;
}

Failure allowAddressReuse(int fd) {
  const int one = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    return Failure::fromErrno("address reuse", errno);
  }
  return Failure();
}

}  // namespace kw
