// Writes whole files on a worker of its own, so that the runner's thread
// never waits for a disk. Each target keeps only its newest pending content:
// a content handed over while an older one still waits replaces it. Each
// file is replaced atomically (kw::writeFileAtomically).
//
// Owns: the worker and the pending contents.
// Thread safety: all members from any thread; the worker writes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/mutex.h"
#include "platform/worker.h"

namespace kw_out {

class FileWriter {
 public:
  FileWriter();
  // Writes what is still pending, then ends the worker.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Hands over the new content of `path`; returns at once.
  void submit(const std::string& path, std::string text) KW_EXCLUDES(mutex_);
  // Waits until everything handed over so far is written.
  void drain() KW_EXCLUDES(mutex_);

  uint64_t written() const KW_EXCLUDES(mutex_);
  uint64_t replaced() const KW_EXCLUDES(mutex_);  // contents superseded before being written
  // The last write failure with its reason ("" when none).
  std::string lastError() const KW_EXCLUDES(mutex_);

 private:
  void run() KW_EXCLUDES(mutex_);
  // Writes one pending content; false when none is pending.
  bool writeOne() KW_EXCLUDES(mutex_);

  kw::Worker worker_;
  mutable kw::Mutex mutex_;
  kw::CondVar idle_;
  std::map<std::string, std::string> pending_ KW_GUARDED_BY(mutex_);
  bool busy_ KW_GUARDED_BY(mutex_) = false;
  bool inline_ KW_GUARDED_BY(mutex_) = false;  // no worker: submit() writes itself
  uint64_t written_ KW_GUARDED_BY(mutex_) = 0;
  uint64_t replaced_ KW_GUARDED_BY(mutex_) = 0;
  std::string lastError_ KW_GUARDED_BY(mutex_);
};

}  // namespace kw_out
