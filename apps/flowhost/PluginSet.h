// PluginSet: loads the plug-ins a run needs, through JPluginLoader.
//
// Plug-ins named on the command line must load. The project's own two
// (defaultNames(), the file names the build gives them) are looked for, in order, in the folders given with
// --plugin-dir, in the library folder of an installation next to the
// program (<bin>/../lib), and where this build puts them; one that is found
// must load, one that is found nowhere is only noted: the document decides
// whether its classes are needed, and the runner then names the search.
//
// Owns the record of what it loaded. Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

namespace flowhost {

class PluginSet {
 public:
  struct Loaded {
    std::string path;
    std::vector<std::string> classes;
  };

  // Loads one plug-in file; false with a reason.
  bool load(const std::string& path, std::string* error);
  // Looks for the default plug-ins and loads those found; false with a
  // reason when one that was found cannot be loaded. A default whose file
  // name is that of a plug-in already loaded is skipped.
  bool loadDefaults(const std::vector<std::string>& dirs, std::string* error);

  // The file names of the default plug-ins, in loading order.
  static std::vector<std::string> defaultNames();
  // Where a default plug-in called `name` is looked for, in order.
  static std::vector<std::string> candidates(const std::string& name,
                                             const std::vector<std::string>& dirs);

  const std::vector<Loaded>& loaded() const { return loaded_; }
  // Default plug-ins found nowhere, with the places searched, one text each.
  const std::vector<std::string>& missing() const { return missing_; }

 private:
  std::vector<Loaded> loaded_;
  std::vector<std::string> missing_;
};

}  // namespace flowhost
