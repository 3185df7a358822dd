// TCP listening sockets for the local servers of the position outputs (the
// gpsd-protocol server): one checked set-up of socket, address reuse, bind
// and listen, with the reason of any failure.
//
// Owns nothing beyond the Socket it returns. Any thread may call.
#pragma once

#include <string>

#include "platform/failure.h"
#include "platform/socket.h"

namespace kw {

// A non-blocking, close-on-exec TCP socket listening on `address` (dotted
// IPv4; "localhost" means 127.0.0.1) and `port` (0 picks a free one) with
// address reuse. *boundPort receives the port actually bound. An invalid
// Socket and *failure ("cannot bind 127.0.0.1:2947: Address already in use")
// when a step fails.
Socket openTcpListener(const std::string& address, int port, int backlog, int* boundPort,
                       Failure* failure);

// Lets a server's socket `fd` bind an address that a closed connection of a
// previous run still holds (SO_REUSEADDR), without sharing the port with a
// second live server (no SO_REUSEPORT).
Failure allowAddressReuse(int fd);

}  // namespace kw
