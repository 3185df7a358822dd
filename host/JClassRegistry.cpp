#include "JClassRegistry.h"

#include <memory>

#include "JModuleObj.h"
#include "JProbeObj.h"
#include "JSourceObj.h"

namespace {

struct Registry {
  std::vector<JModuleObj*> prototypes;  // owned, never freed (see header)
  std::vector<std::string> refused;
};

Registry& registry();

bool addTo(Registry& r, JModuleObj* prototype) {
  if (prototype == nullptr) return false;
  const std::string name = prototype->className() != nullptr ? prototype->className() : "";
  bool taken = name.empty();
  for (const JModuleObj* p : r.prototypes) taken = taken || name == p->className();
  if (taken) {
    r.refused.push_back(name);
    delete prototype;
    return false;
  }
  r.prototypes.push_back(prototype);
  return true;
}

// Made on first use (a plug-in's static initialiser may be the first user)
// and deliberately never destroyed.
Registry& registry() {
  static Registry* instance = [] {
    auto* r = new Registry;
    addTo(*r, new JProbeObj());
    addTo(*r, new JSourceObj());
    return r;
  }();
  return *instance;
}

const JModuleObj* find(const std::string& className) {
  for (const JModuleObj* p : registry().prototypes) {
    if (className == p->className()) return p;
  }
  return nullptr;
}

}  // namespace

bool JClassRegistry::add(JModuleObj* prototype) { return addTo(registry(), prototype); }

JModuleObj* JClassRegistry::make(const std::string& className) {
  const JModuleObj* prototype = find(className);
  if (prototype == nullptr) return nullptr;
  JObject* copy = prototype->clone();
  auto* block = dynamic_cast<JModuleObj*>(copy);
  if (block == nullptr) delete copy;
  return block;
}

bool JClassRegistry::contains(const std::string& className) { return find(className) != nullptr; }

std::vector<std::string> JClassRegistry::classNames() {
  std::vector<std::string> names;
  for (const JModuleObj* p : registry().prototypes) names.emplace_back(p->className());
  return names;
}

std::vector<std::string> JClassRegistry::refusedNames() { return registry().refused; }
