// JSvgText: the two pieces every SVG writer of the host needs: text made safe
// for XML, and a whole file written at once with a clear error.
// Stateless; any thread.
#pragma once

#include <string>

#include "JExport.h"

class J_EXPORT JSvgText {
 public:
  // Markup characters escaped; control characters, which XML 1.0 does not
  // allow, become blanks.
  static std::string escaped(const std::string& text);
  // Writes `text` to `path`, replacing what was there. False with
  // "cannot write <what> '<path>'" in `error` when that fails.
  static bool write(const std::string& path, const std::string& text, const char* what,
                    std::string* error);
};
