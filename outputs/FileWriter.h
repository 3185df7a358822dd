// Writes whole files on its own thread, so that the runner's thread never
// waits for a disk. Each target keeps only its newest pending content: a
// content handed over while an older one still waits replaces it.
//
// Owns: the writer thread and the pending contents.
// Thread safety: all members from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace kw_out {

class FileWriter {
 public:
  FileWriter();
  // Writes what is still pending, then ends the thread.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Hands over the new content of `path`; returns at once.
  void submit(const std::string& path, std::string text);
  // Waits until everything handed over so far is written.
  void drain();

  uint64_t written() const;
  uint64_t replaced() const;  // contents superseded before being written
  // The last write failure with its reason ("" when none).
  std::string lastError() const;

 private:
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::map<std::string, std::string> pending_;
  bool busy_ = false;
  bool stopping_ = false;
  uint64_t written_ = 0;
  uint64_t replaced_ = 0;
  std::string lastError_;
  std::thread thread_;
};

}  // namespace kw_out
