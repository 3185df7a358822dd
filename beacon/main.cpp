// nmea_beacon: a simulated source of the position feed. Every 250 ms it
// builds one feed packet for the next node number (1, 2, 3, 4, 0, ...),
// stamped with the local time and carrying a position that moves on a
// circle, prints it on standard output and multicasts it to the group and
// port named on the command line. Options choose the number of units and
// their first number, the pace, the hop limit and the sending interface;
// --replay sends a recording made by feed_record instead (command_line.h).
//
//   nmea_beacon [options] <group> <port>
//
// One thread. SIGINT or SIGTERM ends the loop once the packet in hand has
// been printed and sent; the socket is then closed and the status is 0.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "beacon/command_line.h"
#include "beacon/packet_builder.h"
#include "beacon/record_format.h"
#include "beacon/record_reader.h"
#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/multicast.h"
#include "platform/stop_signal.h"
#include "platform/terminal_text.h"

#ifndef KW_VERSION
#define KW_VERSION "unknown"
#endif

namespace {

using SteadyClock = std::chrono::steady_clock;

// Reads the whole recording once, so that a bad line is found before
// anything is sent. The problem as one line, or "" when every line is good.
std::string checkRecording(const char* path) {
  kw_beacon::RecordReader reader;
  if (!reader.open(path)) return kw::terminalText(path) + ": " + reader.problem();
  uint64_t milliseconds = 0;
  std::string datagram;
  for (;;) {
    switch (reader.next(&milliseconds, &datagram)) {
      case kw_beacon::RecordReader::Result::Record: continue;
      case kw_beacon::RecordReader::Result::End: return "";
      case kw_beacon::RecordReader::Result::Bad:
        return kw::terminalText(path) + " line " + std::to_string(reader.lineNumber()) + ": " +
               reader.problem();
    }
  }
}

// Simulated units: the designed loop, over the units the options give.
void sendUnits(const kw_beacon::CommandLine& line, const kw::Socket& socket) {
  int index = 0;
  kw_beacon::BeaconPacket packet{};
  while (!kw::StopSignal::requested()) {
    index = kw_beacon::nextNode(index, line.nodes);
    const double phase = line.spread ? kw_beacon::unitPhase(index, line.nodes) : 0.0;
    kw_beacon::buildPacket(kw_beacon::readClock(), line.first + index, &packet, phase);
    // A signal cuts the pause short; the packet in hand is still sent.
    kw::StopSignal::sleepUntil(SteadyClock::now() + std::chrono::milliseconds(line.intervalMs));
    std::printf("%s\n", packet.text);
    std::fflush(stdout);
    kw::sendDatagram(socket, line.group, line.port, packet.text, std::strlen(packet.text));
  }
}

// A recording, at its pace: each datagram as long after the first as it
// arrived after the first. Returns the exit status.
int replay(const kw_beacon::CommandLine& line, const kw::Socket& socket, const char* programName) {
  kw_beacon::RecordReader reader;
  if (!reader.open(line.replayFile)) {
    std::fprintf(stderr, "%s: %s: %s\n", programName, kw::terminalText(line.replayFile).c_str(),
                 reader.problem().c_str());
    return 1;
  }
  const SteadyClock::time_point start = SteadyClock::now();
  bool started = false;
  uint64_t firstTime = 0;
  uint64_t milliseconds = 0;
  std::string datagram;
  while (!kw::StopSignal::requested()) {
    const kw_beacon::RecordReader::Result result = reader.next(&milliseconds, &datagram);
    if (result == kw_beacon::RecordReader::Result::End) break;
    if (result == kw_beacon::RecordReader::Result::Bad) {
      // The file changed since it was checked.
      std::fprintf(stderr, "%s: %s line %d: %s\n", programName,
                   kw::terminalText(line.replayFile).c_str(), reader.lineNumber(),
                   reader.problem().c_str());
      return 1;
    }
    if (!started) {
      firstTime = milliseconds;
      started = true;
    }
    kw::StopSignal::sleepUntil(start + std::chrono::milliseconds(milliseconds - firstTime));
    if (kw::StopSignal::requested()) break;
    std::printf("%s\n", kw_beacon::escapeDatagram(datagram).c_str());
    std::fflush(stdout);
    kw::sendDatagram(socket, line.group, line.port, datagram.data(), datagram.size());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Every text a message names (the program's own name too) comes from the
  // command line or a file: shown safe for a terminal.
  const std::string shownName = kw::terminalText(kw_beacon::invocationName(argc, argv));
  const char* programName = shownName.c_str();
  kw_beacon::CommandLine line;
  std::string message;
  switch (kw_beacon::parseCommandLine(argc, argv, &line, &message)) {
    case kw_beacon::Parsed::Usage: kw_beacon::writeUsage(stderr, programName); return 0;
    case kw_beacon::Parsed::Help: kw_beacon::writeHelp(stdout, programName); return 0;
    case kw_beacon::Parsed::Version: std::printf("nmea_beacon %s\n", KW_VERSION); return 0;
    case kw_beacon::Parsed::Error:
      std::fprintf(stderr, "%s: %s\n", programName, kw::terminalText(message).c_str());
      return 1;
    case kw_beacon::Parsed::Run: break;
  }
  if (line.replayFile != nullptr) {
    const std::string problem = checkRecording(line.replayFile);
    if (!problem.empty()) {
      std::fprintf(stderr, "%s: %s\n", programName, problem.c_str());
      return 1;
    }
  }

  // A reader on a pipe sees each packet as soon as it is sent.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // SIGINT and SIGTERM only raise the flag, so the packet being built is
  // still printed and sent before the loop ends.
  kw::StopSignal::install(kw::StopSignal::Repeat::Keep);

  kw::Failure failure;
  const kw::Socket socket =
      kw::openMulticastSender(line.port, line.ttl, &failure, line.interfaceName);
  if (failure && line.interfaceName != nullptr) {
    // The interface was asked for: sending anywhere else would mislead.
    std::fprintf(stderr, "%s: %s\n", programName, kw::terminalText(failure.text()).c_str());
    return 1;
  }

  std::printf("Sending to mcast adrs: %s and port number : %d \n", line.group, line.port);
  std::fflush(stdout);
  // Other set-up failures are not fatal: every send then fails and is
  // ignored, and the beacon still prints its packets.
  if (failure) {
    std::fprintf(stderr, "%s: %s\n", programName, kw::terminalText(failure.text()).c_str());
  }

  if (line.replayFile != nullptr) return replay(line, socket, programName);
  sendUnits(line, socket);
  return 0;  // the socket closes as it goes
}
