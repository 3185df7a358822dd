#include "apps/flowhost/document/DocumentHints.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/document/NodeListFile.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

namespace fs = std::filesystem;
using Layout = JQNV_packet_sniffer_layout;

namespace {

constexpr const char* kNodeFileKey = "node file name";
constexpr const char* kNodeCountKey = "number of nodes";

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
