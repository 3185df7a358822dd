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
// refused link, a file over 16 MiB) gives no graph and a reason.
// Thread safety: host's thread only.
#pragma once

#include <memory>
#include <string>

#include "JExport.h"

class JGraph;

class J_EXPORT JDocument {
 public:
  static std::string toText(const JGraph& graph);
  // A new graph, or null with a reason in `error`.
  static std::unique_ptr<JGraph> fromText(const std::string& text, std::string* error = nullptr);

  // Writes the document to `path` (through a temporary file that replaces
  // it, so a failed write leaves an existing document whole).
  static bool save(const JGraph& graph, const std::string& path, std::string* error = nullptr);
  static std::unique_ptr<JGraph> load(const std::string& path, std::string* error = nullptr);
  // The text of a document file of at most 16 MiB; false with a reason when
  // it is missing, not a regular file, too large or unreadable.
  static bool readText(const std::string& path, std::string* text, std::string* error = nullptr);
};
