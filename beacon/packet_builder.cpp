// Feed packet building for nmea_beacon (see packet_builder.h).
#include "beacon/packet_builder.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/calendar.h"
#include "platform/clock.h"

namespace kw_beacon {

ClockReading readClock() {
  const kw::ClockReading reading = kw::now();
  ClockReading clock{};
  kw::localCalendarOf(static_cast<std::time_t>(reading.seconds), &clock.local);
  clock.millis = reading.millis;
  clock.zoneMinutesWest = kw::standardZoneMinutesWest();
  return clock;
}

namespace {

// Bounded formatting into a fixed buffer; true when nothing had to be cut.
__attribute__((format(printf, 3, 4))) bool formatInto(char* out, size_t size, const char* format,
                                                      ...) {
  if (size == 0) return false;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(out, size, format, args);
  va_end(args);
  if (written < 0) {
    out[0] = '\0';
    return false;
  }
  return static_cast<size_t>(written) < size;
}

}  // namespace

int nextNode(int counter) { return nextNode(counter, kNodeCount); }

int nextNode(int counter, int count) { return count > 0 ? (counter + 1) % count : 0; }

double unitPhase(int index, int count) {
  if (count <= 0) return 0.0;
  constexpr double kTurn = 6.283185307179586;
  return kTurn * static_cast<double>(index) / static_cast<double>(count);
}

void zoneFields(int minutesWest, int* hours, int* minutes) {
  // C++ division truncates toward zero and the remainder takes the sign of
  // the dividend, which is exactly the split the ZDA zone fields use.
  *hours = minutesWest / 60;
  *minutes = -(minutesWest % 60);
}

double trackAngle(const std::tm& local, int millis) {
  const long long sinceMidnight =
      ((static_cast<long long>(local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
      millis;
  return static_cast<double>(sinceMidnight) * static_cast<double>(kAngularRate);
}

unsigned sentenceChecksum(const char* body) {
  unsigned char sum = 0;
  for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<unsigned char>(*c);
  return sum;
}

bool formatPacket(char* out, size_t size, int node, const char* first, unsigned firstChecksum,
                  const char* second, unsigned secondChecksum) {
  return formatInto(out, size, "%03d,com1,com2,$%s*%2x,$%s*%2x", node, first, firstChecksum & 0xFFu,
                    second, secondChecksum & 0xFFu);
}

void buildPacket(const ClockReading& clock, int node, BeaconPacket* packet, double phase) {
  const std::tm& t = clock.local;

  // Hundredths of a second, truncated: 5 ms gives 00, 999 ms gives 99.
  formatInto(packet->timeText, kTextSize, "%02d%02d%02d.%02u", t.tm_hour, t.tm_min, t.tm_sec,
             static_cast<unsigned>(clock.millis) / 10u);

  int zoneHours = 0;
  int zoneMinutes = 0;
  zoneFields(clock.zoneMinutesWest, &zoneHours, &zoneMinutes);
  // Month and year are summed in a wider type so that no record can overflow them.
  formatInto(packet->zdaBody, kTextSize, "%s,%02d,%02lld,%04lld,%02d,%02d", packet->timeText,
             t.tm_mday, static_cast<long long>(t.tm_mon) + 1,
             static_cast<long long>(t.tm_year) + 1900, zoneHours, zoneMinutes);

  const double angle = trackAngle(t, clock.millis) + phase;
  packet->latitude = kCentreLatitude + kRadius * std::sin(angle);
  packet->longitude = kCentreLongitude + kRadius * std::cos(angle);

  formatInto(packet->first, kTextSize, "GPZDA,%s", packet->zdaBody);
  packet->firstChecksum = sentenceChecksum(packet->first);

  formatInto(packet->second, kTextSize, "GPGLL,%.4lf,N,%.4lf,W,%s,A,A", packet->latitude,
             packet->longitude, packet->timeText);
  packet->secondChecksum = sentenceChecksum(packet->second);

  formatPacket(packet->text, kTextSize, node, packet->first, packet->firstChecksum, packet->second,
               packet->secondChecksum);
}

}  // namespace kw_beacon
