#include "outputs/FileWriter.h"

#include "platform/files.h"

namespace kw_out {

FileWriter::FileWriter() {
  if (const kw::Failure failed = worker_.start([this] { run(); })) {
    // Without a thread of its own the writer still writes, on the caller's.
    kw::MutexLock lock(&mutex_);
    inline_ = true;
    lastError_ = failed.text();
  }
}

FileWriter::~FileWriter() { worker_.stop(); }

void FileWriter::submit(const std::string& path, std::string text) {
  bool writeHere = false;
  {
    kw::MutexLock lock(&mutex_);
    auto [it, added] = pending_.try_emplace(path);
    if (!added) ++replaced_;
    it->second = std::move(text);
    writeHere = inline_;
  }
  if (writeHere) {
    while (writeOne()) {
    }
    return;
  }
  worker_.wake();
}

void FileWriter::drain() {
  kw::MutexLock lock(&mutex_);
  while (!pending_.empty() || busy_) idle_.wait(&mutex_);
}

uint64_t FileWriter::written() const {
  kw::MutexLock lock(&mutex_);
  return written_;
}

uint64_t FileWriter::replaced() const {
  kw::MutexLock lock(&mutex_);
  return replaced_;
}

std::string FileWriter::lastError() const {
  kw::MutexLock lock(&mutex_);
  return lastError_;
}

bool FileWriter::writeOne() {
  std::string path, text;
  {
    kw::MutexLock lock(&mutex_);
    if (pending_.empty()) return false;
    auto node = pending_.extract(pending_.begin());
    path = std::move(node.key());
    text = std::move(node.mapped());
    busy_ = true;
  }
  const kw::Failure failed = kw::writeFileAtomically(path, text);
  kw::MutexLock lock(&mutex_);
  busy_ = false;
  if (failed) {
    lastError_ = failed.text();
  } else {
    ++written_;
  }
  if (pending_.empty()) idle_.signalAll();
  return true;
}

// What is pending is written before the worker ends, also when it was
// asked to stop meanwhile.
void FileWriter::run() {
  for (;;) {
    while (writeOne()) {
    }
    if (worker_.stopping()) return;
    worker_.sleepUntil(std::chrono::steady_clock::time_point::max());
  }
}

}  // namespace kw_out
