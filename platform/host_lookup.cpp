#include "platform/host_lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>

namespace kw {

Failure lookUpHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (found != nullptr) freeaddrinfo(found);
  const std::string context = "look up '" + host + "'";
  if (rc == 0) return Failure();
  if (rc == EAI_SYSTEM) return Failure::fromErrno(context, errno);
  return Failure::because(context, gai_strerror(rc));
}

}  // namespace kw
