// List files are whatever a user or a tool left in a folder: each input is
// written to a file and read both as a node list and as a port list. What
// the handler list keeps is checked against a count made here, on the bytes
// themselves, by a reading of its own: the pieces of at most 255 characters
// (a line feed ends one early; a NUL ends the text of its piece), the
// tokens, the comment rule, the leading-number rule and the range of node
// numbers; the number table must give the first node listed under each
// number and nothing else.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"

namespace {

// The text of each piece a line-by-line read of 255 characters gives.
std::vector<std::string> pieces(const uint8_t* data, size_t size) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < 255) {
      if (data[end++] == '\n') break;
    }
    const std::string piece(reinterpret_cast<const char*>(data + at), end - at);
    out.push_back(piece.substr(0, piece.find('\0')));  // the text stops at a NUL
    at = end;
  }
  return out;
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
  std::vector<Node> nodes;
  std::vector<Port> ports;
  for (const std::string& piece : pieces(data, size)) {
    const std::vector<std::string> w = words(piece, 3);
    if (w.empty() || w[0][0] == '#') continue;
    const long long number = leading(w[0]);
    if (number >= 0 && number <= 1000)
      nodes.push_back({static_cast<int>(number), w.size() > 1 ? w[1] : ""});
    if (w.size() == 3) {
      const long long p = leading(w[2]);
      const int port = p > 2147483647LL    ? 2147483647
                       : p < -2147483648LL ? -2147483647 - 1
                                           : static_cast<int>(p);
      ports.push_back({w[0], w[1], port});
    }
  }

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
