#include "apps/flowhost/document/DocumentFile.h"

#include <filesystem>
#include <system_error>

#include "feed/list_file.h"
#include "host/JDocument.h"
#include "host/JFailure.h"
#include "host/JGraph.h"
#include "platform/files.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

namespace fs = std::filesystem;

namespace {

using jhost::fail;

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Why the list file at `path` cannot be read as a list ("" when it can),
// as the sniffer's reading says it.
std::string whyUnreadable(const std::string& path) { return kw::whyNotAList(path.c_str()); }

// The longest name a block's file name field holds (it keeps a terminator).
constexpr std::size_t kLongestName = JQNV_packet_sniffer_layout::kFileNameSize - 1;

// The name to hand a block for the file at `resolved` (absolute): the path
// itself when it fits the block's field, else the same file relative to the
// current folder when that fits; empty when neither does.
std::string nameThatFits(const fs::path& resolved) {
  if (resolved.string().size() <= kLongestName) return resolved.string();
  std::error_code ec;
  const fs::path relative = resolved.lexically_relative(fs::current_path(ec));
  if (!ec && !relative.empty() && relative.string().size() <= kLongestName)
    return relative.string();
  return "";
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
  refusal_ = JRefusal{};
  refusedEntries_.clear();
  std::string text;
  if (!JDocument::readText(path, &text, error)) {
    refusal_.kind = JRefusal::Kind::Unreadable;
    if (error != nullptr) refusal_.text = *error;
    return false;
  }

  // Relative file names are taken relative to the document's folder.
  std::error_code ec;
  const fs::path folder = fs::absolute(path, ec).parent_path();
  folder_ = folder.lexically_normal().string();
  // Every entry as written, by block id, for the refused block's hints.
  std::map<long long, std::vector<JEntry>> written;
  auto resolve = [this, &folder, &written](const JDocument::EntryPlace& place, JEntry& entry) {
    written[place.id].push_back(entry);
    if (entry.kind != JEntry::Kind::Text || !endsWith(entry.key, kFileNameSuffix)) return;
    const std::string original = static_cast<char*>(entry.text);
    if (original.empty()) return;
    fs::path resolved(original);
    if (resolved.is_relative()) resolved = (folder / resolved).lexically_normal();
    std::string handed = nameThatFits(resolved);
    const bool fits = !handed.empty();
    // A name that fits nowhere goes to the block as it is; the block refuses
    // it and starts without that list, and unreadableListFiles() says why.
    if (!fits) handed = resolved.string();
    files_.push_back(NamedFile{place.block, place.id, place.className, entry.key, original,
                               resolved.string(), handed, fits});
    entry.text = JString(handed.c_str());
  };

  graph_ = JDocument::fromText(text, &refusal_, resolve);
  if (graph_ == nullptr) {
    files_.clear();
    if (refusal_.hasBlock) refusedEntries_ = std::move(written[refusal_.block]);
    fail(error, "document '" + path + "': " + refusal_.text);
    return false;
  }
  return true;
}

std::vector<std::string> DocumentFile::unreadableListFiles() const {
  std::vector<std::string> messages;
  for (const NamedFile& file : files_) {
    std::string where = "'" + file.original + "'";
    if (file.resolved != file.original) where += " (" + file.resolved + ")";
    const std::string names = describe(file.id, file.className) + ": \"" + file.key + "\" names ";
    if (!file.fits) {
      messages.push_back(names + where + ", whose path (" + std::to_string(file.resolved.size()) +
                         " characters) is too long for the block's file name field (at most " +
                         std::to_string(kLongestName) + "), even relative to the current folder");
    } else if (const std::string why = whyUnreadable(file.resolved); !why.empty()) {
      messages.push_back(names + "'" + file.original + "' (" + file.resolved + ": " + why +
                         "), which cannot be read");
    }
  }
  return messages;
}

bool DocumentFile::checkListFiles(std::string* error) const {
  const std::vector<std::string> messages = unreadableListFiles();
  if (messages.empty()) return true;
  fail(error, messages.front());
  return false;
}

std::vector<DocumentFile::ListName> DocumentFile::listNames() const {
  std::vector<ListName> names;
  for (const NamedFile& file : files_)
    names.push_back(ListName{file.key, file.original, file.resolved});
  return names;
}

std::string DocumentFile::nameFor(const std::string& documentPath, const std::string& file) {
  std::error_code ec;
  const fs::path folder = fs::absolute(documentPath, ec).parent_path();
  const fs::path name = fs::absolute(file, ec).lexically_normal().lexically_proximate(folder);
  if (!name.empty() && *name.begin() != "..") return name.string();
  return fs::absolute(file, ec).lexically_normal().string();
}

bool DocumentFile::currentText(std::string* text, std::string* error,
                               const std::string& savePath) const {
  if (graph_ == nullptr) {
    fail(error, "no document loaded");
    return false;
  }
  std::error_code ec;
  const bool moved =
      !savePath.empty() &&
      fs::absolute(savePath, ec).parent_path().lexically_normal().string() != folder_;
  // A name still as it was resolved goes back as first written (or, saved
  // elsewhere, as the new folder names the same file); a name the block
  // dropped makes the text unfit to save. An entry the block does not store
  // (it never read it) is simply gone, as with any entry a block does not
  // know.
  const NamedFile* dropped = nullptr;
  std::string unnamed;
  auto restore = [&](const JDocument::EntryPlace& place, JEntry& entry) {
    if (entry.kind != JEntry::Kind::Text) return;
    for (const NamedFile& file : files_) {
      if (file.block != place.block || file.key != entry.key) continue;
      const std::string now = static_cast<char*>(entry.text);
      if (now.empty() && dropped == nullptr) dropped = &file;
      if (now != file.handed) continue;
      std::string name = file.original;
      if (moved && fs::path(file.original).is_relative()) name = nameFor(savePath, file.resolved);
      if (name.size() > kLongestName && unnamed.empty()) {
        unnamed = describe(file.id, file.className) + ": \"" + file.key + "\" ('" + file.original +
                  "') would be named '" + name + "' from the new folder, longer than the block's " +
                  std::to_string(kLongestName) + " characters";
      }
      entry.text = JString(name.c_str());
    }
  };
  const std::string written = JDocument::toText(*graph_, restore);
  if (dropped != nullptr) {
    fail(error, describe(dropped->id, dropped->className) + " dropped its \"" + dropped->key +
                    "\" ('" + dropped->original + "')");
    return false;
  }
  if (!unnamed.empty()) {
    fail(error, unnamed);
    return false;
  }
  *text = written;
  return true;
}

bool DocumentFile::writeFile(const std::string& path, const std::string& text, std::string* error) {
  const kw::Failure failure = kw::writeFileAtomically(path, text);
  if (failure) {
    fail(error, "cannot write '" + path + "': " + failure.text());
    return false;
  }
  return true;
}

bool DocumentFile::save(const std::string& path, const std::string& text, std::string* error) {
  // What the next run would do with it: the host's own reader, every block
  // made and restored, every link checked, and every list file looked for
  // where that run will look.
  std::error_code ec;
  const fs::path folder = fs::absolute(path, ec).parent_path();
  std::string missing;
  auto look = [&](const JDocument::EntryPlace& place, JEntry& entry) {
    if (!missing.empty() || entry.kind != JEntry::Kind::Text ||
        !endsWith(entry.key, kFileNameSuffix)) {
      return;
    }
    const std::string name = static_cast<char*>(entry.text);
    if (name.empty()) return;
    fs::path resolved(name);
    if (resolved.is_relative()) resolved = (folder / resolved).lexically_normal();
    if (const std::string why = whyUnreadable(resolved.string()); !why.empty()) {
      missing = describe(place.id, place.className) + ": \"" + entry.key + "\" names '" + name +
                "' (" + resolved.string() + ": " + why + ")";
    }
  };
  std::string reason;
  if (JDocument::fromText(text, &reason, look) == nullptr) {
    fail(error, "it would not load again: " + reason);
    return false;
  }
  if (!missing.empty()) {
    fail(error, "it would not find its list files again: " + missing);
    return false;
  }
  return writeFile(path, text, error);
}

}  // namespace flowhost
