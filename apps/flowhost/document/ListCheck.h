// ListCheck: what the list files of a run are read as, one line for each
// note of the feed's own reader (kw::readNodeList, kw::readPortList: the
// reading the sniffer builds its nodes and ports from), such as
//   units.nod:4: "alpha 1" does not start with a number; read as node 0 named "1"
//   site.mcp:2: port 99999 is above 65535; the receiver would listen on 34463
// `flowhost --check` prints these lines and every run prints them once at
// its start, so what a person is told and what the sniffer does cannot
// differ.
//
// Owns nothing. Thread safety: any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace flowhost {

class DocumentFile;

class ListCheck {
 public:
  enum class Format { kNodes, kPorts };

  struct ListFile {
    std::string shown;  // the name the lines give
    std::string path;   // where the file is read
    Format format;
  };

  // The quick start's two lists, named as on the command line.
  static std::vector<ListFile> quickStartLists(const std::string& nodeFile,
                                               const std::string& portFile);
  // The node and port lists a loaded document's blocks name, each file once,
  // named relative to the current folder (or in full when outside it).
  static std::vector<ListFile> documentLists(const DocumentFile& document);

  struct Said {
    std::vector<std::string> lines;
    std::size_t notes = 0;  // the notes the lines stand for, those not shown included
  };

  // One line per note, list after list, each in file order, and a line
  // "units.nod: 12 more notes not shown" where the reader counted more than
  // it kept. With `openRefusals` false, the notes that a file could not be
  // opened at all are left out (a document names those per block).
  static Said say(const std::vector<ListFile>& lists, bool openRefusals);
};

}  // namespace flowhost
