// JFeedStatus: what a block that receives a position feed tells the host
// about its feed, for the host's tools (a table of ports and counters, a
// node's name): its ports with their origin, why one could not be set up,
// and what became of the datagrams each received; each node's name, whether
// it was heard and on which port last.
//
// The host exports the interface; a plug-in's block implements it beside
// the module contract (the sniffer block does), and a tool asks any block
// for it with JFeedStatus::of(), which answers null for a block that has
// none. Nothing of the plug-in is linked into the tool.
//
// Owns nothing. Thread safety: the host's thread, like every block
// operation.
#pragma once

#include <cstdint>
#include <string>

#include "JExport.h"

class JModuleObj;

// One port of a feed, as a snapshot. A plain value; owns its texts.
struct J_EXPORT JFeedPortStatus {
  std::string name;          // port name from the port list ("beacon")
  std::string group;         // group text as written in the list
  int port = 0;              // UDP port number
  std::string interface;     // interface token from the list line, "" when none
  std::string listFile;      // port list file the line came from
  int line = 0;              // 1-based line number in that file
  std::string setupError;    // "" while the socket set-up succeeded; else the reason
  uint64_t takenIn = 0;      // datagrams stored for the next tick
  uint64_t droppedFull = 0;  // datagrams dropped because the store was full
  uint64_t rejected = 0;     // envelope, checksum or range wrong
  uint64_t unknownNode = 0;  // for a node number not in the node list, or negative
  uint64_t older = 0;        // older than the node's last accepted packet
};

class J_EXPORT JFeedStatus {
 public:
  virtual ~JFeedStatus();

  // Before the block is started and after it closed these answer 0, false,
  // "" and -1. Counters run from the reading of the port list on.
  virtual int feedPortCount() const = 0;
  // False when `index` is not a port of the current list.
  virtual bool feedPortStatus(int index, JFeedPortStatus* out) const = 0;
  // The name from the node list line of node index `index`, "" when none.
  virtual const char* feedNodeName(int index) const = 0;
  // True once node index `index` has accepted a packet.
  virtual bool feedNodeHeard(int index) const = 0;
  // The index (as for feedPortStatus) of the port whose packet node index
  // `index` accepted last; -1 before any.
  virtual int feedNodePort(int index) const = 0;

  // The feed status of `block`, null when its class has none.
  static const JFeedStatus* of(const JModuleObj* block);
};
