// JDictionary: the entries of one block as read from a document, handed to
// the block's readContent (read via JObject::getObject, getInteger,
// getDouble). Can also be made straight from a JOutputStream, which is how a
// block is copied through its stored form without a file.
//
// Owns its entries; the text objects getObject returns point into them and
// stay valid while the dictionary lives and is not added to.
// Invariant: keys are unique; entries keep their order; index_ maps each key
// to its entry's position, so adding and finding take constant time however
// many entries a document gives a block.
// Thread safety: host's thread only.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "JEntry.h"
#include "JExport.h"

class JOutputStream;

class J_EXPORT JDictionary {
 public:
  JDictionary() = default;
  explicit JDictionary(const JOutputStream& stream);

  // Adds an entry; an entry with the same key is replaced in place.
  void add(const JEntry& entry);
  // The entry under `key`, or null.
  const JEntry* find(const std::string& key) const;
  JEntry* find(const std::string& key);

  const std::vector<JEntry>& entries() const { return entries_; }
  int size() const { return static_cast<int>(entries_.size()); }

 private:
  std::vector<JEntry> entries_;
  std::unordered_map<std::string, size_t> index_;
};
