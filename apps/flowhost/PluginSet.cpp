#include "PluginSet.h"

#include <filesystem>
#include <system_error>

#include "JPluginLoader.h"

// Where this build puts the default plug-ins, separated by '|' (set by the
// build); their file names are the default plug-ins' names.
#ifndef FLOWHOST_BUILD_PLUGINS
#define FLOWHOST_BUILD_PLUGINS ""
#endif
// The library folder of an installation, relative to its program folder.
#ifndef FLOWHOST_INSTALLED_PLUGIN_DIR
#define FLOWHOST_INSTALLED_PLUGIN_DIR "../lib"
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
    const std::string part = all.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (!part.empty()) paths.push_back(part);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return paths;
}

fs::path programFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

bool isFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

}  // namespace

std::vector<std::string> PluginSet::defaultNames() {
  std::vector<std::string> names;
  for (const std::string& path : buildPaths()) names.push_back(fs::path(path).filename().string());
  return names;
}

std::vector<std::string> PluginSet::candidates(const std::string& name,
                                               const std::vector<std::string>& dirs) {
  std::vector<std::string> places;
  for (const std::string& dir : dirs) places.push_back((fs::path(dir) / name).string());
  // An installed program takes the installed plug-ins, even when the build
  // it came from is still there.
  const fs::path program = programFolder();
  if (!program.empty()) {
    places.push_back((program / FLOWHOST_INSTALLED_PLUGIN_DIR / name).lexically_normal().string());
  }
  for (const std::string& path : buildPaths()) {
    if (fs::path(path).filename() == name) places.push_back(path);
  }
  return places;
}

bool PluginSet::load(const std::string& path, std::string* error) {
  Loaded entry{path, {}};
  if (!JPluginLoader::load(path, &entry.classes, error)) return false;
  loaded_.push_back(std::move(entry));
  return true;
}

bool PluginSet::loadDefaults(const std::vector<std::string>& dirs, std::string* error) {
  for (const std::string& name : defaultNames()) {
    // A plug-in of that name given on the command line takes its place.
    bool given = false;
    for (const Loaded& entry : loaded_) given = given || fs::path(entry.path).filename() == name;
    if (given) continue;
    const std::vector<std::string> places = candidates(name, dirs);
    bool found = false;
    for (const std::string& place : places) {
      if (!isFile(place)) continue;
      found = true;
      if (!load(place, error)) return false;
      break;
    }
    if (!found) {
      std::string searched;
      for (const std::string& place : places) searched += (searched.empty() ? "" : ", ") + place;
      missing_.push_back(name + " (looked in: " + searched + ")");
    }
  }
  return true;
}

}  // namespace flowhost
