// Files (see files.h).
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <vector>

namespace kw {

bool appendToFile(const char* path, const char* data, size_t length) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  bool whole = true;
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      whole = false;
      break;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  ::close(fd);
  return whole;
}

namespace {

// "a named pipe, not a regular file".
std::string notRegularReason(mode_t mode) {
  const char* kind = S_ISLNK(mode)                    ? "a symbolic link, "
                     : S_ISFIFO(mode)                 ? "a named pipe, "
                     : S_ISCHR(mode) || S_ISBLK(mode) ? "a device, "
                     : S_ISDIR(mode)                  ? "a folder, "
                     : S_ISSOCK(mode)                 ? "a socket, "
                                                      : "";
  return std::string(kind) + "not a regular file";
}

// "logFile.txt: a named pipe, not a regular file".
Failure notRegular(const char* path, mode_t mode) {
  return Failure::because(path, notRegularReason(mode));
}

// Opens `path` for appending (created 0666 less the umask when missing)
// without following a last-component link and without waiting for a pipe's
// reader, and checks that it is a regular file. -1 and the reason otherwise;
// *size gets the file's size.
int openRegularForAppend(const char* path, off_t* size, Failure* failure) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    // A link (ELOOP under O_NOFOLLOW) or a pipe without a reader (ENXIO):
    // say what is there rather than the bare errno text.
    struct stat there {};
    if ((error == ELOOP || error == ENXIO) && lstat(path, &there) == 0 && !S_ISREG(there.st_mode)) {
      *failure = notRegular(path, there.st_mode);
    } else {
      *failure = Failure::fromErrno(path, error);
    }
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    *failure = Failure::fromErrno(path, errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    *failure = notRegular(path, info.st_mode);
    ::close(fd);
    return -1;
  }
  // Another name of the same file would be written through, as a symbolic
  // link would.
  if (info.st_nlink > 1) {
    *failure = Failure::because(path, "a hard link (one of " + std::to_string(info.st_nlink) +
                                          " names of a file), not a file of its own");
    ::close(fd);
    return -1;
  }
  *size = info.st_size;
  return fd;
}

}  // namespace

Failure prepareLogFile(const char* path, bool truncate) {
  if (path == nullptr || path[0] == '\0') return Failure::because("log file", "no file name");
  Failure failure;
  off_t size = 0;
  const int fd = openRegularForAppend(path, &size, &failure);
  if (fd < 0) return failure;
  if (truncate && size > 0 && ftruncate(fd, 0) != 0) failure = Failure::fromErrno(path, errno);
  ::close(fd);
  return failure;
}

Failure appendRecord(const char* path, const char* data, size_t length,
                     unsigned long long limitBytes) {
  if (path == nullptr || path[0] == '\0') return Failure::because("log file", "no file name");
  Failure failure;
  off_t size = 0;
  int fd = openRegularForAppend(path, &size, &failure);
  if (fd < 0) return failure;
  if (limitBytes != 0 && size > 0 && static_cast<unsigned long long>(size) + length > limitBytes) {
    ::close(fd);
    const std::string older = std::string(path) + ".1";
    if (rename(path, older.c_str()) != 0)
      return Failure::fromErrno("rename " + std::string(path), errno);
    fd = openRegularForAppend(path, &size, &failure);
    if (fd < 0) return failure;
  }
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      failure = Failure::fromErrno("write " + std::string(path), errno);
      break;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  ::close(fd);
  return failure;
}

FILE* openRegularFile(const char* path) {
  if (path == nullptr) return nullptr;
  // Opening without blocking: a named pipe with no writer would otherwise
  // hold the caller until one comes.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "r");
  if (file == nullptr) ::close(fd);
  return file;
}

BoundedRead readBoundedFile(const char* path, size_t limitBytes, std::string* contents) {
  contents->clear();
  BoundedRead result;
  auto refuse = [&](BoundedRead::Refusal refusal, std::string reason) {
    contents->clear();
    contents->shrink_to_fit();
    result.refusal = refusal;
    result.reason = std::move(reason);
    return result;
  };
  if (path == nullptr || path[0] == '\0')
    return refuse(BoundedRead::Refusal::kCannotOpen, "no file name");
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return refuse(BoundedRead::Refusal::kCannotOpen, errnoText(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return refuse(BoundedRead::Refusal::kCannotOpen, errnoText(error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return refuse(BoundedRead::Refusal::kNotRegular, notRegularReason(info.st_mode));
  }
  result.size = static_cast<unsigned long long>(info.st_size);
  const std::string limitText = "more than " + std::to_string(limitBytes) + " bytes";
  if (result.size > limitBytes) {
    ::close(fd);
    return refuse(BoundedRead::Refusal::kTooLarge,
                  std::to_string(result.size) + " bytes, " + limitText);
  }
  contents->resize(static_cast<size_t>(result.size) + 1);
  size_t got = 0;
  for (;;) {
    if (got == contents->size()) {
      if (got > limitBytes) break;
      contents->resize(std::min(limitBytes + 1, std::max<size_t>(2 * got, 4096)));
    }
    const ssize_t n = ::read(fd, contents->data() + got, contents->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return refuse(BoundedRead::Refusal::kCannotOpen, "read: " + errnoText(error));
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got > limitBytes) return refuse(BoundedRead::Refusal::kTooLarge, limitText);
  contents->resize(got);
  return result;
}

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file `path` finally names once every symbolic link on its last
// component is followed; the file itself need not exist.
Failure followLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info {};
    if (lstat(current.c_str(), &info) != 0) {
      if (errno == ENOENT) break;  // a new file (or a dangling link's target)
      return Failure::fromErrno("look at " + current, errno);
    }
    if (!S_ISLNK(info.st_mode)) break;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t length = readlink(current.c_str(), link.data(), PATH_MAX);
    if (length < 0) return Failure::fromErrno("read link " + current, errno);
    const std::string named(link.data(), static_cast<size_t>(length));
    current = !named.empty() && named[0] == '/' ? named : folderOf(current) + "/" + named;
    if (depth == 39) return Failure::fromErrno("follow " + path, ELOOP);
  }
  *target = current;
  return {};
}

// The process's umask, read without changing it (umask() would, for a
// moment, for every thread).
mode_t currentUmask() {
  FILE* status = std::fopen("/proc/self/status", "re");
  mode_t mask = 022;
  if (status == nullptr) return mask;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value);
      break;
    }
  }
  std::fclose(status);
  return mask;
}

Failure writeAll(int fd, std::string_view contents, const std::string& context) {
  const char* data = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    const ssize_t written = write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return Failure::fromErrno(context, errno);
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return {};
}

// A name mkostemp gives for `name`: "." + name + "." + six letters or digits.
bool isTemporaryName(const std::string& candidate, const std::string& name) {
  if (candidate.size() != name.size() + 8 || candidate[0] != '.') return false;
  if (candidate.compare(1, name.size(), name) != 0 || candidate[name.size() + 1] != '.')
    return false;
  for (size_t i = name.size() + 2; i < candidate.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(candidate[i]);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

// Removes the temporaries an atomic write of `name` in `folder` left behind
// when its process was killed: each is locked by its writer for as long as
// the writer lives, so one that can be locked has no writer any more. A
// temporary that is still empty and less than a second old may be one a
// writer has just made and not locked yet; it is left for a later write.
void removeAbandonedTemporaries(const std::string& folder, const std::string& name) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  const int folderFd = dirfd(listing);
  while (const dirent* entry = readdir(listing)) {
    const std::string candidate = entry->d_name;
    if (!isTemporaryName(candidate, name)) continue;
    const int fd =
        openat(folderFd, candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      const bool fresh = info.st_size == 0 && time(nullptr) - info.st_mtime < 2;
      // Still the same file under that name (not replaced meanwhile)?
      struct stat named {};
      if (!fresh && fstatat(folderFd, candidate.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          named.st_ino == info.st_ino && named.st_dev == info.st_dev) {
        unlinkat(folderFd, candidate.c_str(), 0);
      }
    }
    ::close(fd);
  }
  closedir(listing);
}

}  // namespace

Failure writeFileAtomically(const std::string& path, std::string_view contents) {
  if (path.empty()) return Failure::because("write", "no file name");
  std::string target;
  if (Failure failure = followLinks(path, &target)) return failure;

  mode_t mode = 0666 & ~currentUmask();
  struct stat info {};
  if (stat(target.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return Failure::because("write " + target, "not a regular file");
    mode = info.st_mode & 07777;
  } else if (errno != ENOENT) {
    return Failure::fromErrno("look at " + target, errno);
  }

  const std::string folder = folderOf(target);
  removeAbandonedTemporaries(folder, nameOf(target));
  std::string temporary = folder + "/." + nameOf(target) + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return Failure::fromErrno("temporary file in " + folder, errno);
  // Held until this process closes the file or dies: the mark of a live
  // writer that removeAbandonedTemporaries respects.
  flock(fd, LOCK_EX);

  Failure failure = writeAll(fd, contents, "write " + temporary);
  if (failure.ok() && fchmod(fd, mode) != 0)
    failure = Failure::fromErrno("mode of " + temporary, errno);
  if (failure.ok() && fsync(fd) != 0) failure = Failure::fromErrno("flush " + temporary, errno);
  if (::close(fd) != 0 && failure.ok()) failure = Failure::fromErrno("close " + temporary, errno);
  if (failure.ok() && rename(temporary.c_str(), target.c_str()) != 0) {
    failure = Failure::fromErrno("replace " + target, errno);
  }
  if (!failure.ok()) {
    unlink(temporary.c_str());
    return failure;
  }
  // The rename is durable once the folder is flushed.
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return Failure::fromErrno("open folder " + folder, errno);
  if (fsync(folderFd) != 0 && errno != EINVAL)
    failure = Failure::fromErrno("flush folder " + folder, errno);
  ::close(folderFd);
  return failure;
}

}  // namespace kw
