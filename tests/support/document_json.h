// Dataflow documents written by tests: a block with its stored entries (a
// box at a place of its own unless the entries say otherwise), a link, and
// the document around them.
// Owns nothing. Thread safety: any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kw_test {

using DocumentJson = nlohmann::ordered_json;

inline DocumentJson block(int id, const char* className, DocumentJson entries) {
  DocumentJson base = {{"x", 10.0 * id},
                       {"y", 20.0},
                       {"width", 80.0},
                       {"height", 60.0},
                       {"label", "block " + std::to_string(id)}};
  for (auto& [key, value] : entries.items()) base[key] = value;
  return DocumentJson{{"id", id}, {"class", className}, {"entries", base}};
}

inline DocumentJson link(int from, int output, int to, int input) {
  return DocumentJson{{"from", from}, {"output", output}, {"to", to}, {"input", input}};
}

inline DocumentJson document(DocumentJson blocks, DocumentJson links) {
  return DocumentJson{
      {"document", "jhost graph"}, {"version", 1}, {"blocks", blocks}, {"links", links}};
}

}  // namespace kw_test
