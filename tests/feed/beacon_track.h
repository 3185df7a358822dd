// Checks of what a node handler held after the feed received packets from
// the real nmea_beacon process: shared by the end-to-end and the concurrency
// tests of the feed.
//
// The beacon sends, for node numbers 1, 2, 3, 4, 0 in turn, the local time
// and a position on a circle of 20 minutes of arc around 35 deg 35.427 min
// north, 115 deg 26.34 min west, whose angle grows with the milliseconds
// since local midnight. A node that took such a packet must therefore hold:
//  - a position on that circle (within the rounding of the 4-decimal text),
//    at the angle its own time stamp gives;
//  - a time text "YYYY/MM/DD,hh:mm:ss.sss" that agrees with its utc1970_;
//  - exactly the values of one packet the beacon printed for that node
//    number (so nothing was torn, mixed up between slots or routed to the
//    wrong node).
//
// Everything here is a pure function of its arguments; any thread may call it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "beacon/packet_builder.h"
#include "feed/kw_qnv_nodeHandler.h"

namespace kw_test {

// What a node held at one moment: the values the block outputs.
struct HeldValues {
  int nodeId = 0;
  double latitude = 0.0;
  double longitude = 0.0;
  kw::_timeb utc1970{};
  kw::_timeb lastUtc{};
  std::string utcString;

  static HeldValues of(const kw_qnv_nodeHandler& node) {
    return {node.nodeId_,  node.latitude_, node.longitude_,
            node.utc1970_, node.lastUtc_,  node.utcString_};
  }
};

// Decimal degrees (sign dropped) back to the NMEA ddmm.mmmm form.
inline double toDdmm(double degrees) {
  const double magnitude = std::fabs(degrees);
  const double whole = std::floor(magnitude);
  return whole * 100.0 + (magnitude - whole) * 60.0;
}

// The local date "YYYY/MM/DD" at `seconds` since 1970 (TZ decides the zone).
inline std::string localDate(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

// The fields of a node's time text "YYYY/MM/DD,hh:mm:ss.sss".
struct NodeTimeText {
  int year, month, day, hour, minute, second, millis;
};

// True when `text` has exactly the form above.
inline bool splitTimeText(const char* text, NodeTimeText* out) {
  int used = -1;
  const int converted =
      std::sscanf(text, "%4d/%2d/%2d,%2d:%2d:%2d.%3d%n", &out->year, &out->month, &out->day,
                  &out->hour, &out->minute, &out->second, &out->millis, &used);
  return converted == 7 && used == 23 && text[23] == '\0';
}

// The start of the line the beacon printed for the packet this node holds:
// node number, port fields and the ZDA sentence up to its zone fields. Empty
// when the node's time text is malformed.
inline std::string beaconLinePrefix(const HeldValues& node) {
  NodeTimeText t{};
  if (!splitTimeText(node.utcString.c_str(), &t)) return {};
  char text[96];
  // The beacon sends hundredths; the parser shows them with a third digit.
  std::snprintf(text, sizeof text, "%03d,com1,com2,$GPZDA,%02d%02d%02d.%02d,%02d,%02d,%04d,",
                node.nodeId, t.hour, t.minute, t.second, t.millis / 10, t.day, t.month, t.year);
  return text;
}

// The node holds a position on the beacon's circle, at the angle of its own
// time stamp, and a time text that agrees with utc1970_.
inline ::testing::AssertionResult onBeaconTrack(const HeldValues& node) {
  NodeTimeText t{};
  if (!splitTimeText(node.utcString.c_str(), &t)) {
    return ::testing::AssertionFailure()
           << "node " << node.nodeId << " time text |" << node.utcString << "| is malformed";
  }
  if (t.millis % 10 != 0) {
    return ::testing::AssertionFailure() << "node " << node.nodeId << " time text "
                                         << node.utcString << " has more than hundredths";
  }
  // North and west: positive latitude, negative longitude.
  if (!(node.latitude > 0.0) || !(node.longitude < 0.0)) {
    return ::testing::AssertionFailure() << "node " << node.nodeId << " position " << node.latitude
                                         << ", " << node.longitude << " is not north-west";
  }
  const double dLat = toDdmm(node.latitude) - kw_beacon::kCentreLatitude;
  const double dLong = toDdmm(node.longitude) - kw_beacon::kCentreLongitude;
  const double radius = std::sqrt(dLat * dLat + dLong * dLong);
  // Each coordinate is rounded to 0.00005 minutes in the text.
  if (std::fabs(radius - kw_beacon::kRadius) > 1e-4) {
    return ::testing::AssertionFailure()
           << "node " << node.nodeId << " lies " << radius << " minutes from the centre";
  }
  // The angle of the time text; the beacon's own milliseconds lie up to 9
  // past the hundredths it writes, 20 x 0.0002 x 9 = 0.036 minutes at most.
  const double sinceMidnightMs = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millis;
  const double angle = sinceMidnightMs * static_cast<double>(kw_beacon::kAngularRate);
  const double wantLat = kw_beacon::kCentreLatitude + kw_beacon::kRadius * std::sin(angle);
  const double wantLong = kw_beacon::kCentreLongitude + kw_beacon::kRadius * std::cos(angle);
  if (std::fabs(toDdmm(node.latitude) - wantLat) > 0.05 ||
      std::fabs(toDdmm(node.longitude) - wantLong) > 0.05) {
    return ::testing::AssertionFailure()
           << "node " << node.nodeId << " at " << node.utcString << " holds "
           << toDdmm(node.latitude) << ", " << toDdmm(node.longitude) << " instead of about "
           << wantLat << ", " << wantLong;
  }
  // utc1970_ is the same moment, read as local time.
  const std::time_t seconds = node.utc1970.time;
  std::tm local{};
  localtime_r(&seconds, &local);
  if (local.tm_year + 1900 != t.year || local.tm_mon + 1 != t.month || local.tm_mday != t.day ||
      local.tm_hour != t.hour || local.tm_min != t.minute || local.tm_sec != t.second) {
    return ::testing::AssertionFailure() << "node " << node.nodeId << " utc1970_.time "
                                         << node.utc1970.time << " is not " << node.utcString;
  }
  // millitm is truncated from the seconds' fraction (56.78 may give 779).
  if (std::abs(static_cast<int>(node.utc1970.millitm) - t.millis) > 1) {
    return ::testing::AssertionFailure() << "node " << node.nodeId << " millitm "
                                         << node.utc1970.millitm << " for " << node.utcString;
  }
  if (node.lastUtc.time != node.utc1970.time || node.lastUtc.millitm != node.utc1970.millitm) {
    return ::testing::AssertionFailure()
           << "node " << node.nodeId << " lastUtc_ and utc1970_ differ";
  }
  return ::testing::AssertionSuccess();
}

// The node holds exactly the time and position of a packet that the beacon
// printed (in `beaconOut`, its standard output) for the node's own number.
inline ::testing::AssertionResult holdsBeaconPacket(const HeldValues& node,
                                                    const std::string& beaconOut) {
  const std::string prefix = beaconLinePrefix(node);
  if (prefix.empty()) {
    return ::testing::AssertionFailure()
           << "node " << node.nodeId << " time text |" << node.utcString << "| is malformed";
  }
  char latitude[32];
  char longitude[32];
  std::snprintf(latitude, sizeof latitude, "%.4f", toDdmm(node.latitude));
  std::snprintf(longitude, sizeof longitude, "%.4f", toDdmm(node.longitude));
  const std::string position = std::string("$GPGLL,") + latitude + ",N," + longitude + ",W,";
  std::vector<std::string> candidates;
  // Every packet line follows the beacon's start line, so it follows a line feed.
  for (size_t at = beaconOut.find("\n" + prefix); at != std::string::npos;
       at = beaconOut.find("\n" + prefix, at + 1)) {
    const size_t end = beaconOut.find('\n', at + 1);
    const std::string line =
        beaconOut.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    if (line.find(position) != std::string::npos) return ::testing::AssertionSuccess();
    candidates.push_back(line);
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "node " << node.nodeId << " holds " << node.utcString << " " << position
          << " but the beacon printed no such packet for it";
  for (const std::string& line : candidates) failure << "\n  same time: " << line;
  return failure;
}

// a is not older than b, by packet time.
inline bool notOlder(const kw::_timeb& a, const kw::_timeb& b) {
  return a.time > b.time || (a.time == b.time && a.millitm >= b.millitm);
}

}  // namespace kw_test
