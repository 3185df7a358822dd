#include "feed/KW_OLog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "feed/trace_settings.h"
#include "platform/files.h"

namespace {

// The process-wide log lives in static storage that is constant-initialised,
// so `olog` is valid before any dynamic initialiser of any file runs, and is
// never destroyed (the holder's destructor does not destroy the log).
union LogHolder {
  KW_OLog log;
  constexpr LogHolder() : log() {}
  ~LogHolder() {}
};

constinit LogHolder g_logHolder;

// Lines are formatted into a buffer of this size on the stack; a longer line
// (a packet text of up to 4999 characters, say) is formatted on the heap.
constexpr int kLineBuffer = 1024;

}  // namespace

KW_OLog* olog = &g_logHolder.log;

KW_OLog::~KW_OLog() {
  printf("KW_OLog::~KW_OLog() %p\n", static_cast<void*>(this));
  close();
}

int KW_OLog::open(const char* format, ...) {
  // The name and the state change under the lock, so that a receive thread
  // writing a line never sees a half-written file name.
  kw::SemaphoreGuard guard(lock_);
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(fileName_, sizeof fileName_, format, args);
  va_end(args);
  if (length <= 0 || length >= kNameSize) {
    opened_.store(0, std::memory_order_release);
    return 0;
  }
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  opened_.store(0, std::memory_order_release);

  std::string problem;
  const kw::TraceSettings settings = kw::traceSettingsFromEnvironment(&problem);
  limitBytes_.store(settings.limitBytes, std::memory_order_relaxed);
  if (!problem.empty()) report(("trace log: " + problem).c_str());
  if (!settings.enabled) return 0;  // off: no file is touched
  if (settings.openAtStartup && !started_) {
    // The file waits for the first startup; the lines wait in memory.
    holding_ = true;
    opened_.store(1, std::memory_order_release);
    return 1;
  }

  const kw::Failure failure = kw::prepareLogFile(fileName_, fresh_ != 0);
  if (failure) {
    // Said once: every block of the plug-in opens the same name.
    report(("trace log " + failure.text() + "; it stays closed").c_str());
    return 0;
  }
  opened_.store(1, std::memory_order_release);
  fresh_ = 0;
  return 1;
}

int KW_OLog::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = vprintf(format, args);
  va_end(args);
  return written;
}

int KW_OLog::vprintf(const char* format, va_list args) {
  if (!opened_.load(std::memory_order_acquire)) return 0;

  char local[kLineBuffer];
  va_list again;
  va_copy(again, args);
  const int length = vsnprintf(local, sizeof local, format, args);
  const char* line = local;
  std::unique_ptr<char[]> large;
  if (length < 0) {
    va_end(again);
    return 0;
  }
  if (length >= kLineBuffer) {
    large.reset(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (!large) {
      va_end(again);
      return 0;
    }
    vsnprintf(large.get(), static_cast<size_t>(length) + 1, format, again);
    line = large.get();
  }
  va_end(again);

  kw::SemaphoreGuard guard(lock_);
  if (!opened_.load(std::memory_order_relaxed)) return 0;
  if (holding_) {
    hold(line, static_cast<size_t>(length));
    return length;
  }
  const bool ok = kw::appendRecord(fileName_, line, static_cast<size_t>(length),
                                   limitBytes_.load(std::memory_order_relaxed))
                      .ok();
  return ok ? length : 0;
}

void KW_OLog::hold(const char* line, size_t length) {
  const size_t need = sizeof(size_t) + length;
  if (heldSize_ + need > heldCapacity_) {
    if (heldSize_ + need > kHeldBytes) {
      ++heldDropped_;
      return;
    }
    const size_t capacity =
        std::min(kHeldBytes, std::max(2 * heldCapacity_, heldSize_ + need + 4096));
    std::unique_ptr<char[]> larger(new (std::nothrow) char[capacity]);
    if (!larger) {
      ++heldDropped_;
      return;
    }
    if (heldSize_ > 0) std::memcpy(larger.get(), held_.get(), heldSize_);
    held_ = std::move(larger);
    heldCapacity_ = capacity;
  }
  std::memcpy(held_.get() + heldSize_, &length, sizeof length);
  std::memcpy(held_.get() + heldSize_ + sizeof length, line, length);
  heldSize_ += need;
}

void KW_OLog::dropHeld() {
  held_.reset();
  heldSize_ = 0;
  heldCapacity_ = 0;
  heldDropped_ = 0;
  holding_ = false;
}

void KW_OLog::report(const char* text) {
  if (reported_) return;
  std::fprintf(stderr, "%s\n", text);
  reported_ = true;
}

void KW_OLog::startWriting() {
  kw::SemaphoreGuard guard(lock_);
  started_ = true;
  if (!holding_) return;
  const kw::Failure failure = kw::prepareLogFile(fileName_, fresh_ != 0);
  if (failure) {
    report(("trace log " + failure.text() + "; it stays closed").c_str());
    opened_.store(0, std::memory_order_release);
    dropHeld();
    return;
  }
  fresh_ = 0;
  // Each line as its own record, as it would have been written: the file
  // rotates between lines exactly as it does for lines written at once.
  const uint64_t limit = limitBytes_.load(std::memory_order_relaxed);
  for (size_t at = 0; at < heldSize_;) {
    size_t length = 0;
    std::memcpy(&length, held_.get() + at, sizeof length);
    kw::appendRecord(fileName_, held_.get() + at + sizeof length, length, limit);
    at += sizeof length + length;
  }
  if (heldDropped_ > 0) {
    char line[160];
    const int length = std::snprintf(line, sizeof line,
                                     "KW_OLog: %llu lines before the first startup were not kept "
                                     "(more than %zu bytes)\n",
                                     static_cast<unsigned long long>(heldDropped_), kHeldBytes);
    if (length > 0) kw::appendRecord(fileName_, line, static_cast<size_t>(length), limit);
  }
  dropHeld();
}

void KW_OLog::close() {
  kw::SemaphoreGuard guard(lock_);
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  opened_.store(0, std::memory_order_release);
  fresh_ = 1;
  dropHeld();
}

void KW_OLog::closeSoft() {
  kw::SemaphoreGuard guard(lock_);
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  opened_.store(0, std::memory_order_release);
}
