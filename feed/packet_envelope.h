// kw::envelope: the checksum rules of a feed packet, the receive thread's
// cheap test of whether a datagram could pass the port handler's envelope
// check at all, and the packet's node number as that check reads it.
//
// A sentence's checksum is the XOR of the bytes between its "$" and its "*",
// written "%2x" (a space pads values below 0x10) or "%2X". mayPass() answers
// exactly what kw_qnv_portHandler::parsePacket_full would decide for the text
// the receiver stores (the datagram cut to `slotSize` - 1 characters), without
// changing the text and without trace lines, so that junk can be counted and
// dropped before it takes a slot of the write half.
//
// Owns nothing; any thread may call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kw::envelope {

// XOR of the bytes in [begin, end), eight at a time.
inline unsigned xorOf(const char* begin, const char* end) {
  uint64_t wide = 0;
  for (; end - begin >= 8; begin += 8) {
    uint64_t word;
    std::memcpy(&word, begin, sizeof word);
    wide ^= word;
  }
  wide ^= wide >> 32;
  wide ^= wide >> 16;
  wide ^= wide >> 8;
  unsigned sum = static_cast<unsigned>(wide & 0xff);
  for (; begin != end; ++begin) sum ^= static_cast<unsigned char>(*begin);
  return sum;
}

// True when the characters `first` and `second` are the checksum `value`
// written "%2x" or "%2X". `second` is looked at only when `first` matched.
inline bool checksumMatches(unsigned value, char first, char second) {
  static constexpr char kLower[] = "0123456789abcdef";
  static constexpr char kUpper[] = "0123456789ABCDEF";
  const unsigned high = (value >> 4) & 0xf;
  const unsigned low = value & 0xf;
  const char lowerHigh = high != 0 ? kLower[high] : ' ';
  const char upperHigh = high != 0 ? kUpper[high] : ' ';
  if (first == lowerHigh && second == kLower[low]) return true;
  return first == upperHigh && second == kUpper[low];
}

// The port handler's envelope and checksum decision for `text` as stored in
// a slot of `slotSize` bytes; true when it would accept the packet.
bool mayPass(const char* text, int slotSize);

// The node number at the start of a packet as the port handler's parser
// reads it ("%d": white space, an optional sign, digits; 0 where no number
// stands). False when it does not fit an int: the parser's number would be
// cut ("4294967298" would read as node 2).
bool nodeNumber(const char* text, int* node);

}  // namespace kw::envelope
