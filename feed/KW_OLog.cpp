#include "feed/KW_OLog.h"

#include <cstdio>
#include <memory>
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
  if (!problem.empty() && !reported_) {
    std::fprintf(stderr, "trace log: %s\n", problem.c_str());
    reported_ = true;
  }
  if (!settings.enabled) return 0;  // off: no file is touched

  const kw::Failure failure = kw::prepareLogFile(fileName_, fresh_ != 0);
  if (failure) {
    // Said once: every block of the plug-in opens the same name.
    if (!reported_) {
      std::fprintf(stderr, "trace log %s; it stays closed\n", failure.c_str());
      reported_ = true;
    }
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
  const bool ok = opened_.load(std::memory_order_relaxed) &&
                  kw::appendRecord(fileName_, line, static_cast<size_t>(length),
                                   limitBytes_.load(std::memory_order_relaxed))
                      .ok();
  return ok ? length : 0;
}

void KW_OLog::close() {
  kw::SemaphoreGuard guard(lock_);
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  opened_.store(0, std::memory_order_release);
  fresh_ = 1;
}

void KW_OLog::closeSoft() {
  kw::SemaphoreGuard guard(lock_);
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  opened_.store(0, std::memory_order_release);
}
