#include "outputs/LineStream.h"

#include <algorithm>

namespace kw_out {

LineStream::LineStream(size_t maxBacklog) : maxBacklog_(maxBacklog) {}

LineStream::~LineStream() { flush(); }

bool LineStream::open(const std::string& path) {
  const kw::Failure failed =
      path == "-" ? file_.attach(kw::OutputFile::kStandardOutput) : file_.open(path);
  if (failed) error_ = failed.text();
  return !failed;
}

bool LineStream::attach(int fd) {
  const kw::Failure failed = file_.attach(fd);
  if (failed) error_ = failed.text();
  return !failed;
}

void LineStream::write(const std::string& text) {
  if (!file_.isOpen() || broken_) return;
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
  while (file_.isOpen() && !broken_ && sent_ < backlog_.size()) {
    size_t written = 0;
    kw::Failure failure;
    const kw::IoStatus status =
        file_.writeSome(backlog_.data() + sent_, backlog_.size() - sent_, &written, &failure);
    if (status == kw::IoStatus::WouldBlock) break;
    if (status != kw::IoStatus::Done) {
      breakOff(failure);
      return;
    }
    sent_ += written;
    writtenBytes_ += written;
  }
  if (sent_ == backlog_.size()) {
    backlog_.clear();
    sent_ = 0;
  } else if (sent_ > (1 << 16) && sent_ > backlog_.size() / 2) {
    backlog_.erase(0, sent_);
    sent_ = 0;
  }
}

// The reader went away (EPIPE) or the disk failed: what is still queued can
// never be delivered.
void LineStream::breakOff(const kw::Failure& failure) {
  error_ = "stream " + failure.text();
  broken_ = true;
  droppedLines_ += static_cast<uint64_t>(
      std::count(backlog_.begin() + static_cast<std::ptrdiff_t>(sent_), backlog_.end(), '\n'));
  backlog_.clear();
  sent_ = 0;
}

}  // namespace kw_out
