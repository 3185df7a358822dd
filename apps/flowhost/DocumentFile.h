// DocumentFile: a document as the runner reads and writes it, on top of
// JDocument. Two things are added:
//
// - List file names. A text entry whose key ends in " file name" (the
//   sniffer's "node file name" and "port file name") names a file. When such
//   a name is relative it is taken relative to the document's folder: the
//   block is restored with the resolved path, and a saved document gets the
//   name back as it was written. Both rewrites go through JDocument's entry
//   hooks, so the document's format has one reader and writer. unreadableListFiles() tells, before
//   anything starts, which such files cannot be read: the sniffer then starts
//   without that list and drops the name, and currentText() refuses to give a
//   document that would lose it.
// - Safe saving. The text is written to a temporary file beside the target,
//   which then replaces it, so a failed write leaves the old document whole.
//
// Owns the graph it loaded until takeGraph(). Thread safety: host's thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

class JGraph;

namespace flowhost {

class DocumentFile {
 public:
  static constexpr const char* kFileNameSuffix = " file name";

  DocumentFile();
  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  // Reads the document at `path` and builds its graph (blocks made,
  // restored and linked, not started). False with a reason naming the
  // document: missing, unreadable, over 16 MiB, malformed, an unknown
  // class, a refused link.
  bool load(const std::string& path, std::string* error);
  JGraph* graph() const { return graph_.get(); }

  // True when every non-empty file-name entry names a readable file; else
  // false with a reason naming the block, the entry and the file.
  bool checkListFiles(std::string* error) const;
  // One message for every list file named by the document that cannot be
  // read (empty when all can).
  std::vector<std::string> unreadableListFiles() const;

  // The document text of the graph as it stands (what the blocks'
  // writeContent gives), with relative file names as first written. False
  // with a reason when a block has since dropped a file name it had.
  bool currentText(std::string* text, std::string* error) const;

  // Writes `text` to `path` through a temporary file; false with a reason.
  static bool writeFile(const std::string& path, const std::string& text, std::string* error);

 private:
  struct NamedFile {
    std::size_t block;     // position in the document's block list
    long long id;          // the block's id in the document
    std::string className;
    std::string key;
    std::string original;  // as written in the document
    std::string resolved;  // as handed to the block
  };

  std::unique_ptr<JGraph> graph_;
  std::vector<NamedFile> files_;
};

}  // namespace flowhost
