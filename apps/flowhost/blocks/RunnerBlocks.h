// RunnerBlocks: the host-side block classes that the headless runner
// offers in addition to the host's own (JProbeObj, JSourceObj) and the
// plug-ins': JClockObj, JConstantObj, JDegreeTextObj and JDisplayObj.
// Documents name them by these class names like any other block.
//
// Thread safety: host's thread only (the class registry's rule).
#pragma once

#include <string>
#include <vector>

namespace flowhost {

// Adds the four classes to JClassRegistry. Calling it again does nothing.
// True when all four are known afterwards.
bool registerRunnerBlocks();

// The class names registerRunnerBlocks adds, in that order.
std::vector<std::string> runnerBlockNames();

}  // namespace flowhost
