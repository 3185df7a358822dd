// Reading a feed recording (see record_reader.h).
#include "beacon/record_reader.h"

#include "beacon/record_format.h"
#include "platform/files.h"

namespace kw_beacon {

RecordReader::~RecordReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RecordReader::open(const char* path) {
  if (file_ != nullptr) std::fclose(file_);
  kw::Failure failure;
  file_ = kw::openRegularFile(path, &failure);
  lineNumber_ = 0;
  lastTime_ = 0;
  problem_.clear();
  if (file_ == nullptr) {
    // The failure names the file first ("'day.rec': ..."); the caller does too.
    const std::string named = std::string("'") + (path != nullptr ? path : "") + "': ";
    const std::string& text = failure.text();
    problem_ = "cannot be read: " + (text.rfind(named, 0) == 0 ? text.substr(named.size()) : text);
    return false;
  }
  return true;
}

bool RecordReader::readLine() {
  line_.clear();
  tooLong_ = false;
  int c = std::getc(file_);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(file_)) {
    if (line_.size() < kMaxRecordLine) {
      line_ += static_cast<char>(c);
    } else {
      tooLong_ = true;
    }
  }
  return true;
}

RecordReader::Result RecordReader::next(uint64_t* milliseconds, std::string* datagram) {
  if (file_ == nullptr) return Result::End;
  for (;;) {
    if (!readLine()) return Result::End;
    ++lineNumber_;
    if (tooLong_) {
      problem_ = "line longer than " + std::to_string(kMaxRecordLine) + " characters";
      return Result::Bad;
    }
    uint64_t time = 0;
    switch (parseRecordLine(line_, &time, datagram, &problem_)) {
      case LineKind::Skip: continue;
      case LineKind::Bad: return Result::Bad;
      case LineKind::Record: break;
    }
    if (time < lastTime_) {
      problem_ = "time " + std::to_string(time) + " is earlier than the line before (" +
                 std::to_string(lastTime_) + ")";
      return Result::Bad;
    }
    lastTime_ = time;
    *milliseconds = time;
    return Result::Record;
  }
}

}  // namespace kw_beacon
