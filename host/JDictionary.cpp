#include "JDictionary.h"

#include "JOutputStream.h"

JDictionary::JDictionary(const JOutputStream& stream) {
  for (const JEntry& entry : stream.entries()) {
    add(entry);
  }
}

void JDictionary::add(const JEntry& entry) {
  JEntry copy = entry;
  // Texts get their own buffer so that a block changing the text it read
  // does not change the stream or another dictionary.
  copy.text = JString(static_cast<char*>(entry.text));
  const auto [place, added] = index_.try_emplace(entry.key, entries_.size());
  if (added) {
    entries_.push_back(copy);
  } else {
    entries_[place->second] = copy;
  }
}

const JEntry* JDictionary::find(const std::string& key) const {
  const auto place = index_.find(key);
  return place != index_.end() ? &entries_[place->second] : nullptr;
}

JEntry* JDictionary::find(const std::string& key) {
  const auto place = index_.find(key);
  return place != index_.end() ? &entries_[place->second] : nullptr;
}
