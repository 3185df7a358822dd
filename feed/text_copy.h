// copyText: an owned, terminated copy of a text (null is taken as empty),
// for the feed's classes that keep the texts handed to their constructors.
// The caller frees it with delete[].
#pragma once

#include <cstring>

namespace kw {

inline char* copyText(const char* text) {
  const char* source = text ? text : "";
  const size_t length = std::strlen(source);
  char* copy = new char[length + 1];
  std::memcpy(copy, source, length + 1);
  return copy;
}

}  // namespace kw
