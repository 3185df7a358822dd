// JQNV_trace_address: a block's address as the sniffer's trace lines print
// it (the %p of "JQNV_packet_sniffer::startup() %p\n" and the rest).
// A free function; owns nothing. Thread safety: any thread.
#pragma once

class JQNV_packet_sniffer;

inline void* self(const JQNV_packet_sniffer* block) {
  return const_cast<void*>(static_cast<const void*>(block));
}
