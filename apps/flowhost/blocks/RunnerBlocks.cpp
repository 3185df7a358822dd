#include "apps/flowhost/blocks/RunnerBlocks.h"

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/blocks/JConstantObj.h"
#include "apps/flowhost/blocks/JDegreeTextObj.h"
#include "apps/flowhost/blocks/JDisplayObj.h"
#include "host/JClassRegistry.h"

namespace flowhost {

bool registerRunnerBlocks() {
  static const bool registered = [] {
    // A plug-in may already have taken one of the names; the registry then
    // refuses ours and the check below reports it.
    JModuleObj* prototypes[] = {new JClockObj(), new JConstantObj(), new JDegreeTextObj(),
                                new JDisplayObj()};
    for (JModuleObj* prototype : prototypes) {
      if (!JClassRegistry::contains(prototype->className())) {
        JClassRegistry::add(prototype);
      } else {
        delete prototype;
      }
    }
    return true;
  }();
  (void)registered;
  for (const std::string& name : runnerBlockNames()) {
    if (!JClassRegistry::contains(name)) return false;
  }
  return true;
}

std::vector<std::string> runnerBlockNames() {
  return {"JClockObj", "JConstantObj", "JDegreeTextObj", "JDisplayObj"};
}

}  // namespace flowhost
