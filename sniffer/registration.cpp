// Load-time registration of the sniffer block with the host: when the
// plug-in is loaded, one block is built (its log open truncates
// "logFile.txt" once for this load, or, when the host set
// KW_TRACE_OPEN=startup, only at the first block's startup), registered as
// the prototype of its class and destroyed again. The log object exists
// before this runs: it is constant-initialised.
#include "sniffer/JQNV_packet_sniffer.h"

JString JQNV_packet_sniffer::registered = [] {
  auto* block = new JQNV_packet_sniffer();
  JString result = block->Register();
  delete block;
  return result;
}();
