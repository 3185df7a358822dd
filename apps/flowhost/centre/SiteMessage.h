// SiteMessage: one MQTT message that another flowhost (a site) published,
// read back by a centre. The message's own content says what it is and
// whose it is (the topic only routes it):
//
//   {"_type":"location", "site":..., "fleet":..., "node":..., ...}  a unit
//   {"class":"PORT", "site":..., "port":..., "taken":..., ...}       a port
//   {"class":"STATUS", "site":..., "state":"online"|"offline", ...}  a site
//
// Anything else (the sites' EVENT objects, other publishers' messages on
// the same broker) is no site message and is passed over without a word;
// a message that claims to be one of the three but does not hold up (not
// JSON, too long, a site or fleet name no flowhost gives, a number out of
// range) is refused with the reason. Every text taken is bounded.
//
// Pure functions and plain values; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace flowhost {

struct SiteMessage {
  enum class Kind { None, Location, Port, Status, Refused };

  // What a location says of its unit.
  struct Unit {
    std::string fleet;  // "" when the site has one unnamed fleet
    int node = 0;
    std::string name;
    std::string feed;
    double lat = 0.0;
    double lon = 0.0;
    int64_t fixSec = 0;  // the fix's time, as the unit gave it
    int fixMs = 0;
    double idle = 0.0;  // seconds since the site last heard the unit, when it was sent
    int health = 0;     // the site's own grade (the centre judges its own)
    bool hasMap = false;
    bool inMap = false;
    int x = 0;
    int y = 0;
  };
  struct Port {
    std::string fleet;
    std::string name;
    uint64_t taken = 0;
    uint64_t droppedFull = 0;
    uint64_t rejected = 0;
    uint64_t unknownNode = 0;
    uint64_t older = 0;
    bool silent = false;
    std::string failure;
  };
  struct Status {
    bool online = false;
    std::string reason;  // "connection lost", "stopped"; "" when none given
  };

  Kind kind = Kind::None;
  std::string site;
  // The site's wall clock when the message was made (location "sent", port
  // and status "time"), ms since 1970; empty when the message has none.
  std::optional<int64_t> sentMs;
  Unit unit;
  Port port;
  Status status;
  std::string refusal;  // Kind::Refused: why

  // The largest payload read; a site's messages are a few hundred bytes.
  static constexpr size_t kMaxPayload = 8192;
  // The longest unit name, feed, port name, reason kept.
  static constexpr size_t kMaxText = 255;

  static SiteMessage read(std::string_view payload);
};

// "2026-12-09T22:10:32.250Z" (or without the milliseconds) as ms since
// 1970; false when the text is not such a time.
bool parseIsoTimeMs(std::string_view text, int64_t* ms);

}  // namespace flowhost
