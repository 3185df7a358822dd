// JObject: root of the host's object model. Every block, text, array and
// property is a JObject; the host copies objects through `clone` and names
// their class through `className`.
//
// Also holds the keyed put/get helpers a block uses in writeContent and
// readContent to store entries in a document (JOutputStream) and read them
// back (JDictionary).
//
// Owns nothing. Thread safety: host's thread only (no shared state).
// The first five virtual operations keep the host's table order:
// writeContent, readContent, destructor, className, clone.
#pragma once

#include "JExport.h"

class JOutputStream;
class JDictionary;

class J_EXPORT JObject {
 public:
  JObject() = default;
  JObject(const JObject&) = default;
  JObject& operator=(const JObject&) = default;

  // Store this object's own entries; the root stores none.
  virtual void writeContent(JOutputStream& stream);
  // Restore them; the root reads none.
  virtual void readContent(JDictionary& dictionary);
  virtual ~JObject();
  virtual const char* className() const;
  // A new copy owned by the caller; null when memory runs out.
  virtual JObject* clone() const;

  // Entry helpers. A null key or stream is ignored. Storing a key a second
  // time replaces the value at its first position.
  static void putObject(JOutputStream& stream, const char* key, const JObject& value);
  static void putInteger(JOutputStream& stream, const char* key, int value);
  static void putDouble(JOutputStream& stream, const char* key, double value);

  // The stored text object (a JString) under `key`, owned by the dictionary
  // and valid while it lives; null when the key is missing or holds a number.
  static JObject* getObject(JDictionary& dictionary, const char* key);
  // The stored integer, or `defaultValue` when the key is missing, holds no
  // integer or the integer does not fit an int.
  static int getInteger(const JDictionary& dictionary, const char* key, int defaultValue);
  // The stored real (an integer entry is widened), else `defaultValue`.
  static double getDouble(const JDictionary& dictionary, const char* key, double defaultValue);
};
