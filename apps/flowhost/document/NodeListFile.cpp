#include "apps/flowhost/document/NodeListFile.h"

#include "platform/terminal_text.h"

namespace flowhost {

bool NodeListFile::read(const std::string& path, std::string* error) {
  list_ = kw::readNodeList(path.c_str());
  if (!list_.refused) return true;
  if (error != nullptr) *error = kw::listRefusalText("node list", path, list_.notes.front());
  return false;
}

void NodeListFile::parse(const std::string& text) { list_ = kw::parseNodeList(text); }

std::string NodeListFile::partText(size_t first, size_t count, const std::string& comment) const {
  const std::vector<Node>& nodes = list_.entries;
  std::string text = "# " + kw::terminalText(comment) + "\n";  // one line, whatever the names

  for (size_t i = first; i < first + count && i < nodes.size(); ++i) {
    text += std::to_string(nodes[i].number);
    if (!nodes[i].name.empty()) text += " " + nodes[i].name;
    text += "\n";
  }
  return text;
}

}  // namespace flowhost
