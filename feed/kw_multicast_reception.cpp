#include "feed/kw_multicast_reception.h"

#include <algorithm>

#include "feed/KW_OLog.h"
#include "feed/packet_envelope.h"
#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/multicast.h"
#include "platform/process.h"
#include "platform/terminal_text.h"

namespace {

using NodeFilter = kw_multicast_recv::NodeFilter;

// The admission answers for one datagram among a reception's listeners.
// Listeners with the same test and slot size get the same answer, so it is
// asked again only when they change from one listener to the next: once a
// datagram where all listeners are alike, as those of a sniffer's port list
// are.
class Admissions {
 public:
  explicit Admissions(const char* text) : text_(text) {}

  bool of(const kw_multicast_recv& listener) {
    if (!asked_ || listener.admission() != admission_ || listener.slotSize() != slotSize_) {
      admission_ = listener.admission();
      slotSize_ = listener.slotSize();
      answer_ = listener.admits(text_);
      asked_ = true;
    }
    return answer_;
  }

 private:
  const char* text_;
  bool asked_ = false;
  kw_multicast_recv::Admission admission_ = nullptr;
  int slotSize_ = 0;
  bool answer_ = false;
};

}  // namespace

kw_multicast_reception::kw_multicast_reception(const char* ipAddress, int port,
                                               const char* interfaceName)
    : ipAddress_(ipAddress != nullptr ? ipAddress : ""),
      port_(port),
      interfaceName_(interfaceName != nullptr ? interfaceName : "") {}

kw_multicast_reception::~kw_multicast_reception() {
  // finish() ended the thread; a reception dropped with its thread still
  // running (never left by its listeners) ends it here.
  if (thread_.running()) {
    stopping_.store(true);
    wake_.signal();
    thread_.join();
  }
}

bool kw_multicast_reception::start(kw_multicast_recv* opener, const NodeFilter& nodes) {
  void* const who = opener;
  // The group text and the failure (which names the group and the
  // interface) come from the port list: traced safe for a terminal.
  olog->printf("Opening socket ip %s port %d\n", kw::terminalText(ipAddress_).c_str(), port_);
  kw::Failure failure;
  socket_ = kw::openMulticastReceiver(ipAddress_.c_str(), port_, &failure, interfaceName_.c_str());
  setupFailure_ = failure.text();
  // The reception goes on without the step that failed; the reason is kept
  // and traced so that it can be found.
  if (failure) {
    olog->printf("kw_multicast_recv::openSocket() %p %s\n", who,
                 kw::terminalText(failure.text()).c_str());
  }
  const kw::Failure wake = wake_.open();
  if (wake && setupFailure_.empty()) {
    setupFailure_ = wake.text();
    olog->printf("kw_multicast_recv::openSocket() %p %s\n", who, wake.c_str());
  }
  add(opener, nodes);
  if (wake || !thread_.start(&kw_multicast_reception::threadEntry, this)) {
    // No thread: nothing listens and no socket is kept.
    kw::SemaphoreGuard guard(lock_);
    listeners_.clear();
    socket_.close();
    wake_.close();
    return false;
  }
  return true;
}

void kw_multicast_reception::add(kw_multicast_recv* listener, const NodeFilter& nodes) {
  kw::SemaphoreGuard guard(lock_);
  listeners_.push_back(Listener{listener, nodes});
}

void kw_multicast_reception::retrack(kw_multicast_recv* listener, const NodeFilter& nodes) {
  kw::SemaphoreGuard guard(lock_);
  for (Listener& entry : listeners_) {
    if (entry.receiver == listener) entry.nodes = nodes;
  }
}

bool kw_multicast_reception::remove(kw_multicast_recv* listener) {
  kw::SemaphoreGuard guard(lock_);
  const auto found =
      std::find_if(listeners_.begin(), listeners_.end(),
                   [listener](const Listener& entry) { return entry.receiver == listener; });
  if (found == listeners_.end()) return false;
  listeners_.erase(found);
  if (!listeners_.empty()) return false;
  // Marked under the lock: no hand-over begins after this point.
  stopping_.store(true);
  wake_.signal();
  stopSignalledAt_ = std::chrono::steady_clock::now();
  return true;
}

void kw_multicast_reception::finish() {
  // The join happens without the lock: the thread may be about to take it.
  thread_.join();
  // The pause after ending the thread, counted from the signal.
  const auto pause =
      std::chrono::milliseconds(10) - (std::chrono::steady_clock::now() - stopSignalledAt_);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(pause).count();
  if (left > 0) kw::Sleep(static_cast<unsigned>(left));
  socket_.close();
  wake_.close();
}

int kw_multicast_reception::listenerCount() {
  kw::SemaphoreGuard guard(lock_);
  return static_cast<int>(listeners_.size());
}

const char* kw_multicast_reception::receive(char* buffer) {
  size_t count = 0;
  const size_t size = kw_multicast_recv::kReceiveSize;
  const kw::ReceiveStatus status =
      kw::waitAndReceive(socket_.fd(), wake_, buffer, size, &count, kw_multicast_recv::kGatherMs);
  if (status != kw::ReceiveStatus::Data) return nullptr;
  buffer[count >= size ? size - 1 : count] = '\0';
  return buffer;
}

void kw_multicast_reception::threadEntry(void* self) {
  static_cast<kw_multicast_reception*>(self)->runingThread();
}

void kw_multicast_reception::runingThread() {
  olog->printf("kw_multicast_recv::runingThread in process %d %d\n", kw::processId(),
               kw::threadId());
  char buffer[kw_multicast_recv::kReceiveSize];
  while (!stopping_.load()) {
    const char* text = receive(buffer);
    if (text == nullptr) {
      // Woken to stop, or the receive failed: in the latter case pause
      // briefly so that a socket that keeps failing cannot make this spin.
      if (!stopping_.load()) kw::Sleep(10);
      continue;
    }
    olog->printf(" -----   String is |%s|\n", text);
    deliver(text);
  }
}

void kw_multicast_reception::deliver(const char* text) {
  kw::SemaphoreGuard guard(lock_);
  if (listeners_.size() == 1) {
    listeners_.front().receiver->offer(text);
  } else if (!listeners_.empty()) {
    deliverShared(text);
  }
}

void kw_multicast_reception::deliverShared(const char* text) {
  kw_multicast_recv* const first = listeners_.front().receiver;
  Admissions admitted(text);
  const bool junk =
      std::none_of(listeners_.begin(), listeners_.end(),
                   [&admitted](const Listener& entry) { return admitted.of(*entry.receiver); });
  if (junk) {
    first->countRefused();
    return;
  }
  int node = 0;
  const bool numbered = kw::envelope::nodeNumber(text, &node);
  bool tracked = false;
  for (const Listener& entry : listeners_) {
    if (!entry.nodes.tracks(numbered, node)) continue;
    tracked = true;
    // A listener with a smaller slot may refuse what another admitted.
    if (admitted.of(*entry.receiver)) {
      entry.receiver->putPacket(text);
    } else {
      entry.receiver->countRefused();
    }
  }
  if (!tracked) first->countUnknownNode();
}
