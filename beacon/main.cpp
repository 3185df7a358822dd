// nmea_beacon: a simulated source of the position feed. Every 250 ms it
// builds one feed packet for the next node number (1, 2, 3, 4, 0, ...),
// stamped with the local time and carrying a position that moves on a
// circle, prints it on standard output and multicasts it to the group and
// port named on the command line.
//
//   nmea_beacon <IPaddress> <portNum>
//
// One thread. SIGINT or SIGTERM ends the loop once the packet in hand has
// been printed and sent; the socket is then closed and the status is 0.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "calendar.h"
#include "clock.h"
#include "command_line.h"
#include "multicast.h"
#include "packet_builder.h"
#include "stop_signal.h"

namespace {

// The current moment: local broken-down time, milliseconds and the local
// standard-time offset in minutes west of UTC.
kw_beacon::ClockReading readClock() {
  const kw::ClockReading reading = kw::now();
  kw_beacon::ClockReading clock{};
  kw::localCalendarOf(static_cast<std::time_t>(reading.seconds), &clock.local);
  clock.millis = reading.millis;
  clock.zoneMinutesWest = kw::standardZoneMinutesWest();
  return clock;
}

}  // namespace

int main(int argc, char** argv) {
  kw_beacon::CommandLine line{};
  if (!kw_beacon::parseCommandLine(argc, argv, &line)) {
    kw_beacon::writeUsage(stderr, kw_beacon::invocationName(argc, argv));
    return 0;
  }

  // A reader on a pipe sees each packet as soon as it is sent.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // SIGINT and SIGTERM only raise the flag, so the packet being built is
  // still printed and sent before the loop ends.
  kw::StopSignal::install(kw::StopSignal::Repeat::Keep);

  std::printf("Sending to mcast adrs: %s and port number : %d \n", line.group, line.port);
  std::fflush(stdout);

  // Failures of the socket set-up are not fatal: every send then fails and is
  // ignored, and the beacon still prints its packets.
  const kw::Socket socket = kw::openMulticastSender(line.port, kw_beacon::kMulticastScope);

  int node = 0;
  kw_beacon::BeaconPacket packet{};
  while (!kw::StopSignal::requested()) {
    node = kw_beacon::nextNode(node);
    kw_beacon::buildPacket(readClock(), node, &packet);
    kw::Sleep(kw_beacon::kPauseMs);
    std::printf("%s\n", packet.text);
    std::fflush(stdout);
    kw::sendDatagram(socket, line.group, line.port, packet.text, std::strlen(packet.text));
  }

  return 0;  // the socket closes as it goes
}
