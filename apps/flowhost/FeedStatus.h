// FeedStatus: how the runner reaches a sniffer block's feed status (its
// ports with their origin, set-up failure and counters; node names; whether
// each node was heard, and on which port last). ofSniffers() asks the plug-in's JQNV_packet_sniffer
// blocks themselves, through the block's own table of functions, so nothing
// of the plug-in is linked into the runner; tests give blocks of their own.
//
// Owns nothing. Thread safety: host's thread only (the blocks' rule).
#pragma once

#include "kw_qnv_portStats.h"

class JModuleObj;

namespace flowhost {

class FeedStatus {
 public:
  virtual ~FeedStatus() = default;

  // `sniffer` is a block of the sniffer's class. All answer 0 / false / ""
  // while the block is not started.
  virtual int portCount(const JModuleObj* sniffer) const = 0;
  virtual bool portStats(const JModuleObj* sniffer, int index, kw_qnv_portStats* out) const = 0;
  virtual const char* nodeName(const JModuleObj* sniffer, int node) const = 0;
  virtual bool nodeHeard(const JModuleObj* sniffer, int node) const = 0;
  // Index of the port whose packet the node last took; -1 before any.
  virtual int nodePort(const JModuleObj* sniffer, int node) const = 0;

  // The status of the plug-in's sniffer blocks (blocks whose class name is
  // JQNV_packet_sniffer_layout::kClassName are taken to be of that class).
  static const FeedStatus& ofSniffers();
};

}  // namespace flowhost
