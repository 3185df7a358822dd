#include "apps/flowhost/run/PluginSet.h"

#include <filesystem>
#include <system_error>

#include "host/JPluginLoader.h"
#include "platform/process.h"

// Where this build puts the default plug-ins, separated by '|' (set by the
// build); their file names are the default plug-ins' names.
#ifndef FLOWHOST_BUILD_PLUGINS
#define FLOWHOST_BUILD_PLUGINS ""
#endif
// The build tree this program was built in (set by the build).
#ifndef FLOWHOST_BUILD_TREE
#define FLOWHOST_BUILD_TREE ""
#endif
// The plug-in folder of an installation, relative to its program folder.
#ifndef FLOWHOST_INSTALLED_PLUGIN_DIR
#define FLOWHOST_INSTALLED_PLUGIN_DIR "../lib/gps_feed/plugins"
#endif

namespace flowhost {

namespace fs = std::filesystem;

namespace {

// The build's plug-in paths, separated by '|'.
std::vector<std::string> buildPaths() {
  std::vector<std::string> paths;
  std::string all = FLOWHOST_BUILD_PLUGINS;
  size_t start = 0;
  while (start <= all.size()) {
    const size_t bar = all.find('|', start);
    const std::string part =
        all.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (!part.empty()) paths.push_back(part);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return paths;
}

// This program's folder, or "" with the reason in `why`.
std::string programFolder(std::string* why) {
  std::string self;
  const kw::Failure failure = kw::executablePath(&self);
  if (failure) {
    *why = failure.text();
    return "";
  }
  return fs::path(self).parent_path().string();
}

bool isFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool isFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Whether `path` is `folder` or lies somewhere under it.
bool within(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

std::vector<std::string> PluginSet::defaultNames() {
  std::vector<std::string> names;
  for (const std::string& path : buildPaths()) names.push_back(fs::path(path).filename().string());
  return names;
}

bool PluginSet::installed(const std::string& programFolder) {
  if (isFolder(installedFolder(programFolder))) return true;
  const std::string tree = FLOWHOST_BUILD_TREE;
  if (tree.empty()) return true;
  std::error_code ec;
  const fs::path build = fs::weakly_canonical(tree, ec);
  return !within(fs::path(programFolder).lexically_normal(), ec ? fs::path(tree) : build);
}

std::string PluginSet::installedFolder(const std::string& programFolder) {
  return (fs::path(programFolder) / FLOWHOST_INSTALLED_PLUGIN_DIR).lexically_normal().string();
}

std::vector<std::string> PluginSet::candidates(const std::string& name,
                                               const std::vector<std::string>& dirs,
                                               const std::string& programFolder) {
  std::vector<std::string> places;
  for (const std::string& dir : dirs) places.push_back((fs::path(dir) / name).string());
  if (programFolder.empty()) return places;
  if (installed(programFolder)) {
    places.push_back((fs::path(installedFolder(programFolder)) / name).string());
    return places;
  }
  for (const std::string& path : buildPaths()) {
    if (fs::path(path).filename() == name) places.push_back(path);
  }
  return places;
}

std::vector<std::string> PluginSet::candidates(const std::string& name,
                                               const std::vector<std::string>& dirs) {
  std::string why;
  return candidates(name, dirs, programFolder(&why));
}

bool PluginSet::load(const std::string& path, std::string* error) {
  Loaded entry{path, {}};
  if (!JPluginLoader::load(path, &entry.classes, error)) return false;
  loaded_.push_back(std::move(entry));
  return true;
}

bool PluginSet::loadDefaults(const std::vector<std::string>& dirs, std::string* error) {
  std::string why;
  const std::string program = programFolder(&why);
  for (const std::string& name : defaultNames()) {
    // A plug-in of that name given on the command line takes its place.
    bool given = false;
    for (const Loaded& entry : loaded_) given = given || fs::path(entry.path).filename() == name;
    if (given) continue;
    const std::vector<std::string> places = candidates(name, dirs, program);
    bool found = false;
    for (const std::string& place : places) {
      if (!isFile(place)) continue;
      found = true;
      if (!load(place, error)) return false;
      break;
    }
    if (found) continue;
    std::string searched;
    for (const std::string& place : places) searched += (searched.empty() ? "" : ", ") + place;
    std::string note = name + " (looked in: " + (searched.empty() ? "nowhere" : searched) + ")";
    // Say why the usual place could not hold it.
    if (program.empty()) {
      note += "; the installed plug-in folder is unknown: " + why;
    } else if (installed(program) && !isFolder(installedFolder(program))) {
      note += "; the plug-in folder " + installedFolder(program) + " does not exist";
    }
    missing_.push_back(note);
  }
  return true;
}

}  // namespace flowhost
