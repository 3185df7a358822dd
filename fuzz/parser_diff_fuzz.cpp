// Differential fuzzing of the packet parsers: every input runs through the
// fast parsers of kw_qnv_portHandler and through the straightforward
// reference (tests/feed/reference_parser), and the fuzzer stops at the first
// difference in results, fields (bit for bit), packet text or trace lines.
//
// Input: one control byte, then the packet text.
//   bits 0-2  TZ: Los Angeles, UTC, unset, London, Lord Howe, a zone with
//             its own rules, Kolkata, Los Angeles
//   bits 3-5  the receiving clock: an ordinary day, just before Los Angeles'
//             spring-forward and fall-back seconds, just before 2^31, 1970,
//             a second taken from the input, Lord Howe's change, an hour
//             after the fall-back
//   bit 6     the text holds several packets, one per line, parsed in turn
//             with the clock 250 ms later each (a stream, so that cached
//             conversions and mktime's history are exercised)
//   bit 7     round upward instead of to nearest
// Each packet is stored as the receiver stores it: cut to 249 characters in
// a 250-byte slot.
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/parser_diff.h"

namespace {

std::string scratchDirectory() {
  const char* bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
  for (const char* base : bases) {
    if (base == nullptr) continue;
    std::string pattern = std::string(base) + "/kw-parser-diff-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) return pattern;
  }
  std::abort();
}

const char* const kZones[] = {"America/Los_Angeles",
                              "UTC",
                              nullptr,
                              "Europe/London",
                              "Australia/Lord_Howe",
                              "EST5EDT,M3.2.0,M11.1.0",
                              "Asia/Kolkata",
                              "America/Los_Angeles"};

// 2026-05-20 12:00 UTC; Los Angeles 2026-03-08 10:00 and 2026-11-01 09:00
// UTC (less a second); 2038-01-19 03:14:07 UTC; 1970; Lord Howe 2026-04-04
// 15:00 UTC; an hour after the fall-back.
const int64_t kClocks[] = {1779278400, 1772963999, 1793523599, 2147483647,
                           0,          0,          1775314799, 1793527200};

void setZone(const char* zone) {
  const char* now = std::getenv("TZ");
  if (zone == nullptr) {
    if (now != nullptr) unsetenv("TZ");
  } else if (now == nullptr || std::string(now) != zone) {
    setenv("TZ", zone, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string directory = scratchDirectory();
  static kw_test::ParserDiff diff(directory);
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> packets;
  if (control & 0x40) {
    size_t start = 0;
    while (packets.size() < 16) {
      const size_t end = text.find('\n', start);
      packets.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
  } else {
    packets.push_back(text);
  }

  setZone(kZones[control & 7]);
  int64_t second = kClocks[(control >> 3) & 7];
  if (((control >> 3) & 7) == 5) {
    uint64_t hash = 1469598103934665603u;
    for (size_t i = 1; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211u;
    second = static_cast<int64_t>(hash % 4102444800u);  // 1970 to 2100
  }
  std::vector<kw::ClockReading> clock;
  for (size_t i = 0; i < packets.size(); ++i) {
    const int64_t millis = static_cast<int64_t>(i) * 250 + 500;
    clock.push_back({second + millis / 1000, static_cast<int>(millis % 1000)});
  }

  if (control & 0x80) std::fesetround(FE_UPWARD);
  const std::string difference = diff.run(packets, clock);
  std::fesetround(FE_TONEAREST);
  if (!difference.empty()) {
    std::fprintf(stderr, "parser difference (control 0x%02x): %s\n", control, difference.c_str());
    __builtin_trap();
  }
  return 0;
}
