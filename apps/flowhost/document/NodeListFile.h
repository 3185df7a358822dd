// NodeListFile: a node list (*.nod) as the sniffer reads it, for the
// runner's own use: counting the nodes a sniffer block will take, splitting
// a long list over several sniffers and naming nodes.
//
// The reading is the feed's own (kw::readNodeList, feed/list_file.h), so
// what the runner counts, splits and names is what the sniffer builds, and
// the notes about odd lines come from the same reading.
// A plain value type. Thread safety: any thread, on its own object.
#pragma once

#include <string>
#include <vector>

#include "feed/list_file.h"

namespace flowhost {

class NodeListFile {
 public:
  using Node = kw::NodeListEntry;  // number, name ("" when none), line

  // Reads `path`; false with a reason ("cannot read the node list 'x.nod':
  // a device, not a regular file; ...") when the list was refused as a whole (cannot
  // be opened, not a regular file, too large, too many nodes).
  bool read(const std::string& path, std::string* error);
  // Reads node lines from a text (for tests and split lists).
  void parse(const std::string& text);

  const std::vector<Node>& nodes() const { return list_.entries; }
  // Everything the reading gave, notes included.
  const kw::NodeList& list() const { return list_; }

  // The text of a node list holding nodes [first, first + count) of this
  // one, under a comment line saying where they came from.
  std::string partText(size_t first, size_t count, const std::string& comment) const;

 private:
  kw::NodeList list_;
};

}  // namespace flowhost
