#include "JDocument.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <vector>

#include "JClassRegistry.h"
#include "JDictionary.h"
#include "JFailure.h"
#include "JGraph.h"
#include "JLinkObj.h"
#include "JModuleObj.h"
#include "JOutputStream.h"
#include "platform/files.h"

namespace {

// Written documents keep the order of the entries a block wrote; read ones
// are parsed into sorted objects, whose insertion does not slow down with
// the number of keys (the entries' order is not needed to read them).
using Json = nlohmann::ordered_json;
using ReadJson = nlohmann::json;

constexpr const char* kDocumentName = "jhost graph";
constexpr int kVersion = 1;
constexpr std::uintmax_t kMaxFileSize = JDocument::kMaxBytes;

using jhost::fail;
using Kind = JRefusal::Kind;

// Fills *refusal (when asked for) and gives false.
bool refuse(JRefusal* refusal, Kind kind, const std::string& text) {
  if (refusal != nullptr) {
    refusal->kind = kind;
    refusal->text = text;
  }
  return false;
}

// The same, naming the block and its class.
bool refuseBlock(JRefusal* refusal, Kind kind, const std::string& text, long long id,
                 const std::string& className) {
  if (refusal != nullptr) {
    refusal->hasBlock = true;
    refusal->block = id;
    refusal->className = className;
  }
  return refuse(refusal, kind, text);
}

// A text from a document as a message shows it: on one line, with control
// bytes as \xNN, and long texts cut.
std::string shown(const std::string& text) {
  constexpr size_t kMost = 80;
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < text.size() && i < kMost; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kMost) out += "...";
  return out;
}

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing
// beyond U+10FFFF. Only such text is written as a JSON string.
bool isUtf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned c = s[i];
    size_t more = 0;
    unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + more >= n) return false;  // cut short at the end
    if (s[i + 1] < low || s[i + 1] > high) return false;
    for (size_t k = 2; k <= more; ++k) {
      if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
    }
    i += more + 1;
  }
  return true;
}

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 0x0F];
  }
  return out;
}

bool fromHex(const std::string& hex, std::string* bytes) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

Json entryToJson(const JEntry& entry) {
  switch (entry.kind) {
    case JEntry::Kind::Integer: return Json(entry.integer);
    case JEntry::Kind::Real:
      if (std::isfinite(entry.real)) return Json(entry.real);
      return Json{{"real", std::isnan(entry.real) ? "nan" : (entry.real > 0 ? "inf" : "-inf")}};
    case JEntry::Kind::Text: {
      const std::string text = static_cast<char*>(entry.text);
      if (isUtf8(text)) return Json(text);
      return Json{{"bytes", toHex(text)}};
    }
  }
  return Json();
}

bool entryFromJson(const std::string& key, const ReadJson& value, JEntry* entry) {
  entry->key = key;
  if (value.is_number_unsigned()) {
    if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(LLONG_MAX)) return false;
    entry->kind = JEntry::Kind::Integer;
    entry->integer = static_cast<long long>(value.get<std::uint64_t>());
    return true;
  }
  if (value.is_number_integer()) {
    entry->kind = JEntry::Kind::Integer;
    entry->integer = value.get<long long>();
    return true;
  }
  if (value.is_number_float()) {
    entry->kind = JEntry::Kind::Real;
    entry->real = value.get<double>();
    return true;
  }
  if (value.is_string()) {
    entry->kind = JEntry::Kind::Text;
    entry->text = JString(value.get<std::string>().c_str());
    return true;
  }
  if (value.is_object() && value.size() == 1 && value.contains("real") &&
      value["real"].is_string()) {
    const std::string word = value["real"].get<std::string>();
    entry->kind = JEntry::Kind::Real;
    if (word == "nan")
      entry->real = std::nan("");
    else if (word == "inf")
      entry->real = HUGE_VAL;
    else if (word == "-inf")
      entry->real = -HUGE_VAL;
    else
      return false;
    return true;
  }
  if (value.is_object() && value.size() == 1 && value.contains("bytes") &&
      value["bytes"].is_string()) {
    std::string bytes;
    if (!fromHex(value["bytes"].get<std::string>(), &bytes)) return false;
    entry->kind = JEntry::Kind::Text;
    entry->text = JString(bytes.c_str());
    return true;
  }
  return false;
}

// True when `value` is a text entry, plain or as bytes, with a NUL byte.
bool textWithNul(const ReadJson& value) {
  if (value.is_string()) return hasNul(value.get_ref<const std::string&>());
  if (value.is_object() && value.size() == 1 && value.contains("bytes") &&
      value["bytes"].is_string()) {
    std::string bytes;
    return fromHex(value["bytes"].get<std::string>(), &bytes) && hasNul(bytes);
  }
  return false;
}

// An integer field of `object` that fits in [low, high].
bool integerField(const ReadJson& object, const char* key, long long low, long long high,
                  long long* out) {
  if (!object.contains(key)) return false;
  const ReadJson& value = object[key];
  if (value.is_number_unsigned()) {
    const std::uint64_t v = value.get<std::uint64_t>();
    if (high < 0 || v > static_cast<std::uint64_t>(high)) return false;
    *out = static_cast<long long>(v);
    return *out >= low;
  }
  if (!value.is_number_integer()) return false;
  *out = value.get<long long>();
  return *out >= low && *out <= high;
}

// Reads a block's "entries" into `dictionary`, each seen by `onRead` first.
bool readEntries(const ReadJson& item, size_t index, long long id, const std::string& className,
                 const JDocument::EntryHook& onRead, JDictionary* dictionary, JRefusal* refusal) {
  if (!item.contains("entries")) return true;
  const std::string where = "block " + std::to_string(index);
  const ReadJson& entries = item["entries"];
  if (!entries.is_object()) {
    return refuseBlock(refusal, Kind::Malformed, where + ": \"entries\" must be an object", id,
                       className);
  }
  for (const auto& [key, value] : entries.items()) {
    std::string problem;
    if (hasNul(key)) {
      problem = "entry name '" + shown(key) + "' holds a NUL byte";
    } else if (textWithNul(value)) {
      problem = "entry '" + shown(key) + "' holds a text with a NUL byte";
    }
    JEntry entry;
    if (problem.empty() && !entryFromJson(key, value, &entry)) {
      problem = "entry '" + shown(key) + "' has a value that is not an integer, a real or a text";
    }
    if (!problem.empty()) {
      refuseBlock(refusal, Kind::BadEntry, where + ": " + problem, id, className);
      if (refusal != nullptr) refusal->property = key;
      return false;
    }
    if (onRead) onRead(JDocument::EntryPlace{index, id, className}, entry);
    dictionary->add(entry);
  }
  return true;
}

// Makes one block from its JSON form and adds it to `graph`.
JModuleObj* readBlock(const ReadJson& item, size_t index, JGraph& graph,
                      std::map<long long, JModuleObj*>& byId, const JDocument::EntryHook& onRead,
                      JRefusal* refusal) {
  const std::string where = "block " + std::to_string(index);
  long long id = 0;
  if (!item.is_object() || !integerField(item, "id", LLONG_MIN, LLONG_MAX, &id)) {
    refuse(refusal, Kind::Malformed, where + ": needs an object with an integer \"id\"");
    return nullptr;
  }
  if (byId.count(id) != 0) {
    refuse(refusal, Kind::Malformed, where + ": id " + std::to_string(id) + " is used twice");
    return nullptr;
  }
  if (!item.contains("class") || !item["class"].is_string()) {
    refuse(refusal, Kind::Malformed, where + ": needs a text \"class\"");
    return nullptr;
  }
  // The class name and the texts reach the blocks as C texts, which a NUL
  // byte would cut short.
  const std::string className = item["class"].get<std::string>();
  if (hasNul(item["class"].get_ref<const std::string&>())) {
    refuse(
        refusal, Kind::Malformed,
        where + ": class name '" + shown(item["class"].get<std::string>()) + "' holds a NUL byte");
    return nullptr;
  }
  if (!JClassRegistry::contains(item["class"].get_ref<const std::string&>())) {
    refuseBlock(refusal, Kind::UnknownClass,
                where + ": unknown module class '" + shown(className) + "'", id, className);
    return nullptr;
  }
  JDictionary dictionary;
  if (!readEntries(item, index, id, className, onRead, &dictionary, refusal)) return nullptr;
  std::string reason;
  JModuleObj* block = graph.create(className.c_str(), &reason);
  if (block == nullptr) {
    refuseBlock(refusal, Kind::UnknownClass, where + ": " + reason, id, className);
    return nullptr;
  }
  block->readContent(dictionary);
  byId[id] = block;
  return block;
}

// Reads one link's blocks and ports into `request`.
bool readLink(const ReadJson& item, size_t index, const std::map<long long, JModuleObj*>& byId,
              JGraph::LinkRequest* request, JRefusal* refusal) {
  const std::string where = "link " + std::to_string(index);
  long long from = 0, to = 0, output = 0, input = 0;
  if (!item.is_object() || !integerField(item, "from", LLONG_MIN, LLONG_MAX, &from) ||
      !integerField(item, "to", LLONG_MIN, LLONG_MAX, &to) ||
      !integerField(item, "output", INT_MIN, INT_MAX, &output) ||
      !integerField(item, "input", INT_MIN, INT_MAX, &input)) {
    refusal->link = static_cast<long long>(index);
    return refuse(refusal, Kind::Malformed,
                  where + ": needs integer \"from\", \"output\", \"to\" and \"input\"");
  }
  const auto source = byId.find(from);
  const auto target = byId.find(to);
  if (source == byId.end() || target == byId.end()) {
    refusal->link = static_cast<long long>(index);
    return refuse(refusal, Kind::Malformed, where + ": refers to a block id that does not exist");
  }
  *request = JGraph::LinkRequest{source->second, static_cast<int>(output), target->second,
                                 static_cast<int>(input)};
  return true;
}

// The document's outer shape: an object of the right version with a list of
// blocks and, when it has links, a list of them.
bool checkShape(const ReadJson& root, std::string* why) {
  if (!root.is_object()) {
    *why = "document is not a JSON object";
    return false;
  }
  long long version = 0;
  if (root.contains("version") &&
      (!integerField(root, "version", 0, LLONG_MAX, &version) || version != kVersion)) {
    *why = "document version is not " + std::to_string(kVersion);
    return false;
  }
  if (!root.contains("blocks") || !root["blocks"].is_array()) {
    *why = "document has no \"blocks\" list";
    return false;
  }
  if (root.contains("links") && !root["links"].is_array()) {
    *why = "document's \"links\" is not a list";
    return false;
  }
  return true;
}

// The refusal of request `refused` of `requests` by the graph: the link,
// and the block whose port is missing when one is.
void refuseLink(JRefusal* refusal, const std::vector<JGraph::LinkRequest>& requests, size_t refused,
                JGraph::MissingPort missing, const std::string& reason,
                const std::map<long long, JModuleObj*>& byId) {
  const bool one = refused < requests.size();
  refusal->link = one ? static_cast<long long>(refused) : -1;
  const std::string text =
      (one ? "link " + std::to_string(refused) : std::string("links")) + ": " + reason;
  if (!one || missing == JGraph::MissingPort::None) {
    refuse(refusal, Kind::LinkRefused, text);
    return;
  }
  const JGraph::LinkRequest& r = requests[refused];
  const bool output = missing == JGraph::MissingPort::Output;
  const JModuleObj* block = output ? r.source : r.target;
  for (const auto& [id, made] : byId) {
    if (made == block) refuseBlock(refusal, Kind::MissingOutput, text, id, block->className());
  }
  refuse(refusal, output ? Kind::MissingOutput : Kind::MissingInput, text);
  refusal->port = output ? r.output : r.input;
}

// "line 3, column 14" of the byte at 1-based position `byte` of `text`
// (where the JSON reader stopped).
std::string placeOf(const std::string& text, size_t byte) {
  const size_t end = std::min(byte == 0 ? 0 : byte - 1, text.size());
  size_t line = 1;
  size_t column = 1;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string JDocument::toText(const JGraph& graph, const EntryHook& onWrite) {
  Json root;
  root["document"] = kDocumentName;
  root["version"] = kVersion;
  Json blocks = Json::array();
  for (int i = 0; i < graph.blockCount(); ++i) {
    JModuleObj* block = graph.block(i);
    JOutputStream stream;
    block->writeContent(stream);
    const std::string className = block->className() != nullptr ? block->className() : "";
    Json entries = Json::object();
    for (JEntry entry : stream.entries()) {
      if (onWrite) onWrite(EntryPlace{static_cast<std::size_t>(i), i + 1, className}, entry);
      entries[entry.key] = entryToJson(entry);
    }
    Json item;
    item["id"] = i + 1;
    item["class"] = className;
    item["entries"] = std::move(entries);
    blocks.push_back(std::move(item));
  }
  std::unordered_map<const JModuleObj*, int> ids;
  for (int i = 0; i < graph.blockCount(); ++i) ids[graph.block(i)] = i + 1;
  Json links = Json::array();
  for (int i = 0; i < graph.linkCount(); ++i) {
    const JLinkObj* link = graph.linkAt(i);
    links.push_back(Json{{"from", ids[link->source()]},
                         {"output", link->output()},
                         {"to", ids[link->target()]},
                         {"input", link->input()}});
  }
  root["blocks"] = std::move(blocks);
  root["links"] = std::move(links);
  // Keys come from block code; should one not be UTF-8, it is written with
  // replacement characters rather than failing the whole document.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool JDocument::checkText(const std::string& text, std::string* error) {
  if (text.size() > kMaxBytes) {
    fail(error, "document is larger than " + std::to_string(kMaxBytes >> 20) + " MiB");
    return false;
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    fail(error, "document holds a NUL byte at offset " + std::to_string(nul));
    return false;
  }
  // Brackets count only outside strings; a backslash in a string escapes
  // the next byte.
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) {
        fail(error, "document nests arrays and objects deeper than " + std::to_string(kMaxDepth) +
                        " levels (at offset " + std::to_string(i) + ")");
        return false;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

std::unique_ptr<JGraph> JDocument::fromText(const std::string& text, std::string* error,
                                            const EntryHook& onRead) {
  JRefusal refusal;
  std::unique_ptr<JGraph> graph = fromText(text, &refusal, onRead);
  if (graph == nullptr) fail(error, refusal.text);
  return graph;
}

std::unique_ptr<JGraph> JDocument::fromText(const std::string& text, JRefusal* refusal,
                                            const EntryHook& onRead) {
  *refusal = JRefusal{};
  std::string why;
  if (!checkText(text, &why)) {
    refuse(refusal, Kind::Malformed, why);
    return nullptr;
  }
  ReadJson root;
  try {
    root = ReadJson::parse(text);
  } catch (const ReadJson::parse_error& e) {
    refuse(refusal, Kind::Malformed, "document is not valid JSON (" + placeOf(text, e.byte) + ")");
    return nullptr;
  } catch (const ReadJson::exception& e) {
    refuse(refusal, Kind::Malformed, std::string("document is not valid JSON: ") + e.what());
    return nullptr;
  }
  if (!checkShape(root, &why)) {
    refuse(refusal, Kind::Malformed, why);
    return nullptr;
  }
  auto graph = std::make_unique<JGraph>();
  std::map<long long, JModuleObj*> byId;
  const ReadJson& blocks = root["blocks"];
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (readBlock(blocks[i], i, *graph, byId, onRead, refusal) == nullptr) return nullptr;
  }
  if (!root.contains("links")) return graph;
  const ReadJson& links = root["links"];
  std::vector<JGraph::LinkRequest> requests(links.size());
  for (size_t i = 0; i < links.size(); ++i) {
    if (!readLink(links[i], i, byId, &requests[i], refusal)) return nullptr;
  }
  std::string reason;
  size_t refused = 0;
  JGraph::MissingPort missing = JGraph::MissingPort::None;
  if (!graph->linkAll(requests, &reason, &refused, &missing)) {
    refuseLink(refusal, requests, refused, missing, reason, byId);
    return nullptr;
  }
  return graph;
}

bool JDocument::save(const JGraph& graph, const std::string& path, std::string* error) {
  const kw::Failure failure = kw::writeFileAtomically(path, toText(graph));
  if (failure) {
    fail(error, "cannot write document '" + path + "': " + failure.text());
    return false;
  }
  return true;
}

bool JDocument::readText(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size > kMaxFileSize) {
    fail(error,
         "document '" + path + "' is larger than " + std::to_string(kMaxFileSize >> 20) + " MiB");
    return false;
  }
  // Missing, a folder, a pipe, unreadable: the system's reason.
  if (const kw::Failure failed = kw::readTextFile(path, kMaxFileSize, text)) {
    fail(error, "cannot read document " + failed.text());
    return false;
  }
  return true;
}

std::unique_ptr<JGraph> JDocument::load(const std::string& path, std::string* error) {
  std::string text;
  if (!readText(path, &text, error)) return nullptr;
  JRefusal refusal;
  std::unique_ptr<JGraph> graph = fromText(text, &refusal);
  if (graph == nullptr) fail(error, "document '" + path + "': " + refusal.text);
  return graph;
}
