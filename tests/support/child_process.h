// ChildProcess: runs a program as a child of the test, with its standard
// output and standard error on pipes, so that a test can watch what the
// program prints while it runs, signal it and collect its exit status.
//
// Owns: the child (killed and reaped by the destructor if still running) and
// the read ends of both pipes.
// Thread safety: one thread only.
// Invariants: out()/err() hold everything read so far, in order.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kw_test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `path` with the argument vector `args` (args[0] is the name the
  // program sees as argv[0]; an empty vector passes no arguments at all).
  bool start(const std::string& path, const std::vector<std::string>& args);

  // Reads standard output until `done(out())` holds or `timeout` passes;
  // true when it held.
  bool readOutUntil(const std::function<bool(const std::string&)>& done,
                    std::chrono::milliseconds timeout);

  bool signal(int signalNumber);
  // The child's process id; -1 before start().
  pid_t pid() const { return pid_; }

  // Waits up to `timeout` for the child to end, then reads both pipes to
  // their end. True with the raw wait status in *status when it ended.
  bool waitExit(std::chrono::milliseconds timeout, int* status);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Reads whatever is available on `fd` within `waitMs`; false at end of file.
  static bool readSome(int fd, std::string* into, int waitMs);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
};

// The lines of `text` that end with a line feed, without it.
std::vector<std::string> completeLines(const std::string& text);

// How often `what` occurs in `text`, overlaps included.
size_t countOf(const std::string& text, const std::string& what);

}  // namespace kw_test
