// The line format of a feed recording, written by feed_record and read back
// by `nmea_beacon --replay`. One datagram per line:
//
//   <milliseconds>TAB<datagram>LF
//
// <milliseconds> is the arrival time in decimal, counted from the start of
// the recording (a steady clock, so never backwards), at most
// kMaxRecordedTime. <datagram> is the
// datagram's bytes: printable ASCII (0x20 to 0x7E) as it is, except the
// backslash, written "\\"; every other byte (control bytes, tab, line feed,
// bytes from 0x80 up) as "\xHH", two hexadecimal digits. A line whose first
// character is "#" is a comment (the recorder writes one naming the group
// and port); an empty line is skipped. For example:
//
//   # feed_record 239.255.42.1 47001
//   0	001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,...
//   251	002,com1,com2,...
//   260	a datagram with a line end\x0a
//
// Owns nothing. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kw_beacon {

// The largest datagram a recording may hold: the most one IPv4 UDP
// datagram can carry.
constexpr size_t kMaxRecordedDatagram = 65507;
// The longest line that can hold such a datagram, escaped, with its time.
constexpr size_t kMaxRecordLine = 4 * kMaxRecordedDatagram + 32;
// The latest time a recording may give, in milliseconds from its start:
// 10^12 ms, about 31.7 years, far beyond any recording, and far within
// what a clock's time point can be added (as nanoseconds, 10^18 of the
// 9.2 * 10^18 a steady clock holds), so a replay never waits a wrapped time.
constexpr uint64_t kMaxRecordedTime = 1'000'000'000'000;

// The escaped form of `datagram` (see above).
std::string escapeDatagram(std::string_view datagram);

// One line for `datagram` arriving `milliseconds` after the start, line end included.
std::string formatRecord(uint64_t milliseconds, std::string_view datagram);

enum class LineKind { Record, Skip, Bad };

// Reads one line (without its line end). Record: *milliseconds and
// *datagram (unescaped) are set. Skip: a comment or empty line. Bad:
// *problem says what is wrong ("no tab after the time").
LineKind parseRecordLine(std::string_view line, uint64_t* milliseconds, std::string* datagram,
                         std::string* problem);

}  // namespace kw_beacon
