// kw_multicast_recv: the receiver of one feed port (one multicast group and
// UDP port): a double buffer of packet texts between the port's receive
// thread and the host's thread, and this receiver's place at the reception
// that receives for it.
//
// Receptions: the socket and the receive thread belong to a
// kw_multicast_reception, one per group, port and interface in the process
// (kw_reception_registry). run() joins the reception of this receiver's
// group, port and interface, opening it (a socket joined to the group, a
// receive thread) when no receiver of the process listens there yet;
// stop() leaves it, and the last receiver to leave ends its thread and
// closes its socket. So a datagram is received once per process, however
// many receivers listen for it. A receiver alone at its reception gets
// every datagram, as with a socket of its own; where several share one,
// each gets only the datagrams of the node numbers it tracks (track()), and
// the reception counts what none of them gets once, on the receiver that
// has listened longest.
//
// Exchange protocol of the two halves:
//  - the receive thread only ever stores into `writeBuffer_`, one packet at a
//    time, holding `lock_` for the store;
//  - the host's thread calls swapBuffers(), which under `lock_` exchanges the
//    two pointers, rewinds the new read half and empties the new write half;
//  - the host's thread then reads the read half with getPacket() without the
//    lock: after an exchange the receive thread cannot reach that half.
// All packet storage is allocated by the constructor; a store is one bounded
// copy into a preallocated slot, a read is a pointer hand-out.
//
// Threads:
//  - constant after construction: ipAddress_, interfaceName_, port_, slotSize_, slotCount_;
//  - host's thread only: run, stop, track, swapBuffers, getPacket, the
//    destructor, the read half, and the reception this receiver listens at
//    (runThread_cb_handle_, socket_);
//  - the reception's receive thread: offer and putPacket, only while this
//    receiver is one of its listeners and holding the reception's lock, so
//    that a receiver that has left is never written to again;
//  - guarded by lock_: writeBuffer_ contents, the pointer exchange;
//  - set on the host's thread before the first run, then constant:
//    the admission test (setAdmission);
//  - counted by the receive thread, read by any thread (relaxed atomics,
//    cumulative for the receiver's life): takenIn, droppedFull, refused,
//    unknownNode.
// Lock order: the reception's lock, then lock_, then the log's lock, never
// the reverse.
//
// Ending the thread: stop() leaves the reception; when this receiver was its
// last listener, the reception's thread is woken to end and is joined, with
// no packet half stored and no lock held (see kw_multicast_reception).
// stop() is the two halves signalStop() and finishStop(): a caller ending
// many receivers signals them all first and then finishes each, so that
// their threads end together and their 10 ms pauses overlap instead of
// adding up.
//
// Socket set-up: every step is checked. A failing step does not stop the
// receiver (it then receives nothing useful), but its reason is written to
// the trace log as one line and kept for the caller (setupFailure()).
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/semaphore_lock.h"
#include "platform/socket.h"

class kw_multicast_reception;

class kw_multicast_recv {
 public:
  static constexpr int kReceiveSize = 5000;  // bytes one receive may take
  // A busy port's thread takes what arrived in up to this many milliseconds
  // per wake-up instead of waking for every datagram; the buffer halves are
  // exchanged only on clock edges, so this changes nothing a tick sees
  // beyond a datagram now and then landing in the next tick.
  static constexpr int kGatherMs = 10;
  // Node numbers a receiver can track: 0 to kMaxNode (a node list's range).
  static constexpr int kMaxNode = 1000;

  // One half of the double buffer: slotCount slots of slotSize bytes each,
  // allocated once and zero-filled. The pool comes from calloc, so that the
  // pages of slots never written cost no memory (a buffer sized for a busy
  // feed is mostly empty).
  struct bufferSt {
    struct FreePool {
      void operator()(char* storage) const;
    };
    int32_t slotSize;
    uint32_t slotCount;
    uint32_t putCount;  // packets stored since this half became the write half
    uint32_t getIndex;  // next packet to hand out while this is the read half
    std::unique_ptr<char, FreePool> pool;
    std::unique_ptr<char*[]> slots;

    bufferSt(int slotSize, int slotCount);
    bufferSt(const bufferSt&) = delete;
    bufferSt& operator=(const bufferSt&) = delete;

    // Copies `text` into the next free slot, cut to slotSize - 1 characters,
    // and returns the slot; null when the half is full (the packet is dropped).
    const char* putPacket(const char* text);
    // The next stored packet in arrival order, or null when all were handed out.
    char* getPacket();
  };

  // The node numbers a receiver takes datagrams for where its reception is
  // shared: every number (the default), or those set.
  struct NodeFilter {
    bool all = true;
    std::bitset<kMaxNode + 1> nodes;

    static NodeFilter none() { return NodeFilter{false, {}}; }
    // `numbered` false: the packet's leading number does not fit an int.
    bool tracks(bool numbered, int node) const {
      return all ||
             (numbered && node >= 0 && node <= kMaxNode && nodes.test(static_cast<size_t>(node)));
    }
  };

  // `interfaceName`: the interface to join on, a name ("eth1") or a local
  // IPv4 address; null or "" for the system's choice.
  kw_multicast_recv(const char* ipAddress, int port, int slotSize, int slotCount,
                    const char* interfaceName = nullptr);
  virtual ~kw_multicast_recv();
  kw_multicast_recv(const kw_multicast_recv&) = delete;
  kw_multicast_recv& operator=(const kw_multicast_recv&) = delete;

  // Joins the reception of this receiver's group, port and interface,
  // opening its socket and starting its receive thread when it is the
  // first. A receiver that already listens ignores the call.
  void run(int unused);
  // Leaves the reception; nothing when not running. The same as
  // signalStop() followed by finishStop().
  void stop();
  // First half of stop(): writes the stop trace line and leaves the
  // reception, waking its thread to end when this was its last listener,
  // without waiting for it. No store into this receiver begins after it.
  void signalStop();
  // Second half: when this receiver was the last listener, waits for the
  // thread to end, keeps the 10 ms pause counted from signalStop() (so the
  // pauses of receivers signalled together overlap) and closes the socket.
  // Signals first when signalStop() was not called; nothing when not running.
  void finishStop();
  void swapBuffers();
  const char* putPacket(const char* text);
  char* getPacket();
  // The node numbers this receiver takes where its reception is shared;
  // takes effect at once while it runs. Host's thread.
  void track(const NodeFilter& nodes);

  // Joins the reception (see run), which opens the socket when this is its
  // first listener.
  void openSocket();

  // The reception's hand-over of one received text: the admission test,
  // then putPacket; a refused text is counted. Receive thread.
  void offer(const char* text);
  // Whether the admission test lets `text` take a slot. Any thread.
  bool admits(const char* text) const { return admit_ == nullptr || admit_(text, slotSize_); }
  // A datagram the reception counts on this receiver for the whole port:
  // junk no listener admits, or one for a node no listener tracks.
  void countRefused() { refused_.fetch_add(1, std::memory_order_relaxed); }
  void countUnknownNode() { unknownNode_.fetch_add(1, std::memory_order_relaxed); }

  void getLock() KW_ACQUIRE(lock_) { lock_.wait(); }
  void relLock() KW_RELEASE(lock_) { lock_.post(); }

  bool isRunning() const { return runThread_cb_handle_ != nullptr; }
  // The descriptor of the reception's socket this receiver listens through;
  // kw::kNoSocket while it does not run. Host's thread.
  int socketFd() const { return socket_; }
  // Why the last socket set-up (run) was incomplete: "group 239.255.42: not
  // an IPv4 address", "join 239.1.2.3 on port 5000: No such device"; empty
  // when every step succeeded or the receiver never ran. A receiver that
  // joins a reception already open gets that reception's reason. Host's thread.
  const char* setupFailure() const { return setupFailure_.c_str(); }
  const char* ipAddress() const { return ipAddress_.get(); }
  const char* interfaceName() const { return interfaceName_.get(); }
  int port() const { return port_; }
  int slotSize() const { return slotSize_; }
  int slotCount() const { return slotCount_; }
  // Datagrams stored into the write half, dropped because it was full, and
  // refused by the admission test (with a shared reception's junk, when
  // counted here); datagrams for nodes no listener of a shared reception
  // tracks, when counted here.
  uint64_t takenIn() const { return takenIn_.load(std::memory_order_relaxed); }
  uint64_t droppedFull() const { return droppedFull_.load(std::memory_order_relaxed); }
  uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }
  uint64_t unknownNode() const { return unknownNode_.load(std::memory_order_relaxed); }

  // A test each received text must pass before it may take a slot (given
  // the text and the slot size); null admits everything. Host's thread,
  // before the first run.
  using Admission = bool (*)(const char* text, int slotSize);
  void setAdmission(Admission admit) { admit_ = admit; }
  Admission admission() const { return admit_; }

 private:
  // The receive thread reaches the write half only through writeBuffer_
  // under lock_; the read half is the host's thread's alone.
  bufferSt* readBuffer_;
  bufferSt* writeBuffer_ KW_GUARDED_BY(lock_);
  std::unique_ptr<char[]> ipAddress_;
  std::unique_ptr<char[]> interfaceName_;  // "" for the system's choice
  int32_t port_;
  int32_t slotSize_;
  int32_t slotCount_;
  kw::Semaphore lock_;
  // The reception whose thread receives for this receiver; null while it
  // does not run.
  std::shared_ptr<kw_multicast_reception> runThread_cb_handle_;
  int socket_ = kw::kNoSocket;  // that reception's socket
  std::atomic<uint64_t> takenIn_{0};
  std::atomic<uint64_t> droppedFull_{0};
  std::atomic<uint64_t> refused_{0};
  std::atomic<uint64_t> unknownNode_{0};
  Admission admit_ = nullptr;
  NodeFilter nodes_;            // host's thread: handed to the reception
  bool stopSignalled_ = false;  // host's thread: signalStop() came since run
  bool lastListener_ = false;   // host's thread: that signal left the reception empty
  std::string setupFailure_;    // host's thread
};

// Once-per-process start-up of the sockets library. Linux needs none, so it
// only records that start-up happened; returns 1.
int startWinsock();
