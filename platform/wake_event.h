// WakeEvent: an event a thread can wait on beside a socket
// (waitAndReceive), so that another thread can wake it.
//
// A signal stays until it is taken (clear): a waiter that wakes for it and
// does not take it wakes again at once, which a receiver told to stop
// wants; a thread woken for more work takes it and waits again.
//
// Owns one event descriptor. open and close on the owner's thread; signal
// from any thread while it is open; clear from the waiting thread.
#pragma once

#include "platform/failure.h"

namespace kw {

class WakeEvent {
 public:
  WakeEvent() = default;
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  ~WakeEvent() { close(); }

  // Opens the event (nothing when it is open); the reason when it cannot.
  Failure open();
  void close();
  void signal();
  // Takes every signal given so far; nothing when there is none.
  void clear() const;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace kw
