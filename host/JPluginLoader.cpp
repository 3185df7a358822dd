#include "JPluginLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>

#include "JClassRegistry.h"
#include "JFailure.h"

namespace {

using jhost::fail;

// What loading one plug-in gave, replayed when it is loaded again.
struct Outcome {
  std::vector<std::string> classes;
  std::string error;  // empty on success
};

// Plug-ins opened so far, by canonical path. Never destroyed, like the
// libraries themselves.
std::map<std::string, Outcome>& loaded() {
  static auto* plugins = new std::map<std::string, Outcome>;
  return *plugins;
}

bool report(const Outcome& outcome, std::vector<std::string>* classes, std::string* error) {
  if (classes != nullptr) *classes = outcome.classes;
  if (!outcome.error.empty()) fail(error, outcome.error);
  return outcome.error.empty();
}

}  // namespace

bool JPluginLoader::load(const std::string& path, std::vector<std::string>* classes,
                         std::string* error) {
  if (classes != nullptr) classes->clear();
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::canonical(path, ec);
  if (ec) {
    fail(error, "cannot load plug-in '" + path + "': " + ec.message());
    return false;
  }
  if (!std::filesystem::is_regular_file(canonical, ec)) {
    fail(error, "cannot load plug-in '" + path +
                    "': " + (std::filesystem::is_directory(canonical, ec) ? "a folder, " : "") +
                    "not a regular file");
    return false;
  }
  const auto known = loaded().find(canonical.string());
  if (known != loaded().end()) return report(known->second, classes, error);

  // Registration happens inside dlopen (the plug-in's static initialiser),
  // so the classes of this plug-in are those added while it ran.
  const size_t namesBefore = JClassRegistry::classNames().size();
  const size_t refusedBefore = JClassRegistry::refusedNames().size();
  dlerror();
  void* handle = dlopen(canonical.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    fail(error, "cannot load plug-in '" + path + "': " + (reason != nullptr ? reason : "unknown"));
    return false;
  }
  const std::vector<std::string> names = JClassRegistry::classNames();
  const std::vector<std::string> refused = JClassRegistry::refusedNames();
  Outcome outcome;
  outcome.classes.assign(names.begin() + static_cast<long>(namesBefore), names.end());
  if (refused.size() > refusedBefore) {
    outcome.error = "plug-in '" + path + "' registers module class '" + refused[refusedBefore] +
                    "', which is already registered";
  } else if (outcome.classes.empty()) {
    outcome.error = "plug-in '" + path + "' registered no module class";
  }
  loaded()[canonical.string()] = outcome;
  return report(outcome, classes, error);
}
