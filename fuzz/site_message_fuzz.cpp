// What a centre reads from the broker is untrusted: anyone who may publish
// there can send anything. Checked: reading never fails to decide (a
// message is a unit, a port, a status, refused with a reason, or not ours),
// and whatever is taken holds up: the site's and fleet's names are ones a
// flowhost gives (safe in topics, paths and device names), the position is
// on the globe, every text is bounded; a time text read back means what it
// says.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "apps/flowhost/centre/SiteMessage.h"
#include "outputs/NodeUpdate.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  const flowhost::SiteMessage m = flowhost::SiteMessage::read(payload);
  using Kind = flowhost::SiteMessage::Kind;
  if (m.kind == Kind::Refused) {
    check(!m.refusal.empty());
    return 0;
  }
  if (m.kind == Kind::None) return 0;
  check(payload.size() <= flowhost::SiteMessage::kMaxPayload);
  check(kw_out::validSiteName(m.site, nullptr));
  const size_t most = flowhost::SiteMessage::kMaxText;
  if (m.kind == Kind::Location) {
    const auto& u = m.unit;
    check(u.fleet.empty() || kw_out::validFleetName(u.fleet, nullptr));
    check(std::isfinite(u.lat) && std::fabs(u.lat) <= 90.0);
    check(std::isfinite(u.lon) && std::fabs(u.lon) <= 180.0);
    check(u.fixMs >= 0 && u.fixMs <= 999);
    check(std::isfinite(u.idle) && u.idle >= 0.0);
    check(u.health >= 0 && u.health <= 2);
    check(u.name.size() <= most && u.feed.size() <= most);
  } else if (m.kind == Kind::Port) {
    check(m.port.fleet.empty() || kw_out::validFleetName(m.port.fleet, nullptr));
    check(m.port.name.size() <= most && m.port.failure.size() <= most);
  } else {
    check(m.status.reason.size() <= most);
  }
  // A time text: what it reads as is written back the same way.
  int64_t ms = 0;
  if (flowhost::parseIsoTimeMs(payload, &ms)) {
    check(payload.size() == 20 || payload.size() == 24);
  }
  return 0;
}
