#include "outputs/NodeUpdate.h"

#include <cmath>

namespace kw_out {

const char* healthWord(int health) {
  switch (health) {
    case kHealthGood: return "good";
    case kHealthMedium: return "medium";
    case kHealthBad: return "bad";
    default: return "unknown";
  }
}

std::string displayName(const NodeUpdate& update) {
  return update.name.empty() ? std::to_string(update.node) : update.name;
}

bool hasFix(const NodeUpdate& update) {
  return !update.neverHeard && std::isfinite(update.lat) && std::isfinite(update.lon) &&
         std::fabs(update.lat) <= 90.0 && std::fabs(update.lon) <= 180.0;
}

UnitId unitId(const NodeUpdate& update) { return UnitId{update.site, update.fleet, update.node}; }

std::string unitScope(std::string_view site, std::string_view fleet) {
  if (site.empty()) return std::string(fleet);
  if (fleet.empty()) return std::string(site);
  std::string scope;
  scope.reserve(site.size() + 1 + fleet.size());
  scope.append(site).push_back('/');
  scope.append(fleet);
  return scope;
}

std::string unitKey(const UnitId& unit) {
  return unitLabel(unit.site, unit.fleet, std::to_string(unit.node));
}

std::string unitKey(const NodeUpdate& update) { return unitKey(unitId(update)); }

std::string unitLabel(std::string_view fleet, std::string_view name) {
  std::string label;
  label.reserve(fleet.size() + 1 + name.size());
  if (!fleet.empty()) label.append(fleet).push_back('/');
  label.append(name);
  return label;
}

std::string unitLabel(std::string_view site, std::string_view fleet, std::string_view name) {
  return site.empty() ? unitLabel(fleet, name) : unitLabel(unitScope(site, fleet), name);
}

std::string unitLabel(const NodeUpdate& update) {
  return unitLabel(update.site, update.fleet, displayName(update));
}

std::string unitDevice(const UnitId& unit) { return "node:" + unitKey(unit); }

std::string topicLevel(std::string_view text) {
  std::string level;
  level.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    level.push_back(c < 0x20 || c >= 0x7F || c == '/' || c == '+' || c == '#' ? '_' : ch);
  }
  return level.empty() ? "_" : level;
}

std::string unitTopic(const NodeUpdate& update) {
  // Valid site and fleet names are safe levels already; the name may be
  // anything.
  return unitLabel(update.site, update.fleet, topicLevel(displayName(update)));
}

std::string portLabel(const PortCounters& counters) {
  return unitLabel(counters.site, counters.fleet, counters.port);
}

std::string portTopic(const PortCounters& counters) {
  return "feeds/" + unitLabel(counters.site, counters.fleet, topicLevel(counters.port));
}

bool validFleetName(std::string_view name, std::string* why) {
  const auto refuse = [&](const std::string& reason) {
    if (why != nullptr) *why = "fleet name '" + std::string(name) + "' " + reason;
    return false;
  };
  if (name.empty()) return refuse("is empty");
  if (name.size() > kMaxFleetName) {
    return refuse("is longer than " + std::to_string(kMaxFleetName) + " characters");
  }
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    if (!word) return refuse("may hold only letters, digits, '_' and '-'");
  }
  if (name.front() == '-') return refuse("may not start with '-'");
  if (name == "feeds") return refuse("is the topic level of the ports' counters");
  return true;
}

bool validSiteName(std::string_view name, std::string* why) {
  const auto refuse = [&](const std::string& reason) {
    if (why != nullptr) *why = "site name '" + std::string(name) + "' " + reason;
    return false;
  };
  if (name.empty()) return refuse("is empty");
  if (name.size() > kMaxSiteName) {
    return refuse("is longer than " + std::to_string(kMaxSiteName) + " characters");
  }
  for (const char c : name) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    if (!word) return refuse("may hold only letters, digits, '_', '-' and '.'");
  }
  if (name.front() == '-' || name.front() == '.') return refuse("may not start with '-' or '.'");
  if (name == "status" || name == "events") {
    return refuse("is a topic level the MQTT output uses for itself");
  }
  return true;
}

}  // namespace kw_out
