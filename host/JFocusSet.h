// JFocusSet: the links attached to one input of a block (JModuleObj::
// inputSet). Empty, with size() 0, while no link is attached.
//
// A snapshot: it holds pointers to links owned by the graph and is valid
// until the next link is made or removed.
// Thread safety: host's thread only.
#pragma once

#include <utility>
#include <vector>

#include "JExport.h"

class JLinkObj;

class J_EXPORT JFocusSet {
 public:
  JFocusSet() = default;
  explicit JFocusSet(std::vector<JLinkObj*> links) : links_(std::move(links)) {}

  // The number of links in the set.
  int size() const { return static_cast<int>(links_.size()); }
  bool isEmpty() const { return links_.empty(); }
  // The link at `index`; null out of range.
  JLinkObj* at(int index) const {
    return index >= 0 && index < size() ? links_[static_cast<size_t>(index)] : nullptr;
  }

 private:
  std::vector<JLinkObj*> links_;
};
