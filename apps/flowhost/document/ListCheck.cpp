#include "apps/flowhost/document/ListCheck.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "apps/flowhost/document/DocumentFile.h"
#include "feed/list_file.h"

namespace flowhost {

namespace fs = std::filesystem;

namespace {

constexpr const char* kNodeFileKey = "node file name";
constexpr const char* kPortFileKey = "port file name";

// A note that the file itself could not be opened (missing, not a regular
// file, too large): a document's own message names the block as well.
bool aboutOpening(const kw::ListNote& note) {
  return note.kind == kw::ListNote::Kind::kCannotOpen ||
         note.kind == kw::ListNote::Kind::kNotRegular || note.kind == kw::ListNote::Kind::kTooLarge;
}

template <typename List>
void addLines(const ListCheck::ListFile& file, const List& list, bool openRefusals,
              ListCheck::Said* said) {
  for (const kw::ListNote& note : list.notes) {
    if (!openRefusals && aboutOpening(note)) continue;
    said->lines.push_back(kw::listNoteText(file.shown, note));
    ++said->notes;
  }
  if (list.notesLeftOut > 0) {
    kw::ListNote more;
    more.meaning = std::to_string(list.notesLeftOut) + " more notes not shown";
    said->lines.push_back(kw::listNoteText(file.shown, more));
    said->notes += list.notesLeftOut;
  }
}

}  // namespace

std::vector<ListCheck::ListFile> ListCheck::quickStartLists(const std::string& nodeFile,
                                                            const std::string& portFile) {
  return {ListFile{nodeFile, nodeFile, Format::kNodes},
          ListFile{portFile, portFile, Format::kPorts}};
}

std::vector<ListCheck::ListFile> ListCheck::documentLists(const DocumentFile& document) {
  std::vector<ListFile> lists;
  std::set<std::pair<std::string, Format>> seen;
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  for (const DocumentFile::ListName& name : document.listNames()) {
    const bool nodes = name.key == kNodeFileKey;
    if (!nodes && name.key != kPortFileKey) continue;
    const Format format = nodes ? Format::kNodes : Format::kPorts;
    if (!seen.emplace(name.resolved, format).second) continue;
    std::string shown = fs::path(name.resolved).lexically_proximate(here).string();
    if (ec || shown.empty() || shown.rfind("..", 0) == 0) shown = name.resolved;
    lists.push_back(ListFile{shown, name.resolved, format});
  }
  return lists;
}

ListCheck::Said ListCheck::say(const std::vector<ListFile>& lists, bool openRefusals) {
  Said said;
  for (const ListFile& file : lists) {
    if (file.format == Format::kNodes) {
      addLines(file, kw::readNodeList(file.path.c_str()), openRefusals, &said);
    } else {
      addLines(file, kw::readPortList(file.path.c_str()), openRefusals, &said);
    }
  }
  return said;
}

}  // namespace flowhost
