// Replaces a file's content so that a reader sees the old file or the new
// one, never a part: the text goes to an exclusive temporary beside the
// target, which is flushed to disk, renamed over the target, and the folder
// flushed too.
//
// Pure function; any thread (distinct targets).
#pragma once

#include <string>

namespace kw_out {

// False with the reason in *error when any step fails; the temporary is
// removed then and the target left as it was.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace kw_out
