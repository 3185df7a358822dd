// Recordings handed to `nmea_beacon --replay` are untrusted files: every
// input is read as one recording line. A line that parses must come back
// byte for byte from the escaped form of its datagram, and any datagram's
// escaped form must parse to the same datagram and time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "beacon/record_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  uint64_t ms = 0;
  std::string datagram;
  std::string problem;
  const kw_beacon::LineKind kind = kw_beacon::parseRecordLine(input, &ms, &datagram, &problem);
  if (kind == kw_beacon::LineKind::Bad && problem.empty()) __builtin_trap();
  if (kind == kw_beacon::LineKind::Record) {
    if (datagram.size() > kw_beacon::kMaxRecordedDatagram) __builtin_trap();
    std::string line = kw_beacon::formatRecord(ms, datagram);
    line.pop_back();
    uint64_t again = 0;
    std::string back;
    if (kw_beacon::parseRecordLine(line, &again, &back, &problem) != kw_beacon::LineKind::Record ||
        again != ms || back != datagram) {
      __builtin_trap();
    }
  }

  // The whole input as a datagram.
  if (input.size() <= kw_beacon::kMaxRecordedDatagram) {
    std::string line = kw_beacon::formatRecord(size, input);
    line.pop_back();
    std::string back;
    if (kw_beacon::parseRecordLine(line, &ms, &back, &problem) != kw_beacon::LineKind::Record ||
        ms != size || back != input) {
      __builtin_trap();
    }
  }
  return 0;
}
