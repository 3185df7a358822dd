// JOutputStream: where a block writes its entries during writeContent (via
// JObject::putObject, putInteger, putDouble). Entries keep the order in which
// they were first written; writing a key again replaces its value in place.
//
// Owns its entries. Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

#include "JEntry.h"
#include "JExport.h"

class J_EXPORT JOutputStream {
 public:
  void putInteger(const std::string& key, long long value);
  void putReal(const std::string& key, double value);
  void putText(const std::string& key, const JString& value);

  const std::vector<JEntry>& entries() const { return entries_; }
  int size() const { return static_cast<int>(entries_.size()); }

 private:
  JEntry& slot(const std::string& key);

  std::vector<JEntry> entries_;
};
