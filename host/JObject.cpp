#include "JObject.h"

#include <climits>

#include "JDictionary.h"
#include "JOutputStream.h"
#include "JString.h"

void JObject::writeContent(JOutputStream&) {}

void JObject::readContent(JDictionary&) {}

JObject::~JObject() = default;

const char* JObject::className() const { return "JObject"; }

JObject* JObject::clone() const { return new JObject(*this); }

// Only texts have a stored form; any other object is not stored.
void JObject::putObject(JOutputStream& stream, const char* key, const JObject& value) {
  if (key == nullptr) return;
  if (const auto* text = dynamic_cast<const JString*>(&value)) stream.putText(key, *text);
}

void JObject::putInteger(JOutputStream& stream, const char* key, int value) {
  if (key != nullptr) stream.putInteger(key, value);
}

void JObject::putDouble(JOutputStream& stream, const char* key, double value) {
  if (key != nullptr) stream.putReal(key, value);
}

JObject* JObject::getObject(JDictionary& dictionary, const char* key) {
  if (key == nullptr) return nullptr;
  JEntry* entry = dictionary.find(key);
  if (entry == nullptr || entry->kind != JEntry::Kind::Text) return nullptr;
  return &entry->text;
}

int JObject::getInteger(const JDictionary& dictionary, const char* key, int defaultValue) {
  if (key == nullptr) return defaultValue;
  const JEntry* entry = dictionary.find(key);
  if (entry == nullptr || entry->kind != JEntry::Kind::Integer) return defaultValue;
  if (entry->integer < INT_MIN || entry->integer > INT_MAX) return defaultValue;
  return static_cast<int>(entry->integer);
}

double JObject::getDouble(const JDictionary& dictionary, const char* key, double defaultValue) {
  if (key == nullptr) return defaultValue;
  const JEntry* entry = dictionary.find(key);
  if (entry == nullptr) return defaultValue;
  if (entry->kind == JEntry::Kind::Real) return entry->real;
  if (entry->kind == JEntry::Kind::Integer) return static_cast<double>(entry->integer);
  return defaultValue;
}
