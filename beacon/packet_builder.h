// Feed packet building for nmea_beacon: turns one clock reading and one node
// number into the packet text the beacon prints and multicasts.
//
// A packet carries the node number, two port-name fields, a ZDA sentence
// (local time, date and standard-time zone offset) and a GLL sentence (a
// position on a circle whose angle grows with the time since local midnight),
// each sentence followed by its XOR checksum written "%2x" (space-padded,
// lower-case). For example, node 1 at 12:34:56.78 on 7 December 2026, 480
// minutes west of UTC:
//   001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,...,W,123456.78,A,A*..
//
// Everything here but readClock is a pure function of its arguments: no
// clock, no socket, no global state. readClock takes the one reading of
// the platform's clock a packet needs; the caller sends the result.
//
// Owns: nothing beyond the fixed text buffers inside BeaconPacket.
// Thread safety: every function may be called from any thread; a
// BeaconPacket belongs to whoever holds it.
// Invariants: every text of a BeaconPacket is NUL-terminated and shorter than
// kTextSize, whatever the input (formatting is bounded and cut when needed).
#pragma once

#include <cstddef>
#include <ctime>

namespace kw_beacon {

// Track of the simulated position, in the NMEA ddmm.mmmm form.
constexpr double kCentreLatitude = 3535.427;   // 35 deg 35.427 min north
constexpr double kCentreLongitude = 11526.34;  // 115 deg 26.34 min west
constexpr double kRadius = 20.0;               // minutes of arc in each coordinate
// Radians per millisecond since local midnight. Held in single precision on
// purpose (its value is 0.00019999999494757503); the product is taken in double.
constexpr float kAngularRate = 0.0002f;

constexpr unsigned kPauseMs = 250;   // pause after building each packet
constexpr int kNodeCount = 5;        // node numbers 0 to 4
constexpr int kMulticastScope = 10;  // multicast hop limit of the sending socket
constexpr size_t kTextSize = 256;    // every text buffer, terminator included

// One reading of the clock, as the packet needs it.
struct ClockReading {
  std::tm local;        // local broken-down time (hour, minute, second, day, month, year)
  int millis;           // milliseconds, 0 to 999
  int zoneMinutesWest;  // standard-time offset in minutes west of UTC (no daylight saving)
};

// The current moment from the platform's clock: local broken-down time,
// milliseconds and the local standard-time offset in minutes west of UTC.
ClockReading readClock();

// The five texts of one packet and the position it carries.
struct BeaconPacket {
  char timeText[kTextSize];  // "hhmmss.cc"
  char zdaBody[kTextSize];   // time text, day, month, year, zone hours, zone minutes
  char first[kTextSize];     // "GPZDA,<zdaBody>"
  char second[kTextSize];    // "GPGLL,<lat>,N,<long>,W,<timeText>,A,A"
  char text[kTextSize];      // the whole packet
  unsigned firstChecksum;    // 0 to 255
  unsigned secondChecksum;   // 0 to 255
  double latitude;           // ddmm.mmmm value before formatting
  double longitude;          // dddmm.mmmm value before formatting
};

// The node number that follows `counter`: 1, 2, 3, 4, 0, 1, ...
// REQUIRES: counter >= 0.
int nextNode(int counter);

// The same cycle over `count` units: the index after `counter`, so 1, 2,
// ..., count - 1, 0, 1, ... (the unit's number is the first number plus it).
// REQUIRES: counter >= 0, count >= 1.
int nextNode(int counter, int count);

// Where unit `index` of `count` sits on the circle ahead of the common
// track, in radians: an equal share of a turn each (2 pi index / count), so
// that units sent together do not sit on top of each other.
double unitPhase(int index, int count);

// Splits a zone offset in minutes west of UTC into the ZDA zone fields:
// hours truncated toward zero, minutes the negated remainder (which has the
// sign of the offset). 480 gives 8 and 0; -330 gives -5 and 30; 210 gives 3 and -30.
void zoneFields(int minutesWest, int* hours, int* minutes);

// Milliseconds since local midnight times the angular rate, in radians.
double trackAngle(const std::tm& local, int millis);

// XOR of all bytes of a sentence body (the text between "$" and "*").
unsigned sentenceChecksum(const char* body);

// Formats the packet "%03d,com1,com2,$%s*%2x,$%s*%2x" into `out` (bounded by
// `size`, cut if needed). Returns false when the text had to be cut.
bool formatPacket(char* out, size_t size, int node, const char* first, unsigned firstChecksum,
                  const char* second, unsigned secondChecksum);

// Builds every text of the packet for `node` at the moment `clock`, its
// position `phase` radians further round the circle than the track angle.
void buildPacket(const ClockReading& clock, int node, BeaconPacket* packet, double phase = 0.0);

}  // namespace kw_beacon
