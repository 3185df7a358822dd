// JString: the host's text object, a NUL-terminated character string.
//
// Copies share their contents: a copy (or an assignment) refers to the same
// character buffer, so a change made through `operator char*` of one is seen
// by every copy. The buffer is freed with the last copy. The text is a C
// text: length, comparison and storage stop at the first NUL.
//
// Invariant: the buffer always exists, so `operator char*` never yields null.
// Thread safety: host's thread only; copies on different threads must not
// touch one buffer.
#pragma once

#include <memory>
#include <string>

#include "JObject.h"

class J_EXPORT JString : public JObject {
 public:
  JString();
  JString(const char* text);  // NOLINT: texts convert implicitly, as in the host
  // At most `count` characters of `text`; a count of 0 (or less) takes the
  // whole text. A null text gives an empty string.
  JString(const char* text, int count);
  JString(const JString& other) = default;
  JString& operator=(const JString& other) = default;
  ~JString() override;

  const char* className() const override;
  JObject* clone() const override;

  // The shared buffer, writable in place within its length.
  operator char*() const;
  bool operator==(const JString& other) const;
  bool operator==(const char* text) const;
  int length() const;

 private:
  std::shared_ptr<std::string> text_;
};
