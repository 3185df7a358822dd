#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>

#include "stop_signal.h"

namespace {

// Each case runs in a child process of its own (a death test), since the
// handlers are process-wide.

// The beacon's way: every signal is only recorded, the last one counts.
TEST(StopSignalDeathTest, KeepRecordsEverySignal) {
  EXPECT_EXIT(
      {
        if (kw::StopSignal::install(kw::StopSignal::Repeat::Keep)) _exit(2);
        if (kw::StopSignal::requested()) _exit(3);
        std::raise(SIGTERM);
        std::raise(SIGINT);
        _exit(kw::StopSignal::requested() && kw::StopSignal::signalNumber() == SIGINT ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// The runner's way: the first signal is a request, a second one ends the
// process the default way (for a block that hangs while closing).
TEST(StopSignalDeathTest, EndProcessTakesOnlyTheFirstSignal) {
  EXPECT_EXIT(
      {
        if (kw::StopSignal::install(kw::StopSignal::Repeat::EndProcess)) _exit(2);
        std::raise(SIGTERM);
        if (kw::StopSignal::signalNumber() != SIGTERM) _exit(3);
        std::raise(SIGTERM);
        _exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
}

// A hang-up (terminal closed, SSH lost) is a stop request like SIGTERM, not
// the end of the process.
TEST(StopSignalDeathTest, HangUpIsAStopRequest) {
  EXPECT_EXIT(
      {
        if (kw::StopSignal::install(kw::StopSignal::Repeat::EndProcess)) _exit(2);
        std::raise(SIGHUP);
        _exit(kw::StopSignal::requested() && kw::StopSignal::signalNumber() == SIGHUP ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A sleep ends early when the signal comes, and at once when it came before.
TEST(StopSignalDeathTest, SleepEndsWhenTheSignalArrives) {
  EXPECT_EXIT(
      {
        if (kw::StopSignal::install(kw::StopSignal::Repeat::Keep)) _exit(2);
        // A second from now, Ctrl-C.
        std::signal(SIGALRM, [](int) { std::raise(SIGINT); });
        alarm(1);
        const auto start = std::chrono::steady_clock::now();
        kw::StopSignal::sleepUntil(start + std::chrono::seconds(30));
        const auto slept = std::chrono::steady_clock::now() - start;
        if (!kw::StopSignal::requested()) _exit(3);
        kw::StopSignal::sleepUntil(std::chrono::steady_clock::now() + std::chrono::seconds(30));
        const auto total = std::chrono::steady_clock::now() - start;
        _exit(slept < std::chrono::seconds(5) && total < std::chrono::seconds(5) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
