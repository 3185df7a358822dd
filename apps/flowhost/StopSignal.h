// StopSignal: Ctrl-C (SIGINT) and SIGTERM as a request to end the run.
// The handler only raises a flag; the run loop sees it, leaves, and closes
// every block cleanly. The handler is installed for one signal only
// (SA_RESETHAND): a second Ctrl-C ends the process the default way, should
// a block hang while closing.
//
// Owns the process's handlers of the two signals once installed.
// Thread safety: install() once, early, on the main thread; requested()
// and sleepUntil() from the run loop's thread. The signal may be taken by
// any thread of the process (plug-ins run receive threads): the flag is
// then seen at the loop's next wake-up, at most 100 ms later.
#pragma once

#include <chrono>

namespace flowhost {

class StopSignal {
 public:
  static void install();
  static bool requested();
  // The signal that asked to stop, 0 when none did.
  static int signalNumber();
  // Sleeps until `deadline`; returns early when a signal arrives.
  static void sleepUntil(std::chrono::steady_clock::time_point deadline);
};

}  // namespace flowhost
