// kw_reception_registry: the process's receptions (kw_multicast_reception),
// one per multicast group, UDP port and interface that some receiver of the
// process listens on. Receivers join the reception of their group, port and
// interface when they run and leave it when they stop; the first to join
// opens it, the last to leave ends it.
//
// The registry is one per loaded copy of the feed: the sniffer plug-in is
// one shared library, so all its blocks share it.
//
// Owns a share of every reception that has listeners. A reception whose
// last listener left is no longer here: a receiver joining after that opens
// a new one, while the last listener ends the old one.
//
// Thread safety: any thread; lock_ guards the map. Lock order: lock_ first,
// then a reception's lock (see kw_multicast_reception).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "feed/kw_multicast_recv.h"
#include "platform/semaphore_lock.h"

class kw_multicast_reception;

class kw_reception_registry {
 public:
  static kw_reception_registry& process();

  // Adds `receiver` to the reception of its group, port and interface,
  // opening it when there is none. Returns it, or null when it could not be
  // started; *setupFailure gets the reception's set-up failure ("" when
  // complete) either way.
  std::shared_ptr<kw_multicast_reception> join(kw_multicast_recv* receiver,
                                               const kw_multicast_recv::NodeFilter& nodes,
                                               std::string* setupFailure);
  // Removes `receiver` from `reception`. True when it was the last
  // listener: the reception is then out of the registry and its thread told
  // to end, and the caller ends it (kw_multicast_reception::finish).
  bool leave(kw_multicast_recv* receiver, const std::shared_ptr<kw_multicast_reception>& reception);
  // Receptions open now.
  int receptionCount();

 private:
  using Key = std::tuple<std::string, int, std::string>;  // group, port, interface

  kw::Semaphore lock_;
  std::map<Key, std::shared_ptr<kw_multicast_reception>> receptions_ KW_GUARDED_BY(lock_);
};
