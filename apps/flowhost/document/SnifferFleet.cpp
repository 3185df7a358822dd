#include "apps/flowhost/document/SnifferFleet.h"

#include "outputs/NodeUpdate.h"

namespace flowhost {

namespace {

constexpr std::string_view kWord = "fleet";

// The word of `text` that starts at `at` or after the blanks there.
std::string_view wordAt(std::string_view text, size_t at) {
  const size_t start = text.find_first_not_of(' ', at);
  if (start == std::string_view::npos) return {};
  const size_t end = text.find(' ', start);
  return text.substr(start, end == std::string_view::npos ? text.npos : end - start);
}

}  // namespace

std::string fleetOfLabel(std::string_view label) {
  const std::string_view first = wordAt(label, 0);
  if (first != kWord) return "";
  const std::string_view name = wordAt(label, label.find(kWord) + kWord.size());
  return kw_out::validFleetName(name, nullptr) ? std::string(name) : "";
}

std::string fleetLabel(const std::string& fleet, int index, int count) {
  std::string label = std::string(kWord) + " " + fleet;
  if (count > 1) label += " sniffer " + std::to_string(index);
  return label;
}

}  // namespace flowhost
