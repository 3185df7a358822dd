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
  if (JEntry* existing = find(entry.key)) {
    *existing = copy;
  } else {
    entries_.push_back(copy);
  }
}

const JEntry* JDictionary::find(const std::string& key) const {
  for (const JEntry& entry : entries_) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

JEntry* JDictionary::find(const std::string& key) {
  for (JEntry& entry : entries_) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}
