// Command line of nmea_beacon:
//
//   nmea_beacon [options] <group> <port>
//
// <group> is an IPv4 address in dotted decimal form and <port> a number from
// 1 to 65535. Options (each also as --name=value):
//   --nodes N          units 1..N-1 then 0 in turn (default 5; 1 to 1000)
//   --first K          number the units from K instead of 0 (K+N-1 at most 999)
//   --interval MS      pause between packets in milliseconds (default 250;
//                      with --nodes N, 1000/N and at most 250, so that each
//                      unit reports about once a second)
//   --ttl N            multicast hop limit (default 10; 0 to 255)
//   --interface X      send through interface X: a name or a local IPv4 address
//   --replay FILE      send a feed_record recording again at its pace
//   -V, --version, -h, --help
// Without options the program behaves as it always has. A wrong count of
// positional arguments gives the usage line on standard error and status 0;
// any other mistake one line naming it and status 1.
//
// Owns: nothing; the texts point into argv.
// Thread safety: pure functions, any thread.
#pragma once

#include <cstdio>
#include <string>

namespace kw_beacon {

// The pause between packets without --interval, and each unit's report
// period the beacon aims at when --nodes is given without it.
constexpr unsigned kDefaultIntervalMs = 250;
constexpr unsigned kUnitPeriodMs = 1000;

struct CommandLine {
  const char* group = nullptr;               // points into argv
  int port = 0;                              // 1 to 65535
  int nodes = 5;                             // units in the cycle
  int first = 0;                             // number of the first unit
  unsigned intervalMs = kDefaultIntervalMs;  // pause after building each packet
  int ttl = 10;                              // multicast hop limit
  const char* interfaceName = nullptr;       // null: the system's choice
  const char* replayFile = nullptr;          // null: simulate units
  // True when --nodes or --first was given: the units then sit apart on the
  // circle (see unitPhase); without them every packet carries the one track.
  bool spread = false;
};

enum class Parsed {
  Run,      // *out is complete
  Usage,    // wrong count of positional arguments: usage line, status 0
  Help,     // --help: the help text on standard output, status 0
  Version,  // --version, status 0
  Error,    // *message says what is wrong, status 1
};

// Reads the whole command line into *out. On Error, *message is one line
// without its line end ("port 0: not a number from 1 to 65535").
Parsed parseCommandLine(int argc, char** argv, CommandLine* out, std::string* message);

// The port number `text` gives: decimal digits only, 1 to 65535.
bool parsePort(const char* text, int* port);

// Reads a whole decimal number from `low` to `high`; false for anything else.
bool parseNumber(const char* text, long long low, long long high, long long* value);

// The name the program was invoked by (argv[0]); "nmea_beacon" when the
// system passed none.
const char* invocationName(int argc, char** argv);

// Writes "usage: %s <IPaddress> <portNum>\n" with `programName` to `stream`.
void writeUsage(std::FILE* stream, const char* programName);

// Writes the option summary (what --help shows) to `stream`.
void writeHelp(std::FILE* stream, const char* programName);

}  // namespace kw_beacon
