// Command line of nmea_beacon: positional arguments, options and the
// mistakes each gives a message for.
#include "beacon/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kw_beacon::CommandLine;
using kw_beacon::Parsed;

// Parses `args` (without the program name). The texts *line points into
// stay until the next call.
Parsed parse(const std::vector<std::string>& args, CommandLine* line, std::string* message) {
  static std::vector<std::string> kept;
  kept = args;
  kept.insert(kept.begin(), "nmea_beacon");
  std::vector<char*> argv;
  for (std::string& arg : kept) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return kw_beacon::parseCommandLine(static_cast<int>(kept.size()), argv.data(), line, message);
}

TEST(BeaconCommandLine, PortIsANumberFrom1To65535) {
  const struct {
    const char* text;
    int port;  // 0: refused
  } cases[] = {{"47001", 47001},  {"1", 1},
               {"65535", 65535},  {"0", 0},
               {"65536", 0},      {"65537", 0},
               {"abc", 0},        {"", 0},
               {"  12", 0},       {"12x", 0},
               {"+7", 0},         {"-1", 0},
               {"4294967297", 0}, {"99999999999999999999999", 0},
               {"007", 7}};
  for (const auto& c : cases) {
    int port = -1;
    EXPECT_EQ(kw_beacon::parsePort(c.text, &port), c.port != 0) << '"' << c.text << '"';
    if (c.port != 0) {
      EXPECT_EQ(port, c.port) << '"' << c.text << '"';
    }
  }
  int port = -1;
  EXPECT_FALSE(kw_beacon::parsePort(nullptr, &port));
}

TEST(BeaconCommandLine, TwoPositionalArgumentsWithoutOptionsKeepTheDefaults) {
  CommandLine line;
  std::string message;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"239.255.42.1"}, {"239.255.42.1", "47001", "x"}, {"--ttl", "3", "239.255.42.1"}}) {
    EXPECT_EQ(parse(args, &line, &message), Parsed::Usage) << args.size();
  }
  ASSERT_EQ(parse({"239.255.42.1", "47001"}, &line, &message), Parsed::Run);
  EXPECT_STREQ(line.group, "239.255.42.1");
  EXPECT_EQ(line.port, 47001);
  EXPECT_EQ(line.nodes, 5);
  EXPECT_EQ(line.first, 0);
  EXPECT_EQ(line.intervalMs, 250u);
  EXPECT_EQ(line.ttl, 10);
  EXPECT_EQ(line.interfaceName, nullptr);
  EXPECT_EQ(line.replayFile, nullptr);
  EXPECT_FALSE(line.spread);
}

TEST(BeaconCommandLine, OptionsInEitherFormAndPlace) {
  CommandLine line;
  std::string message;
  ASSERT_EQ(parse({"--nodes", "12", "239.255.42.1", "--first=100", "47001", "--interval=40",
                   "--ttl", "0", "--interface", "eth1"},
                  &line, &message),
            Parsed::Run)
      << message;
  EXPECT_EQ(line.nodes, 12);
  EXPECT_EQ(line.first, 100);
  EXPECT_EQ(line.intervalMs, 40u);
  EXPECT_EQ(line.ttl, 0);
  EXPECT_STREQ(line.interfaceName, "eth1");
  EXPECT_TRUE(line.spread);
  EXPECT_STREQ(line.group, "239.255.42.1");
  EXPECT_EQ(line.port, 47001);

  ASSERT_EQ(parse({"--replay", "day.rec", "--ttl=255", "239.255.42.1", "47001"}, &line, &message),
            Parsed::Run);
  EXPECT_STREQ(line.replayFile, "day.rec");
  EXPECT_EQ(line.ttl, 255);
  EXPECT_FALSE(line.spread);
  // After "--" everything is positional.
  EXPECT_EQ(parse({"--", "--nodes", "3"}, &line, &message), Parsed::Error);
  EXPECT_EQ(message, "group --nodes: not an IPv4 address");

  EXPECT_EQ(parse({"--help"}, &line, &message), Parsed::Help);
  EXPECT_EQ(parse({"239.255.42.1", "-h"}, &line, &message), Parsed::Help);
  EXPECT_EQ(parse({"--version", "x"}, &line, &message), Parsed::Version);
  EXPECT_EQ(parse({"-V"}, &line, &message), Parsed::Version);
  // The whole numbering range can be shared out: 0..499 and 500..999.
  EXPECT_EQ(parse({"--first", "500", "--nodes", "500", "239.255.42.1", "1"}, &line, &message),
            Parsed::Run);
}

// Each unit reports about once a second whatever the count, so that no
// unit crosses the feed's 2 s medium threshold between two of its packets.
TEST(BeaconCommandLine, NodesWithoutAnIntervalPaceEachUnitToOnceASecond) {
  const struct {
    std::vector<std::string> args;
    unsigned intervalMs;
  } cases[] = {
      {{"--nodes", "1", "239.255.42.1", "1"}, 250},
      {{"--nodes", "5", "239.255.42.1", "1"}, 200},
      {{"--nodes=10", "239.255.42.1", "1"}, 100},
      {{"--nodes", "128", "239.255.42.1", "1"}, 7},
      {{"--nodes", "1000", "239.255.42.1", "1"}, 1},
      {{"--nodes", "10", "--interval", "250", "239.255.42.1", "1"}, 250},
      {{"--interval", "40", "--nodes", "10", "239.255.42.1", "1"}, 40},
      {{"--first", "10", "239.255.42.1", "1"}, 250},
  };
  for (const auto& c : cases) {
    CommandLine line;
    std::string message;
    ASSERT_EQ(parse(c.args, &line, &message), Parsed::Run) << message;
    EXPECT_EQ(line.intervalMs, c.intervalMs) << c.args[0] << " " << c.args[1];
  }
}

TEST(BeaconCommandLine, EachMistakeIsNamed) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"notanip", "47001"}, "group notanip: not an IPv4 address"},
      {{"239.255.42", "47001"}, "group 239.255.42: not an IPv4 address"},
      {{"300.1.1.1", "47001"}, "group 300.1.1.1: not an IPv4 address"},
      {{"239.255.42.1", "0"}, "port 0: not a number from 1 to 65535"},
      {{"239.255.42.1", "no-port"}, "port no-port: not a number from 1 to 65535"},
      {{"--nodes", "0", "239.255.42.1", "1"}, "--nodes 0: not a number from 1 to 1000"},
      {{"--nodes=1001", "239.255.42.1", "1"}, "--nodes 1001: not a number from 1 to 1000"},
      {{"--first", "-1", "239.255.42.1", "1"}, "--first -1: not a number from 0 to 999"},
      {{"--interval", "0", "239.255.42.1", "1"}, "--interval 0: not a number from 1 to 86400000"},
      {{"--ttl", "256", "239.255.42.1", "1"}, "--ttl 256: not a number from 0 to 255"},
      {{"--ttl"}, "--ttl needs a value"},
      {{"--interface=", "239.255.42.1", "1"}, "--interface needs a name or an IPv4 address"},
      {{"--first", "998", "239.255.42.1", "1"}, "--first 998 with 5 units goes beyond node 999"},
      {{"--replay", "a.rec", "--nodes", "3", "239.255.42.1", "1"},
       "--replay sends the recording as it is: --nodes, --first and --interval do not apply"},
      {{"--node", "3", "239.255.42.1", "1"}, "unknown option --node"},
      {{"--help=yes"}, "unknown option --help=yes"},
  };
  for (const auto& c : cases) {
    CommandLine line;
    std::string message;
    EXPECT_EQ(parse(c.args, &line, &message), Parsed::Error) << c.message;
    EXPECT_EQ(message, c.message);
  }
}

TEST(BeaconCommandLine, UsageNamesTheProgramAsInvoked) {
  char name[] = "./somewhere/beacon";
  char* argv[] = {name, nullptr};
  EXPECT_STREQ(kw_beacon::invocationName(1, argv), "./somewhere/beacon");
  char* empty[] = {nullptr};
  EXPECT_STREQ(kw_beacon::invocationName(0, empty), "nmea_beacon");
}

}  // namespace
