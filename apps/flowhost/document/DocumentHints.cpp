#include "apps/flowhost/document/DocumentHints.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/document/NodeListFile.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "platform/files.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

namespace fs = std::filesystem;
using Layout = JQNV_packet_sniffer_layout;

namespace {

constexpr const char* kNodeFileKey = "node file name";
constexpr const char* kNodeCountKey = "number of nodes";
// A node or port list is far smaller; a larger file is not looked into.
constexpr size_t kMaxLookedAt = 1 << 20;

// A whole decimal number of at most `digits` digits.
bool isNumber(const std::string& token, size_t digits) {
  return !token.empty() && token.size() <= digits &&
         token.find_first_not_of("0123456789") == std::string::npos;
}

// Four dotted numbers, as a port list writes its multicast group.
bool isDottedAddress(const std::string& token) {
  int dots = 0;
  for (const char c : token) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return dots == 3;
}

// What the lines of `text` that are neither blank nor comments look like.
enum class Looks { Nothing, NodeList, PortList, Other };

Looks whatTextLooksLike(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  size_t nodeLines = 0, portLines = 0, others = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string token; words >> token && tokens.size() < 3;) tokens.push_back(token);
    if (tokens.empty() || tokens[0][0] == '#') continue;
    if (isNumber(tokens[0], 4)) {
      ++nodeLines;
    } else if (tokens.size() == 3 && isDottedAddress(tokens[1]) && isNumber(tokens[2], 5)) {
      ++portLines;
    } else {
      ++others;
    }
  }
  if (others > 0) return Looks::Other;
  if (nodeLines > 0 && portLines == 0) return Looks::NodeList;
  if (portLines > 0 && nodeLines == 0) return Looks::PortList;
  return nodeLines + portLines == 0 ? Looks::Nothing : Looks::Other;
}

std::string nodesText(size_t count) {
  return std::to_string(count) + (count == 1 ? " node" : " nodes");
}

}  // namespace

std::vector<std::string> DocumentHints::forRefusedLink(const std::string& path,
                                                       const DocumentFile& file) {
  const JRefusal& refusal = file.refusal();
  if (refusal.kind != JRefusal::Kind::MissingOutput || refusal.className != Layout::kClassName) {
    return {};
  }
  std::string stored = "missing";
  std::string nodeFile;
  for (const JEntry& entry : file.refusedBlockEntries()) {
    if (entry.key == kNodeCountKey && entry.kind == JEntry::Kind::Integer) {
      stored = std::to_string(entry.integer);
    } else if (entry.key == kNodeFileKey && entry.kind == JEntry::Kind::Text) {
      nodeFile = static_cast<char*>(entry.text);
    }
  }
  std::string hint = "block " + std::to_string(refusal.block) + " (" + Layout::kClassName +
                     ") has " + std::to_string(Layout::kOutputsPerNode) +
                     " outputs per node of its stored \"" + kNodeCountKey + "\" (" + stored + ")";
  std::error_code ec;
  fs::path list(nodeFile);
  if (list.is_relative()) list = fs::absolute(path, ec).parent_path() / list;
  NodeListFile nodes;
  if (nodeFile.empty() || !nodes.read(list.string(), nullptr)) {
    return {hint + ": store \"" + kNodeCountKey + "\" as the number of nodes in its node list"};
  }
  const size_t count = std::min<size_t>(nodes.nodes().size(), Layout::kMaxNodes);
  const unsigned outputs = Layout::outputCount(static_cast<unsigned>(count));
  hint += "; its node list '" + nodeFile + "' names " + nodesText(nodes.nodes().size());
  if (refusal.port < static_cast<long long>(outputs)) {
    hint += ": store \"" + std::string(kNodeCountKey) + "\": " + std::to_string(count) +
            " to give it outputs 0 to " + std::to_string(outputs - 1);
  } else {
    hint += ", so output " + std::to_string(refusal.port) +
            " would not exist with the whole list either";
  }
  return {hint};
}

std::vector<std::string> DocumentHints::forNotADocument(const std::string& path,
                                                        const DocumentFile& file) {
  if (file.refusal().kind != JRefusal::Kind::Malformed) return {};
  std::string text;
  if (kw::readTextFile(path, kMaxLookedAt, &text)) return {};
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '{' || text[first] == '[')) return {};
  const std::string quoted = "'" + path + "'";
  switch (whatTextLooksLike(text)) {
    case Looks::NodeList:
      return {quoted + " looks like a node list (lines \"<number> [name]\"), not a document; " +
              "run it with a port list: flowhost --nodes " + path + " --ports PORTS.mcp"};
    case Looks::PortList:
      return {quoted +
              " looks like a port list (lines \"<name> <group> <port>\"), not a document; " +
              "run it with a node list: flowhost --nodes NODES.nod --ports " + path};
    default:
      return {quoted + " is not JSON: a document is the JSON file flowhost --write-document or " +
              "--save-as writes; to start from a node list and a port list: flowhost --nodes " +
              "NODES.nod --ports PORTS.mcp"};
  }
}

std::vector<std::string> DocumentHints::forLongNodeLists(const JGraph& graph) {
  std::vector<std::string> warnings;
  for (int b = 0; b < graph.blockCount(); ++b) {
    JModuleObj* block = graph.block(b);
    if (std::string(block->className()) != Layout::kClassName) continue;
    JOutputStream stream;
    block->writeContent(stream);
    for (const JEntry& entry : stream.entries()) {
      if (entry.key != kNodeFileKey || entry.kind != JEntry::Kind::Text) continue;
      const std::string name = static_cast<char*>(entry.text);
      NodeListFile nodes;
      if (name.empty() || !nodes.read(name, nullptr)) continue;
      const size_t listed = nodes.nodes().size();
      if (listed <= Layout::kMaxNodes) continue;
      warnings.push_back(
          "block " + std::to_string(b + 1) + " (" + Layout::kClassName + "): its node list '" +
          name + "' names " + nodesText(listed) + "; a sniffer takes " +
          std::to_string(Layout::kMaxNodes) + ", so " + nodesText(listed - Layout::kMaxNodes) +
          " are left out (flowhost --nodes FILE --ports FILE makes one sniffer per " +
          std::to_string(Layout::kMaxNodes) + " nodes)");
    }
  }
  return warnings;
}

}  // namespace flowhost
