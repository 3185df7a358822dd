#include "feed/kw_qnv_nodeHandler.h"

#include <cstring>

#include "feed/KW_OLog.h"
#include "feed/text_copy.h"
#include "platform/local_time.h"

kw_qnv_nodeHandler::kw_qnv_nodeHandler(const char* name, int nodeId)
    : name_(kw::copyText(name)), nodeId_(nodeId) {
  olog->printf("kw_qnv_nodeHandler::kw_qnv_nodeHandler() %p\n", static_cast<void*>(this));
}

kw_qnv_nodeHandler::~kw_qnv_nodeHandler() {
  olog->printf("kw_qnv_nodeHandler::~kw_qnv_nodeHandler() %p--\n", static_cast<void*>(this));
  delete[] name_;
}

bool kw_qnv_nodeHandler::set(double latitude, double longitude, const tm& utcTm,
                             const kw::_timeb& utc1970, const char* utcString) {
  olog->printf("kw_qnv_nodeHandler::set() %p\n", static_cast<void*>(this));
  // Packets are ordered by their own time: an older one is ignored, an equal
  // one accepted. But a node that has heard nothing for longer than its bad
  // threshold, by this machine's clock, takes the next packet whatever its
  // time: one packet dated in the future (or a unit whose clock fell back an
  // hour with daylight saving) must not hide a unit that keeps sending.
  const bool older = utc1970.time < lastUtc_.time ||
                     (utc1970.time == lastUtc_.time && utc1970.millitm < lastUtc_.millitm);
  if (older && !(heard_ && silentMs() > badMs_)) return false;
  lastUtc_ = utc1970;
  markPacket();
  latitude_ = latitude;
  longitude_ = longitude;
  utc1970_ = utc1970;
  utcTm_ = utcTm;
  const char* text = utcString ? utcString : "";
  std::strncpy(utcString_, text, kUtcStringSize - 1);
  utcString_[kUtcStringSize - 1] = '\0';
  olog->printf("kw_qnv_nodeHandler::set\nutcString_ %s\nutcString %s\n", utcString_, text);
  updated_ = 1;
  heard_ = true;
  return true;
}

void kw_qnv_nodeHandler::markPacket() {
  olog->printf("kw_qnv_nodeHandler::markPacket() %p\n", static_cast<void*>(this));
  // _ftime's record from the platform's per-thread cache: the same fields,
  // without reading the zone (a stat of /etc/localtime) for every packet.
  kw::clockRecord(&lastMark_);
}

namespace {
// The clock's seconds (cut to 32 bits, as _ftime does) and milliseconds: all
// that health and idle time read of a clock reading. Skipping _ftime's zone
// fields keeps the two outputs, asked for every node at every tick, cheap.
kw::_timeb clockNow() {
  const kw::ClockReading reading = kw::now();
  return kw::_timeb{static_cast<int32_t>(reading.seconds), static_cast<uint16_t>(reading.millis), 0,
                    0};
}
}  // namespace

int64_t kw_qnv_nodeHandler::silentMs() const {
  const kw::_timeb now = clockNow();
  // Seconds wrap like the 32-bit clock fields they come from.
  const int32_t s =
      static_cast<int32_t>(static_cast<uint32_t>(now.time) - static_cast<uint32_t>(lastMark_.time));
  return int64_t{s} * 1000 + now.millitm - lastMark_.millitm;
}

int kw_qnv_nodeHandler::updateHealth() {
  olog->printf("kw_qnv_nodeHandler::updateHealth() %p\n", static_cast<void*>(this));
  const kw::_timeb now = clockNow();
  // 32-bit arithmetic throughout; wrapping (not overflowing) like the
  // integers it stands for.
  const int32_t s =
      static_cast<int32_t>(static_cast<uint32_t>(now.time) - static_cast<uint32_t>(lastMark_.time));
  int grade;
  if (s > badMs_ / 999) {
    grade = 2;
  } else {
    const int32_t e =
        static_cast<int32_t>(static_cast<uint32_t>(s) * 1000u + static_cast<uint32_t>(now.millitm) -
                             static_cast<uint32_t>(lastMark_.millitm));
    grade = e >= badMs_ ? 2 : e >= mediumMs_ ? 1 : 0;
  }
  health_ = grade;
  return grade;
}

double kw_qnv_nodeHandler::getIdleTime() {
  olog->printf("kw_qnv_nodeHandler::getIdleTime() %p\n", static_cast<void*>(this));
  const kw::_timeb now = clockNow();
  return static_cast<double>(static_cast<int>(now.millitm) - static_cast<int>(lastMark_.millitm)) *
             0.001 +
         (static_cast<double>(now.time) - static_cast<double>(lastMark_.time));
}
