// The one reader of "HOST:PORT" texts (--gpsd, --mqtt, --http): what is
// left out comes from the defaults, and anything else is refused with why.
#include "cli/endpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kw_cli::parseEndpoint;

TEST(Endpoints, EachPartFromTheTextOrTheDefaults) {
  std::string host, error;
  int port = -1;
  EXPECT_TRUE(parseEndpoint("2947", true, "127.0.0.1", 0, &host, &port, &error));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 2947);
  EXPECT_TRUE(parseEndpoint("0.0.0.0:0", true, "127.0.0.1", 0, &host, &port, &error));
  EXPECT_EQ(host, "0.0.0.0");
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(parseEndpoint("broker.lan", false, "", 1883, &host, &port, &error));
  EXPECT_EQ(host, "broker.lan");
  EXPECT_EQ(port, 1883);
  EXPECT_TRUE(parseEndpoint("broker.lan:8883", false, "", 1883, &host, &port, &error));
  EXPECT_EQ(port, 8883);
  for (const char* bad : {"", "x", "70000", ":5", "host:", "host:12a", "-1"}) {
    error.clear();
    EXPECT_FALSE(parseEndpoint(bad, true, "127.0.0.1", 0, &host, &port, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_FALSE(parseEndpoint("", false, "", 1883, &host, &port, &error));
}

}  // namespace
