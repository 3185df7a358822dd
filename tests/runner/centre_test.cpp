// The centre's reading of the sites' messages and its judgement of them:
// what is taken, what is refused, and how health, skew and a site's
// coming and going show in the rows every output reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/flowhost/centre/SiteMessage.h"
#include "apps/flowhost/centre/SiteTable.h"
#include "outputs/JsonLines.h"
#include "outputs/MqttPublisher.h"

namespace flowhost {
namespace {

constexpr int64_t kNow = 1'765'000'000'000;  // ms since 1970, a December 2025 moment

std::string iso(int64_t ms) {
  const int64_t sec = ms / 1000;
  char text[96];
  const time_t t = static_cast<time_t>(sec);
  struct tm fields {};
  gmtime_r(&t, &fields);
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

// A location as a site publishes it: sent at `sentMs` on the site's clock,
// the unit last heard `idle` seconds before.
std::string location(const std::string& site, int node, int64_t sentMs, double idle,
                     const std::string& fleet = "") {
  return R"({"_type":"location","lat":35.5,"lon":-115.4,"tst":)" + std::to_string(sentMs / 1000) +
         R"(,"tid":"t1","site":")" + site + "\"," +
         (fleet.empty() ? "" : "\"fleet\":\"" + fleet + "\",") + R"("node":)" +
         std::to_string(node) + R"(,"name":"unit)" + std::to_string(node) +
         R"(","feed":"beacon","time":")" + iso(sentMs - 250) + R"(","sent":")" + iso(sentMs) +
         R"(","health":0,"health_text":"good","idle":)" + std::to_string(idle) + "}";
}

std::string status(const std::string& site, bool online, const std::string& reason = "") {
  return R"({"class":"STATUS","site":")" + site + R"(","state":")" +
         (online ? "online" : "offline") + "\"" +
         (reason.empty() ? "" : R"(,"reason":")" + reason + "\"") + "}";
}

SiteInbox::Arrival arrival(const std::string& payload, int64_t atMs, bool retained = false) {
  return SiteInbox::Arrival{SiteMessage::read(payload), retained, atMs};
}

int healthOf(const SiteTable& table, int64_t nowMs, int node, const std::string& site = "yard") {
  for (const NodeRow& row : table.rows(nowMs)) {
    if (row.node == node && row.site == site) return row.health.value_or(-1);
  }
  return -1;
}

TEST(SiteMessages, WhatASiteSendsIsTakenAndWhatDoesNotHoldUpIsRefusedWithTheReason) {
  const SiteMessage unit = SiteMessage::read(location("yard", 7, kNow, 0.25, "north"));
  ASSERT_EQ(unit.kind, SiteMessage::Kind::Location) << unit.refusal;
  EXPECT_EQ(unit.site, "yard");
  EXPECT_EQ(unit.unit.fleet, "north");
  EXPECT_EQ(unit.unit.node, 7);
  EXPECT_EQ(unit.sentMs, kNow);
  EXPECT_EQ(unit.unit.fixSec * 1000 + unit.unit.fixMs, kNow - 250);

  const SiteMessage port = SiteMessage::read(
      R"({"class":"PORT","site":"yard","port":"beacon","time":"2026-12-09T22:10:32.250Z",)"
      R"("taken":18446744073709551615,"rejected":3,"silent":false,"failure":""})");
  // A counter past what a signed number holds is refused, not wrapped.
  EXPECT_EQ(port.kind, SiteMessage::Kind::Refused);
  const SiteMessage wound = SiteMessage::read(status("yard", false, "connection lost"));
  ASSERT_EQ(wound.kind, SiteMessage::Kind::Status);
  EXPECT_FALSE(wound.status.online);
  EXPECT_EQ(wound.status.reason, "connection lost");

  // What the publisher writes is what the centre reads, name, fleet, map and all.
  kw_out::NodeUpdate u;
  u.site = "yard";
  u.fleet = "north";
  u.node = 12;
  u.name = "truck \"12\"";
  u.feed = "beacon";
  u.utcSec = kNow / 1000;
  u.utcMs = 500;
  u.lat = -33.25;
  u.lon = 151.5;
  u.idleSec = 1.25;
  u.neverHeard = false;
  u.hasMap = u.inMap = true;
  u.pixelX = 40;
  std::string written;
  kw_out::MqttPublisher::appendLocation(&written, u, kNow / 1000 + 2, 0);
  const SiteMessage back = SiteMessage::read(written);
  ASSERT_EQ(back.kind, SiteMessage::Kind::Location) << back.refusal << "\n" << written;
  EXPECT_EQ(back.site, "yard");
  EXPECT_EQ(back.unit.fleet, "north");
  EXPECT_EQ(back.unit.name, u.name);
  EXPECT_EQ(back.unit.fixMs, 500);
  EXPECT_EQ(back.sentMs, kNow / 1000 * 1000 + 2000);
  EXPECT_DOUBLE_EQ(back.unit.idle, 1.25);
  EXPECT_TRUE(back.unit.hasMap && back.unit.inMap);
  EXPECT_EQ(back.unit.x, 40);
  written.clear();
  const kw_out::PortCounters counters{"beacon", 7, 0, 1, 0, 0, "", "north", "yard"};
  kw_out::appendPortLine(&written, counters, false, kNow / 1000, 0);
  const SiteMessage portBack = SiteMessage::read(written);
  ASSERT_EQ(portBack.kind, SiteMessage::Kind::Port) << portBack.refusal;
  EXPECT_EQ(portBack.port.taken, 7u);
  EXPECT_EQ(portBack.port.fleet, "north");

  // Not ours: passed over without a word.
  EXPECT_EQ(SiteMessage::read(R"({"class":"EVENT","event":"health"})").kind,
            SiteMessage::Kind::None);
  EXPECT_EQ(SiteMessage::read("22.5").kind, SiteMessage::Kind::None);

  const struct {
    std::string payload;
    std::string reason;
  } refused[] = {
      {location("../etc", 1, kNow, 0), "site name"},
      {location("status", 1, kNow, 0), "topic level"},
      {location("yard", 1, kNow, 0, "feeds"), "fleet name"},
      {R"({"_type":"location","site":"yard","node":1,"lat":91,"lon":0,"time":"2026-12-09T22:10:32Z"})",
       "\"lat\" is out of range"},
      {R"({"_type":"location","site":"yard","node":1e3,"lat":1,"lon":0,"time":"2026-12-09T22:10:32Z"})",
       "\"node\" is not an integer"},
      {R"({"_type":"location","site":"yard","node":1,"lat":1,"lon":0,"time":"09/12/2026"})",
       "\"time\" is not a time"},
      {R"({"class":"STATUS","site":"yard","state":"maybe"})", "neither online nor offline"},
      {R"({"_type":"location", "site":)", "not a JSON object"},
      {"{\"_type\":\"location\",\"name\":\"" + std::string(9000, 'x') + "\"}", "longer than"},
  };
  for (const auto& c : refused) {
    const SiteMessage m = SiteMessage::read(c.payload);
    EXPECT_EQ(m.kind, SiteMessage::Kind::Refused) << c.payload.substr(0, 80);
    EXPECT_NE(m.refusal.find(c.reason), std::string::npos) << m.refusal;
  }
}

TEST(SiteTable, HealthIsTheAgeOfTheLastFixOnTheCentresClockWhateverTheSitesClockSays) {
  SiteTable table(2.0, 4.0);
  // The site's clock runs 10 s ahead of the centre's; the link takes 20 ms.
  const int64_t ahead = 10'000;
  table.take({arrival(location("yard", 1, kNow + ahead - 20, 0.5), kNow)});
  table.judge(kNow);
  ASSERT_EQ(table.sites().size(), 1u);
  ASSERT_TRUE(table.sites()[0].skew.has_value());
  EXPECT_NEAR(*table.sites()[0].skew, 9.98, 0.001);
  // Last packet 0.5 s before it was sent: good until 2 s, medium until 4 s.
  EXPECT_EQ(healthOf(table, kNow + 1400, 1), 0);
  EXPECT_EQ(healthOf(table, kNow + 1600, 1), 1);
  EXPECT_EQ(healthOf(table, kNow + 3600, 1), 2);

  // A copy the broker kept from ten seconds ago is ten seconds old at once,
  // and never takes the place of a newer position.
  table.take({arrival(location("yard", 2, kNow + ahead - 10'000, 0.1), kNow + 100, true),
              arrival(location("yard", 1, kNow + ahead - 60'000, 0.0), kNow + 100, true)});
  EXPECT_EQ(healthOf(table, kNow + 100, 2), 2);
  EXPECT_EQ(healthOf(table, kNow + 100, 1), 0);
}

TEST(SiteTable, ASiteThatGoesAwayTakesItsUnitsWithItAndBringsThemBack) {
  SiteTable table(2.0, 4.0);
  table.take({arrival(status("yard", true), kNow), arrival(location("yard", 1, kNow, 0.1), kNow),
              arrival(location("dock", 1, kNow, 0.1), kNow)});
  table.judge(kNow);
  table.takeChanged();
  ASSERT_EQ(table.sites().size(), 2u);
  EXPECT_EQ(table.rows(kNow).size(), 2u);  // the same node number at two sites is two units

  // Its flowhost dies: the broker sends its last will, and every unit of
  // that site is bad at once; the other site's is not.
  table.take({arrival(status("yard", false, "connection lost"), kNow + 500)});
  table.judge(kNow + 500);
  const std::vector<size_t> changed = table.takeChanged();
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(table.sites()[changed[0]].site, "yard");
  EXPECT_EQ(table.sites()[changed[0]].state, kw_out::SiteStatus::State::Offline);
  for (const NodeRow& row : table.rows(kNow + 500)) {
    EXPECT_EQ(row.health, row.site == "yard" ? 2 : 0) << row.site;
  }
  // A late position does not bring it back: only its own status does.
  table.take({arrival(location("yard", 1, kNow + 600, 0.1), kNow + 600)});
  EXPECT_EQ(healthOf(table, kNow + 600, 1), 2);
  table.take({arrival(status("yard", true), kNow + 700),
              arrival(location("yard", 1, kNow + 700, 0.1), kNow + 700)});
  table.judge(kNow + 700);
  EXPECT_EQ(healthOf(table, kNow + 700, 1), 0);

  // A link that hangs says nothing: after the bad threshold of silence the
  // site is offline with the reason, and back when it speaks again.
  table.take({arrival(location("dock", 1, kNow + 1000, 0.1), kNow + 1000)});
  table.takeChanged();
  table.judge(kNow + 4600);
  EXPECT_TRUE(table.takeChanged().empty());
  table.judge(kNow + 4800);
  const std::vector<size_t> silent = table.takeChanged();
  ASSERT_EQ(silent.size(), 1u);
  EXPECT_EQ(table.sites()[silent[0]].site, "yard");
  EXPECT_NE(table.sites()[silent[0]].reason.find("nothing heard"), std::string::npos);
  table.take({arrival(location("yard", 1, kNow + 5200, 0.1), kNow + 5200)});
  table.judge(kNow + 5200);
  EXPECT_EQ(table.sites()[1].state, kw_out::SiteStatus::State::Online);
  EXPECT_EQ(healthOf(table, kNow + 5200, 1), 0);
}

TEST(SiteTable, ACentreOfAChosenPartListsOnlyTheSitesWithUnitsOrPortsInIt) {
  // Every site's status comes whatever the filter; only yard published
  // under it.
  SiteTable chosen(2.0, 4.0, false);
  chosen.take({arrival(status("dock", true), kNow), arrival(status("yard", true), kNow),
               arrival(location("yard", 1, kNow, 0.1), kNow)});
  ASSERT_EQ(chosen.sites().size(), 1u);
  EXPECT_EQ(chosen.sites()[0].site, "yard");
  const std::vector<size_t> changed = chosen.takeChanged();
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0], 0u);
}

}  // namespace
}  // namespace flowhost
