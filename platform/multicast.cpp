// UDP multicast sockets (see multicast.h).
#include "platform/multicast.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace kw {

namespace {

sockaddr_in localAddress(int port, in_addr host) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  address.sin_addr = host;
  return address;
}

in_addr anyHost() {
  in_addr host{};
  host.s_addr = htonl(INADDR_ANY);
  return host;
}

std::string portText(int port) { return std::to_string(port & 0xFFFF); }

// Keeps the first failure of a series of steps.
void note(Failure* first, Failure failure) {
  if (first != nullptr && first->ok() && !failure.ok()) *first = std::move(failure);
}

// The group's IPv4 address; false when the text is not a dotted-decimal
// IPv4 address (the shorthand forms inet_addr took, such as "239.255.42",
// are refused).
bool groupAddress(const char* group, in_addr* address) {
  return group != nullptr && inet_pton(AF_INET, group, address) == 1;
}

Failure notIpv4(const char* group) {
  return Failure::because(std::string("group ") + (group != nullptr ? group : ""),
                          "not an IPv4 address");
}

bool inMulticastRange(const in_addr& address) { return IN_MULTICAST(ntohl(address.s_addr)); }

Failure notMulticast(const char* group) {
  return Failure::because(std::string("group ") + group,
                          "not a multicast group (224.0.0.0 to 239.255.255.255)");
}

bool hasText(const char* text) { return text != nullptr && text[0] != '\0'; }

// Puts the chosen interface into `request`: its index for a name, its
// address for a dotted-decimal text, neither for none. False with the
// reason when no interface has that name.
bool chooseInterface(const char* interfaceName, ip_mreqn* request, Failure* failure) {
  request->imr_address.s_addr = htonl(INADDR_ANY);
  request->imr_ifindex = 0;
  if (!hasText(interfaceName)) return true;
  if (inet_pton(AF_INET, interfaceName, &request->imr_address) == 1) return true;
  const unsigned index = if_nametoindex(interfaceName);
  if (index == 0) {
    note(failure, Failure::fromErrno(std::string("interface ") + interfaceName, errno));
    return false;
  }
  request->imr_ifindex = static_cast<int>(index);
  return true;
}

// " via eth1" for a chosen interface, "" for none.
std::string onInterface(const char* interfaceName) {
  return hasText(interfaceName) ? std::string(" via ") + interfaceName : std::string();
}

// A UDP socket with address reuse, bound to `port` on `host` (any local
// address unless given).
Socket boundUdpSocket(int port, Failure* failure, in_addr host = anyHost()) {
  Socket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  if (!socket.valid()) {
    note(failure, Failure::fromErrno("socket for port " + portText(port), errno));
    return socket;
  }
  const int one = 1;
  if (setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    note(failure, Failure::fromErrno("address reuse on port " + portText(port), errno));
  }
  const sockaddr_in local = localAddress(port, host);
  if (bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    note(failure, Failure::fromErrno("bind to port " + portText(port), errno));
  }
  return socket;
}

}  // namespace

Socket openMulticastReceiver(const char* group, int port, Failure* failure,
                             const char* interfaceName) {
  if (failure != nullptr) *failure = Failure();
  // Only the group's own datagrams: the socket is bound to the group
  // address, so a datagram sent to the port at any other address (unicast
  // to this machine, another group) does not match it; and IP_MULTICAST_ALL
  // is off, so Linux does not hand it the traffic of groups that other
  // sockets of the machine joined, which it does by default for every
  // socket bound to the port. The bind alone would do on Linux; the option
  // also covers the group text that is no address, whose socket is bound
  // to any address.
  ip_mreqn membership{};
  const bool address = groupAddress(group, &membership.imr_multiaddr);
  const bool valid = address && inMulticastRange(membership.imr_multiaddr);
  // A unicast address is said to be one before the bind to it fails.
  if (address && !valid) note(failure, notMulticast(group));
  Socket socket = boundUdpSocket(port, failure, valid ? membership.imr_multiaddr : anyHost());
  if (!socket.valid()) return socket;
  const int off = 0;
  if (setsockopt(socket.fd(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
    note(failure, Failure::fromErrno("own group only on port " + portText(port), errno));
  }
  if (!valid) {
    note(failure, notIpv4(group));
    return socket;
  }
  if (!chooseInterface(interfaceName, &membership, failure)) return socket;
  if (setsockopt(socket.fd(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    note(failure, Failure::fromErrno(std::string("join ") + group + " on port " + portText(port) +
                                         onInterface(interfaceName),
                                     errno));
  }
  return socket;
}

Socket openMulticastSender(int port, int hops, Failure* failure, const char* interfaceName) {
  if (failure != nullptr) *failure = Failure();
  Socket socket = boundUdpSocket(port, failure);
  if (!socket.valid()) return socket;
  const int ttl = hops;
  if (setsockopt(socket.fd(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
    note(failure, Failure::fromErrno("hop limit " + std::to_string(hops), errno));
  }
  ip_mreqn outgoing{};
  if (hasText(interfaceName) && chooseInterface(interfaceName, &outgoing, failure) &&
      setsockopt(socket.fd(), IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0) {
    note(failure, Failure::fromErrno(std::string("send") + onInterface(interfaceName), errno));
  }
  return socket;
}

bool isIpv4Address(const char* text) {
  in_addr address{};
  return groupAddress(text, &address);
}

bool isMulticastGroup(const char* text) {
  in_addr address{};
  return groupAddress(text, &address) && inMulticastRange(address);
}

bool sendDatagram(const Socket& socket, const char* group, int port, const char* data,
                  size_t length, Failure* failure) {
  if (failure != nullptr) *failure = Failure();
  if (!socket.valid()) {
    note(failure, Failure::because("send", "no socket"));
    return false;
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  if (!groupAddress(group, &destination.sin_addr)) {
    note(failure, notIpv4(group));
    return false;
  }
  const ssize_t sent = sendto(socket.fd(), data, length, 0,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  if (sent != static_cast<ssize_t>(length)) {
    note(failure, Failure::fromErrno(std::string("send to ") + group + " port " + portText(port),
                                     sent < 0 ? errno : EMSGSIZE));
    return false;
  }
  return true;
}

ReceiveStatus waitAndReceive(int fd, const WakeEvent& wake, char* buffer, size_t capacity,
                             size_t* count, int gatherMs) {
  *count = 0;
  if (gatherMs > 0 && fd != kNoSocket) {
    for (bool paused = false;;) {
      const ssize_t received = recv(fd, buffer, capacity, MSG_DONTWAIT);
      if (received >= 0) {
        *count = static_cast<size_t>(received);
        return ReceiveStatus::Data;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) break;  // the wait below tells why
      if (paused) break;
      pollfd woken = {wake.fd(), POLLIN, 0};
      const int ready = poll(&woken, 1, gatherMs);
      if (ready > 0) return ReceiveStatus::Woken;
      if (ready < 0 && errno != EINTR) return ReceiveStatus::Failed;
      paused = true;
    }
  }
  for (;;) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {wake.fd(), POLLIN, 0}};
    const int ready = poll(watched, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ReceiveStatus::Failed;
    }
    if (watched[1].revents != 0) return ReceiveStatus::Woken;
    if (watched[0].revents & (POLLERR | POLLNVAL)) {
      // Take the pending error off the socket so the next wait does not see it again.
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      return ReceiveStatus::Failed;
    }
    const ssize_t received = recv(fd, buffer, capacity, MSG_DONTWAIT);
    if (received >= 0) {
      *count = static_cast<size_t>(received);
      return ReceiveStatus::Data;
    }
    // Nothing there after all (or interrupted): wait again.
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return ReceiveStatus::Failed;
  }
}

bool onlyLoopbackNetwork() {
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return false;
  bool onlyLoopback = true;
  for (const struct if_nameindex* entry = names; entry->if_index != 0; ++entry) {
    if (std::strcmp(entry->if_name, "lo") != 0) onlyLoopback = false;
  }
  if_freenameindex(names);
  return onlyLoopback;
}

}  // namespace kw
