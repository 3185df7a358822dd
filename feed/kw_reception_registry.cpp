#include "feed/kw_reception_registry.h"

#include "feed/kw_multicast_reception.h"

namespace {

// Receivers share a reception when they name the same group text, the same
// port (its low 16 bits, all a socket uses) and the same interface text.
std::tuple<std::string, int, std::string> keyOf(const kw_multicast_recv& receiver) {
  return {receiver.ipAddress(), receiver.port() & 0xFFFF, receiver.interfaceName()};
}

}  // namespace

kw_reception_registry& kw_reception_registry::process() {
  static kw_reception_registry registry;
  return registry;
}

std::shared_ptr<kw_multicast_reception> kw_reception_registry::join(
    kw_multicast_recv* receiver, const kw_multicast_recv::NodeFilter& nodes,
    std::string* setupFailure) {
  kw::SemaphoreGuard guard(lock_);
  const Key key = keyOf(*receiver);
  const auto found = receptions_.find(key);
  if (found != receptions_.end()) {
    found->second->add(receiver, nodes);
    *setupFailure = found->second->setupFailure();
    return found->second;
  }
  auto reception = std::make_shared<kw_multicast_reception>(receiver->ipAddress(), receiver->port(),
                                                            receiver->interfaceName());
  const bool started = reception->start(receiver, nodes);
  *setupFailure = reception->setupFailure();
  if (!started) return nullptr;
  receptions_.emplace(key, reception);
  return reception;
}

bool kw_reception_registry::leave(kw_multicast_recv* receiver,
                                  const std::shared_ptr<kw_multicast_reception>& reception) {
  kw::SemaphoreGuard guard(lock_);
  if (!reception->remove(receiver)) return false;
  const auto found = receptions_.find(keyOf(*receiver));
  if (found != receptions_.end() && found->second == reception) receptions_.erase(found);
  return true;
}

int kw_reception_registry::receptionCount() {
  kw::SemaphoreGuard guard(lock_);
  return static_cast<int>(receptions_.size());
}
