// JDocument: stores a graph in a document file and reads it back.
//
// The document is a JSON text:
//   {
//     "document": "jhost graph", "version": 1,
//     "blocks": [ {"id": 1, "class": "JGeoGridObj",
//                  "entries": {"x": 0.0, ..., "pixel_width": 100}}, ... ],
//     "links":  [ {"from": 1, "output": 0, "to": 2, "input": 1}, ... ]
//   }
// "entries" holds what the block's writeContent wrote, in order: integers as
// JSON integers, reals as JSON numbers with a fraction or exponent (a real
// that is not finite as {"real": "nan" | "inf" | "-inf"}), texts as JSON
// strings (a text that is not valid UTF-8 as {"bytes": "<hex digits>"}).
// Block ids are numbered from 1 in the graph's order when written and may be
// any distinct integers when read. Blocks are made by class name from the
// class registry and restored with readContent, then the links are made with
// the graph's usual checks; the blocks are not started.
//
// Reading never crashes on a bad document: anything malformed (bad JSON, a
// missing or mistyped field, an unknown class, a duplicate or unknown id, a
// refused link, a text over 4 MiB, arrays and objects nested deeper than
// kMaxDepth, a NUL byte anywhere, links that make a cycle or a chain through
// more than JGraph::kMaxChainBlocks blocks) gives no graph and a one-line
// reason. Reading takes time and memory in proportion to the text, whatever
// its shape.
//
// A caller that keeps entries in a form of its own (a program that stores
// file names relative to the document, say) passes an entry hook: it sees,
// and may change, each entry as it passes between a block and the text, so
// that this file stays the only reader and writer of the format.
// Thread safety: host's thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "JEntry.h"
#include "JExport.h"
#include "JRefusal.h"

class JGraph;

class J_EXPORT JDocument {
 public:
  // The largest document text (thousands of blocks; reading one takes up
  // to about 40 bytes of memory per byte of text), and the deepest nesting
  // of JSON arrays and objects in it (a document itself needs five levels).
  static constexpr std::size_t kMaxBytes = 4u * 1024u * 1024u;
  static constexpr int kMaxDepth = 32;

  // Checks what must hold before any JSON reader sees a document text: at
  // most kMaxBytes, no NUL byte (a JSON reader would stop there and take
  // the text before it for the whole), nesting at most kMaxDepth. False
  // with a one-line reason. fromText calls it first; code that reads a
  // document's JSON itself should call it too.
  static bool checkText(const std::string& text, std::string* error = nullptr);

  // Where an entry sits: its block's position in the document's block list
  // (0 first, the graph's order), the block's id there and its class name.
  struct EntryPlace {
    std::size_t block;
    long long id;
    std::string className;
  };
  using EntryHook = std::function<void(const EntryPlace& place, JEntry& entry)>;

  // `onWrite` sees each entry a block wrote before it goes into the text.
  static std::string toText(const JGraph& graph, const EntryHook& onWrite = {});
  // A new graph, or null with a reason in `error`. `onRead` sees each entry
  // read from the text before its block is restored with it.
  static std::unique_ptr<JGraph> fromText(const std::string& text, std::string* error = nullptr,
                                          const EntryHook& onRead = {});
  // The same, with the refusal as a value: its kind and where it lies.
  static std::unique_ptr<JGraph> fromText(const std::string& text, JRefusal* refusal,
                                          const EntryHook& onRead = {});

  // Writes the document to `path` atomically (kw::writeFileAtomically: an
  // exclusive temporary beside the file replaces it; a symbolic link is
  // written through, the mode kept), so a failed write leaves an existing
  // document whole.
  static bool save(const JGraph& graph, const std::string& path, std::string* error = nullptr);
  static std::unique_ptr<JGraph> load(const std::string& path, std::string* error = nullptr);
  // The text of a document file of at most kMaxBytes; false with a reason when
  // it is missing, not a regular file, too large or unreadable.
  static bool readText(const std::string& path, std::string* text, std::string* error = nullptr);
};
