// The stop-signal handler (see stop_signal.h).
#include "platform/stop_signal.h"

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <csignal>

namespace kw {

namespace {

volatile std::sig_atomic_t g_signal = 0;

void onSignal(int number) { g_signal = number; }

}  // namespace

Failure StopSignal::install(Repeat repeat) {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | (repeat == Repeat::EndProcess ? SA_RESETHAND : 0);
  const struct {
    int number;
    const char* context;
  } signals[] = {{SIGINT, "handler for SIGINT"},
                 {SIGTERM, "handler for SIGTERM"},
                 {SIGHUP, "handler for SIGHUP"}};
  for (const auto& s : signals) {
    if (sigaction(s.number, &action, nullptr) != 0) return Failure::fromErrno(s.context, errno);
  }
  return {};
}

bool StopSignal::requested() { return g_signal != 0; }

int StopSignal::signalNumber() { return static_cast<int>(g_signal); }

void StopSignal::sleepUntil(std::chrono::steady_clock::time_point deadline) {
  if (requested()) return;
  // steady_clock counts CLOCK_MONOTONIC on Linux.
  const auto since = deadline.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  struct timespec until {};
  until.tv_sec = static_cast<time_t>(seconds.count());
  until.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  // Interrupted by a signal: EINTR, back to the caller, which looks at the flag.
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}

}  // namespace kw
