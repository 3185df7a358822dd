#include "outputs/FileWriter.h"

#include "platform/files.h"

namespace kw_out {

FileWriter::FileWriter() : thread_([this] { run(); }) {}

FileWriter::~FileWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void FileWriter::submit(const std::string& path, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, added] = pending_.try_emplace(path);
    if (!added) ++replaced_;
    it->second = std::move(text);
  }
  wake_.notify_one();
}

void FileWriter::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
}

uint64_t FileWriter::written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

uint64_t FileWriter::replaced() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return replaced_;
}

std::string FileWriter::lastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

void FileWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) {
      if (stopping_) return;
      continue;
    }
    auto node = pending_.extract(pending_.begin());
    busy_ = true;
    lock.unlock();
    const kw::Failure failed = kw::writeFileAtomically(node.key(), node.mapped());
    lock.lock();
    busy_ = false;
    if (failed) lastError_ = failed.text();
    else ++written_;
    if (pending_.empty()) idle_.notify_all();
  }
}

}  // namespace kw_out
