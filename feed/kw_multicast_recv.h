// kw_multicast_recv: the receiver of one feed port (one multicast group and
// UDP port), with its socket, its receive thread and a double buffer of
// packet texts between that thread and the host's thread.
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
//  - host's thread only: run, stop, swapBuffers, getPacket, the destructor,
//    and the read half;
//  - receive thread: runingThread, receive, putPacket;
//  - guarded by lock_: writeBuffer_ contents, the pointer exchange;
//  - set on the host's thread before the first run, then constant:
//    the admission test (setAdmission);
//  - counted by the receive thread, read by any thread (relaxed atomics,
//    cumulative for the receiver's life): takenIn, droppedFull, refused.
// Lock order: lock_ first, then the log's lock, never the reverse.
//
// Ending the thread: stop() marks the receiver as stopping and signals a
// wake-up event that the receive thread waits on beside its socket, then
// joins the thread. The thread never blocks on anything but that wait and
// lock_, which no one holds for long, so stop() always returns, with the
// thread gone, no packet half stored and no lock held. stop() is the two
// halves signalStop() and finishStop(): a caller ending many receivers
// signals them all first and then finishes each, so that their threads end
// together and their 10 ms pauses overlap instead of adding up.
//
// Socket set-up: every step is checked. A failing step does not stop the
// receiver (it then receives nothing useful), but its reason is written to
// the trace log as one line and kept for the caller (setupFailure()).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/multicast.h"
#include "platform/process.h"
#include "platform/semaphore_lock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/wake_event.h"

class kw_multicast_recv {
 public:
  static constexpr int kReceiveSize = 5000;  // bytes one receive may take
  // A busy port's thread takes what arrived in up to this many milliseconds
  // per wake-up instead of waking for every datagram; the buffer halves are
  // exchanged only on clock edges, so this changes nothing a tick sees
  // beyond a datagram now and then landing in the next tick.
  static constexpr int kGatherMs = 10;

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

  // `interfaceName`: the interface to join on, a name ("eth1") or a local
  // IPv4 address; null or "" for the system's choice.
  kw_multicast_recv(const char* ipAddress, int port, int slotSize, int slotCount,
                    const char* interfaceName = nullptr);
  virtual ~kw_multicast_recv();
  kw_multicast_recv(const kw_multicast_recv&) = delete;
  kw_multicast_recv& operator=(const kw_multicast_recv&) = delete;

  // Opens the socket, joins the group and starts the receive thread. A
  // receiver whose thread already runs ignores the call.
  void run(int unused);
  // Ends the receive thread and closes the socket; nothing when not running.
  // The same as signalStop() followed by finishStop().
  void stop();
  // First half of stop(): writes the stop trace line and tells a running
  // receive thread to end, without waiting for it. No store begins after it.
  void signalStop();
  // Second half: waits for the thread to end, keeps the 10 ms pause counted
  // from signalStop() (so the pauses of receivers signalled together
  // overlap), closes the socket. Signals first when signalStop() was not
  // called; nothing when not running.
  void finishStop();
  void swapBuffers();
  const char* putPacket(const char* text);
  char* getPacket();

  void openSocket();
  // Waits for one datagram and returns it as a text in `buffer` (5000 bytes,
  // at most 4999 characters kept); null when woken to stop or when the
  // receive failed.
  const char* receive(char* buffer);
  void runingThread();

  void getLock() KW_ACQUIRE(lock_) { lock_.wait(); }
  void relLock() KW_RELEASE(lock_) { lock_.post(); }

  bool isRunning() const { return runThread_cb_handle_.running(); }
  // Why the last socket set-up (run) was incomplete: "group 239.255.42: not
  // an IPv4 address", "join 239.1.2.3 on port 5000: No such device"; empty
  // when every step succeeded or the receiver never ran. Host's thread.
  const char* setupFailure() const { return setupFailure_.c_str(); }
  const char* ipAddress() const { return ipAddress_.get(); }
  const char* interfaceName() const { return interfaceName_.get(); }
  int port() const { return port_; }
  int slotSize() const { return slotSize_; }
  int slotCount() const { return slotCount_; }
  // Datagrams stored into the write half, dropped because it was full, and
  // refused by the admission test.
  uint64_t takenIn() const { return takenIn_.load(std::memory_order_relaxed); }
  uint64_t droppedFull() const { return droppedFull_.load(std::memory_order_relaxed); }
  uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }

  // A test each received text must pass before it may take a slot (given
  // the text and the slot size); null admits everything. Host's thread,
  // before the first run.
  using Admission = bool (*)(const char* text, int slotSize);
  void setAdmission(Admission admit) { admit_ = admit; }

 private:
  static void threadEntry(void* self);
  // Marks the receiver as stopping and wakes its thread (host's thread).
  void signalThread();

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
  kw::Thread runThread_cb_handle_;
  kw::Socket socket_;  // none until run opens it
  kw::WakeEvent wake_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> takenIn_{0};
  std::atomic<uint64_t> droppedFull_{0};
  std::atomic<uint64_t> refused_{0};
  Admission admit_ = nullptr;
  bool stopSignalled_ = false;  // host's thread: signalStop() came since run
  std::chrono::steady_clock::time_point stopSignalledAt_{};
  std::string setupFailure_;  // host's thread
};

// Once-per-process start-up of the sockets library. Linux needs none, so it
// only records that start-up happened; returns 1.
int startWinsock();
