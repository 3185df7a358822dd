#include "DocumentFile.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "JDocument.h"
#include "JGraph.h"

namespace flowhost {

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::ordered_json;


void fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool readable(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

std::string describe(long long id, const std::string& className) {
  return "block " + std::to_string(id) + " (" + className + ")";
}

}  // namespace

DocumentFile::DocumentFile() = default;
DocumentFile::~DocumentFile() = default;

bool DocumentFile::load(const std::string& path, std::string* error) {
  graph_.reset();
  files_.clear();
  std::string text;
  if (!JDocument::readText(path, &text, error)) return false;
  std::error_code ec;

  // Resolve relative file names against the document's folder. A text that
  // is not a well-formed document is left for JDocument to explain.
  Json root = Json::parse(text, nullptr, false);
  if (!root.is_discarded() && root.is_object() && root.contains("blocks") &&
      root["blocks"].is_array()) {
    const fs::path folder = fs::absolute(path, ec).parent_path();
    Json& blocks = root["blocks"];
    for (size_t b = 0; b < blocks.size(); ++b) {
      Json& block = blocks[b];
      if (!block.is_object() || !block.contains("entries") || !block["entries"].is_object()) continue;
      const long long id = block.contains("id") && block["id"].is_number_integer()
                               ? block["id"].get<long long>()
                               : static_cast<long long>(b + 1);
      const std::string className =
          block.contains("class") && block["class"].is_string() ? block["class"].get<std::string>() : "";
      for (auto& [key, value] : block["entries"].items()) {
        if (!endsWith(key, kFileNameSuffix) || !value.is_string()) continue;
        const std::string original = value.get<std::string>();
        if (original.empty()) continue;
        fs::path resolved(original);
        if (resolved.is_relative()) resolved = (folder / resolved).lexically_normal();
        files_.push_back(NamedFile{b, id, className, key, original, resolved.string()});
        value = resolved.string();
      }
    }
    text = root.dump(2);
  }

  std::string reason;
  graph_ = JDocument::fromText(text, &reason);
  if (graph_ == nullptr) {
    files_.clear();
    fail(error, "document '" + path + "': " + reason);
    return false;
  }
  return true;
}

std::vector<std::string> DocumentFile::unreadableListFiles() const {
  std::vector<std::string> messages;
  for (const NamedFile& file : files_) {
    if (readable(file.resolved)) continue;
    std::string where = "'" + file.original + "'";
    if (file.resolved != file.original) where += " (" + file.resolved + ")";
    messages.push_back(describe(file.id, file.className) + ": \"" + file.key + "\" names " + where +
                       ", which cannot be read");
  }
  return messages;
}

bool DocumentFile::checkListFiles(std::string* error) const {
  const std::vector<std::string> messages = unreadableListFiles();
  if (messages.empty()) return true;
  fail(error, messages.front());
  return false;
}

bool DocumentFile::currentText(std::string* text, std::string* error) const {
  if (graph_ == nullptr) {
    fail(error, "no document loaded");
    return false;
  }
  Json root = Json::parse(JDocument::toText(*graph_), nullptr, false);
  if (root.is_discarded() || !root.contains("blocks") || !root["blocks"].is_array()) {
    fail(error, "the graph could not be written as a document");
    return false;
  }
  Json& blocks = root["blocks"];
  for (const NamedFile& file : files_) {
    if (file.block >= blocks.size()) continue;
    Json& entries = blocks[file.block]["entries"];
    // An entry the block does not store (it never read it) is simply gone,
    // as with any entry a block does not know.
    if (!entries.is_object() || !entries.contains(file.key)) continue;
    Json& value = entries[file.key];
    if (!value.is_string()) continue;
    const std::string now = value.get<std::string>();
    if (now.empty()) {
      fail(error, describe(file.id, file.className) + " dropped its \"" + file.key + "\" ('" +
                      file.original + "')");
      return false;
    }
    if (now == file.resolved) value = file.original;
  }
  *text = root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  return true;
}

bool DocumentFile::writeFile(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    if (out) out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      fail(error, "cannot write '" + path + "'");
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    fail(error, "cannot write '" + path + "': " + ec.message());
    return false;
  }
  return true;
}

}  // namespace flowhost
