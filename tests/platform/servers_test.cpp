// What the servers stand on: a worker's wake-ups and stop, the poll loop's
// readiness, deadlines and wake-ups, the connection calls' statuses, and
// the task pool. A fault in any of them shows as a hung or spinning
// server, so each case is bounded and says what it waited for.
// Connections are Unix stream socket pairs: nothing touches a network.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/poll_loop.h"
#include "platform/task_pool.h"
#include "platform/tcp_connection.h"
#include "platform/worker.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kw::PollLoop;

// Two connected stream sockets, non-blocking.
struct Pair {
  Pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    a = kw::Socket(fds[0]);
    b = kw::Socket(fds[1]);
  }
  kw::Socket a, b;
};

TEST(Worker, AWakeUpWhileBusyIsKeptAndStopEndsASleepAtOnce) {
  kw::Worker worker;
  std::atomic<bool> wakeGiven{false};
  std::atomic<int> sleepsRight{0};
  ASSERT_TRUE(worker
                  .start([&] {
                    // Busy while the wake-up is given: it must still end the next sleep.
                    while (!wakeGiven) kw::Sleep(1);
                    if (worker.sleepUntil(Clock::now() + 20s)) ++sleepsRight;
                    // Nothing pending now: a short sleep runs to its deadline.
                    if (!worker.sleepUntil(Clock::now() + 10ms)) ++sleepsRight;
                    while (!worker.stopping()) worker.sleepUntil(Clock::time_point::max());
                  })
                  .ok());
  worker.wake();
  wakeGiven = true;
  const auto asked = Clock::now();
  while (sleepsRight < 2 && Clock::now() - asked < 10s) kw::Sleep(1);
  EXPECT_EQ(sleepsRight, 2);
  worker.stop();  // the body sleeps for ever unless the stop wakes it
  EXPECT_FALSE(worker.running());
  EXPECT_TRUE(worker.start([] {}).ok()) << "a stopped worker starts again";
}

TEST(PollLoop, ReportsReadableWritableAndClosedSocketsAndTakesWakeUps) {
  Pair pair;
  kw::WakeEvent wake;
  ASSERT_TRUE(wake.open().ok());
  PollLoop loop;
  loop.watch(pair.a.fd(), PollLoop::kReadable | PollLoop::kWritable);
  std::vector<PollLoop::Ready> ready;
  bool woken = false;
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 5s, &ready, &woken).ok());
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].events, unsigned{PollLoop::kWritable});

  loop.watch(pair.a.fd(), PollLoop::kReadable);
  size_t count = 0;
  kw::Failure failure;
  ASSERT_EQ(kw::sendSome(pair.b, "hi", 2, &count, &failure), kw::IoStatus::Done);
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 5s, &ready, &woken).ok());
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].events, unsigned{PollLoop::kReadable});
  char buffer[16];
  ASSERT_EQ(kw::receiveSome(pair.a, buffer, sizeof buffer, &count, &failure), kw::IoStatus::Done);
  EXPECT_EQ(std::string(buffer, count), "hi");
  EXPECT_EQ(kw::receiveSome(pair.a, buffer, sizeof buffer, &count, &failure),
            kw::IoStatus::WouldBlock);

  // A wake-up ends the wait and is taken: the next wait runs to its end.
  wake.signal();
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 5s, &ready, &woken).ok());
  EXPECT_TRUE(woken);
  EXPECT_TRUE(ready.empty());
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 20ms, &ready, &woken).ok());
  EXPECT_FALSE(woken);
  EXPECT_TRUE(ready.empty());

  // The peer goes: readable, and reading says the stream ended.
  pair.b.close();
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 5s, &ready, &woken).ok());
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_NE(ready[0].events & PollLoop::kReadable, 0u);
  EXPECT_EQ(kw::receiveSome(pair.a, buffer, sizeof buffer, &count, &failure), kw::IoStatus::Closed);
  // A send to it fails with its reason and no SIGPIPE.
  EXPECT_EQ(kw::sendSome(pair.a, "x", 1, &count, &failure), kw::IoStatus::Failed);
  EXPECT_NE(failure.text().find("send: "), std::string::npos) << failure.text();
}

TEST(PollLoop, ADeadlineTimesOutItsSocketOnceAndForgottenSocketsAreNotReported) {
  Pair first, second;
  kw::WakeEvent wake;
  ASSERT_TRUE(wake.open().ok());
  PollLoop loop;
  loop.watch(first.a.fd(), PollLoop::kReadable);
  loop.watch(second.a.fd(), PollLoop::kReadable);
  loop.setDeadline(first.a.fd(), Clock::now() + 30ms);
  std::vector<PollLoop::Ready> ready;
  bool woken = false;
  // The wait ends at the deadline, well before its own end.
  const auto start = Clock::now();
  ASSERT_TRUE(loop.wait(wake, start + 20s, &ready, &woken).ok());
  EXPECT_LT(Clock::now() - start, 10s);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].fd, first.a.fd());
  EXPECT_EQ(ready[0].events, unsigned{PollLoop::kTimedOut});
  // Reported once: the deadline is cleared.
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 20ms, &ready, &woken).ok());
  EXPECT_TRUE(ready.empty());

  loop.forget(first.a.fd());
  EXPECT_EQ(loop.size(), 1u);
  size_t count = 0;
  kw::Failure failure;
  kw::sendSome(first.b, "a", 1, &count, &failure);
  kw::sendSome(second.b, "b", 1, &count, &failure);
  ASSERT_TRUE(loop.wait(wake, Clock::now() + 5s, &ready, &woken).ok());
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].fd, second.a.fd());
}

TEST(TaskPool, RunsEveryTaskQueuedBeforeTheStopAndRefusesLaterOnes) {
  kw::TaskPool pool;
  ASSERT_TRUE(pool.start(3).ok());
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(pool.add([&ran] { ++ran; }));
  pool.stop();
  EXPECT_EQ(ran, 100);
  EXPECT_FALSE(pool.add([&ran] { ++ran; }));
  EXPECT_EQ(ran, 100);
}

}  // namespace
