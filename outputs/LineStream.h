// A stream of text lines to a file, a pipe or standard output that never
// blocks its writer: the descriptor is non-blocking, what the reader has not
// taken yet waits in a bounded backlog, and lines that do not fit are dropped
// and counted. Lines are written whole or not at all.
//
// Owns: the file it opened (not standard output) and the backlog.
// Thread safety: one thread (the runner's) only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/output_file.h"

namespace kw_out {

class LineStream {
 public:
  static constexpr size_t kDefaultBacklog = 1 << 20;

  explicit LineStream(size_t maxBacklog = kDefaultBacklog);
  ~LineStream();
  LineStream(const LineStream&) = delete;
  LineStream& operator=(const LineStream&) = delete;

  // Opens `path` for writing (created or truncated), or standard output when
  // `path` is "-". False with the reason in error() when it cannot.
  bool open(const std::string& path);
  // Writes to a descriptor the caller keeps owning (made non-blocking).
  bool attach(int fd);

  // Queues complete lines (each ending in a line feed) and writes what the
  // descriptor takes now. When the backlog would grow beyond its bound the
  // lines in `text` are dropped and counted instead. An empty `text` only
  // writes what the descriptor takes now of the backlog.
  void write(const std::string& text);
  // Writes what the descriptor takes now of the backlog.
  void flush();

  bool isOpen() const { return file_.isOpen(); }
  size_t backlog() const { return backlog_.size() - sent_; }
  uint64_t droppedLines() const { return droppedLines_; }
  uint64_t writtenBytes() const { return writtenBytes_; }
  // The last failure ("" when none): open failures, and a write failure
  // other than a full pipe, after which the stream stops writing.
  const std::string& error() const { return error_; }

 private:
  // Stops writing for good after a failure: what is queued is dropped.
  void breakOff(const kw::Failure& failure);

  size_t maxBacklog_;
  kw::OutputFile file_;
  bool broken_ = false;
  std::string backlog_;
  size_t sent_ = 0;
  uint64_t droppedLines_ = 0;
  uint64_t writtenBytes_ = 0;
  std::string error_;
};

}  // namespace kw_out
