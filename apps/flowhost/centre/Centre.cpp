#include "apps/flowhost/centre/Centre.h"

namespace flowhost {

Centre::Centre(const Settings& settings)
    : settings_(settings), table_(settings.medium, settings.bad, settings.inbox.filter.empty()) {}

bool Centre::start(std::string* error) { return inbox_.start(settings_.inbox, error); }

void Centre::refresh(int64_t nowMs) {
  arrivals_.clear();
  inbox_.take(&arrivals_);
  if (!arrivals_.empty()) table_.take(arrivals_);
  table_.judge(nowMs);
}

std::string Centre::describe() const {
  const SiteInbox::Stats s = inbox_.stats();
  std::string line = std::string("mqtt-in ") + (s.connected ? "connected" : "not connected") +
                     ", " + std::to_string(table_.sites().size()) + " sites, " +
                     std::to_string(table_.unitCount()) + " units, received " +
                     std::to_string(s.received) + ", refused " + std::to_string(s.refused);
  if (s.refused > 0) line += " (last: " + s.lastRefusal + ")";
  line += ", dropped " + std::to_string(s.dropped);
  if (!s.connected && !s.lastError.empty()) line += " (" + s.lastError + ")";
  return line;
}

}  // namespace flowhost
