// kw_qnv_nodeHandler: what is known of one field unit (node): its last
// accepted position, the packet time of that position, the local clock time
// at which it was accepted, and a health grade from how long ago that was.
//
// Owned by kw_qnv_handlerList, which builds one per node-file line and hands
// it the health thresholds. Fed by kw_qnv_portHandler::service through set();
// read by the sniffer block's access.
//
// Thread safety: host's thread only; no lock.
// Invariant: lastUtc_ and utc1970_ always hold the same value; utcString_ is
// always terminated.
#pragma once

#include <cstdint>
#include <ctime>

#include "platform/clock.h"

class kw_qnv_nodeHandler {
 public:
  static constexpr int kUtcStringSize = 128;

  kw_qnv_nodeHandler(const char* name, int nodeId);
  virtual ~kw_qnv_nodeHandler();
  kw_qnv_nodeHandler(const kw_qnv_nodeHandler&) = delete;
  kw_qnv_nodeHandler& operator=(const kw_qnv_nodeHandler&) = delete;

  // Takes one parsed packet unless its packet time is older than the last
  // accepted one (an equal time is accepted and refreshes the mark) while
  // the node was last heard no longer than badMs_ ago by the local clock.
  // True when the packet was taken.
  bool set(double latitude, double longitude, const tm& utcTm, const kw::_timeb& utc1970,
           const char* utcString);
  // lastMark_ = the current local clock reading.
  void markPacket();
  // 0 good, 1 medium, 2 bad, from the time since the last accepted packet.
  int updateHealth();
  // Seconds since the last accepted packet.
  double getIdleTime();
  // Milliseconds since the last accepted packet by the local clock.
  int64_t silentMs() const;

  char* name_;
  int32_t nodeId_;
  uint8_t updated_ = 0;
  bool heard_ = false;     // set by the first accepted packet, never cleared
  int32_t lastPort_ = -1;  // port list index of the last accepted packet's port; -1 before any
  kw_qnv_nodeHandler* next_ = nullptr;
  kw_qnv_nodeHandler* prev_ = nullptr;
  double latitude_ = 0.0;
  double longitude_ = 0.0;
  int32_t health_ = 0;
  kw::_timeb lastUtc_ = {};
  kw::_timeb lastMark_ = {};
  int32_t mediumMs_ = 0;
  int32_t badMs_ = 0;
  kw::_timeb utc1970_ = {};
  tm utcTm_ = {};
  char utcString_[kUtcStringSize] = {};
};
