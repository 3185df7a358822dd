#include "tests/support/isolation.h"

#include "platform/platform.h"

namespace kw_test {

bool insideIsolatedNetwork() { return kw::onlyLoopbackNetwork(); }

}  // namespace kw_test
