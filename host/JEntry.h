// JEntry: one stored entry of a block in a document: a key and a value that
// is an integer, a real or a text. JOutputStream collects entries as a block
// writes them, JDictionary holds them for a block to read back, and the
// document file (JDocument) stores them in this order.
//
// A plain value; owns its key and value. Thread safety: host's thread only.
#pragma once

#include <string>

#include "JExport.h"
#include "JString.h"

struct J_EXPORT JEntry {
  enum class Kind { Integer, Real, Text };

  std::string key;
  Kind kind = Kind::Integer;
  long long integer = 0;  // a document may hold integers beyond int
  double real = 0.0;
  JString text;
};
