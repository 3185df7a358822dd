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

std::string unitKey(const NodeUpdate& update) { return std::to_string(update.node); }

std::string gpsdDevice(const NodeUpdate& update) { return "node:" + unitKey(update); }

bool hasFix(const NodeUpdate& update) {
  return !update.neverHeard && std::isfinite(update.lat) && std::isfinite(update.lon) &&
         std::fabs(update.lat) <= 90.0 && std::fabs(update.lon) <= 180.0;
}

}  // namespace kw_out
