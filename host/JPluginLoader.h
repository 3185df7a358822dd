// JPluginLoader: loads plug-in libraries. Opening a plug-in runs its static
// initialiser, which builds one block and calls Register(), so that the
// class becomes known to JClassRegistry; blocks of it are then made by class
// name (JGraph::create, JClassRegistry::make).
//
// Plug-ins are opened with all symbols bound at once and kept local to the
// plug-in, so two plug-ins' internal names never meet. A loaded plug-in is
// never unloaded: its classes' prototypes live as long as the process.
// Loading the same file again does not open it again and reports the
// classes of the first load.
// Thread safety: host's thread only.
#pragma once

#include <string>
#include <vector>

#include "JExport.h"

class J_EXPORT JPluginLoader {
 public:
  // Loads the plug-in at `path`. True when it registered at least one class
  // and none was refused; `classes` receives the class names it registered.
  // False with a reason in `error` when the file is missing, cannot be
  // loaded, registers no class, or registers a class name already taken.
  static bool load(const std::string& path, std::vector<std::string>* classes = nullptr,
                   std::string* error = nullptr);
};
