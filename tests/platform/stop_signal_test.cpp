#include "platform/stop_signal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

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

// A stop signal that lands while the main thread is blocked writing to a
// full pipe (flowhost's table to a reader that fell behind) must not fail
// the write: stdio would mark the stream in error and drop every later
// line, the "stopped by" line among them.
TEST(StopSignalDeathTest, WriteToAFullPipeSurvivesTheSignal) {
  EXPECT_EXIT(
      {
        if (kw::StopSignal::install(kw::StopSignal::Repeat::EndProcess)) _exit(2);
        int ends[2];
        if (pipe(ends) != 0) _exit(3);
        // Fill the pipe so that the next write blocks.
        fcntl(ends[1], F_SETFL, O_NONBLOCK);
        const std::string chunk(4096, 'x');
        while (write(ends[1], chunk.data(), chunk.size()) > 0) {
        }
        fcntl(ends[1], F_SETFL, 0);
        // Helpers block the signal, so the kernel hands it to this thread,
        // which is then inside write().
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stops, nullptr);
        std::thread signaller([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          kill(getpid(), SIGTERM);
        });
        std::thread reader([&ends] {
          std::this_thread::sleep_for(std::chrono::milliseconds(600));
          char sink[4096];
          while (read(ends[0], sink, sizeof sink) > 0) {
          }
        });
        pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
        FILE* out = fdopen(ends[1], "w");
        const bool written = out != nullptr && std::fputs(chunk.c_str(), out) >= 0 &&
                             std::fflush(out) == 0 && std::fputs("stopped\n", out) >= 0 &&
                             std::fflush(out) == 0;
        const bool stopped = kw::StopSignal::requested();
        if (out != nullptr) std::fclose(out);
        signaller.join();
        reader.join();
        _exit(written && stopped ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
