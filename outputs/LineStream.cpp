#include "outputs/LineStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kw_out {

LineStream::LineStream(size_t maxBacklog) : maxBacklog_(maxBacklog) {}

LineStream::~LineStream() {
  flush();
  close();
}

void LineStream::close() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

bool LineStream::open(const std::string& path) {
  close();
  if (path == "-") return attach(STDOUT_FILENO);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  fd_ = fd;
  owned_ = true;
  return true;
}

bool LineStream::attach(int fd) {
  close();
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    error_ = std::string("cannot make the stream non-blocking: ") + std::strerror(errno);
    return false;
  }
  fd_ = fd;
  owned_ = false;
  return true;
}

void LineStream::write(const std::string& text) {
  if (fd_ < 0 || broken_) return;
  if (text.empty()) {
    flush();
    return;
  }
  if (backlog() + text.size() > maxBacklog_) {
    flush();
    if (backlog() + text.size() > maxBacklog_) {
      droppedLines_ += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
      return;
    }
  }
  backlog_.append(text);
  flush();
}

void LineStream::flush() {
  while (fd_ >= 0 && !broken_ && sent_ < backlog_.size()) {
    const ssize_t n = ::write(fd_, backlog_.data() + sent_, backlog_.size() - sent_);
    if (n > 0) {
      sent_ += static_cast<size_t>(n);
      writtenBytes_ += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // The reader went away (EPIPE) or the disk failed: stop writing, keep
    // the reason. What is still queued can never be delivered.
    error_ = std::string("stream write failed: ") + (n < 0 ? std::strerror(errno) : "nothing written");
    broken_ = true;
    droppedLines_ += static_cast<uint64_t>(
        std::count(backlog_.begin() + static_cast<std::ptrdiff_t>(sent_), backlog_.end(), '\n'));
    backlog_.clear();
    sent_ = 0;
    return;
  }
  if (sent_ == backlog_.size()) {
    backlog_.clear();
    sent_ = 0;
  } else if (sent_ > (1 << 16) && sent_ > backlog_.size() / 2) {
    backlog_.erase(0, sent_);
    sent_ = 0;
  }
}

}  // namespace kw_out
