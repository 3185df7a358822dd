// The sniffer block on a live feed: the real beacon sends inside the
// isolated network namespace, the block receives, ticks and announces.
#include <sys/wait.h>

#include <cmath>
#include <csignal>
#include <string>

#include "host/JFileProperty.h"
#include "host/JRealData.h"
#include "platform/platform.h"
#include "tests/sniffer/sniffer_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/isolation.h"

namespace {

using kw_test::SnifferTest;

class SnifferFeed : public SnifferTest {
 protected:
  void SetUp() override {
    KW_REQUIRE_ISOLATED_NETWORK();
    SnifferTest::SetUp();
  }
};

TEST_F(SnifferFeed, ProbeReceivesBeaconPositions) {
  kw_test::ChildProcess beacon;
  ASSERT_TRUE(beacon.start(KW_NMEA_BEACON_PATH, {"nmea_beacon", "239.255.42.40", "47050"}));

  JQNV_packet_sniffer* sniffer = makeSniffer();
  graph_.startup();
  JFileProperty nodes("node file name", JString(writeFile("feed.nod", "1\n2\n3\n4\n").c_str()),
                      "*.nod");
  JFileProperty ports("port file name",
                      JString(writeFile("feed.mcp", "beacon 239.255.42.40 47050\n").c_str()),
                      "*.mcp");
  ASSERT_TRUE(sniffer->updateProperty(nodes));
  ASSERT_TRUE(sniffer->updateProperty(ports));
  ASSERT_EQ(sniffer->ogm, 32);
  JSourceObj* source = driveInputs(sniffer);
  JProbeObj* probe = probeAll(sniffer);

  send(source, 1, 1);  // on
  for (int tick = 0; tick < 12; ++tick) {
    kw::Sleep(250);
    send(source, 0, 1);
    send(source, 0, 0);
  }
  send(source, 1, 0);  // off

  // The last announcement of each node: id, a position on the beacon's
  // circle (35°35.427' N, 115°26.34' W, radius 20'), health 0.
  for (int i = 0; i < 4; ++i) {
    const JProbeObj::Value* id = probe->last(8 * i);
    const JProbeObj::Value* latitude = probe->last(8 * i + 1);
    const JProbeObj::Value* longitude = probe->last(8 * i + 2);
    const JProbeObj::Value* text = probe->last(8 * i + 5);
    const JProbeObj::Value* health = probe->last(8 * i + 6);
    ASSERT_TRUE(id && latitude && longitude && text && health) << "node index " << i;
    EXPECT_EQ(id->integer, i + 1);
    EXPECT_EQ(latitude->type, JRealData::id);
    const double north = (latitude->real - 35.0) * 60.0 - 35.427;
    const double west = (-longitude->real - 115.0) * 60.0 - 26.34;
    EXPECT_NEAR(std::hypot(north, west), 20.0, 1e-3) << "node index " << i;
    EXPECT_EQ(health->integer, 0) << "node index " << i;
    EXPECT_EQ(text->text.size(), 23u) << text->text;
  }

  ASSERT_TRUE(beacon.signal(SIGTERM));
  int status = 0;
  ASSERT_TRUE(beacon.waitExit(std::chrono::seconds(5), &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
