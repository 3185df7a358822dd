#include "support/isolation.h"

#include "platform.h"

namespace kw_test {

bool insideIsolatedNetwork() { return kw::onlyLoopbackNetwork(); }

}  // namespace kw_test
