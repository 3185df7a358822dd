// The gpsd JSON protocol objects the position server speaks (protocol 3.14,
// as gpsd 3.22 and its clients gpspipe, cgps and libgps understand it): the
// VERSION banner, TPV reports with one device per unit ("node:7",
// "node:north/7": unitDevice), the DEVICES list, the WATCH echo, the POLL answer and ERROR
// replies; NMEA 0183 sentences built from a fix, for clients that watch
// with "nmea" (gpspipe -r); and the splitting of a client's input into
// commands.
//
// Each append function adds one complete line (the NMEA one two lines),
// ending in CR LF as gpsd's do (python3-gps takes no other). Only the attributes libgps knows are
// written: libgps refuses objects with others, and a DEVICES list of more than kMaxListedDevices
// entries (its own limit, and gpsd's). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/NodeUpdate.h"

namespace kw_out::gpsd {

// libgps takes at most this many devices in a DEVICES list.
constexpr size_t kMaxListedDevices = 4;
// The device that stands for every unit at once, in DEVICES lists and as a
// WATCH's "device" ("follow every unit").
constexpr const char* kAllUnitsDevice = "all";

void appendVersion(std::string* out);
void appendTpv(std::string* out, const NodeUpdate& update);

struct Device {
  std::string path;
  int64_t activatedSec = 0;  // first fix seen (UTC)
  int activatedMs = 0;
  std::string subtype;  // "" for none; at most 63 bytes (libgps's field)
};
// At most kMaxListedDevices of `devices` are written.
void appendDevices(std::string* out, const std::vector<Device>& devices);

// What a client asked to watch.
struct Policy {
  bool enable = false;
  bool json = false;   // TPV reports
  bool nmea = false;   // NMEA 0183 sentences built from each fix
  int raw = 0;         // 1 or 2: the units' data as it comes, NMEA here too
  std::string device;  // one unit's device; "" for every unit
  bool wantsNmea() const { return nmea || raw > 0; }
  bool follows(std::string_view unit) const { return device.empty() || device == unit; }
};
void appendWatch(std::string* out, const Policy& policy);

// `tpvs` holds TPV objects without their line ends.
void appendPoll(std::string* out, int64_t utcSec, int utcMs, const std::vector<std::string>& tpvs);
void appendError(std::string* out, std::string_view message);

// A GGA and an RMC sentence of the fix (time, position, a 2D fix; what the
// feed does not carry, such as satellites, altitude, speed and course, left
// empty), each with its checksum and CR LF:
//   $GPGGA,123456.78,3535.4270,N,11546.3400,W,1,,,,M,,M,,*69
//   $GPRMC,123456.78,A,3535.4270,N,11546.3400,W,,,091226,,,A*4B
void appendNmea(std::string* out, const NodeUpdate& update);
// The XOR of the bytes of `sentence` (between '$' and '*').
unsigned nmeaChecksum(std::string_view sentence);

struct Command {
  enum class Kind { Version, Watch, Devices, Poll, Device, Unknown };
  Kind kind = Kind::Unknown;
  std::string text;  // the command as sent, for error replies
  // WATCH: what the argument sets; what it leaves out stays as it was,
  // except "enable", which is true when left out. Without an argument
  // ("?WATCH;") nothing is set: the client asks for its policy.
  bool watchQuery = false;
  bool watchEnable = true;
  std::optional<bool> watchJson;
  std::optional<bool> watchNmea;
  std::optional<int> watchRaw;
  std::optional<std::string> watchDevice;
  bool valid = true;  // false when the WATCH argument is not a JSON object
};

// Takes the next command out of `buffer` (commands end in ';' or a line
// feed; blanks between them are skipped). False when no complete command
// is there yet.
bool takeCommand(std::string* buffer, Command* command);

// `policy` after the WATCH `command`: the attributes it sets, and JSON
// reports when a watch that is on asks for no form at all, as gpsd does.
void applyWatch(const Command& command, Policy* policy);

}  // namespace kw_out::gpsd
