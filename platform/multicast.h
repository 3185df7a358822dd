// UDP multicast: a socket joined to a group as a receiver, a socket that
// sends to groups, one send, and one wait for a datagram or a wake-up.
//
// Every set-up step is checked; the first one that fails is given back as a
// Failure with its reason ("join 239.1.2.3 on port 5000: No such device",
// "group 239.255.42: not an IPv4 address"). A step failing after the socket
// was made does not undo it: the socket is still returned, and the caller
// decides whether to go on with it.
//
// Owns nothing beyond the Sockets it returns. Any thread may call; one
// thread at a time uses a given socket.
#pragma once

#include <cstddef>

#include "platform/failure.h"
#include "platform/socket.h"
#include "platform/wake_event.h"

namespace kw {

// The interface a socket joins or sends on (`interfaceName` below): null or
// "" for the system's choice, else an interface name ("eth1") or one of the
// machine's IPv4 addresses in dotted decimal ("192.168.7.20"). An unknown
// name fails as "interface eth9: No such device"; an address that belongs to
// no interface fails at the join or at the choice of the sending interface.

// A UDP socket bound to `port` (low 16 bits) on the group's address, with
// address reuse so that every listener on this machine gets each datagram,
// joined as a receiver to `group` (dotted decimal) on `interfaceName`.
// A group that is an address but not a multicast one ("10.0.0.1") fails as
// "group 10.0.0.1: not a multicast group (224.0.0.0 to 239.255.255.255)";
// its socket is bound to any address, as for a text that is no address.
// It receives the datagrams sent to that group and port only: not those sent
// to the port at another address, nor those of other groups joined on the
// machine.
// An invalid Socket when no socket could be made at all. *failure (when not
// null) gets the first step that failed, or success.
Socket openMulticastReceiver(const char* group, int port, Failure* failure,
                             const char* interfaceName = nullptr);

// A UDP socket bound to `port` on any local address with address reuse,
// whose multicast datagrams travel at most `hops` hops and leave through
// `interfaceName`. An invalid Socket when no socket could be made; *failure
// as above.
Socket openMulticastSender(int port, int hops, Failure* failure = nullptr,
                           const char* interfaceName = nullptr);

// True when `text` is a dotted-decimal IPv4 address ("239.255.42.1"; the
// shorthand "239.255.42" is not).
bool isIpv4Address(const char* text);
// True when `text` is such an address in the multicast range 224.0.0.0 to
// 239.255.255.255, the only groups a receiver can join.
bool isMulticastGroup(const char* text);

// Sends `length` bytes to `group`:`port`. False when the group is not an
// IPv4 address or the send failed; *failure (when not null) says which.
bool sendDatagram(const Socket& socket, const char* group, int port, const char* data,
                  size_t length, Failure* failure = nullptr);

enum class ReceiveStatus {
  Data,    // a datagram was received; *count holds its length
  Woken,   // the wake event was signalled
  Failed,  // the receive failed; nothing was stored
};

// Waits until a datagram arrives on `socket` or `wake` is signalled, then
// receives at most `capacity` bytes into `buffer`. A socket of kNoSocket is
// never readable: the call then waits for the wake event alone.
//
// With `gatherMs` above 0, a datagram already waiting is taken at once, and a
// socket found empty is left for up to `gatherMs` milliseconds (the wake
// event still ends the pause at once) so that what arrives meanwhile is
// taken in one go; only a socket still empty after that pause is waited on.
// A busy socket then costs the caller one wake-up per pause instead of one
// per datagram, and any datagram waits at most `gatherMs` longer.
ReceiveStatus waitAndReceive(int socket, const WakeEvent& wake, char* buffer, size_t capacity,
                             size_t* count, int gatherMs = 0);

// True when the calling process sees no network interface but loopback.
bool onlyLoopbackNetwork();

}  // namespace kw
