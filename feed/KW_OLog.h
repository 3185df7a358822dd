// KW_OLog: the sniffer plug-in's trace log.
//
// One object per process, reached through the global pointer `olog`, which
// exists from static initialisation on (it is constant-initialised, so it is
// there before any other static initialiser can log) and is never destroyed.
// Every class of the feed and of the sniffer block writes its trace lines to
// it: one line on entry to each significant member function.
//
// Each line is formatted once into a bounded buffer and written by opening
// the file for appending, writing the whole line with one write and closing
// the file again, all under `lock_`, so lines from concurrent threads never
// mix and nothing is buffered between lines. A line that cannot be written
// is lost, silently.
//
// Bounded and safe:
//  - only a regular file is written: the name is never followed through a
//    symbolic link, and a named pipe or device in its place is refused
//    without blocking; open() then says so in one line on standard error
//    and the log stays closed;
//  - when a line would take the file past the size limit, the file is first
//    renamed to "<name>.1" (replacing an older one) and the line starts a
//    fresh file, so a line never spans the two;
//  - a file with more than one name (a hard link) is refused like a link;
//  - the environment decides at each open (trace_settings.h): KW_TRACE=off
//    keeps the log closed and touches no file; KW_TRACE_LIMIT_BYTES sets the
//    limit (0: none; 64 MiB by default); KW_TRACE_OPEN=startup holds the
//    lines in memory (at most kHeldBytes) instead of opening the file, until
//    startWriting() (the first block's startup) opens it, emptying it as the
//    open would have, and writes them: a host that loads a document without
//    starting it leaves the file untouched, and one that starts it gets the
//    same trace as with the file opened at load.
//
// Thread safety: printf may be called from any thread at once. open, close,
// closeSoft and startWriting are called from the host's thread only.
// Lock order: `lock_` is the innermost lock; nothing else is taken under it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "feed/trace_settings.h"
#include "platform/semaphore_lock.h"

class KW_OLog {
 public:
  static constexpr int kNameSize = 256;
  static constexpr size_t kHeldBytes = 4u << 20;  // lines held before the file opens

  constexpr KW_OLog() = default;
  ~KW_OLog();
  KW_OLog(const KW_OLog&) = delete;
  KW_OLog& operator=(const KW_OLog&) = delete;

  // Formats the file name into fileName_ (bounded to 256 characters). An
  // empty name or one of 256 characters or more closes the log and returns 0.
  // Otherwise takes the settings from the environment and, unless the trace
  // is off, opens the file, truncating it on the first successful open after
  // construction or close() and appending afterwards; 1 on success.
  int open(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Writes one formatted line (callers end it with "\n"). Returns the number
  // of characters written; 0 when the log is not open or the file cannot be
  // opened.
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int vprintf(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

  // Opens the file for lines held since an open that waited for the first
  // startup (KW_TRACE_OPEN=startup), emptying it on the first open after
  // construction or close(), and writes those lines to it in order; later
  // opens open the file at once. Does nothing else when nothing was held.
  void startWriting();

  // Closes; the next successful open truncates.
  void close();
  // Closes; the next successful open appends.
  void closeSoft();

  int isOpen() const { return opened_.load(std::memory_order_acquire); }
  // The size limit of the file in bytes, 0 for none. open() sets it from the
  // environment; setLimitBytes replaces it until the next open.
  uint64_t limitBytes() const { return limitBytes_.load(std::memory_order_relaxed); }
  void setLimitBytes(uint64_t bytes) { limitBytes_.store(bytes, std::memory_order_relaxed); }
  // Host's thread, which is the only one that changes the name (open), so
  // reading it there needs no lock.
  const char* getFileName() const KW_NO_THREAD_SAFETY_ANALYSIS { return fileName_; }

 private:
  void getLock() KW_ACQUIRE(lock_) { lock_.wait(); }
  void relLock() KW_RELEASE(lock_) { lock_.post(); }

  // Keeps one line until the file opens; counts it when kHeldBytes are kept.
  void hold(const char* line, size_t length) KW_REQUIRES(lock_);
  void dropHeld() KW_REQUIRES(lock_);
  // Says a refused file or a bad setting once, on standard error.
  void report(const char* text) KW_REQUIRES(lock_);

  FILE* file_ KW_GUARDED_BY(lock_) = nullptr;           // held only within one open check
  char fileName_[kNameSize] KW_GUARDED_BY(lock_) = {};  // as formatted by open
  std::atomic<int32_t> opened_{0};                      // 1 while lines are accepted
  int32_t fresh_ KW_GUARDED_BY(lock_) = 1;              // 1: the next successful open truncates
  std::atomic<uint64_t> limitBytes_{kw::kDefaultTraceLimitBytes};  // rotate past this; 0: never
  bool reported_ KW_GUARDED_BY(lock_) = false;         // a refusal or bad setting was shown
  bool holding_ KW_GUARDED_BY(lock_) = false;          // lines wait for startWriting
  bool started_ KW_GUARDED_BY(lock_) = false;          // startWriting was called
  std::unique_ptr<char[]> held_ KW_GUARDED_BY(lock_);  // lines, each after its length
  size_t heldSize_ KW_GUARDED_BY(lock_) = 0;
  size_t heldCapacity_ KW_GUARDED_BY(lock_) = 0;
  uint64_t heldDropped_ KW_GUARDED_BY(lock_) = 0;  // lines past kHeldBytes
  kw::Semaphore lock_;                             // serialises the writing of one line
};

// The process-wide log.
extern KW_OLog* olog;
