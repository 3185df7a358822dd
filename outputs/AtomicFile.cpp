#include "AtomicFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kw_out {

bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error) {
  const auto fail = [&](const std::string& what) {
    *error = what + " (" + path + "): " + std::strerror(errno);
    return false;
  };
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

  std::vector<char> temp(path.begin(), path.end());
  const char suffix[] = ".tmp-XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return fail("cannot make a temporary file");
  const auto failAndRemove = [&](const std::string& what) {
    const int saved = errno;
    ::close(fd);
    ::unlink(temp.data());
    errno = saved;
    return fail(what);
  };
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failAndRemove("cannot write the temporary file");
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd, 0644) != 0) return failAndRemove("cannot set the file's mode");
  if (::fsync(fd) != 0) return failAndRemove("cannot flush the temporary file");
  if (::close(fd) != 0) {
    const int saved = errno;
    ::unlink(temp.data());
    errno = saved;
    return fail("cannot close the temporary file");
  }
  if (::rename(temp.data(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.data());
    errno = saved;
    return fail("cannot rename the temporary file over the target");
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail("cannot open the folder to flush it");
  const int synced = ::fsync(dir);
  const int saved = errno;
  ::close(dir);
  errno = saved;
  if (synced != 0) return fail("cannot flush the folder");
  return true;
}

}  // namespace kw_out
