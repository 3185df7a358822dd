#include "apps/flowhost/document/DocumentHints.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <system_error>

#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"
#include "apps/flowhost/document/NodeListFile.h"

namespace flowhost {

namespace fs = std::filesystem;
using Layout = JQNV_packet_sniffer_layout;
using Json = nlohmann::json;

namespace {

constexpr const char* kNodeFileKey = "node file name";
constexpr const char* kNodeCountKey = "number of nodes";

std::string nodesText(size_t count) {
  return std::to_string(count) + (count == 1 ? " node" : " nodes");
}

}  // namespace

std::vector<std::string> DocumentHints::forRefusedLink(const std::string& path,
                                                       const std::string& reason) {
  static const std::regex refused(std::string("link ([0-9]+): output ([0-9]+) does not exist on ") +
                                  Layout::kClassName + " ");
  std::smatch match;
  if (!std::regex_search(reason, match, refused)) return {};
  const size_t linkIndex = std::stoul(match[1].str());
  const long long output = std::stoll(match[2].str());

  std::string text;
  if (!JDocument::readText(path, &text, nullptr) || !JDocument::checkText(text, nullptr)) return {};
  const Json document = Json::parse(text, nullptr, false);
  if (!document.is_object() || !document.contains("links") || !document["links"].is_array() ||
      linkIndex >= document["links"].size() || !document.contains("blocks") ||
      !document["blocks"].is_array()) {
    return {};
  }
  const Json& link = document["links"][linkIndex];
  if (!link.is_object() || !link.contains("from")) return {};
  const Json* entries = nullptr;
  Json id;
  for (const Json& block : document["blocks"]) {
    if (block.is_object() && block.contains("id") && block["id"] == link["from"] &&
        block.contains("entries") && block["entries"].is_object()) {
      entries = &block["entries"];
      id = block["id"];
    }
  }
  if (entries == nullptr) return {};

  std::string stored = "missing";
  if (entries->contains(kNodeCountKey) && (*entries)[kNodeCountKey].is_number_integer()) {
    stored = std::to_string((*entries)[kNodeCountKey].get<long long>());
  }
  std::string hint = "block " + id.dump() + " (" + Layout::kClassName +
                     ") has 8 outputs per node of its stored \"" + kNodeCountKey + "\" (" + stored +
                     ")";
  if (entries->contains(kNodeFileKey) && (*entries)[kNodeFileKey].is_string()) {
    const std::string name = (*entries)[kNodeFileKey].get<std::string>();
    std::error_code ec;
    fs::path list(name);
    if (list.is_relative()) list = fs::absolute(path, ec).parent_path() / list;
    NodeListFile nodes;
    if (!name.empty() && nodes.read(list.string(), nullptr)) {
      const size_t count = std::min<size_t>(nodes.nodes().size(), Layout::kMaxNodes);
      hint += "; its node list '" + name + "' names " + nodesText(nodes.nodes().size());
      if (output < static_cast<long long>(Layout::outputCount(static_cast<unsigned>(count)))) {
        hint += ": store \"" + std::string(kNodeCountKey) + "\": " + std::to_string(count) +
                " to give it outputs 0 to " +
                std::to_string(Layout::outputCount(static_cast<unsigned>(count)) - 1);
      } else {
        hint += ", so output " + std::to_string(output) + " would not exist with the whole list either";
      }
      return {hint};
    }
  }
  hint += ": store \"" + std::string(kNodeCountKey) + "\" as the number of nodes in its node list";
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
      warnings.push_back("block " + std::to_string(b + 1) + " (" + Layout::kClassName +
                         "): its node list '" + name + "' names " + nodesText(listed) +
                         "; a sniffer takes " + std::to_string(Layout::kMaxNodes) + ", so " +
                         nodesText(listed - Layout::kMaxNodes) +
                         " are left out (flowhost --nodes FILE --ports FILE makes one sniffer per " +
                         std::to_string(Layout::kMaxNodes) + " nodes)");
    }
  }
  return warnings;
}

}  // namespace flowhost
