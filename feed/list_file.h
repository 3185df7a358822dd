// List files: the one reader of the sniffer's two list files, the node list
// (*.nod) and the port list (*.mcp), for the feed and for every tool that
// reads them. It gives the entries the feed builds its handlers from and,
// beside them, a note for every line that is not read the way a person would
// expect, so that a host can say what was read and what it means.
//
// The reading itself (kw_qnv_handlerList's rules, unchanged):
//  - a line is read in pieces of at most 255 characters, each piece handled
//    as a line of its own; a NUL ends the text of its piece;
//  - words are separated by blanks (space, tab, CR, LF, VT, FF); a line whose
//    first word starts with '#' is a comment; a line of blanks is skipped;
//  - node line "<number> [name]": the number by the leading-number rule
//    (optional sign, digits, the rest of the word ignored; no digits read as
//    0); a number above 1000 or below 0 skips the line; words after the name
//    are ignored;
//  - port line "<name> <group> <port> [interface]": fewer than three words
//    skip the line; the port number by the same rule, kept within int; the
//    receiver listens on its low 16 bits; words after the fourth are ignored.
//
// Bounds (what a sniffer can use; see README "List files"):
//  - a list file is read only when it is a regular file (a symbolic link to
//    one is followed), opened without blocking: a named pipe, device, folder
//    or socket is refused at once;
//  - at most kListMaxBytes (1 MiB); a larger file is refused from its size,
//    before it is read;
//  - at most kListMaxEntries (1001) entries: node numbers run from 0 to 1000,
//    so a longer node list can only repeat numbers, and a port list serves
//    at most that many units; a list with more is refused as a whole, at
//    its 1002nd entry;
//  - at most kListMaxNotes notes are kept; the rest are counted.
// Memory: the file's bytes (at most 1 MiB + 1) while it is read, the entries
// and the notes; nothing grows with the file beyond that.
//
// Owns nothing beyond the values it returns. Pure functions over the file's
// bytes; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kw {

inline constexpr std::size_t kListMaxBytes = 1u << 20;
inline constexpr std::size_t kListMaxEntries = 1001;
inline constexpr std::size_t kListMaxNotes = 100;
inline constexpr int kListLinePiece = 255;  // characters one line read takes
inline constexpr int kListMaxNodeNumber = 1000;

// One thing said about a list: what was read and what it means.
struct ListNote {
  enum class Kind : uint8_t {
    // The file as a whole (line 0, except kTooManyEntries, kByteOrderMark and
    // kCrLf, which name the line where they were seen).
    kCannotOpen,      // missing, no permission: not read
    kNotRegular,      // a named pipe, device, folder or socket: not read
    kTooLarge,        // more than kListMaxBytes: not read
    kTooManyEntries,  // more than kListMaxEntries: not read
    kNoEntry,         // not a single entry: the block starts without the list
    kByteOrderMark,   // starts with a UTF-8 byte-order mark (part of the first word)
    kCrLf,            // lines end in CR LF (the CR is read as a blank)
    // Any line.
    kNulByte,        // a NUL: the rest of that piece is not read
    kLongLine,       // over 255 characters: the rest is read as a line of its own
    kControlInName,  // a name holds control characters
    // Node lines.
    kNodeNoNumber,    // the first word does not start with a number: node 0
    kNodeNumberTail,  // characters after the number, ignored
    kNodeAbove,       // above 1000: line skipped
    kNodeBelow,       // below 0: line skipped
    kNodeExtraWords,  // words after the name, ignored
    kNodeRepeated,    // a number listed before: a sniffer updates only the first
    // Port lines.
    kPortTooFewWords,    // fewer than three words: line skipped
    kPortNoNumber,       // the port word does not start with a number: port 0
    kPortNumberTail,     // characters after the port number, ignored
    kPortOutOfRange,     // below 0 or above 65535: another port is listened on
    kPortZero,           // listens on a port the system picks
    kGroupNotAddress,    // the group is no IPv4 address: the port is not set up
    kGroupNotMulticast,  // an address outside 224.0.0.0/4: the port is not set up
    kPortExtraWords,     // words after the fourth, ignored
    kPortRepeated,       // group, port and interface listed before
    kPortNameRepeated,   // the name used before
  };

  Kind kind;
  int line = 0;         // 1-based line of the file; 0 for the file as a whole
  std::string read;     // what was read (the line's text, a word), as in the file
  std::string meaning;  // what it means, in words (quoting `read` where it helps)

  // True for the kinds that leave the list unread (the first four).
  bool refusesList() const;
};

struct NodeListEntry {
  int number = 0;
  std::string name;  // "" when the line names none
  int line = 0;      // 1-based line of the file
};

struct PortListEntry {
  std::string name;
  std::string group;          // as written; converted only when the port joins
  int port = 0;               // the leading number, kept within int
  std::string interfaceName;  // the fourth word, "" when none
  int line = 0;
};

// What a list gave: its entries in file order (none when it was refused),
// and the notes about it, at most kListMaxNotes of them in file order (a
// refused list has the one note that says why).
template <typename Entry>
struct ListRead {
  std::vector<Entry> entries;
  std::vector<ListNote> notes;
  std::size_t notesLeftOut = 0;  // further notes, counted only
  bool refused = false;          // not read at all (see ListNote::refusesList)
};

using NodeList = ListRead<NodeListEntry>;
using PortList = ListRead<PortListEntry>;

// Reads the list file at `path`.
NodeList readNodeList(const char* path);
PortList readPortList(const char* path);
// Reads a list's text (the bytes a file would hold; no file checks).
NodeList parseNodeList(std::string_view text);
PortList parsePortList(std::string_view text);

// Why the file at `path` would not be read as a list at all ("a device, not
// a regular file; ...", "No such file or directory"), in the words of the
// note that would refuse it; "" when it would be read.
std::string whyNotAList(const char* path);

// The port a receiver listens on for a port number read from a list: its
// low 16 bits.
int listenedPort(int port);

// "cannot read the node list 'units.nod': <meaning>" for the note that
// refused a list (`list`: "node list" or "port list"), safe for a terminal.
std::string listRefusalText(std::string_view list, std::string_view file, const ListNote& note);

// "units.nod:4: <meaning>" ("units.nod: <meaning>" for line 0), with `file`
// as given, safe for a terminal (control characters shown as blanks).
std::string listNoteText(std::string_view file, const ListNote& note);

}  // namespace kw
