// DocumentHints: what a person needs to hear beyond the bare reason when a
// document's sniffer blocks do not match their node lists.
//
// - A link refused because a sniffer's output does not exist: a sniffer's
//   outputs come from its stored "number of nodes" (8 per node), not from
//   its node list, so a count left out or too small refuses every link to
//   the nodes beyond it. The hint names the property, its stored value and
//   the number of nodes the list names.
// - A node list naming more nodes than one sniffer takes (128): the hint
//   says how many are left out.
// - A file that is not a document at all: what it looks like (a node list,
//   a port list, not JSON) and how to run it.
// The first two read what the document loader gives (its refusal and the stored
// entries), never the text of an error.
// Stateless. Thread safety: host's thread (reads the graph's blocks).
#pragma once

#include <string>
#include <vector>

class JGraph;

namespace flowhost {

class DocumentFile;

class DocumentHints {
 public:
  // Hints for the document at `path` that `file` refused to load; empty
  // when the refusal is not a link from a sniffer's missing output.
  static std::vector<std::string> forRefusedLink(const std::string& path, const DocumentFile& file);
  // Hints for `path` when the document loader found it no document: a node
  // list or a port list named as the document, or a file that is not JSON
  // at all. Empty for a document that is JSON but broken.
  static std::vector<std::string> forNotADocument(const std::string& path,
                                                  const DocumentFile& file);
  // One warning per sniffer block of `graph` whose node list names more
  // nodes than a sniffer takes.
  static std::vector<std::string> forLongNodeLists(const JGraph& graph);
};

}  // namespace flowhost
