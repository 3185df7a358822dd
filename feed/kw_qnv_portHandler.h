// kw_qnv_portHandler: one feed port (a multicast group and UDP port from one
// line of the port file). Owns the port's receiver, starts and stops it, and
// in service() drains the packets received since the previous call, parses
// each one and hands the result to the node with the packet's number.
//
// The packet parsers are members: they write their results into this
// object's output area (latitude_ to utcString_), which service() passes on
// to the node once both sentences of a packet parsed.
//
// Feed packet, one datagram, for example
//   001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,W,123456.78,A,A*72
// node number, two port-name fields, a ZDA (time) and a GLL (position)
// sentence, each with an XOR checksum written "%2x" (space-padded).
//
// Thread safety: host's thread only. The receive thread touches only the
// receiver's write half (see kw_multicast_recv).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/clock.h"

class kw_multicast_recv;
class kw_qnv_handlerList;
struct kw_qnv_portStats;

class kw_qnv_portHandler {
 public:
  static constexpr int kUtcStringSize = 128;

  // `interfaceName`: the interface the receiver joins on, a name ("eth1") or
  // a local IPv4 address; "" for the system's choice.
  kw_qnv_portHandler(const char* name, const char* ipAddress, int port, int slotSize, int slotCount,
                     kw_qnv_handlerList* owner, const char* interfaceName = "");
  ~kw_qnv_portHandler();
  kw_qnv_portHandler(const kw_qnv_portHandler&) = delete;
  kw_qnv_portHandler& operator=(const kw_qnv_portHandler&) = delete;

  // Starts the receiver (it joins the reception of the port's group, port
  // and interface, which opens a socket and starts a receive thread when it
  // is the first there), telling it the node list's numbers. A running port
  // ignores it.
  void run();
  // Tells the receiver the node list's numbers again (after a node list was
  // read while the port runs).
  void retrack();
  void stop();
  // Exchanges the receiver's halves and dispatches every packet taken out.
  void service();

  // Checks the envelope and both checksums of a NUL-terminated packet, which
  // it changes in place (each sentence's "*" becomes NUL). Returns the node
  // number; *first and *second point at the two sentences' "$", and *second
  // is null whenever the packet is rejected.
  int parsePacket_full(char* packet, char** first, char** second);
  // Time (ZDA) sentence: true and utcTm_, utc1970_, utcString_ written when
  // all seven fields convert; false and nothing written otherwise.
  bool parsePacket_s1(char* sentence);
  // Position (GLL) sentence: true and latitude_, longitude_ written when all
  // eight fields convert; false and nothing written otherwise.
  bool parsePacket_s2(char* sentence);

  kw_multicast_recv* receiver() { return receiver_; }
  bool isRunning() const { return running_ != 0; }
  // Why the receiver's last socket set-up was incomplete ("join 239.1.2.3 on
  // port 5000: No such device"); empty when it was complete or never tried.
  const char* socketFailure() const;
  // The interface token of the port's line; "" when it had none.
  const char* interfaceName() const;
  // Fills *out with where this port came from and its counts so far.
  void readStats(kw_qnv_portStats* out) const;

  char* name_;
  char* ipAddress_;
  int32_t port_;
  uint8_t running_ = 0;
  kw_qnv_portHandler* next_ = nullptr;
  kw_qnv_portHandler* prev_ = nullptr;
  kw_qnv_handlerList* owner_;
  kw_multicast_recv* receiver_;
  std::string listFile_;  // the port list this port's line came from
  int32_t line_ = 0;      // that line's 1-based number
  int32_t index_ = 0;     // position in the port list (0 first), set by run()
  // What service() made of the packets it took out (cumulative).
  uint64_t rejected_ = 0;
  uint64_t unknownNode_ = 0;
  uint64_t older_ = 0;
  double latitude_ = 0.0;
  double longitude_ = 0.0;
  kw::_timeb utc1970_ = {};
  tm utcTm_ = {};
  char utcString_[kUtcStringSize] = {};
};
