#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace kw_test {

namespace {

void closeFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

int msLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  closeFd(&outFd_);
  closeFd(&errFd_);
}

bool ChildProcess::start(const std::string& path, const std::vector<std::string>& args) {
  if (pid_ > 0) return false;
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);

  // The child starts with default dispositions and nothing blocked, whatever
  // the test runner has set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const int result = posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (result != 0) {
    pid_ = -1;
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return false;
  }
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  return true;
}

bool ChildProcess::readSome(int fd, std::string* into, int waitMs) {
  if (fd < 0) return false;
  pollfd watched{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, waitMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return true;
  char buffer[4096];
  const ssize_t count = ::read(fd, buffer, sizeof buffer);
  if (count > 0) {
    into->append(buffer, static_cast<size_t>(count));
    return true;
  }
  return count < 0 && errno == EINTR;
}

bool ChildProcess::readOutUntil(const std::function<bool(const std::string&)>& done,
                                std::chrono::milliseconds timeout) {
  return readUntil(&outFd_, &out_, done, timeout);
}

bool ChildProcess::readErrUntil(const std::function<bool(const std::string&)>& done,
                                std::chrono::milliseconds timeout) {
  return readUntil(&errFd_, &err_, done, timeout);
}

bool ChildProcess::readUntil(int* fd, std::string* into,
                             const std::function<bool(const std::string&)>& done,
                             std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done(*into)) {
    const int left = msLeft(deadline);
    if (left == 0) return false;
    if (!readSome(*fd, into, left)) closeFd(fd);
    if (*fd < 0) return done(*into);
  }
  return true;
}

bool ChildProcess::signal(int signalNumber) { return pid_ > 0 && ::kill(pid_, signalNumber) == 0; }

bool ChildProcess::waitExit(std::chrono::milliseconds timeout, int* status) {
  if (pid_ <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const pid_t ended = ::waitpid(pid_, status, WNOHANG);
    if (ended == pid_) break;
    if (ended < 0 && errno != EINTR) return false;
    if (msLeft(deadline) == 0) return false;
    // Keep the pipes drained meanwhile so the child never blocks on a full one.
    readSome(outFd_, &out_, 0);
    readSome(errFd_, &err_, 0);
    ::usleep(5000);
  }
  pid_ = -1;
  // The child is gone: read both pipes to their end (bounded, in case some
  // other process still holds a write end).
  const auto drainDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (outFd_ >= 0 && msLeft(drainDeadline) > 0) {
    if (!readSome(outFd_, &out_, msLeft(drainDeadline))) closeFd(&outFd_);
  }
  while (errFd_ >= 0 && msLeft(drainDeadline) > 0) {
    if (!readSome(errFd_, &err_, msLeft(drainDeadline))) closeFd(&errFd_);
  }
  return true;
}

std::vector<std::string> completeLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace kw_test
