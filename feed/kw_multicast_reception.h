// kw_multicast_reception: the socket and the receive thread of one
// multicast group, UDP port and interface, shared by every receiver of the
// process that listens there (its listeners, kw_multicast_recv). The thread
// receives each datagram once and hands it on:
//  - to a listener alone: every datagram, through its admission test, as a
//    socket of its own would give it;
//  - among several listeners: a datagram that every listener's admission
//    test refuses is junk, counted once; any other goes to each listener
//    whose node filter tracks the packet's node number (its leading field),
//    and one that no listener tracks is counted once as for an unknown node.
//    What is counted once is counted on the first listener (the one that has
//    listened longest), so that the counts of all listeners of a port,
//    summed, count each datagram once.
//
// Owned through shared pointers: by kw_reception_registry while it has
// listeners, by each listener while it listens, and by the last listener
// from its leaving to the end of the thread (finish).
//
// Threads:
//  - constant after start(): the texts of group, port and interface, the
//    socket, the wake-up event and the set-up failure;
//  - the receive thread: runingThread, receive, deliver;
//  - guarded by lock_: listeners_ and every hand-over to a listener. The
//    thread holds lock_ from choosing a datagram's listeners to the end of
//    their stores, so a listener that left (remove() returned) is never
//    written to again and may be freed;
//  - the host's thread of a listener: start, add, remove, retrack, finish.
// Lock order: kw_reception_registry's lock, then lock_, then a listener's
// lock, then the log's lock, never the reverse.
//
// Ending the thread: the last remove() marks the reception as stopping and
// wakes the thread, which waits on nothing but its socket, that event and
// lock_; finish() then joins it, keeps the 10 ms pause after the signal and
// closes the socket.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "feed/kw_multicast_recv.h"
#include "platform/semaphore_lock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/wake_event.h"

class kw_multicast_reception {
 public:
  kw_multicast_reception(const char* ipAddress, int port, const char* interfaceName);
  ~kw_multicast_reception();
  kw_multicast_reception(const kw_multicast_reception&) = delete;
  kw_multicast_reception& operator=(const kw_multicast_reception&) = delete;

  // Opens the socket and joins the group (trace lines naming `opener`),
  // takes `opener` as the first listener and starts the thread. False when
  // no thread could be started: the reception then has no listener and no
  // socket. The set-up failure is kept either way.
  bool start(kw_multicast_recv* opener, const kw_multicast_recv::NodeFilter& nodes);
  // Adds a listener after the others.
  void add(kw_multicast_recv* listener, const kw_multicast_recv::NodeFilter& nodes);
  // Gives a listener another node filter; nothing when it does not listen.
  void retrack(kw_multicast_recv* listener, const kw_multicast_recv::NodeFilter& nodes);
  // Removes a listener. True when it was the last one: the thread is then
  // told to end (see finish).
  bool remove(kw_multicast_recv* listener);
  // After the last remove(): waits for the thread, keeps the pause, closes
  // the socket.
  void finish();

  const std::string& setupFailure() const { return setupFailure_; }
  int socketFd() const { return socket_.fd(); }
  int threadNumber() const { return thread_.number(); }
  int listenerCount();

 private:
  struct Listener {
    kw_multicast_recv* receiver;
    kw_multicast_recv::NodeFilter nodes;
  };

  // A text read once from the socket, on the receive thread.
  const char* receive(char* buffer);
  static void threadEntry(void* self);
  void runingThread();
  // Hands one received text on, as the header says.
  void deliver(const char* text);
  void deliverShared(const char* text) KW_REQUIRES(lock_);

  const std::string ipAddress_;
  const int port_;
  const std::string interfaceName_;
  kw::Socket socket_;
  kw::WakeEvent wake_;
  kw::Thread thread_;
  std::string setupFailure_;
  std::atomic<bool> stopping_{false};
  std::chrono::steady_clock::time_point stopSignalledAt_{};  // host's thread
  kw::Semaphore lock_;
  std::vector<Listener> listeners_ KW_GUARDED_BY(lock_);
};
