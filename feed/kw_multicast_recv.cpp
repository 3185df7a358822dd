#include "kw_multicast_recv.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "KW_OLog.h"
#include "terminal_text.h"
#include "text_copy.h"

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
  // The thread is gone: nothing else can reach the write half now.
  kw::SemaphoreGuard guard(lock_);
  delete writeBuffer_;
}

void kw_multicast_recv::run(int) {
  olog->printf("kw_multicast_recv::run in process %d %d\n", kw::processId(), kw::threadId());
  // A second run while the thread runs would lose the first thread: ignore it.
  if (runThread_cb_handle_.running()) return;
  openSocket();
  stopping_.store(false);
  const kw::Failure wake = wake_.open();
  if (wake && setupFailure_.empty()) {
    setupFailure_ = wake.text();
    olog->printf("kw_multicast_recv::openSocket() %p %s\n", static_cast<void*>(this),
                 wake.c_str());
  }
  if (wake || !runThread_cb_handle_.start(&kw_multicast_recv::threadEntry, this)) {
    // No thread: the receiver stays stopped and keeps no socket.
    socket_.close();
    wake_.close();
  }
  olog->printf("kw_multicast_recv::run() after thread launch, runThread_cb_handle_ is %d\n",
               runThread_cb_handle_.number());
}

void kw_multicast_recv::stop() {
  signalStop();
  finishStop();
}

void kw_multicast_recv::signalStop() {
  olog->printf("kw_multicast_recv:stop() %p\n", static_cast<void*>(this));
  if (runThread_cb_handle_.running() && !stopSignalled_) signalThread();
}

void kw_multicast_recv::signalThread() {
  // Mark the receiver as stopping under the lock, so that no store can begin
  // after this point, then wake the thread.
  kw::SemaphoreGuard guard(lock_);
  stopping_.store(true);
  wake_.signal();
  stopSignalled_ = true;
  stopSignalledAt_ = std::chrono::steady_clock::now();
}

void kw_multicast_recv::finishStop() {
  if (!runThread_cb_handle_.running()) return;
  if (!stopSignalled_) signalThread();
  // The join happens without the lock: the thread may be about to take it.
  runThread_cb_handle_.join();
  // The pause after ending the thread, counted from the signal.
  const auto pause = std::chrono::milliseconds(10) -
                     (std::chrono::steady_clock::now() - stopSignalledAt_);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(pause).count();
  if (left > 0) kw::Sleep(static_cast<unsigned>(left));
  kw::SemaphoreGuard guard(lock_);
  socket_.close();
  wake_.close();
  stopSignalled_ = false;
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
  if (stopping_.load()) return nullptr;
  const char* slot = writeBuffer_->putPacket(text);
  (slot != nullptr ? takenIn_ : droppedFull_).fetch_add(1, std::memory_order_relaxed);
  return slot;
}

char* kw_multicast_recv::getPacket() {
  olog->printf("kw_multicast_recv:getPacket() %p\n", static_cast<void*>(this));
  return readBuffer_->getPacket();
}

void kw_multicast_recv::openSocket() {
  // The group text and the failure (which names the group and the
  // interface) come from the port list: traced safe for a terminal.
  olog->printf("Opening socket ip %s port %d\n", kw::terminalText(ipAddress_.get()).c_str(), port_);
  kw::Failure failure;
  socket_ = kw::openMulticastReceiver(ipAddress_.get(), port_, &failure, interfaceName_.get());
  setupFailure_ = failure.text();
  // The receiver goes on without the step that failed, as before; the
  // reason is kept and traced so that it can be found.
  if (failure) {
    olog->printf("kw_multicast_recv::openSocket() %p %s\n", static_cast<void*>(this),
                 kw::terminalText(failure.text()).c_str());
  }
}

const char* kw_multicast_recv::receive(char* buffer) {
  size_t count = 0;
  const kw::ReceiveStatus status =
      kw::waitAndReceive(socket_.fd(), wake_, buffer, kReceiveSize, &count, kGatherMs);
  if (status != kw::ReceiveStatus::Data) return nullptr;
  buffer[count >= static_cast<size_t>(kReceiveSize) ? kReceiveSize - 1 : count] = '\0';
  return buffer;
}

void kw_multicast_recv::threadEntry(void* self) {
  static_cast<kw_multicast_recv*>(self)->runingThread();
}

void kw_multicast_recv::runingThread() {
  olog->printf("kw_multicast_recv::runingThread in process %d %d\n", kw::processId(),
               kw::threadId());
  char buffer[kReceiveSize];
  while (!stopping_.load()) {
    const char* text = receive(buffer);
    if (text == nullptr) {
      // Woken to stop, or the receive failed: in the latter case pause
      // briefly so that a socket that keeps failing cannot make this spin.
      if (!stopping_.load()) kw::Sleep(10);
      continue;
    }
    olog->printf(" -----   String is |%s|\n", text);
    if (admit_ != nullptr && !admit_(text, slotSize_)) {
      refused_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    putPacket(text);
  }
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
