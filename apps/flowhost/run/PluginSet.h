// PluginSet: loads the plug-ins a run needs, through JPluginLoader.
//
// Plug-ins named on the command line must load. The project's own two
// (defaultNames(), the file names the build gives them) are looked for first
// in the folders given with --plugin-dir, then in one place that depends on
// where the program is:
//  - an installed program (one outside the build tree it was built in, or
//    one with the installed plug-in folder beside it) looks in the
//    installation's plug-in folder, <program folder>/../lib/gps_feed/plugins,
//    and never in a build tree, even when the build is still there;
//  - a program of the build tree (flowhost itself, the tests) takes the
//    files this build made.
// One that is found must load; one that is found nowhere is only noted, with
// the places tried: the document decides whether its classes are needed, and
// the runner then shows the note.
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
  // Whether a program in `programFolder` is an installed one.
  static bool installed(const std::string& programFolder);
  // The plug-in folder of the installation a program in `programFolder`
  // belongs to.
  static std::string installedFolder(const std::string& programFolder);
  // Where a default plug-in called `name` is looked for by a program in
  // `programFolder`, in order; "" for a program whose folder is unknown
  // (then only `dirs`).
  static std::vector<std::string> candidates(const std::string& name,
                                             const std::vector<std::string>& dirs,
                                             const std::string& programFolder);
  // The same for this program.
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
