#include "DocumentFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "JDocument.h"
#include "JFailure.h"
#include "JGraph.h"

namespace flowhost {

namespace fs = std::filesystem;

namespace {

using jhost::fail;

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

  // Relative file names are taken relative to the document's folder.
  std::error_code ec;
  const fs::path folder = fs::absolute(path, ec).parent_path();
  auto resolve = [this, &folder](const JDocument::EntryPlace& place, JEntry& entry) {
    if (entry.kind != JEntry::Kind::Text || !endsWith(entry.key, kFileNameSuffix)) return;
    const std::string original = static_cast<char*>(entry.text);
    if (original.empty()) return;
    fs::path resolved(original);
    if (resolved.is_relative()) resolved = (folder / resolved).lexically_normal();
    files_.push_back(
        NamedFile{place.block, place.id, place.className, entry.key, original, resolved.string()});
    entry.text = JString(resolved.string().c_str());
  };

  std::string reason;
  graph_ = JDocument::fromText(text, &reason, resolve);
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
  // A name still as it was resolved goes back as first written; a name the
  // block dropped makes the text unfit to save. An entry the block does not
  // store (it never read it) is simply gone, as with any entry a block does
  // not know.
  const NamedFile* dropped = nullptr;
  auto restore = [this, &dropped](const JDocument::EntryPlace& place, JEntry& entry) {
    if (entry.kind != JEntry::Kind::Text) return;
    for (const NamedFile& file : files_) {
      if (file.block != place.block || file.key != entry.key) continue;
      const std::string now = static_cast<char*>(entry.text);
      if (now.empty() && dropped == nullptr) dropped = &file;
      if (now == file.resolved) entry.text = JString(file.original.c_str());
    }
  };
  const std::string written = JDocument::toText(*graph_, restore);
  if (dropped != nullptr) {
    fail(error, describe(dropped->id, dropped->className) + " dropped its \"" + dropped->key +
                    "\" ('" + dropped->original + "')");
    return false;
  }
  *text = written;
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
