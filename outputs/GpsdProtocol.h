// The gpsd JSON protocol objects the position server speaks (protocol 3.14,
// as gpsd 3.22 and its clients gpspipe, cgps and libgps understand it): the
// VERSION banner, TPV reports with one device per unit ("node:7",
// "node:north/7": unitDevice), the
// DEVICES list, the WATCH echo, the POLL answer and ERROR replies; and the
// splitting of a client's input into commands.
//
// Each append function adds one complete line, line feed included. Only the
// attributes libgps knows are written: libgps refuses objects with others.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/NodeUpdate.h"

namespace kw_out::gpsd {

void appendVersion(std::string* out);
void appendTpv(std::string* out, const NodeUpdate& update);

struct Device {
  std::string path;
  int64_t activatedSec = 0;  // first fix seen (UTC)
  int activatedMs = 0;
};
void appendDevices(std::string* out, const std::vector<Device>& devices);
void appendWatch(std::string* out, bool enable, bool json);
// `tpvs` holds TPV objects without their line feeds.
void appendPoll(std::string* out, int64_t utcSec, int utcMs, const std::vector<std::string>& tpvs);
void appendError(std::string* out, std::string_view message);

struct Command {
  enum class Kind { Version, Watch, Devices, Poll, Device, Unknown };
  Kind kind = Kind::Unknown;
  std::string text;         // the command as sent, for error replies
  bool watchEnable = true;  // WATCH: the requested state
  bool watchJson = true;
  bool valid = true;  // false when the WATCH argument is not a JSON object
};

// Takes the next command out of `buffer` (commands end in ';' or a line
// feed; blanks between them are skipped). False when no complete command
// is there yet.
bool takeCommand(std::string* buffer, Command* command);

}  // namespace kw_out::gpsd
