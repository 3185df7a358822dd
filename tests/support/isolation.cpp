#include "support/isolation.h"

#include <net/if.h>

#include <cstring>

namespace kw_test {

bool insideIsolatedNetwork() {
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return false;
  bool onlyLoopback = true;
  for (const struct if_nameindex* entry = names; entry->if_index != 0; ++entry) {
    if (std::strcmp(entry->if_name, "lo") != 0) onlyLoopback = false;
  }
  if_freenameindex(names);
  return onlyLoopback;
}

}  // namespace kw_test
