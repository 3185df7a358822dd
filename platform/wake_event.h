// WakeEvent: an event a thread can wait on beside a socket
// (waitAndReceive), so that another thread can wake it.
//
// Owns one event descriptor. open and close on the owner's thread; signal
// from any thread while it is open.
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
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace kw
