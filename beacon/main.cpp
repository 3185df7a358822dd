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
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "command_line.h"
#include "packet_builder.h"
#include "platform.h"

namespace {

// Set by the signal handler, read by the send loop.
volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int) { g_stopRequested = 1; }

// SIGINT and SIGTERM only raise the flag, so the packet being built is still
// printed and sent before the loop ends.
void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The current moment: local broken-down time, milliseconds and the local
// standard-time offset in minutes west of UTC.
kw_beacon::ClockReading readClock() {
  const kw::ClockReading reading = kw::now();
  const std::time_t seconds = static_cast<std::time_t>(reading.seconds);
  kw_beacon::ClockReading clock{};
  // One thread only, so the C runtime's shared localtime record is safe here.
  if (const std::tm* local = std::localtime(&seconds)) clock.local = *local;
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
  installStopHandlers();

  std::printf("Sending to mcast adrs: %s and port number : %d \n", line.group, line.port);
  std::fflush(stdout);

  // Failures of the socket set-up are not fatal: every send then fails and is
  // ignored, and the beacon still prints its packets.
  const int socket = kw::openMulticastSender(line.port, kw_beacon::kMulticastScope);

  int node = 0;
  kw_beacon::BeaconPacket packet{};
  while (g_stopRequested == 0) {
    node = kw_beacon::nextNode(node);
    kw_beacon::buildPacket(readClock(), node, &packet);
    kw::Sleep(kw_beacon::kPauseMs);
    std::printf("%s\n", packet.text);
    std::fflush(stdout);
    kw::sendDatagram(socket, line.group, line.port, packet.text, std::strlen(packet.text));
  }

  kw::closeSocket(socket);
  return 0;
}
