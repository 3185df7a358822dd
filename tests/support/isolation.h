// Guard for tests that open sockets: they must run inside the isolated
// network namespace that scripts/isolated makes (only loopback, multicast
// routed onto it). Outside it they fail loudly instead of passing or sending
// anything onto a real network.
#pragma once

namespace kw_test {

// True when the process sees no network interface but loopback.
bool insideIsolatedNetwork();

}  // namespace kw_test

// Use at the top of a socket test or fixture SetUp.
#define KW_REQUIRE_ISOLATED_NETWORK()                                                        \
  ASSERT_TRUE(::kw_test::insideIsolatedNetwork())                                            \
      << "this test sends packets and must run under scripts/isolated (a network namespace " \
         "with only loopback); refusing to run on a real network"
