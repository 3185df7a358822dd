// Process and thread numbers (see process.h).
#include "process.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kw {

int processId() { return static_cast<int>(getpid()); }

int threadId() { return static_cast<int>(syscall(SYS_gettid)); }

}  // namespace kw
