// The running process (see process.h).
#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kw {

int processId() { return static_cast<int>(getpid()); }

int threadId() { return static_cast<int>(syscall(SYS_gettid)); }

Failure executablePath(std::string* path) {
  constexpr const char* kContext = "find this program's own file (/proc/self/exe)";
  // readlink does not say how long the target is: grow until it fits.
  for (size_t size = 256; size <= 65536; size *= 2) {
    std::vector<char> buffer(size);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return Failure::fromErrno(kContext, errno);
    if (static_cast<size_t>(length) < buffer.size()) {
      path->assign(buffer.data(), static_cast<size_t>(length));
      return {};
    }
  }
  return Failure::because(kContext, "the path is longer than 64 KiB");
}

Failure hostName(std::string* name) {
  // HOST_NAME_MAX is 64 on Linux; a name that fills the buffer may be cut.
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) {
    return Failure::fromErrno("read the host name", errno);
  }
  *name = buffer;
  return Failure();
}

}  // namespace kw
