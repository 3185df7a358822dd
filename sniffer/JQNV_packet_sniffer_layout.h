// JQNV_packet_sniffer_layout: the sniffer block's class name and the layout
// of its outputs, stated once for the block itself and for the host tools
// that read a sniffer's outputs from outside (flowhost's node table).
//
// Outputs come in groups of kOutputsPerNode, one group per node of the node
// list in file order: output n belongs to node index n / 8 (not the node
// number) and is of kind n % 8. A block offers at most kMaxNodes groups.
//
// Constants only; owns nothing. Thread safety: any thread.
#pragma once

struct JQNV_packet_sniffer_layout {
  static constexpr const char* kClassName = "JQNV_packet_sniffer";

  // The kinds of a node group, in output order.
  enum Kind : int {
    kNodeId = 0,
    kLatitude = 1,
    kLongitude = 2,
    kUtcSec = 3,
    kUtcMs = 4,
    kUtcString = 5,
    kHealth = 6,
    kIdleTime = 7,
  };
  static constexpr int kOutputsPerNode = 8;
  // The size of the block's list file name fields, terminator included.
  static constexpr int kFileNameSize = 260;
  static constexpr unsigned kMaxNodes = 128;

  // The word of each kind in an output's tag.
  static constexpr const char* kKindWords[kOutputsPerNode] = {
      "node id", "latitude", "longitude", "utc sec", "utc ms", "utc string", "health", "idle time"};

  // Output n's node index and kind; the kind keeps the sign of n.
  static constexpr int nodeOf(int output) { return output / kOutputsPerNode; }
  static constexpr int kindOf(int output) { return output % kOutputsPerNode; }
  // The output of `kind` in the group of node index `node`.
  static constexpr int output(int node, int kind) { return node * kOutputsPerNode + kind; }
  // The number of outputs of `nodes` node groups.
  static constexpr unsigned outputCount(unsigned nodes) { return nodes * kOutputsPerNode; }
};
