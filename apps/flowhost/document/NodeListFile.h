// NodeListFile: a node list (*.nod) read the way the sniffer reads it, for
// the runner's own use: counting the nodes a sniffer block will take,
// splitting a long list over several sniffers and naming nodes.
//
// A line is read in pieces of 255 characters; white space separates
// tokens; a line whose first token starts with '#' is a comment; the first
// token is the node number (leading-number rule: sign, digits, the rest
// ignored; no number reads as 0), a number above 1000 or below 0 skips the
// line; the
// second token, when there is one, is the node's name.
// A plain value type. Thread safety: any thread, on its own object.
#pragma once

#include <string>
#include <vector>

namespace flowhost {

class NodeListFile {
 public:
  struct Node {
    int number = 0;
    std::string name;  // "" when the line names none
  };

  static constexpr int kMaxNodeNumber = 1000;

  // Reads `path`; false with a reason when it cannot be opened.
  bool read(const std::string& path, std::string* error);
  // Reads node lines from a text (for tests and split lists).
  void parse(const std::string& text);

  const std::vector<Node>& nodes() const { return nodes_; }

  // The text of a node list holding nodes [first, first + count) of this
  // one, under a comment line saying where they came from.
  std::string partText(size_t first, size_t count, const std::string& comment) const;

 private:
  void takeLine(const std::string& line);
  std::vector<Node> nodes_;
};

}  // namespace flowhost
