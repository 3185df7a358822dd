#include "JFeedStatus.h"

#include "JModuleObj.h"

// Defined here, so that the interface's type information lives in the host
// library once, for every plug-in that implements it.
JFeedStatus::~JFeedStatus() = default;

const JFeedStatus* JFeedStatus::of(const JModuleObj* block) {
  return dynamic_cast<const JFeedStatus*>(block);
}
