// Command line of nmea_beacon (see command_line.h).
#include "beacon/command_line.h"

#include <algorithm>
#include <vector>

#include "cli/option_parser.h"
#include "platform/multicast.h"

namespace kw_beacon {

namespace {

constexpr int kMaxUnits = 1000;  // node numbers 0 to 999 fit the packet's three digits
constexpr long long kMaxIntervalMs = 24LL * 3600 * 1000;

enum Code : int { kNodes, kFirst, kInterval, kTtl, kInterface, kReplay, kHelp, kVersion };

using kw_cli::Option;
using Value = Option::Value;

// Every option; only "-h" and "-V" have a short form, and any other word, "-x" too, is
// an operand.
const std::vector<Option> kOptions = {
    {"nodes", '\0', Value::Required, kNodes},
    {"first", '\0', Value::Required, kFirst},
    {"interval", '\0', Value::Required, kInterval},
    {"ttl", '\0', Value::Required, kTtl},
    {"interface", '\0', Value::Required, kInterface},
    {"replay", '\0', Value::Required, kReplay},
    {"help", 'h', Value::None, kHelp},
    {"version", 'V', Value::None, kVersion},
};

// Takes one option into *out; false with *message when its value is unfit.
bool takeOption(const kw_cli::Found& found, const char* value, CommandLine* out, bool* cycleOption,
                bool* intervalGiven, std::string* message) {
  long long number = 0;
  auto bad = [&](const char* range) {
    *message = found.spelled + " " + value + ": not a number from " + range;
    return false;
  };
  switch (found.code) {
    case kNodes:
      if (!parseNumber(value, 1, kMaxUnits, &number)) return bad("1 to 1000");
      out->nodes = static_cast<int>(number);
      out->spread = *cycleOption = true;
      return true;
    case kFirst:
      if (!parseNumber(value, 0, kMaxUnits - 1, &number)) return bad("0 to 999");
      out->first = static_cast<int>(number);
      out->spread = *cycleOption = true;
      return true;
    case kInterval:
      if (!parseNumber(value, 1, kMaxIntervalMs, &number)) return bad("1 to 86400000");
      out->intervalMs = static_cast<unsigned>(number);
      *cycleOption = *intervalGiven = true;
      return true;
    case kTtl:
      if (!parseNumber(value, 0, 255, &number)) return bad("0 to 255");
      out->ttl = static_cast<int>(number);
      return true;
    case kInterface:
      if (*value == '\0') *message = "--interface needs a name or an IPv4 address";
      out->interfaceName = value;
      return *value != '\0';
    default:  // kReplay
      if (*value == '\0') *message = "--replay needs a file name";
      out->replayFile = value;
      return *value != '\0';
  }
}

// What the whole line says once every option was taken.
Parsed checkLine(const std::vector<size_t>& operands, char** argv, bool cycleOption,
                 CommandLine* out, std::string* message) {
  if (out->first + out->nodes - 1 > kMaxUnits - 1) {
    *message = "--first " + std::to_string(out->first) + " with " + std::to_string(out->nodes) +
               " units goes beyond node 999";
    return Parsed::Error;
  }
  if (out->replayFile != nullptr && cycleOption) {
    *message =
        "--replay sends the recording as it is: --nodes, --first and --interval do not apply";
    return Parsed::Error;
  }
  if (operands.size() != 2) return Parsed::Usage;
  out->group = argv[1 + operands[0]];
  const char* port = argv[1 + operands[1]];
  if (!kw::isIpv4Address(out->group)) {
    *message = std::string("group ") + out->group + ": not an IPv4 address";
    return Parsed::Error;
  }
  if (!parsePort(port, &out->port)) {
    *message = std::string("port ") + port + ": not a number from 1 to 65535";
    return Parsed::Error;
  }
  return Parsed::Run;
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
  std::vector<std::string> args;
  for (int i = 1; i < argc && argv != nullptr && argv[i] != nullptr; ++i) args.push_back(argv[i]);
  Parsed early = Parsed::Run;  // --help or --version, which end the walk
  bool cycleOption = false;    // --nodes, --first or --interval, which a replay has no use for
  bool nodesGiven = false;
  bool intervalGiven = false;
  const auto take = [&](const kw_cli::Found& found) {
    if (found.code == kHelp || found.code == kVersion) {
      early = found.code == kHelp ? Parsed::Help : Parsed::Version;
      return false;
    }
    nodesGiven = nodesGiven || found.code == kNodes;
    return takeOption(found, argv[1 + found.word] + found.offset, out, &cycleOption, &intervalGiven,
                      message);
  };
  const kw_cli::OptionParser parser(kOptions, kw_cli::OptionParser::Style::LongOnly);
  std::vector<size_t> operands;
  kw_cli::Problem problem;
  if (!parser.parse(args, take, &operands, &problem)) {
    if (early != Parsed::Run) return early;
    if (problem.kind == kw_cli::Problem::Kind::MissingValue) {
      *message = problem.spelled + " needs a value";
    } else if (problem.kind != kw_cli::Problem::Kind::Refused) {
      *message = "unknown option " + problem.spelled;
    }
    return Parsed::Error;
  }
  // N units at 250 ms each would report every N/4 seconds, past the feed's
  // 2 s medium threshold from nine units on: the pace follows the count.
  if (nodesGiven && !intervalGiven) {
    out->intervalMs = std::max(1u, std::min(kDefaultIntervalMs, kUnitPeriodMs / out->nodes));
  }
  return checkLine(operands, argv, cycleOption, out, message);
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
               "  --interval MS    milliseconds between packets (default 250; with --nodes N,\n"
               "                   1000/N and at most 250: each unit reports about once a\n"
               "                   second)\n"
               "  --ttl N          multicast hop limit (default 10; 0 to 255)\n"
               "  --interface X    send through interface X: a name (eth1) or a local IPv4\n"
               "                   address\n"
               "  --replay FILE    send a recording made by feed_record again, at its pace,\n"
               "                   instead of simulated units\n"
               "  -V, --version    print the version and exit\n"
               "  -h, --help       print this text and exit\n"
               "\n"
               "A wrong number of arguments prints the usage line and exits with status 0;\n"
               "a bad group, port, option or recording prints one line and exits with 1.\n",
               programName);
}

}  // namespace kw_beacon
