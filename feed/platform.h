// Platform layer: the few operating-system services the feed, the sniffer and
// the beacon need, in one place, so that no other file calls POSIX directly.
//
// It stands in for the Windows services the system was first written against:
//  - a semaphore of maximum count 1 whose waits have no time-out;
//  - thread start and join;
//  - Sleep in milliseconds;
//  - process and thread numbers for trace lines;
//  - the C runtime's millisecond time record `_timeb` and `_ftime`, fed by a
//    clock that tests may replace to control time to the millisecond;
//  - UDP multicast sockets for receiving and sending, and a wake-up event
//    that lets a thread blocked on a socket be ended from outside.
//
// Thread safety: every function may be called from any thread, except
// setClockSource, which tests call while no other thread reads the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <thread>

namespace kw {

// ---------------------------------------------------------------- time

// The C runtime's millisecond time record, field for field.
struct _timeb {
  int32_t time;      // seconds since 1970-01-01 00:00:00 UTC
  uint16_t millitm;  // milliseconds, 0 to 999
  int16_t timezone;  // minutes west of UTC for standard time (no daylight saving)
  int16_t dstflag;   // nonzero while daylight saving is in force
};

// One reading of the clock: whole seconds since 1970 and milliseconds.
struct ClockReading {
  int64_t seconds;
  int millis;  // 0 to 999
};

using ClockSource = ClockReading (*)();

// Replaces the clock behind _ftime and now(); nullptr restores the system
// clock. Meant for tests.
void setClockSource(ClockSource source);

// The current clock reading from the installed source.
ClockReading now();

// Fills `record` from the clock: seconds (cut to 32 bits), milliseconds, the
// standard-time zone offset in minutes west of UTC, and whether daylight
// saving is in force at that moment in the local zone (TZ).
void _ftime(_timeb* record);

// Minutes west of UTC of the local zone's standard time.
int standardZoneMinutesWest();

// Blocks the calling thread for `ms` milliseconds.
void Sleep(unsigned ms);

// ---------------------------------------------------------------- files

// Appends `length` bytes to the file at `path` (created when missing) with
// one open, one write and one close. False when nothing could be written.
bool appendToFile(const char* path, const char* data, size_t length);

// Opens a regular file for reading as text; null when it cannot be opened or
// is not a regular file (a named pipe or a device could block or never end).
FILE* openRegularFile(const char* path);

// ---------------------------------------------------------------- identity

int processId();
int threadId();

// ---------------------------------------------------------------- semaphore

// A counting semaphore whose count never exceeds 1; waits have no time-out.
// A post on a semaphore whose count is already 1 leaves it at 1.
class Semaphore {
 public:
  constexpr Semaphore() = default;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void wait() {
    for (;;) {
      int count = count_.load(std::memory_order_relaxed);
      if (count > 0 &&
          count_.compare_exchange_weak(count, count - 1, std::memory_order_acquire)) {
        return;
      }
      if (count == 0) count_.wait(0, std::memory_order_relaxed);
    }
  }
  void post() {
    int count = count_.load(std::memory_order_relaxed);
    while (count < 1 &&
           !count_.compare_exchange_weak(count, count + 1, std::memory_order_release)) {
    }
    count_.notify_one();
  }

 private:
  std::atomic<int> count_{1};
};

// ---------------------------------------------------------------- threads

// A joinable thread with a small process-wide number for trace lines.
// start and join are called by the owner's thread only.
class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { join(); }

  // Starts `body(arg)` on a new thread. False when the thread could not be
  // started or one is already held.
  bool start(void (*body)(void*), void* arg);
  // Waits for the thread to end; nothing when none is held.
  void join();
  bool running() const { return thread_.joinable(); }
  // 0 while no thread is held; otherwise the thread's number (1, 2, ...).
  int number() const { return number_; }

 private:
  std::thread thread_;
  int number_ = 0;
};

// ---------------------------------------------------------------- sockets

constexpr int kNoSocket = -1;

// A UDP socket bound to `port` (low 16 bits) on any local address, with
// address reuse so that every listener on this machine gets each datagram,
// joined as a receiver to `group` on the default interface. Failures of the
// bind or the join are not reported: the socket then receives nothing useful.
// kNoSocket when no socket could be made at all.
int openMulticastReceiver(const char* group, int port);

// A UDP socket bound to `port` on any local address with address reuse, whose
// multicast datagrams travel at most `hops` hops. Failures of the options and
// the bind are ignored. kNoSocket when no socket could be made.
int openMulticastSender(int port, int hops);

// Sends `length` bytes to `group`:`port`. False when the send failed.
bool sendDatagram(int socket, const char* group, int port, const char* data, size_t length);

void closeSocket(int socket);

// An event a thread can wait on beside a socket, so that another thread can
// wake it. open/close on the owner's thread; signal from any thread.
class WakeEvent {
 public:
  WakeEvent() = default;
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  ~WakeEvent() { close(); }

  bool open();
  void close();
  void signal();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

enum class ReceiveStatus {
  Data,    // a datagram was received; *count holds its length
  Woken,   // the wake event was signalled
  Failed,  // the receive failed; nothing was stored
};

// Waits until a datagram arrives on `socket` or `wake` is signalled, then
// receives at most `capacity` bytes into `buffer`. A socket of kNoSocket is
// never readable: the call then waits for the wake event alone.
ReceiveStatus waitAndReceive(int socket, const WakeEvent& wake, char* buffer, size_t capacity,
                             size_t* count);

// True when the calling process sees no network interface but loopback.
bool onlyLoopbackNetwork();

}  // namespace kw
