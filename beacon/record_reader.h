// RecordReader: reads a feed recording (record_format.h) one datagram at a
// time, with the line number of each, for `nmea_beacon --replay`.
//
// Reads any file without trusting it: only a regular file is opened (a
// named pipe or device could block or never end), a line longer than any
// valid record is refused without being held, and a time earlier than the
// one before it is refused, so the caller can check a whole recording
// before it sends anything and then read it again to send.
//
// Owns the open file. One thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kw_beacon {

class RecordReader {
 public:
  enum class Result { Record, End, Bad };

  RecordReader() = default;
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Opens `path` (closing what was open). False with problem() set when it
  // cannot be read.
  bool open(const char* path);

  // The next datagram. Record: *milliseconds and *datagram set. End: the
  // file is done. Bad: problem() says what is wrong with line lineNumber().
  Result next(uint64_t* milliseconds, std::string* datagram);

  int lineNumber() const { return lineNumber_; }
  const std::string& problem() const { return problem_; }

 private:
  // Reads one line without its line end into line_; false at the end of
  // the file with nothing read. Sets tooLong_ when it had to stop keeping.
  bool readLine();

  std::FILE* file_ = nullptr;
  std::string line_;
  bool tooLong_ = false;
  int lineNumber_ = 0;
  uint64_t lastTime_ = 0;
  std::string problem_;
};

}  // namespace kw_beacon
