// Feed packets from the network are untrusted: store each input the way the
// receiver does (into a 250-byte slot, cut to fit) and run the whole parse
// sequence of the service loop on it. The receive thread's admission test
// must decide exactly as the envelope check does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/packet_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kw_qnv_portHandler port("fuzz", "239.255.42.1", 47000, 250, 20, nullptr);
  static kw_multicast_recv::bufferSt half(250, 1);

  // The receiver terminates the datagram at its length (or at 4999).
  const size_t length = size < 4999 ? size : 4999;
  std::string text(reinterpret_cast<const char*>(data), length);

  const bool admitted = kw::envelope::mayPass(text.c_str(), 250);
  half.putCount = 0;
  half.getIndex = 0;
  if (half.putPacket(text.c_str()) == nullptr) return 0;
  char* slot = half.getPacket();

  char* first = nullptr;
  char* second = nullptr;
  port.parsePacket_full(slot, &first, &second);
  if (admitted != (first != nullptr && second != nullptr)) __builtin_trap();
  if (first != nullptr && second != nullptr) {
    // Both pointers lie inside the slot and each sentence is terminated there.
    if (first < slot || first >= slot + 250 || second < slot || second >= slot + 250)
      __builtin_trap();
    port.parsePacket_s1(first);
    port.parsePacket_s2(second);
    if (std::strlen(port.utcString_) >= sizeof port.utcString_) __builtin_trap();
  }
  return 0;
}
