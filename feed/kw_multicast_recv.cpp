#include "feed/kw_multicast_recv.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_reception.h"
#include "feed/kw_reception_registry.h"
#include "feed/text_copy.h"
#include "platform/process.h"

// ---------------------------------------------------------------- bufferSt

kw_multicast_recv::bufferSt::bufferSt(int size, int count)
    : slotSize(size > 0 ? size : 1),
      slotCount(count > 0 ? static_cast<uint32_t>(count) : 0),
      putCount(0),
      getIndex(0),
      pool(static_cast<char*>(std::calloc(static_cast<size_t>(slotSize) * slotCount + 1, 1))),
      slots(new char*[slotCount + 1]) {
  if (!pool) slotCount = 0;  // no memory: every packet is dropped (and counted)
  for (uint32_t i = 0; i < slotCount; ++i) {
    slots[i] = pool.get() + static_cast<size_t>(i) * slotSize;
  }
}

void kw_multicast_recv::bufferSt::FreePool::operator()(char* storage) const { std::free(storage); }

const char* kw_multicast_recv::bufferSt::putPacket(const char* text) {
  olog->printf("kw_multicast_recv:bufferSt:putPacket() %p\n", static_cast<void*>(this));
  if (putCount >= slotCount) return nullptr;
  char* slot = slots[putCount];
  ++putCount;
  // A text longer than the slot is cut to what fits with its terminator.
  const size_t room = static_cast<size_t>(slotSize) - 1;
  const size_t length = strnlen(text, room);
  std::memcpy(slot, text, length);
  slot[length] = '\0';
  return slot;
}

char* kw_multicast_recv::bufferSt::getPacket() {
  olog->printf("kw_multicast_recv:bufferSt:getPacket() %p\n", static_cast<void*>(this));
  if (getIndex >= putCount) return nullptr;
  return slots[getIndex++];
}

// ---------------------------------------------------------------- receiver

kw_multicast_recv::kw_multicast_recv(const char* ipAddress, int port, int slotSize, int slotCount,
                                     const char* interfaceName)
    : readBuffer_(new bufferSt(slotSize, slotCount)),
      writeBuffer_(new bufferSt(slotSize, slotCount)),
      ipAddress_(kw::copyText(ipAddress)),
      interfaceName_(kw::copyText(interfaceName)),
      port_(port),
      slotSize_(slotSize),
      slotCount_(slotCount) {
  olog->printf("kw_multicast_recv::kw_multicast_recv() %p\n", static_cast<void*>(this));
}

kw_multicast_recv::~kw_multicast_recv() {
  olog->printf("kw_multicast_recv::~kw_multicast_recv() %p\n", static_cast<void*>(this));
  stop();
  delete readBuffer_;
  // This receiver has left its reception: nothing else can reach the write
  // half now.
  kw::SemaphoreGuard guard(lock_);
  delete writeBuffer_;
}

void kw_multicast_recv::run(int) {
  olog->printf("kw_multicast_recv::run in process %d %d\n", kw::processId(), kw::threadId());
  // A second run while listening would join twice: ignore it.
  if (runThread_cb_handle_ != nullptr) return;
  openSocket();
  olog->printf("kw_multicast_recv::run() after thread launch, runThread_cb_handle_ is %d\n",
               runThread_cb_handle_ != nullptr ? runThread_cb_handle_->threadNumber() : 0);
}

void kw_multicast_recv::openSocket() {
  runThread_cb_handle_ = kw_reception_registry::process().join(this, nodes_, &setupFailure_);
  socket_ = runThread_cb_handle_ != nullptr ? runThread_cb_handle_->socketFd() : kw::kNoSocket;
}

void kw_multicast_recv::stop() {
  signalStop();
  finishStop();
}

void kw_multicast_recv::signalStop() {
  olog->printf("kw_multicast_recv:stop() %p\n", static_cast<void*>(this));
  if (runThread_cb_handle_ == nullptr || stopSignalled_) return;
  lastListener_ = kw_reception_registry::process().leave(this, runThread_cb_handle_);
  stopSignalled_ = true;
}

void kw_multicast_recv::finishStop() {
  if (runThread_cb_handle_ == nullptr) return;
  if (!stopSignalled_) {
    lastListener_ = kw_reception_registry::process().leave(this, runThread_cb_handle_);
  }
  if (lastListener_) runThread_cb_handle_->finish();
  runThread_cb_handle_.reset();
  socket_ = kw::kNoSocket;
  stopSignalled_ = false;
  lastListener_ = false;
}

void kw_multicast_recv::track(const NodeFilter& nodes) {
  nodes_ = nodes;
  if (runThread_cb_handle_ != nullptr && !stopSignalled_) {
    runThread_cb_handle_->retrack(this, nodes_);
  }
}

void kw_multicast_recv::swapBuffers() {
  olog->printf("kw_multicast_recv::swapBuffers() %p\n", static_cast<void*>(this));
  kw::SemaphoreGuard guard(lock_);
  bufferSt* const was = readBuffer_;
  readBuffer_ = writeBuffer_;
  writeBuffer_ = was;
  readBuffer_->getIndex = 0;
  writeBuffer_->putCount = 0;
}

const char* kw_multicast_recv::putPacket(const char* text) {
  olog->printf("kw_multicast_recv::putPacket() %p\n", static_cast<void*>(this));
  kw::SemaphoreGuard guard(lock_);
  const char* slot = writeBuffer_->putPacket(text);
  (slot != nullptr ? takenIn_ : droppedFull_).fetch_add(1, std::memory_order_relaxed);
  return slot;
}

void kw_multicast_recv::offer(const char* text) {
  if (!admits(text)) {
    countRefused();
    return;
  }
  putPacket(text);
}

char* kw_multicast_recv::getPacket() {
  olog->printf("kw_multicast_recv:getPacket() %p\n", static_cast<void*>(this));
  return readBuffer_->getPacket();
}

// ---------------------------------------------------------------- start-up

namespace {
bool g_socketsStarted = false;
}

int startWinsock() {
  // Linux sockets need no start-up; the flag keeps the once-per-process rule.
  if (g_socketsStarted) return 1;
  g_socketsStarted = true;
  return 1;
}
