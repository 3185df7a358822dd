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
// mix and nothing is buffered between lines. The log is silent about its own
// failures: a line that cannot be written is lost.
//
// Thread safety: printf may be called from any thread at once. open, close
// and closeSoft are called from the host's thread only.
// Lock order: `lock_` is the innermost lock; nothing else is taken under it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "semaphore_lock.h"

class KW_OLog {
 public:
  static constexpr int kNameSize = 256;

  constexpr KW_OLog() = default;
  ~KW_OLog();
  KW_OLog(const KW_OLog&) = delete;
  KW_OLog& operator=(const KW_OLog&) = delete;

  // Formats the file name into fileName_ (bounded to 256 characters). An
  // empty name or one of 256 characters or more closes the log and returns 0.
  // Otherwise opens the file, truncating it on the first successful open
  // after construction or close() and appending afterwards; 1 on success.
  int open(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Writes one formatted line (callers end it with "\n"). Returns the number
  // of characters written; 0 when the log is not open or the file cannot be
  // opened.
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int vprintf(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

  // Closes; the next successful open truncates.
  void close();
  // Closes; the next successful open appends.
  void closeSoft();

  int isOpen() const { return opened_.load(std::memory_order_acquire); }
  // Host's thread, which is the only one that changes the name (open), so
  // reading it there needs no lock.
  const char* getFileName() const KW_NO_THREAD_SAFETY_ANALYSIS { return fileName_; }

 private:
  void getLock() KW_ACQUIRE(lock_) { lock_.wait(); }
  void relLock() KW_RELEASE(lock_) { lock_.post(); }

  FILE* file_ KW_GUARDED_BY(lock_) = nullptr;           // held only within one open check
  char fileName_[kNameSize] KW_GUARDED_BY(lock_) = {};  // as formatted by open
  std::atomic<int32_t> opened_{0};                      // 1 while lines are accepted
  int32_t fresh_ KW_GUARDED_BY(lock_) = 1;              // 1: the next successful open truncates
  kw::Semaphore lock_;                                  // serialises the writing of one line
};

// The process-wide log.
extern KW_OLog* olog;
