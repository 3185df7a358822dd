// Non-blocking output to a file, a pipe or standard output (see output_file.h).
#include "platform/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kw {

namespace {

// A pipe's reader takes the stream in its own time, while the writer
// writes only now and then (a runner at its ticks): the kernel's default
// 64 KiB holds a fraction of one tick of a few thousand units' lines, and
// the rest waited and then was dropped. The pipe is grown as far as an
// unprivileged process may (best effort: a pipe left smaller still works).
void growPipe(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
    ::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(OutputFile::kPipeBytes));
}

}  // namespace

Failure OutputFile::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return Failure::fromErrno("cannot open " + path, errno);
  growPipe(fd);
  fd_ = fd;
  owned_ = true;
  return {};
}

Failure OutputFile::attach(int fd) {
  close();
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    return Failure::fromErrno("cannot make the stream non-blocking", errno);
  }
  growPipe(fd);
  fd_ = fd;
  owned_ = false;
  return {};
}

void OutputFile::close() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

IoStatus OutputFile::writeSome(const char* data, std::size_t length, std::size_t* written,
                               Failure* failure) {
  *written = 0;
  for (;;) {
    const ssize_t n = ::write(fd_, data, length);
    if (n > 0 || (n == 0 && length == 0)) {
      *written = static_cast<std::size_t>(n);
      return IoStatus::Done;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoStatus::WouldBlock;
    *failure =
        n < 0 ? Failure::fromErrno("write", errno) : Failure::because("write", "nothing written");
    return IoStatus::Failed;
  }
}

Failure OutputFile::ignoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGPIPE, &action, nullptr) != 0) {
    return Failure::fromErrno("ignore SIGPIPE", errno);
  }
  return {};
}

}  // namespace kw
