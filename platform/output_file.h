// OutputFile: a file, a pipe or standard output that a stream of text is
// written to without ever blocking the writer: the descriptor is made
// non-blocking, and writeSome() says how much it took now, or that it takes
// nothing now, or why it failed ("write: Broken pipe").
//
// A pipe is grown to kPipeBytes where the system allows, so that a reader
// that takes its time between the writer's bursts loses nothing.
//
// A reader at the other end of a pipe that goes away would end the whole
// process with SIGPIPE; ignoreBrokenPipe() turns that into a failed write.
//
// Owns the descriptor it opened; not one it was attached to (standard
// output, a test's pipe). One thread at a time uses an OutputFile.
#pragma once

#include <cstddef>
#include <string>

#include "platform/failure.h"
#include "platform/tcp_connection.h"

namespace kw {

class OutputFile {
 public:
  static constexpr int kStandardOutput = 1;
  // What a pipe written to is grown to hold: 1 MiB, the most an
  // unprivileged process may ask for by default (/proc/sys/fs/pipe-max-size).
  static constexpr std::size_t kPipeBytes = std::size_t{1} << 20;

  OutputFile() = default;
  ~OutputFile() { close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing, created (mode 0644 less the umask) or
  // emptied, non-blocking and closed on exec.
  Failure open(const std::string& path);
  // Writes to `fd`, which the caller keeps owning; it is made non-blocking.
  Failure attach(int fd);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Writes as much of `data` as the descriptor takes now: Done with
  // *written (possibly less than `length`), WouldBlock, or Failed with the
  // reason. Closed is never returned.
  IoStatus writeSome(const char* data, std::size_t length, std::size_t* written, Failure* failure);

  // Makes the process ignore SIGPIPE, so that writing to a pipe whose
  // reader went away fails with EPIPE instead of ending the process.
  static Failure ignoreBrokenPipe();

 private:
  int fd_ = -1;
  bool owned_ = false;
};

}  // namespace kw
