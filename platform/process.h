// The running process: its id, the calling thread's id (for trace lines),
// the file the program was started from (for finding what was installed
// beside it) and the machine's host name (what the process calls itself to
// others).
//
// Owns nothing; any thread may call.
#pragma once

#include <string>

#include "platform/failure.h"

namespace kw {

// This process's id.
int processId();
// The calling thread's kernel id.
int threadId();

// The absolute path of this process's program file, symbolic links
// resolved, in `path`; a Failure with the reason when the system will not
// say ("find this program's own file: No such file or directory").
Failure executablePath(std::string* path);

// The machine's host name in `name`; a Failure with the reason when the
// system will not say.
Failure hostName(std::string* name);

}  // namespace kw
