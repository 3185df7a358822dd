#include "apps/flowhost/views/table/PortReport.h"

#include "outputs/NodeUpdate.h"
#include "platform/terminal_text.h"

namespace flowhost {

std::string PortReport::failureText(const JFeedPortStatus& port) {
  std::string where = port.listFile.empty() ? "port list" : kw::terminalText(port.listFile);
  if (port.line > 0) where += ":" + std::to_string(port.line);
  return where + ": " + kw::terminalText(port.setupError);
}

std::string PortReport::countersLine(const PortRow& row) {
  const JFeedPortStatus& port = row.stats;
  // The name and the group come from the port list as written.
  std::string line = "port " + kw::terminalText(kw_out::unitLabel(row.site, row.fleet, port.name)) +
                     " " + kw::terminalText(port.group) + ":" + std::to_string(port.port) +
                     ": taken " + std::to_string(port.takenIn) + ", dropped (full) " +
                     std::to_string(port.droppedFull) + ", rejected " +
                     std::to_string(port.rejected) + ", unknown node " +
                     std::to_string(port.unknownNode) + ", older " + std::to_string(port.older);
  if (!port.setupError.empty()) line += ", not set up";
  return line;
}

std::vector<std::string> PortReport::newFailures(const std::vector<PortRow>& ports) {
  std::vector<std::string> texts;
  for (const PortRow& row : ports) {
    const JFeedPortStatus& s = row.stats;
    if (s.setupError.empty()) continue;
    if (told_.emplace(row.block, s.listFile, s.line, s.setupError).second) {
      texts.push_back(failureText(s));
    }
  }
  return texts;
}

}  // namespace flowhost
