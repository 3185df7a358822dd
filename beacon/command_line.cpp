// Command line of nmea_beacon (see command_line.h).
#include "command_line.h"

#include <cstdlib>

namespace kw_beacon {

int portNumber(const char* text) {
  if (text == nullptr) return 0;
  // atoi reads like strtol in base 10; strtoll gives the same digits a
  // defined result where atoi's would overflow.
  const long long value = std::strtoll(text, nullptr, 10);
  return static_cast<int>(static_cast<unsigned long long>(value) & 0xFFFFu);
}

bool parseCommandLine(int argc, char** argv, CommandLine* out) {
  if (argc != 3 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr) return false;
  out->group = argv[1];
  out->port = portNumber(argv[2]);
  return true;
}

const char* invocationName(int argc, char** argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return "nmea_beacon";
  return argv[0];
}

void writeUsage(std::FILE* stream, const char* programName) {
  std::fprintf(stream, "usage: %s <IPaddress> <portNum>\n", programName);
}

}  // namespace kw_beacon
