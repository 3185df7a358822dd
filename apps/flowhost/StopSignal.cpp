#include "StopSignal.h"

#include <signal.h>
#include <time.h>

#include <csignal>

namespace flowhost {

namespace {

volatile std::sig_atomic_t g_signal = 0;

void onSignal(int number) { g_signal = number; }

}  // namespace

void StopSignal::install() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep in progress ends at once.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
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
  until.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
  // Interrupted by a signal: EINTR, back to the loop, which looks at the flag.
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}

}  // namespace flowhost
