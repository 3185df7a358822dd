// Files: appending one record with one write, opening a regular file for
// reading without blocking on a pipe or device, reading a small file whole
// within a limit, and replacing a file's contents atomically through a
// temporary beside it.
//
// Owns nothing beyond the streams it returns. Any thread may call; two
// threads writing the same path at once get one of the two contents.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/failure.h"

namespace kw {

// Appends `length` bytes to the file at `path` (created when missing) with
// one open, one write and one close. False when nothing could be written.
bool appendToFile(const char* path, const char* data, size_t length);

// Makes sure `path` names a regular file that can be written, without
// following a symbolic link and without blocking on a named pipe: created
// when missing, emptied when `truncate`, nothing held open afterwards. A
// link, pipe, device, folder or socket is refused untouched, with the reason
// ("logFile.txt: a symbolic link, not a regular file"), and so is a file with
// more than one name (a hard link: writing it would change the other name's
// contents too).
Failure prepareLogFile(const char* path, bool truncate);

// Appends one record (`length` bytes, one write) to the regular file at
// `path` with one open, write and close, under the same rules as
// prepareLogFile. When `limitBytes` is not 0 and the record would take a
// file that already holds something past that size, the file is first
// renamed to "<path>.1" (replacing an older one) and the record starts a
// fresh file: a record is never split across the two, and a file passes the
// limit only when one record alone is larger. Not safe against another
// process rotating the same file at the same moment; within the process the
// caller serialises calls for one path.
Failure appendRecord(const char* path, const char* data, size_t length,
                     unsigned long long limitBytes);

// Opens a regular file for reading as text; null when it cannot be opened or
// is not a regular file (a named pipe or a device could block or never end).
FILE* openRegularFile(const char* path);

// What readBoundedFile made of a file.
struct BoundedRead {
  enum class Refusal {
    kNone,        // read whole
    kCannotOpen,  // missing, no permission, or a read failed
    kNotRegular,  // a named pipe, device, folder or socket
    kTooLarge,    // more than the limit
  };
  Refusal refusal = Refusal::kNone;
  std::string reason;           // why, without the path ("a device, not a regular file")
  unsigned long long size = 0;  // bytes the system said the file holds (0 when not known)
  bool ok() const { return refusal == Refusal::kNone; }
};

// Reads the whole regular file at `path` (a symbolic link is followed) into
// *contents when it holds at most `limitBytes`. Opened without blocking, so a
// named pipe without a writer is refused at once rather than waited for; a
// file whose size is above the limit is refused before a byte is read, and
// one that grows past it while being read (or a file of the kernel's that
// gives no size) once limitBytes + 1 bytes have come. *contents never holds
// more than limitBytes + 1 bytes, and is empty after a refusal.
BoundedRead readBoundedFile(const char* path, size_t limitBytes, std::string* contents);

// Replaces the contents of the file at `path` with `contents` so that a
// reader sees the old contents or the new, never a part:
//  - a symbolic link is followed to the file it names, which is written
//    (the link stays a link);
//  - the new contents go to an exclusive temporary created beside that file
//    with an unpredictable name (never one a planted link could take over),
//    which gets the file's mode (or, for a new file, 0666 less the umask),
//    is flushed to disk and renamed over the file; the folder is then
//    flushed too;
//  - on any failure the temporary is removed and the file is left as it
//    was. The Failure says which step failed and why;
//  - temporaries of the same file left by a writer that was killed (named
//    "." + name + "." + six letters or digits, no longer locked by a live
//    writer) are removed first.
Failure writeFileAtomically(const std::string& path, std::string_view contents);

}  // namespace kw
