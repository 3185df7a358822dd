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
//   document that would lose it. A resolved name must fit a block's file
//   name field (JQNV_packet_sniffer_layout::kFileNameSize, with its
//   terminator): when the full path is too long the block is given the path
//   relative to the current folder instead, where that fits, and otherwise
//   unreadableListFiles() names the file (the block then starts without it).
//   A document saved into another folder gets its relative names rewritten
//   so that they name the same files from there (nameFor()).
// - Safe saving. save() first reads the text back with the host's reader
//   and refuses a document that would not load again (a link to an output
//   the block no longer has, say) or whose list files would not be found
//   from where it is saved; the text then goes through the platform's
//   atomic write (kw::writeFileAtomically: exclusive temporary beside the
//   real file, mode kept, a symbolic link written through, flushed), so a
//   failed or refused save leaves the old document whole.
//
// Owns the graph it loaded until takeGraph(). Thread safety: host's thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/JEntry.h"
#include "host/JRefusal.h"

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
  // Why the last load() failed, as a value (kind None after a good load or
  // a file that could not be read as a document at all: Unreadable).
  const JRefusal& refusal() const { return refusal_; }
  // The entries the document stores for the block the refusal names, as
  // written (file names not resolved); empty when it names none.
  const std::vector<JEntry>& refusedBlockEntries() const { return refusedEntries_; }

  // True when every non-empty file-name entry names a readable file; else
  // false with a reason naming the block, the entry, the file and why
  // ("No such file or directory", "a device, not a regular file").
  bool checkListFiles(std::string* error) const;
  // One message for every list file named by the document that cannot be
  // read (empty when all can).
  std::vector<std::string> unreadableListFiles() const;

  // A file-name entry of the document: its key, the name as written and the
  // full path it was resolved to.
  struct ListName {
    std::string key;
    std::string original;
    std::string resolved;
  };
  std::vector<ListName> listNames() const;

  // The document text of the graph as it stands (what the blocks'
  // writeContent gives), with relative file names as first written, or,
  // when `savePath` lies in another folder, as they name the same files
  // from there. False with a reason when a block has since dropped a file
  // name it had, or a name cannot be given from the new folder within a
  // block's file name field.
  bool currentText(std::string* text, std::string* error, const std::string& savePath = "") const;

  // How a document at `documentPath` names the file at `file`: relative to
  // the document's folder when the file lies in it or below, else the full
  // path.
  static std::string nameFor(const std::string& documentPath, const std::string& file);

  // Writes `text` to `path` atomically; false with a reason.
  static bool writeFile(const std::string& path, const std::string& text, std::string* error);
  // Saves a document text: false, with the reason, and nothing written when
  // the host's reader would refuse the text ("it would not load again:
  // link 41: output 25 does not exist on ..."), a list file it names would
  // not be found from `path` ("it would not find its list files again:
  // ..."), or the write fails.
  static bool save(const std::string& path, const std::string& text, std::string* error);

 private:
  struct NamedFile {
    std::size_t block;  // position in the document's block list
    long long id;       // the block's id in the document
    std::string className;
    std::string key;
    std::string original;  // as written in the document
    std::string resolved;  // the full path
    std::string handed;    // as handed to the block: `resolved`, or a shorter
                           // path to the same file when that one is too long
    bool fits;             // `handed` fits the block's file name field
  };

  std::unique_ptr<JGraph> graph_;
  std::vector<NamedFile> files_;
  JRefusal refusal_;
  std::vector<JEntry> refusedEntries_;
  std::string folder_;  // the document's folder, as a full path
};

}  // namespace flowhost
