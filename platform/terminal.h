// Terminal: what the live node table needs to know of the terminal it draws
// on: whether a descriptor is a terminal, the terminal's size in character
// cells (TIOCGWINSZ), and a notice each time the window is resized
// (SIGWINCH).
//
// The resize handler only counts; the drawing code compares the count with
// the one it last saw and asks for the new size. It is installed with
// SA_RESTART, so a write in progress carries on after it; a sleep ends
// early, which the runner's loop takes in its stride.
//
// Owns the process's SIGWINCH handler once watchResizes() was called.
// Thread safety: watchResizes() once, on the main thread; the rest from any
// thread. The signal may be taken by any thread of the process.
#pragma once

#include "platform/failure.h"

namespace kw {

class Terminal {
 public:
  struct Size {
    int columns = 0;
    int rows = 0;
  };

  // Whether `fd` is open on a terminal.
  static bool isTerminal(int fd);
  // The size of the terminal `fd` is open on; the reason when it has none
  // (not a terminal, or a terminal that reports 0 x 0).
  static Failure size(int fd, Size* out);
  // Installs the SIGWINCH handler; the reason when the system refused.
  static Failure watchResizes();
  // Resize notices taken since watchResizes(); changes with each.
  static unsigned long resizes();
};

}  // namespace kw
