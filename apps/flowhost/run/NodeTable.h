// NodeTable: what the runner knows about every node of a running graph.
// It finds each sniffer block (its class name and output groups as
// JQNV_packet_sniffer_layout states them) and, for each node, the first map
// block (class JGeoGridObj::kClassName) whose latitude input (else its
// longitude input) is fed from that node's outputs, directly or through
// blocks in between (their input 0, then 1).
// read() then fetches the current values through free-standing links, the
// way a linked block would, so health and idle time belong to that moment.
// A node the sniffer has not heard from yet has no position, time or map
// values in its row (its outputs hold zeros that are no fix). ports() gives
// the sniffers' ports with their origin, set-up failure and counters, a port
// that several sniffers of one fleet list once with their counts summed.
// Names, heard flags and ports come from each sniffer block's feed status
// (JFeedStatus, which the host exports and the plug-in implements); a
// sniffer's fleet from its label (SnifferFleet.h).
//
// Owns nothing: the blocks belong to the graph, which must outlive the
// table and keep its blocks and links while the table is in use.
// Thread safety: host's thread only.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/JFeedStatus.h"

class JGraph;
class JModuleObj;

namespace flowhost {

// One node's values; a field is empty when its output left the data
// untouched (e.g. the block was not started).
struct NodeRow {
  int block = 0;       // index of the sniffer block in the graph
  int node = 0;        // node index within the sniffer (its output group)
  std::string site;    // at a centre, the site that published the unit; "" elsewhere
  std::string fleet;   // the sniffer's fleet; "" in a run without fleets
  std::string name;    // name from the node list, "" when the line has none
  std::string feed;    // name of the port its last packet came on; before any, the sniffer's port
                       // names joined by ","
  bool heard = false;  // the node has accepted a packet
  std::optional<int> nodeId;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::optional<std::string> utc;
  std::optional<int> utcSec;  // seconds since 1970 of the packet time
  std::optional<int> utcMs;
  std::optional<int> health;
  std::optional<double> idle;
  bool mapped = false;  // a map block is fed from this node
  int mapBlock = -1;    // its index in the graph
  std::optional<int> inMap;
  std::optional<int> pixelX;
  std::optional<int> pixelY;

  // What the node is called on screen: its name from the node list, or
  // "node N" ("node ?" before its number is known) when the list gives none,
  // after "<fleet>/" in a fleet (kw_out::unitLabel).
  std::string label() const;
};

// One port of a sniffer block, as the feed reports it.
struct PortRow {
  int block = 0;      // index of the sniffer block in the graph
  std::string site;   // at a centre, the site that published the port; "" elsewhere
  std::string fleet;  // the sniffer's fleet
  JFeedPortStatus stats;
};

class NodeTable {
 public:
  explicit NodeTable(const JGraph& graph);

  // Number of nodes, over all sniffer blocks.
  int size() const { return static_cast<int>(nodes_.size()); }
  int snifferCount() const { return sniffers_; }
  // Current values of every node, in graph order, then node order.
  std::vector<NodeRow> read() const;
  // Every port of every started sniffer block, in graph order, then list
  // order; a port that several blocks list comes once, at its first block,
  // with their counts summed.
  std::vector<PortRow> ports() const;
  // The first map block fed from a node, or null.
  JModuleObj* firstMap() const;

 private:
  struct Node {
    JModuleObj* sniffer;
    const JFeedStatus* status;  // the sniffer's; null when it has none
    const std::string* fleet;   // the sniffer's, in fleets_
    int block;
    int index;
    JModuleObj* map = nullptr;
    int mapBlock = -1;
  };

  // The sniffer output that feeds `input` of `block`, following input links
  // upstream through at most kMaxHops blocks; false when none does.
  static bool feedingOutput(JModuleObj* block, int input, JModuleObj** sniffer, int* output);
  static std::vector<std::string> portNames(const JFeedStatus* status);

  std::vector<Node> nodes_;
  std::vector<std::pair<int, JModuleObj*>> snifferBlocks_;  // graph index, block
  std::vector<std::string> fleets_;                         // of each, in the same order
  int sniffers_ = 0;
};

}  // namespace flowhost
