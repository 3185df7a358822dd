#include "KW_OLog.h"

#include <cstdio>
#include <memory>

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
  getLock();
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(fileName_, sizeof fileName_, format, args);
  va_end(args);
  if (length <= 0 || length >= kNameSize) {
    __atomic_store_n(&opened_, 0, __ATOMIC_RELEASE);
    relLock();
    return 0;
  }
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  __atomic_store_n(&opened_, 0, __ATOMIC_RELEASE);
  file_ = fopen(fileName_, fresh_ ? "w" : "a");
  if (file_ == nullptr) {
    relLock();
    return 0;
  }
  fclose(file_);
  file_ = nullptr;
  __atomic_store_n(&opened_, 1, __ATOMIC_RELEASE);
  fresh_ = 0;
  relLock();
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
  if (!__atomic_load_n(&opened_, __ATOMIC_ACQUIRE)) return 0;

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

  getLock();
  const bool ok = opened_ && kw::appendToFile(fileName_, line, static_cast<size_t>(length));
  relLock();
  return ok ? length : 0;
}

void KW_OLog::close() {
  getLock();
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  __atomic_store_n(&opened_, 0, __ATOMIC_RELEASE);
  fresh_ = 1;
  relLock();
}

void KW_OLog::closeSoft() {
  getLock();
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  __atomic_store_n(&opened_, 0, __ATOMIC_RELEASE);
  relLock();
}
