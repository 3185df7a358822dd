// POSIX implementation of the platform layer (see platform.h).
#include "platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace kw {

// ---------------------------------------------------------------- time

namespace {

ClockReading systemClock() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ClockReading{static_cast<int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

std::atomic<ClockSource> g_clock{&systemClock};

}  // namespace

void setClockSource(ClockSource source) { g_clock.store(source ? source : &systemClock); }

ClockReading now() { return g_clock.load(std::memory_order_relaxed)(); }

int standardZoneMinutesWest() {
  tzset();
  return static_cast<int>(::timezone / 60);
}

void _ftime(_timeb* record) {
  const ClockReading reading = now();
  const time_t seconds = static_cast<time_t>(reading.seconds);
  tm local{};
  const int west = standardZoneMinutesWest();
  localtime_r(&seconds, &local);
  record->time = static_cast<int32_t>(reading.seconds);
  record->millitm = static_cast<uint16_t>(reading.millis);
  record->timezone = static_cast<int16_t>(west);
  record->dstflag = static_cast<int16_t>(local.tm_isdst > 0 ? 1 : 0);
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---------------------------------------------------------------- files

bool appendToFile(const char* path, const char* data, size_t length) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  bool whole = true;
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      whole = false;
      break;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  ::close(fd);
  return whole;
}

FILE* openRegularFile(const char* path) {
  if (path == nullptr) return nullptr;
  // Opening without blocking: a named pipe with no writer would otherwise
  // hold the caller until one comes.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "r");
  if (file == nullptr) ::close(fd);
  return file;
}

// ---------------------------------------------------------------- identity

int processId() { return static_cast<int>(getpid()); }

int threadId() { return static_cast<int>(syscall(SYS_gettid)); }

// ---------------------------------------------------------------- threads

namespace {
std::atomic<int> g_threadNumbers{0};
}

bool Thread::start(void (*body)(void*), void* arg) {
  if (thread_.joinable()) return false;
  try {
    thread_ = std::thread(body, arg);
  } catch (...) {
    return false;
  }
  number_ = ++g_threadNumbers;
  return true;
}

void Thread::join() {
  if (thread_.joinable()) thread_.join();
  number_ = 0;
}

// ---------------------------------------------------------------- sockets

namespace {

sockaddr_in anyAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  return address;
}

void allowAddressReuse(int fd) {
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

}  // namespace

int openMulticastReceiver(const char* group, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return kNoSocket;
  allowAddressReuse(fd);
  const sockaddr_in local = anyAddress(port);
  bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  ip_mreq membership{};
  membership.imr_multiaddr.s_addr = inet_addr(group ? group : "");
  membership.imr_interface.s_addr = htonl(INADDR_ANY);
  setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
  return fd;
}

int openMulticastSender(int port, int hops) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return kNoSocket;
  allowAddressReuse(fd);
  const sockaddr_in local = anyAddress(port);
  bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  const int ttl = hops;
  setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  return fd;
}

bool sendDatagram(int fd, const char* group, int port, const char* data, size_t length) {
  if (fd < 0) return false;
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  destination.sin_addr.s_addr = inet_addr(group ? group : "");
  const ssize_t sent = sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&destination),
                              sizeof destination);
  return sent == static_cast<ssize_t>(length);
}

void closeSocket(int fd) {
  if (fd >= 0) ::close(fd);
}

bool WakeEvent::open() {
  if (fd_ >= 0) return true;
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd_ >= 0;
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

ReceiveStatus waitAndReceive(int fd, const WakeEvent& wake, char* buffer, size_t capacity,
                             size_t* count) {
  *count = 0;
  for (;;) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {wake.fd(), POLLIN, 0}};
    const int ready = poll(watched, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ReceiveStatus::Failed;
    }
    if (watched[1].revents != 0) return ReceiveStatus::Woken;
    if (watched[0].revents & (POLLERR | POLLNVAL)) {
      // Take the pending error off the socket so the next wait does not see it again.
      int error = 0;
      socklen_t length = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      return ReceiveStatus::Failed;
    }
    const ssize_t received = recv(fd, buffer, capacity, MSG_DONTWAIT);
    if (received >= 0) {
      *count = static_cast<size_t>(received);
      return ReceiveStatus::Data;
    }
    // Nothing there after all (or interrupted): wait again.
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return ReceiveStatus::Failed;
  }
}

bool onlyLoopbackNetwork() {
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return false;
  bool onlyLoopback = true;
  for (const struct if_nameindex* entry = names; entry->if_index != 0; ++entry) {
    if (std::strcmp(entry->if_name, "lo") != 0) onlyLoopback = false;
  }
  if_freenameindex(names);
  return onlyLoopback;
}

}  // namespace kw
