#include "JOutputStream.h"

JEntry& JOutputStream::slot(const std::string& key) {
  for (JEntry& entry : entries_) {
    if (entry.key == key) return entry;
  }
  entries_.push_back(JEntry{key, JEntry::Kind::Integer, 0, 0.0, JString()});
  return entries_.back();
}

void JOutputStream::putInteger(const std::string& key, long long value) {
  JEntry& entry = slot(key);
  entry.kind = JEntry::Kind::Integer;
  entry.integer = value;
}

void JOutputStream::putReal(const std::string& key, double value) {
  JEntry& entry = slot(key);
  entry.kind = JEntry::Kind::Real;
  entry.real = value;
}

void JOutputStream::putText(const std::string& key, const JString& value) {
  JEntry& entry = slot(key);
  entry.kind = JEntry::Kind::Text;
  // A stored text is a snapshot: later changes to the block's string made
  // through its shared buffer must not change what was written.
  entry.text = JString(static_cast<char*>(value));
}
