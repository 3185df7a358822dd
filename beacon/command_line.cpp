// Command line of nmea_beacon (see command_line.h).
#include "beacon/command_line.h"

#include <cstring>

#include "platform/multicast.h"

namespace kw_beacon {

namespace {

constexpr int kMaxUnits = 1000;    // node numbers 0 to 999 fit the packet's three digits
constexpr long long kMaxIntervalMs = 24LL * 3600 * 1000;

// "--name=value" or "--name value": the value, advancing *index past what it
// used; null when the option has no value.
const char* optionValue(int argc, char** argv, int* index, const char* inlineValue) {
  if (inlineValue != nullptr) return inlineValue;
  if (*index + 1 >= argc || argv[*index + 1] == nullptr) return nullptr;
  ++*index;
  return argv[*index];
}

}  // namespace

bool parseNumber(const char* text, long long low, long long high, long long* value) {
  if (text == nullptr || *text == '\0') return false;
  long long result = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    result = result * 10 + (*c - '0');
    if (result > high) return false;
  }
  if (result < low) return false;
  *value = result;
  return true;
}

bool parsePort(const char* text, int* port) {
  long long value = 0;
  if (!parseNumber(text, 1, 65535, &value)) return false;
  *port = static_cast<int>(value);
  return true;
}

Parsed parseCommandLine(int argc, char** argv, CommandLine* out, std::string* message) {
  *out = CommandLine{};
  const char* positional[2] = {nullptr, nullptr};
  int positionalCount = 0;
  bool optionsEnded = false;
  bool cycleOption = false;  // --nodes, --first or --interval, which a replay has no use for
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) break;
    if (optionsEnded || std::strncmp(arg, "--", 2) != 0 || arg[2] == '\0') {
      if (!optionsEnded && std::strcmp(arg, "--") == 0) {
        optionsEnded = true;
        continue;
      }
      if (std::strcmp(arg, "-h") == 0 && !optionsEnded) return Parsed::Help;
      if (positionalCount < 2) positional[positionalCount] = arg;
      ++positionalCount;
      continue;
    }
    // "--name" or "--name=value"
    std::string name(arg + 2);
    const char* inlineValue = nullptr;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      inlineValue = arg + 2 + equals + 1;
      name.resize(equals);
    }
    if (name == "help" && inlineValue == nullptr) return Parsed::Help;
    if (name == "version" && inlineValue == nullptr) return Parsed::Version;
    const bool known = name == "nodes" || name == "first" || name == "interval" || name == "ttl" ||
                       name == "interface" || name == "replay";
    if (!known) {
      *message = std::string("unknown option ") + arg;
      return Parsed::Error;
    }
    const char* value = optionValue(argc, argv, &i, inlineValue);
    if (value == nullptr) {
      *message = "--" + name + " needs a value";
      return Parsed::Error;
    }
    long long number = 0;
    auto bad = [&](const char* range) {
      *message = "--" + name + " " + value + ": not a number from " + range;
      return Parsed::Error;
    };
    if (name == "nodes") {
      if (!parseNumber(value, 1, kMaxUnits, &number)) return bad("1 to 1000");
      out->nodes = static_cast<int>(number);
      out->spread = cycleOption = true;
    } else if (name == "first") {
      if (!parseNumber(value, 0, kMaxUnits - 1, &number)) return bad("0 to 999");
      out->first = static_cast<int>(number);
      out->spread = cycleOption = true;
    } else if (name == "interval") {
      if (!parseNumber(value, 1, kMaxIntervalMs, &number)) return bad("1 to 86400000");
      out->intervalMs = static_cast<unsigned>(number);
      cycleOption = true;
    } else if (name == "ttl") {
      if (!parseNumber(value, 0, 255, &number)) return bad("0 to 255");
      out->ttl = static_cast<int>(number);
    } else if (name == "interface") {
      if (*value == '\0') {
        *message = "--interface needs a name or an IPv4 address";
        return Parsed::Error;
      }
      out->interfaceName = value;
    } else {  // replay
      if (*value == '\0') {
        *message = "--replay needs a file name";
        return Parsed::Error;
      }
      out->replayFile = value;
    }
  }
  if (out->first + out->nodes - 1 > kMaxUnits - 1) {
    *message = "--first " + std::to_string(out->first) + " with " + std::to_string(out->nodes) +
               " units goes beyond node 999";
    return Parsed::Error;
  }
  if (out->replayFile != nullptr && cycleOption) {
    *message = "--replay sends the recording as it is: --nodes, --first and --interval do not apply";
    return Parsed::Error;
  }
  if (positionalCount != 2) return Parsed::Usage;
  out->group = positional[0];
  if (!kw::isIpv4Address(out->group)) {
    *message = std::string("group ") + out->group + ": not an IPv4 address";
    return Parsed::Error;
  }
  if (!parsePort(positional[1], &out->port)) {
    *message = std::string("port ") + positional[1] + ": not a number from 1 to 65535";
    return Parsed::Error;
  }
  return Parsed::Run;
}

const char* invocationName(int argc, char** argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return "nmea_beacon";
  return argv[0];
}

void writeUsage(std::FILE* stream, const char* programName) {
  std::fprintf(stream, "usage: %s <IPaddress> <portNum>\n", programName);
}

void writeHelp(std::FILE* stream, const char* programName) {
  std::fprintf(stream,
               "usage: %s [options] <group> <port>\n"
               "Multicasts one position-feed packet every 250 ms to <group> (an IPv4 address)\n"
               "and <port> (1 to 65535), for units 1, 2, 3, 4, 0 in turn, each packet on a\n"
               "circle around 35 35.427 N, 115 26.34 W, and prints every packet it sends.\n"
               "Ctrl-C or SIGTERM stops it after the packet in hand.\n"
               "\n"
               "  --nodes N        units 1..N-1 then 0 in turn (default 5; 1 to 1000)\n"
               "  --first K        number the units from K: K+1..K+N-1 then K (default 0);\n"
               "                   with --nodes or --first the units sit apart on the circle\n"
               "  --interval MS    milliseconds between packets (default 250)\n"
               "  --ttl N          multicast hop limit (default 10; 0 to 255)\n"
               "  --interface X    send through interface X: a name (eth1) or a local IPv4\n"
               "                   address\n"
               "  --replay FILE    send a recording made by feed_record again, at its pace,\n"
               "                   instead of simulated units\n"
               "  --version        print the version and exit\n"
               "  --help           print this text and exit\n"
               "\n"
               "A wrong number of arguments prints the usage line and exits with status 0;\n"
               "a bad group, port, option or recording prints one line and exits with 1.\n",
               programName);
}

}  // namespace kw_beacon
