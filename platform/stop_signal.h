// StopSignal: Ctrl-C (SIGINT), SIGTERM and SIGHUP (the terminal closed, the
// SSH session lost) as a request to end the program.
// The handler only records which signal came; the program's loop looks at
// requested() and leaves cleanly.
//
// Two ways of installing:
//  - StopSignal::Repeat::Keep: every further signal only records again
//    (nmea_beacon: the packet in hand is still sent);
//  - StopSignal::Repeat::EndProcess: the handler is taken for one signal
//    (SA_RESETHAND), so a second Ctrl-C ends the process the default way
//    should the program hang while closing (flowhost).
// SA_RESTART: a write in progress on the receiving thread (a table line to a
// full pipe, say) carries on after the handler instead of failing with EINTR,
// which would put stdio's stream in error and lose every later line.
// sleepUntil() still ends early: sleeps are never restarted.
//
// Owns the process's handlers of the three signals once installed.
// Thread safety: install() once, early, on the main thread; the rest from
// any thread. The signal may be taken by any thread of the process.
#pragma once

#include <chrono>

#include "platform/failure.h"

namespace kw {

class StopSignal {
 public:
  enum class Repeat { Keep, EndProcess };

  // Installs the handler for SIGINT, SIGTERM and SIGHUP; the reason when the
  // system refused.
  static Failure install(Repeat repeat);
  static bool requested();
  // The signal that asked to stop, 0 when none did.
  static int signalNumber();
  // Sleeps until `deadline` (steady clock); returns early when a signal
  // arrives.
  static void sleepUntil(std::chrono::steady_clock::time_point deadline);
};

}  // namespace kw
