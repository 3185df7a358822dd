// TCP connections of the local servers: taking a waiting connection off a
// listener, and receiving and sending what a non-blocking socket takes now.
// Every call is checked: what happened comes back as an IoStatus, and a
// failure with its reason ("receive: Connection reset by peer"). Signals
// that interrupt a call are retried; a send never raises SIGPIPE.
//
// Owns nothing beyond the Sockets it hands out. Any thread may call; one
// thread at a time uses a given socket.
#pragma once

#include <cstddef>
#include <string>

#include "platform/failure.h"
#include "platform/socket.h"

namespace kw {

enum class IoStatus {
  Done,        // something was taken, received or sent (*count says how much)
  WouldBlock,  // nothing now: wait for the socket to be ready
  Closed,      // the peer ended the stream (receive only)
  Failed,      // the call failed; *failure says why
};

// Takes one waiting connection off the non-blocking `listener`: Done with
// *connection set (non-blocking, close-on-exec), WouldBlock when none
// waits, Failed with the reason (out of descriptors, say).
IoStatus acceptConnection(const Socket& listener, Socket* connection, Failure* failure);

// Receives at most `capacity` bytes of what `socket` holds now.
IoStatus receiveSome(const Socket& socket, char* buffer, std::size_t capacity, std::size_t* count,
                     Failure* failure);

// Sends as much of `data` as `socket` takes now (*count bytes).
IoStatus sendSome(const Socket& socket, const char* data, std::size_t length, std::size_t* count,
                  Failure* failure);

// The dotted IPv4 (or IPv6) address and port of the peer of a connected
// `socket`; the reason when the system cannot tell (the peer went away).
Failure peerAddress(const Socket& socket, std::string* address, int* port);

// Ends the sending direction of `socket` (the peer reads the end of the
// stream) while it can still receive: a server that refuses a request says
// so and then reads what the client still sends before it closes, so that
// the refusal is not lost to a reset.
Failure endSending(const Socket& socket);

}  // namespace kw
