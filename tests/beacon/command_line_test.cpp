// Command line of nmea_beacon: argument count and port conversion.
#include "command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(BeaconCommandLine, PortIsAtoiCutToSixteenBits) {
  const struct {
    const char* text;
    int port;
  } cases[] = {{"47001", 47001}, {"0", 0},        {"65535", 65535}, {"65536", 0},
               {"65537", 1},     {"abc", 0},      {"", 0},          {"  12x", 12},
               {"+7", 7},        {"-1", 65535},   {"4294967297", 1},
               // beyond 64 bits the value saturates at the largest one, whose low bits are all set
               {"99999999999999999999999", 65535}};
  for (const auto& c : cases) EXPECT_EQ(kw_beacon::portNumber(c.text), c.port) << '"' << c.text << '"';
  EXPECT_EQ(kw_beacon::portNumber(nullptr), 0);
}

TEST(BeaconCommandLine, ExactlyTwoArgumentsAreAccepted) {
  char name[] = "nmea_beacon";
  char group[] = "239.255.42.1";
  char port[] = "65537";
  char extra[] = "x";
  char* argv[] = {name, group, port, extra, nullptr};

  kw_beacon::CommandLine line{nullptr, -1};
  for (int argc : {0, 1, 2, 4}) {
    EXPECT_FALSE(kw_beacon::parseCommandLine(argc, argv, &line)) << "argc " << argc;
  }
  EXPECT_EQ(line.group, nullptr);
  ASSERT_TRUE(kw_beacon::parseCommandLine(3, argv, &line));
  EXPECT_STREQ(line.group, "239.255.42.1");
  EXPECT_EQ(line.port, 1);
}

TEST(BeaconCommandLine, UsageNamesTheProgramAsInvoked) {
  char name[] = "./somewhere/beacon";
  char* argv[] = {name, nullptr};
  EXPECT_STREQ(kw_beacon::invocationName(1, argv), "./somewhere/beacon");
  char* empty[] = {nullptr};
  EXPECT_STREQ(kw_beacon::invocationName(0, empty), "nmea_beacon");
}

}  // namespace
