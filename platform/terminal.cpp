// Terminal size and resize notices (see terminal.h).
#include "platform/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace kw {

namespace {

// Lock-free, so the handler may touch it.
std::atomic<unsigned long> g_resizes{0};
static_assert(std::atomic<unsigned long>::is_always_lock_free);

void onResize(int) { g_resizes.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

bool Terminal::isTerminal(int fd) { return isatty(fd) == 1; }

Failure Terminal::size(int fd, Size* out) {
  struct winsize window {};
  if (ioctl(fd, TIOCGWINSZ, &window) != 0) {
    return Failure::fromErrno("terminal size of descriptor " + std::to_string(fd), errno);
  }
  if (window.ws_col == 0 || window.ws_row == 0) {
    return Failure::because("terminal size of descriptor " + std::to_string(fd),
                            "the terminal reports 0 x 0");
  }
  out->columns = window.ws_col;
  out->rows = window.ws_row;
  return {};
}

Failure Terminal::watchResizes() {
  struct sigaction action {};
  action.sa_handler = onResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGWINCH, &action, nullptr) != 0) {
    return Failure::fromErrno("handler for SIGWINCH", errno);
  }
  return {};
}

unsigned long Terminal::resizes() { return g_resizes.load(std::memory_order_relaxed); }

}  // namespace kw
