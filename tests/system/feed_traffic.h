// Traffic for the whole-feed tests: numbered feed packets whose packet time
// and latitude both follow from their number, so that whatever a node shows
// after a tick can be traced back to the one packet it came from, and a
// sender socket for the isolated network namespace.
//
// Packet times are local civil time on 15 January 2026 (no daylight saving
// in force), counted in hundredths of a second from 12:00:00.00. A packet's
// latitude encodes its sequence number in the minutes: 45 degrees plus
// (seq / 10000 mod 60) minutes and (seq mod 10000) ten-thousandths of a minute.
//
// FeedSender owns one socket (closed by its destructor). Thread safety: the
// free functions may be called from any thread; one FeedSender is used by
// one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "tests/feed/packet_util.h"

namespace kw_test {

// "hhmmss.cc" for `centis` hundredths of a second after 12:00:00.00.
inline std::string clockText(int centis) {
  const int seconds = 12 * 3600 + centis / 100;
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%02d.%02d", (seconds / 3600) % 24, (seconds / 60) % 60,
                seconds % 60, centis % 100);
  return text;
}

// The latitude field ddmm.mmmm that carries `seq`.
inline std::string latitudeText(int seq) {
  char text[32];
  std::snprintf(text, sizeof text, "45%02d.%04d", (seq / 10000) % 60, seq % 10000);
  return text;
}

// The latitude in degrees that the parser yields for latitudeText(seq).
inline double latitudeOf(int seq) {
  return 45.0 + ((seq / 10000) % 60 + (seq % 10000) / 10000.0) / 60.0;
}

// Milliseconds since 1970 of 12:00:00.00 local time on 15 January 2026.
inline int64_t baseEpochMs() {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 15;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&local)) * 1000;
}

// The hundredths after 12:00:00.00 of a packet time given as seconds and
// milliseconds since 1970 (rounded: the parser may cut a millisecond).
inline int centisOf(int64_t seconds, int millis) {
  const int64_t ms = seconds * 1000 + millis - baseEpochMs();
  return static_cast<int>((ms + (ms >= 0 ? 5 : -5)) / 10);
}

// A valid feed packet of `node` with the number `seq` in its first port-name
// field, the packet time `centis` and the latitude that carries `seq`.
inline std::string numberedPacket(int node, int seq, int centis) {
  const std::string zda = zdaBody(clockText(centis), 15, 1, 2026);
  const std::string gll = gllBody(latitudeText(seq), "11526.3400", clockText(centis));
  char text[512];
  std::snprintf(text, sizeof text, "%03d,seq%d,com2,$%s*%2x,$%s*%2x", node, seq, zda.c_str(),
                xorChecksum(zda), gll.c_str(), xorChecksum(gll));
  return text;
}

// A UDP socket that sends to one multicast group and port.
class FeedSender {
 public:
  FeedSender(const char* group, int port)
      : socket_(kw::openMulticastSender(0, 1)), group_(group), port_(port) {}
  FeedSender(const FeedSender&) = delete;
  FeedSender& operator=(const FeedSender&) = delete;

  bool ok() const { return socket_.fd() != kw::kNoSocket; }
  bool send(const std::string& bytes) const {
    return kw::sendDatagram(socket_, group_, port_, bytes.data(), bytes.size());
  }

 private:
  kw::Socket socket_;
  const char* group_;
  int port_;
};

}  // namespace kw_test
