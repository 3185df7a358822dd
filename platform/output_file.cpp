// Non-blocking output to a file, a pipe or standard output (see output_file.h).
#include "platform/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace kw {

Failure OutputFile::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return Failure::fromErrno("cannot open " + path, errno);
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
