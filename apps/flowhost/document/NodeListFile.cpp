#include "apps/flowhost/document/NodeListFile.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "platform/files.h"

namespace flowhost {

namespace {

constexpr size_t kPiece = 255;  // the sniffer reads lines in pieces this long
constexpr size_t kMaxListBytes = 16 << 20;

// The leading number of a token; 0 when it starts with none. Clamped so
// that a long run of digits cannot overflow.
long long leadingNumber(const std::string& token) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  long long value = 0;
  for (; i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); ++i) {
    if (value < 1'000'000'000) value = value * 10 + (token[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

bool NodeListFile::read(const std::string& path, std::string* error) {
  nodes_.clear();
  std::string text;
  if (const kw::Failure failed = kw::readTextFile(path, kMaxListBytes, &text)) {
    if (error != nullptr) *error = "cannot read the node list " + failed.text();
    return false;
  }
  parse(text);
  return true;
}

void NodeListFile::parse(const std::string& text) {
  nodes_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    for (size_t at = start; at < end; at += kPiece) {
      takeLine(text.substr(at, std::min(kPiece, end - at)));
    }
    start = end + 1;
  }
}

void NodeListFile::takeLine(const std::string& line) {
  std::istringstream in(line);
  std::string number, name;
  if (!(in >> number) || number[0] == '#') return;
  in >> name;
  const long long value = leadingNumber(number);
  // A negative number is skipped like one above the largest, as the feed does.
  if (value > kMaxNodeNumber || value < 0) return;
  nodes_.push_back(Node{static_cast<int>(value), name});
}

std::string NodeListFile::partText(size_t first, size_t count, const std::string& comment) const {
  std::string text = "# " + comment + "\n";
  for (size_t i = first; i < first + count && i < nodes_.size(); ++i) {
    text += std::to_string(nodes_[i].number);
    if (!nodes_[i].name.empty()) text += " " + nodes_[i].name;
    text += "\n";
  }
  return text;
}

}  // namespace flowhost
