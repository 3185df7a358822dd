// The wake-up event, an eventfd (see wake_event.h).
#include "platform/wake_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kw {

Failure WakeEvent::open() {
  if (fd_ >= 0) return {};
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) return Failure::fromErrno("wake-up event", errno);
  return {};
}

void WakeEvent::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void WakeEvent::signal() {
  if (fd_ < 0) return;
  const uint64_t one = 1;
  ssize_t written;
  do {
    written = write(fd_, &one, sizeof one);
  } while (written < 0 && errno == EINTR);
}

void WakeEvent::clear() const {
  if (fd_ < 0) return;
  uint64_t count = 0;
  ssize_t taken;
  do {
    taken = read(fd_, &count, sizeof count);
  } while (taken < 0 && errno == EINTR);
  // EAGAIN: nothing was signalled. The descriptor is non-blocking.
}

}  // namespace kw
