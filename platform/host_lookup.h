// Looking a host name up the way a TCP client will (the system's resolver:
// /etc/hosts, DNS, ...), for a reason a person can act on when a library
// that connects by name only says it failed.
//
// Owns nothing. Any thread; the lookup may wait on the network, so never
// on a thread that must not block (the feed's, the runner's).
#pragma once

#include <string>

#include "platform/failure.h"

namespace kw {

// Success when `host` names at least one address; otherwise the resolver's
// reason ("look up 'nosuch.example': Name or service not known").
Failure lookUpHost(const std::string& host);

}  // namespace kw
