// PollLoop: the wait of a server's thread: for any of its sockets to become
// readable or writable, for a socket's deadline to pass, or for the thread's
// wake event. The server keeps its sockets (kw::Socket) and its handlers;
// the loop only says which socket is ready for what, and the server calls
// the handler that belongs to the event, as redis's event loop does.
//
//   loop.watch(listener.fd(), PollLoop::kReadable);
//   for (;;) {
//     loop.wait(worker.wakeEvent(), nextTimer, &ready);     // EINTR retried
//     for (const PollLoop::Ready& r : ready) dispatch(r.fd, r.events);
//   }
//
// Each watched socket has an interest (readable, writable or both; none
// keeps it watched for hang-ups and its deadline only) and, optionally, a
// deadline: a connection's idle limit, say. A passed deadline is reported
// once as kTimedOut, with whatever else the socket has, and then cleared;
// the handler sets a new one or closes the connection.
//
// Invariants: a socket is watched at most once; a socket that is closed
// must be forgotten first (the loop holds descriptors, not Sockets).
// Owns its table of watched sockets, not the sockets. One thread (the
// server's own) uses a loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/failure.h"
#include "platform/wake_event.h"

struct pollfd;

namespace kw {

class PollLoop {
 public:
  using Clock = std::chrono::steady_clock;

  // What a socket is ready for, as a bit set.
  enum Event : unsigned {
    kReadable = 1,  // data, a connection to accept, or the peer's end of stream
    kWritable = 2,
    kClosed = 4,    // hung up or in error: reading tells how
    kTimedOut = 8,  // its deadline passed
  };
  struct Ready {
    int fd;
    unsigned events;
  };

  PollLoop();
  ~PollLoop();
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  // Watches `fd` for `interest` (kReadable, kWritable, both or none); an fd
  // already watched keeps its deadline and takes the new interest.
  void watch(int fd, unsigned interest);
  // Sets the moment `fd` times out; Clock::time_point::max() for never.
  // Nothing when `fd` is not watched.
  void setDeadline(int fd, Clock::time_point deadline);
  void forget(int fd);
  bool watching(int fd) const { return slots_.count(fd) != 0; }
  std::size_t size() const { return slots_.size(); }

  // Waits until a watched socket is ready or times out, `wake` is
  // signalled (its wake-up is taken: *woken true) or `until` passes, then
  // fills *ready with every socket that has something (empty after a
  // wake-up or at `until`). Signals that interrupt the wait are waited
  // through. A failure of the system's wait is given back with its reason.
  Failure wait(const WakeEvent& wake, Clock::time_point until, std::vector<Ready>* ready,
               bool* woken);

 private:
  // Milliseconds to wait for `until` and the nearest deadline, -1 for ever.
  int timeoutMs(Clock::time_point until, Clock::time_point now) const;
  void collect(Clock::time_point now, std::vector<Ready>* ready);

  std::vector<pollfd> fds_;                     // [0] the wake event, then the sockets
  std::vector<Clock::time_point> deadlines_;    // beside fds_
  std::unordered_map<int, std::size_t> slots_;  // fd -> index in fds_
};

}  // namespace kw
