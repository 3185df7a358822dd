// JFailure: how an operation of the host stand-in (and of the programs built
// on it) hands back why it failed: the reason goes into the caller's error
// text when the caller asked for one (a non-null `error`).
// A free function; owns nothing. Thread safety: any thread, on its own text.
#pragma once

#include <string>

namespace jhost {

inline void fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
}

}  // namespace jhost
