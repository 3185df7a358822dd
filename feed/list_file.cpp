// List files (see list_file.h).
#include "feed/list_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <tuple>

#include "platform/files.h"
#include "platform/multicast.h"
#include "platform/terminal_text.h"

namespace kw {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kQuotedMost = 80;  // bytes of a read text a note quotes

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The blank-separated words of a piece.
std::vector<std::string_view> wordsOf(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && isBlank(text[at])) ++at;
    const std::size_t start = at;
    while (at < text.size() && !isBlank(text[at])) ++at;
    if (at > start) words.push_back(text.substr(start, at - start));
  }
  return words;
}

// The piece from its first word to the end of its last.
std::string_view trimmed(std::string_view text) {
  std::size_t from = 0;
  while (from < text.size() && isBlank(text[from])) ++from;
  std::size_t to = text.size();
  while (to > from && isBlank(text[to - 1])) --to;
  return text.substr(from, to - from);
}

// The piece from its word `index` on ("Leader Bob" of "5 Team Leader Bob").
std::string_view fromWord(std::string_view text, const std::vector<std::string_view>& words,
                          std::size_t index) {
  const std::size_t start = static_cast<std::size_t>(words[index].data() - text.data());
  return trimmed(text.substr(start));
}

bool hasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      return true;  // a C1 control, U+0080 to U+009F
    }
  }
  return false;
}

// `text` between quotes for a note: control bytes written \xHH, at most
// kQuotedMost bytes of it (cut before a UTF-8 sequence, then "...").
std::string quoted(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  bool cut = false;
  if (text.size() > kQuotedMost) {
    std::size_t end = kQuotedMost;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text = text.substr(0, end);
    cut = true;
  }
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += cut ? "...\"" : "\"";
  return out;
}

// A word read by the leading-number rule, as strtol reads it: optional sign,
// decimal digits, the rest ignored; saturated at the bounds of long.
struct LeadingNumber {
  long value = 0;
  bool hasDigits = false;
  std::string_view written;  // sign and digits as written
  std::string_view tail;     // what follows them
};

LeadingNumber leadingNumber(std::string_view word) {
  const std::string text(word);
  char* end = nullptr;
  errno = 0;
  LeadingNumber number;
  number.value = std::strtol(text.c_str(), &end, 10);
  const std::size_t used = static_cast<std::size_t>(end - text.c_str());
  number.hasDigits = used > 0;
  number.written = word.substr(0, used);
  number.tail = word.substr(used);
  return number;
}

int withinInt(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// One piece of a line, as a read of at most 255 characters gives it.
struct Piece {
  std::string_view text;       // up to a NUL or the piece's end, line end included
  std::string_view raw;        // every byte of the piece
  int line = 0;                // 1-based line of the file
  std::size_t first = 1;       // 1-based character of the line the piece starts at
  std::size_t lineLength = 0;  // characters of the whole line, line end excluded
};

// Calls handle(piece) for every piece of `bytes`, in order, while it returns
// true.
template <typename Handle>
void forEachPiece(std::string_view bytes, Handle handle) {
  std::size_t at = 0;
  std::size_t lineStart = 0;
  std::size_t lineLength = 0;
  int line = 0;
  bool startOfLine = true;
  while (at < bytes.size()) {
    if (startOfLine) {
      ++line;
      lineStart = at;
      const std::size_t end = bytes.find('\n', at);
      lineLength = (end == std::string_view::npos ? bytes.size() : end) - at;
    }
    std::size_t end = at;
    while (end < bytes.size() && end - at < static_cast<std::size_t>(kListLinePiece)) {
      if (bytes[end++] == '\n') break;
    }
    Piece piece;
    piece.raw = bytes.substr(at, end - at);
    piece.text = piece.raw.substr(0, piece.raw.find('\0'));
    piece.line = line;
    piece.first = at - lineStart + 1;
    piece.lineLength = lineLength;
    startOfLine = piece.raw.back() == '\n';
    at = end;
    if (!handle(piece)) return;
  }
}

// "1002nd".
std::string ordinal(std::size_t n) {
  const std::size_t tens = n % 100;
  const std::size_t ones = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : ones == 1              ? "st"
                       : ones == 2              ? "nd"
                       : ones == 3              ? "rd"
                                                : "th";
  return std::to_string(n) + suffix;
}

// The words a list's notes use for it.
struct ListWords {
  const char* entry;    // "node"
  const char* empty;    // what a list without a single entry means
  const char* tooMany;  // why a list may hold no more than kListMaxEntries
};

constexpr ListWords kNodeWords{
    "node", "no node line (\"<number> [name]\", number 0 to 1000); the block starts without nodes",
    "the node numbers run from 0 to 1000"};
constexpr ListWords kPortWords{
    "port", "no port line (\"<name> <group> <port> [interface]\"); the block starts without ports",
    "as many as the units a node list can name"};

// What one list's reading collects: entries, bounded notes, the refusal.
template <typename Entry>
class Collector {
 public:
  explicit Collector(const ListWords& words) : words_(words) {}

  ListRead<Entry>& result() { return result_; }

  // Adds a note; kept while fewer than kListMaxNotes are, counted after.
  void note(ListNote::Kind kind, int line, std::string_view read, std::string meaning) {
    insertNote(result_.notes.size(), ListNote{kind, line, std::string(read), std::move(meaning)});
  }
  void insertNote(std::size_t at, ListNote note) {
    if (at >= kListMaxNotes) {
      ++result_.notesLeftOut;
      return;
    }
    result_.notes.insert(result_.notes.begin() + static_cast<std::ptrdiff_t>(at), std::move(note));
    if (result_.notes.size() > kListMaxNotes) {
      result_.notes.pop_back();
      ++result_.notesLeftOut;
    }
  }

  // Adds an entry; false, with the list refused, when it is one too many.
  bool add(Entry entry, std::string_view lineText) {
    if (result_.entries.size() == kListMaxEntries) {
      refuse(ListNote::Kind::kTooManyEntries, entry.line, lineText,
             "a " + ordinal(kListMaxEntries + 1) + " " + words_.entry + " line: a list may hold " +
                 std::to_string(kListMaxEntries) + " (" + words_.tooMany +
                 "), so the list is not read");
      return false;
    }
    result_.entries.push_back(std::move(entry));
    return true;
  }

  // Refuses the list: no entries, and the refusal is all that is said (what
  // was noted of its lines no longer matters).
  void refuse(ListNote::Kind kind, int line, std::string_view read, std::string meaning) {
    result_.entries.clear();
    result_.entries.shrink_to_fit();
    result_.notes.clear();
    result_.notesLeftOut = 0;
    result_.refused = true;
    note(kind, line, read, std::move(meaning));
  }

 private:
  ListRead<Entry> result_;
  const ListWords& words_;
};

// One piece's words, for the reader of one kind of list.
struct Line {
  std::vector<std::string_view> words;  // at least one; the first not a comment
  std::string_view text;                // from the first word to the end of the last
  std::string_view piece;               // the piece's text
  int number = 0;                       // 1-based line of the file
};

// The common part of reading a list's bytes: the byte-order mark, CR LF
// line ends, NUL bytes, lines longer than a piece, blank and comment lines;
// `take` reads the words of one other piece (adding entries and notes) and
// returns what became of it.
template <typename Entry, typename Take>
ListRead<Entry> scanList(std::string_view bytes, const ListWords& words, Take take) {
  Collector<Entry> collector(words);
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    collector.note(ListNote::Kind::kByteOrderMark, 1, kByteOrderMark,
                   "the file starts with a UTF-8 byte-order mark, which is read as part of the "
                   "first word");
  }
  std::size_t crLfLines = 0;
  std::size_t crLfNote = kListMaxNotes;  // where the CR LF note is kept, if it is
  forEachPiece(bytes, [&](const Piece& piece) {
    ListRead<Entry>& result = collector.result();
    if (piece.raw.size() >= 2 && piece.raw.substr(piece.raw.size() - 2) == "\r\n" &&
        crLfLines++ == 0) {
      crLfNote = result.notes.size();
      collector.note(ListNote::Kind::kCrLf, piece.line, "\r\n", "");
    }
    if (piece.text.size() != piece.raw.size()) {
      collector.note(ListNote::Kind::kNulByte, piece.line, piece.raw,
                     "a NUL byte at character " + std::to_string(piece.first + piece.text.size()) +
                         ": the rest of that piece, " +
                         quoted(piece.raw.substr(piece.text.size() + 1)) + ", is not read");
    }
    const std::size_t before = result.notes.size();
    Line line{wordsOf(piece.text), trimmed(piece.text), piece.text, piece.line};
    const std::string outcome = line.words.empty()        ? "no word"
                                : line.words[0][0] == '#' ? "a comment"
                                                          : take(collector, line);
    if (result.refused) return false;
    if (piece.first > 1 && !trimmed(piece.text).empty()) {
      const std::size_t last =
          piece.first + piece.raw.size() - 1 - (piece.raw.back() == '\n' ? 1 : 0);
      collector.insertNote(
          before, ListNote{ListNote::Kind::kLongLine, piece.line, std::string(piece.text),
                           "the line is " + std::to_string(piece.lineLength) +
                               " characters long and is read in pieces of " +
                               std::to_string(kListLinePiece) + ": characters " +
                               std::to_string(piece.first) + " to " + std::to_string(last) + ", " +
                               quoted(trimmed(piece.text)) +
                               ", are read as a line of their own: " + outcome});
    }
    return true;
  });
  ListRead<Entry>& result = collector.result();
  if (!result.refused && crLfLines > 0 && crLfNote < result.notes.size()) {
    result.notes[crLfNote].meaning = std::to_string(crLfLines) +
                                     (crLfLines == 1 ? " line ends" : " lines end") +
                                     " in CR LF (written on Windows); the CR is read as a blank";
  }
  if (!result.refused && result.entries.empty()) {
    collector.note(ListNote::Kind::kNoEntry, 0, "", words.empty);
  }
  return std::move(result);
}

// ---- node lines

class NodeLines {
 public:
  // Reads one line: "17 truck17".
  std::string take(Collector<NodeListEntry>& collector, const Line& read) {
    const std::vector<std::string_view>& words = read.words;
    const std::string_view text = read.text;
    const int line = read.number;
    const LeadingNumber number = leadingNumber(words[0]);
    if (number.value > kListMaxNodeNumber || number.value < 0) {
      const bool above = number.value > kListMaxNodeNumber;
      collector.note(above ? ListNote::Kind::kNodeAbove : ListNote::Kind::kNodeBelow, line, text,
                     quoted(text) + ": node " + std::string(number.written) + " is " +
                         (above ? "above " + std::to_string(kListMaxNodeNumber) : "below 0") +
                         "; the line is skipped");
      return "skipped (node " + std::string(number.written) + ")";
    }
    NodeListEntry entry;
    entry.number = static_cast<int>(number.value);
    entry.name = words.size() > 1 ? std::string(words[1]) : "";
    entry.line = line;
    const std::string result =
        "node " + std::to_string(entry.number) +
        (entry.name.empty() ? " with no name" : " named " + quoted(entry.name));
    if (!number.hasDigits) {
      collector.note(ListNote::Kind::kNodeNoNumber, line, text,
                     quoted(text) + " does not start with a number; read as " + result);
    } else if (!number.tail.empty()) {
      collector.note(ListNote::Kind::kNodeNumberTail, line, text,
                     quoted(text) + ": the number " + std::string(number.written) +
                         " is followed by " + quoted(number.tail) + ", which is ignored; read as " +
                         result);
    }
    if (words.size() > 2) {
      collector.note(ListNote::Kind::kNodeExtraWords, line, text,
                     quoted(text) + ": a name is one word; read as " + result + ", " +
                         quoted(fromWord(read.piece, words, 2)) + " is ignored");
    }
    if (hasControlCharacter(entry.name)) {
      collector.note(
          ListNote::Kind::kControlInName, line, entry.name,
          "the name " + quoted(entry.name) + " holds control characters; they are shown as blanks");
    }
    int& first = firstLine_[entry.number];
    if (first != 0) {
      collector.note(ListNote::Kind::kNodeRepeated, line, text,
                     quoted(text) + ": node " + std::to_string(entry.number) +
                         " is listed again (first on line " + std::to_string(first) +
                         "); a sniffer with both lines updates only the first");
    } else {
      first = line;
    }
    if (!collector.add(std::move(entry), text)) return "";
    return result;
  }

 private:
  int firstLine_[kListMaxNodeNumber + 1] = {};
};

// ---- port lines

class PortLines {
 public:
  // Reads one line: "feedA 239.1.2.3 5000 [eth1]".
  std::string take(Collector<PortListEntry>& collector, const Line& read) {
    const std::vector<std::string_view>& words = read.words;
    const std::string_view text = read.text;
    const int line = read.number;
    if (words.size() < 3) {
      collector.note(ListNote::Kind::kPortTooFewWords, line, text,
                     quoted(text) +
                         ": a port line needs a name, a group and a port; the line is "
                         "skipped");
      return "skipped (fewer than three words)";
    }
    PortListEntry entry;
    entry.name = std::string(words[0]);
    entry.group = std::string(words[1]);
    const LeadingNumber number = leadingNumber(words[2]);
    entry.port = withinInt(number.value);
    entry.interfaceName = words.size() > 3 ? std::string(words[3]) : "";
    entry.line = line;
    const int listened = listenedPort(entry.port);
    checkPort(collector, line, words[2], number, entry.port, listened);
    checkGroup(collector, line, entry.group);
    if (words.size() > 4) {
      collector.note(ListNote::Kind::kPortExtraWords, line, text,
                     quoted(text) + ": words after the interface, " +
                         quoted(fromWord(read.piece, words, 4)) + ", are ignored");
    }
    if (hasControlCharacter(entry.name)) {
      collector.note(
          ListNote::Kind::kControlInName, line, entry.name,
          "the name " + quoted(entry.name) + " holds control characters; they are shown as blanks");
    }
    const std::string where = entry.group + ":" + std::to_string(listened) +
                              (entry.interfaceName.empty() ? "" : " via " + entry.interfaceName);
    const auto place =
        places_.emplace(std::make_tuple(entry.group, listened, entry.interfaceName), line);
    if (!place.second) {
      collector.note(ListNote::Kind::kPortRepeated, line, text,
                     quoted(where) + " is listed again (first on line " +
                         std::to_string(place.first->second) +
                         "); both ports take in every packet sent there");
    }
    const auto named = names_.emplace(entry.name, line);
    if (!named.second) {
      collector.note(ListNote::Kind::kPortNameRepeated, line, text,
                     "the name " + quoted(entry.name) + " is used again (first on line " +
                         std::to_string(named.first->second) +
                         "); the two ports look alike in the table and the counters");
    }
    const std::string result = "port " + quoted(entry.name) + " on " + quoted(where);
    if (!collector.add(std::move(entry), text)) return "";
    return result;
  }

 private:
  static void checkPort(Collector<PortListEntry>& collector, int line, std::string_view word,
                        const LeadingNumber& number, int port, int listened) {
    const std::string picked = ", a port the system picks, where no feed arrives";
    if (!number.hasDigits) {
      collector.note(ListNote::Kind::kPortNoNumber, line, word,
                     "port " + quoted(word) +
                         " does not start with a number; read as 0, so the receiver would listen "
                         "on 0" +
                         picked);
      return;
    }
    if (!number.tail.empty()) {
      collector.note(ListNote::Kind::kPortNumberTail, line, word,
                     "port " + quoted(word) + ": the number " + std::string(number.written) +
                         " is followed by " + quoted(number.tail) + ", which is ignored");
    }
    if (number.value < 0 || number.value > 65535) {
      collector.note(ListNote::Kind::kPortOutOfRange, line, word,
                     "port " + std::string(number.written) + " is " +
                         (number.value < 0 ? "below 0" : "above 65535") +
                         "; the receiver would listen on " + std::to_string(listened) +
                         (listened == 0 ? picked : ""));
    } else if (port == 0) {
      collector.note(ListNote::Kind::kPortZero, line, word,
                     "port 0: the receiver would listen on 0" + picked);
    }
  }

  static void checkGroup(Collector<PortListEntry>& collector, int line, const std::string& group) {
    if (!isIpv4Address(group.c_str())) {
      collector.note(ListNote::Kind::kGroupNotAddress, line, group,
                     "group " + quoted(group) +
                         " is not an IPv4 address (four numbers 0 to 255, such as 239.255.42.1); "
                         "this port will not be set up");
    } else if (!isMulticastGroup(group.c_str())) {
      collector.note(ListNote::Kind::kGroupNotMulticast, line, group,
                     "group " + group +
                         " is not a multicast group (224.0.0.0 to 239.255.255.255); this port "
                         "will not be set up");
    }
  }

  std::map<std::tuple<std::string, int, std::string>, int> places_;  // group, port, interface
  std::map<std::string, int> names_;
};

template <typename Entry, typename Lines>
ListRead<Entry> parseList(std::string_view text, const ListWords& words) {
  Lines lines;
  return scanList<Entry>(text, words, [&lines](Collector<Entry>& collector, const Line& line) {
    return lines.take(collector, line);
  });
}

// The note that refuses a file that could not be read as a list.
ListNote openingRefusal(const char* path, const BoundedRead& read) {
  ListNote note;
  note.line = 0;
  note.read = path != nullptr ? path : "";
  switch (read.refusal) {
    case BoundedRead::Refusal::kNotRegular:
      note.kind = ListNote::Kind::kNotRegular;
      note.meaning = read.reason + "; only a regular file is read as a list";
      break;
    case BoundedRead::Refusal::kTooLarge:
      note.kind = ListNote::Kind::kTooLarge;
      note.meaning = (read.size > kListMaxBytes ? "holds " + std::to_string(read.size) + " bytes"
                                                : std::string("grew while it was read")) +
                     ", more than a list may hold (" + std::to_string(kListMaxBytes) +
                     " bytes); not read";
      break;
    default:
      note.kind = ListNote::Kind::kCannotOpen;
      note.meaning = read.reason;
      break;
  }
  return note;
}

// The file's bytes, or the note that refuses it.
template <typename Entry>
bool readBytes(const char* path, std::string* bytes, ListRead<Entry>* refused) {
  const BoundedRead read = readBoundedFile(path, kListMaxBytes, bytes);
  if (read.ok()) return true;
  refused->refused = true;
  refused->notes.push_back(openingRefusal(path, read));
  return false;
}

template <typename Entry, typename Lines>
ListRead<Entry> readList(const char* path, const ListWords& words) {
  std::string bytes;
  ListRead<Entry> refused;
  if (!readBytes(path, &bytes, &refused)) return refused;
  return parseList<Entry, Lines>(bytes, words);
}

}  // namespace

bool ListNote::refusesList() const {
  return kind == Kind::kCannotOpen || kind == Kind::kNotRegular || kind == Kind::kTooLarge ||
         kind == Kind::kTooManyEntries;
}

std::string whyNotAList(const char* path) {
  std::string bytes;
  const BoundedRead read = readBoundedFile(path, kListMaxBytes, &bytes);
  return read.ok() ? "" : openingRefusal(path, read).meaning;
}

int listenedPort(int port) { return static_cast<int>(static_cast<unsigned>(port) & 0xFFFFu); }

NodeList parseNodeList(std::string_view text) {
  return parseList<NodeListEntry, NodeLines>(text, kNodeWords);
}

PortList parsePortList(std::string_view text) {
  return parseList<PortListEntry, PortLines>(text, kPortWords);
}

NodeList readNodeList(const char* path) {
  return readList<NodeListEntry, NodeLines>(path, kNodeWords);
}

PortList readPortList(const char* path) {
  return readList<PortListEntry, PortLines>(path, kPortWords);
}

std::string listRefusalText(std::string_view list, std::string_view file, const ListNote& note) {
  std::string text = "cannot read the " + std::string(list) + " '";
  appendTerminalText(&text, file);
  text += "': ";
  appendTerminalText(&text, note.meaning);
  if (note.line > 0) text += " (line " + std::to_string(note.line) + ")";
  return text;
}

std::string listNoteText(std::string_view file, const ListNote& note) {
  std::string text;
  appendTerminalText(&text, file);
  if (note.line > 0) text += ":" + std::to_string(note.line);
  text += ": ";
  appendTerminalText(&text, note.meaning);
  return text;
}

}  // namespace kw
