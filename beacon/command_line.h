// Command line of nmea_beacon: `nmea_beacon <IPaddress> <portNum>`.
//
// Exactly two arguments: the multicast group address in dotted form (passed
// on as written, not validated) and the port number, converted like the C
// runtime's atoi (leading blanks and a sign allowed, digits up to the first
// other character, text that is no number gives 0) of which the low 16 bits
// are used: 65537 gives 1, -1 gives 65535.
//
// Owns: nothing; the texts point into argv.
// Thread safety: pure functions, any thread.
#pragma once

#include <cstdio>

namespace kw_beacon {

struct CommandLine {
  const char* group;  // points into argv
  int port;           // 0 to 65535
};

// The port number of `text`: its atoi value cut to the low 16 bits. Values
// beyond the range of a 64-bit integer saturate instead of being undefined.
int portNumber(const char* text);

// True and *out filled when exactly two arguments follow the program name.
bool parseCommandLine(int argc, char** argv, CommandLine* out);

// The name the program was invoked by (argv[0]); "nmea_beacon" when the
// system passed none.
const char* invocationName(int argc, char** argv);

// Writes "usage: %s <IPaddress> <portNum>\n" with `programName` to `stream`.
void writeUsage(std::FILE* stream, const char* programName);

}  // namespace kw_beacon
