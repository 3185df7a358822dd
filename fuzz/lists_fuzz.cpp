// List files are whatever a user or a tool left in a folder: each input is
// written to a file and read both as a node list and as a port list. What
// the handler list keeps is checked against a count made here, on the bytes
// themselves, by a reading of its own: the pieces of at most 255 characters
// (a line feed ends one early; a NUL ends the text of its piece), the
// tokens, the comment rule, the leading-number rule and the range of node
// numbers; the number table must give the first node listed under each
// number and nothing else; a list of more than 1001 entries gives nothing.
// What the reader says is checked too: its notes stay bounded, each names a
// line of the file and prints safe for a terminal, a refused list says only
// why; and the lines this reading finds without a leading number, with a
// number out of range, with a number listed before or (ports) with too few
// words are exactly the lines noted for it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/list_file.h"

namespace {

struct Piece {
  std::string text;
  int line;  // 1-based line of the file
};

// The text of each piece a line-by-line read of 255 characters gives.
std::vector<Piece> pieces(const uint8_t* data, size_t size) {
  std::vector<Piece> out;
  size_t at = 0;
  int line = 1;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < 255) {
      if (data[end++] == '\n') break;
    }
    const std::string piece(reinterpret_cast<const char*>(data + at), end - at);
    out.push_back({piece.substr(0, piece.find('\0')), line});  // the text stops at a NUL
    if (piece.back() == '\n') ++line;
    at = end;
  }
  return out;
}

// Whether a word starts with a number by the leading-number rule.
bool hasLeadingNumber(const std::string& word) {
  size_t i = word[0] == '+' || word[0] == '-' ? 1 : 0;
  return i < word.size() && word[i] >= '0' && word[i] <= '9';
}

std::vector<std::string> words(const std::string& text, size_t most) {
  std::vector<std::string> out;
  const char* blank = " \t\n\r\v\f";
  size_t at = text.find_first_not_of(blank);
  while (at != std::string::npos && out.size() < most) {
    const size_t end = text.find_first_of(blank, at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? end : text.find_first_not_of(blank, end);
  }
  return out;
}

// Optional sign, decimal digits, the rest ignored; 0 without digits;
// saturated at the bounds of a 64-bit number.
long long leading(const std::string& word) {
  size_t i = 0;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
  long long value = 0;
  bool saturated = false;
  for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
    const int digit = word[i] - '0';
    if (value > (9223372036854775807LL - digit) / 10) saturated = true;
    if (!saturated) value = value * 10 + digit;
  }
  if (saturated) return negative ? -9223372036854775807LL - 1 : 9223372036854775807LL;
  return negative ? -value : value;
}

std::string listFile() {
  static std::string path = [] {
    char name[] = "/tmp/lists_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(name);
  }();
  return path;
}

void check(bool holds) {
  if (!holds) __builtin_trap();
}

using Noted = std::multiset<std::pair<int, kw::ListNote::Kind>>;  // line, kind

// The notes of `kinds` in a reading; and the checks every reading meets.
template <typename List>
Noted notesOf(const List& list, const std::set<kw::ListNote::Kind>& kinds, int lines) {
  check(list.notes.size() <= kw::kListMaxNotes);
  check(!list.refused || (list.entries.empty() && list.notes.size() == 1 &&
                          list.notes[0].refusesList() && list.notesLeftOut == 0));
  check(list.entries.size() <= kw::kListMaxEntries);
  Noted noted;
  for (const kw::ListNote& note : list.notes) {
    check(note.line >= 0 && note.line <= lines);
    for (const char c : kw::listNoteText("f.nod", note)) {
      check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    if (kinds.count(note.kind) != 0) noted.emplace(note.line, note.kind);
  }
  return noted;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string path = listFile();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  // The count made here.
  struct Node {
    int id;
    std::string name;
  };
  struct Port {
    std::string name, group;
    int port;
  };
  using Kind = kw::ListNote::Kind;
  std::vector<Node> nodes;
  std::vector<Port> ports;
  Noted nodeNotes, portNotes;  // what the reader must say, as this reading finds it
  std::set<int> listed;
  int lines = 0;
  for (const Piece& piece : pieces(data, size)) {
    lines = piece.line;
    const std::vector<std::string> w = words(piece.text, 3);
    if (w.empty() || w[0][0] == '#') continue;
    const long long number = leading(w[0]);
    if (number > 1000) nodeNotes.emplace(piece.line, Kind::kNodeAbove);
    if (number < 0) nodeNotes.emplace(piece.line, Kind::kNodeBelow);
    if (number >= 0 && number <= 1000) {
      nodes.push_back({static_cast<int>(number), w.size() > 1 ? w[1] : ""});
      if (!hasLeadingNumber(w[0])) nodeNotes.emplace(piece.line, Kind::kNodeNoNumber);
      if (!listed.insert(static_cast<int>(number)).second)
        nodeNotes.emplace(piece.line, Kind::kNodeRepeated);
    }
    if (w.size() < 3) portNotes.emplace(piece.line, Kind::kPortTooFewWords);
    if (w.size() == 3) {
      const long long p = leading(w[2]);
      const int port = p > 2147483647LL    ? 2147483647
                       : p < -2147483648LL ? -2147483647 - 1
                                           : static_cast<int>(p);
      ports.push_back({w[0], w[1], port});
    }
  }
  // A list of more than 1001 entries is not read at all.
  const bool tooManyNodes = nodes.size() > kw::kListMaxEntries;
  const bool tooManyPorts = ports.size() > kw::kListMaxEntries;
  if (tooManyNodes) nodes.clear();
  if (tooManyPorts) ports.clear();

  // What the reader says: the notes this reading expects, whenever the
  // reader kept them all.
  const kw::NodeList nodeList = kw::readNodeList(path.c_str());
  check(nodeList.refused == tooManyNodes);
  const Noted nodeNoted = notesOf(
      nodeList, {Kind::kNodeAbove, Kind::kNodeBelow, Kind::kNodeNoNumber, Kind::kNodeRepeated},
      lines);
  if (!nodeList.refused && nodeList.notesLeftOut == 0) check(nodeNoted == nodeNotes);
  const kw::PortList portList = kw::readPortList(path.c_str());
  check(portList.refused == tooManyPorts);
  const Noted portNoted = notesOf(portList, {Kind::kPortTooFewWords}, lines);
  if (!portList.refused && portList.notesLeftOut == 0) check(portNoted == portNotes);

  kw_qnv_handlerList list(250, 20);

  // Node list: count, order, names, the largest number and the number table.
  check(list.readNodeFile(path.c_str()) == !nodes.empty());
  check(list.nodeCount() == nodes.size());
  int largest = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    kw_qnv_nodeHandler* node = list.getNode(static_cast<unsigned>(i));
    check(node != nullptr && node->nodeId_ == nodes[i].id && nodes[i].name == node->name_);
    check(list.getNodeId(static_cast<unsigned>(i)) == nodes[i].id);
    if (nodes[i].id > largest) largest = nodes[i].id;
  }
  check(list.getNode(static_cast<unsigned>(nodes.size())) == nullptr);
  std::vector<kw_qnv_nodeHandler*> firstOf(1002, nullptr);
  for (size_t i = nodes.size(); i-- > 0;)
    firstOf[nodes[i].id] = list.getNode(static_cast<unsigned>(i));
  for (int id = 0; id <= 1001; ++id)
    check(list.getNodeById(static_cast<unsigned>(id)) == firstOf[id]);
  if (!nodes.empty()) check(list.maxNodeId_ == largest);

  // Port list: count, order, and each line's three fields.
  check(list.readPortFile(path.c_str()) == !ports.empty());
  check(list.portCount_ == ports.size());
  size_t i = 0;
  for (kw_qnv_portHandler* port = list.portHead_; port != nullptr; port = port->next_, ++i) {
    check(i < ports.size());
    check(ports[i].name == port->name_ && ports[i].group == port->ipAddress_ &&
          ports[i].port == port->port_ && !port->isRunning());
    check(list.portsByIndex_[i] == port);
  }
  check(i == ports.size());

  // Reading again replaces what was there.
  check(list.readNodeFile(path.c_str()) == !nodes.empty());
  check(list.nodeCount() == nodes.size());
  return 0;
}
