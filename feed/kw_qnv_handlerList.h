// kw_qnv_handlerList: the container of the feed. Reads the port file (*.mcp:
// which multicast groups to listen to) into port handlers and the node file
// (*.nod: which node numbers to track) into node handlers, keeps both in file
// order and the nodes also by number, and offers what the sniffer block
// drives: service, start and stop every port, look nodes up, set the health
// thresholds.
//
// Owns every port handler, every node handler and the three arrays.
// Invariants: every index below nodeCount_ yields a node handler; every
// non-null entry of nodesById_ (0 to maxNodeId_) is a node of the chain;
// ports are stopped before they or the nodes are destroyed.
//
// Thread safety: host's thread only.
#pragma once

#include <cstdint>

#include "feed/list_file.h"

class kw_qnv_nodeHandler;
class kw_qnv_portHandler;

class kw_qnv_handlerList {
 public:
  static constexpr int kMaxNodeId = kw::kListMaxNodeNumber;
  static constexpr int kLinePiece = kw::kListLinePiece;  // characters one line read takes

  kw_qnv_handlerList(int slotSize, int slotCount);
  virtual ~kw_qnv_handlerList();
  kw_qnv_handlerList(const kw_qnv_handlerList&) = delete;
  kw_qnv_handlerList& operator=(const kw_qnv_handlerList&) = delete;

  // Read a list file (kw::readNodeList, kw::readPortList: only a regular
  // file, at most 1 MiB and 1001 entries); true when it gave at least one
  // entry. Whatever list of that kind was loaded before is cleared first
  // (and every port stopped).
  bool readNodeFile(const char* path);
  bool readPortFile(const char* path);
  bool clearNodes();
  bool clearPorts();

  kw_qnv_nodeHandler* getNode(unsigned index);
  kw_qnv_nodeHandler* getNodeById(unsigned id);
  int getNodeId(unsigned index);
  void clearUpdated(unsigned index);

  void serviceAll();
  void runAll();
  // Stops every port: all running receivers are told to stop first, then
  // each is waited for, so the time does not grow with the port count.
  void stopAll();

  // Thresholds in seconds; kept and handed to every node in milliseconds.
  void setThresholds(double medium, double bad);
  // Tells every running port's receiver the node numbers of the list (a
  // port whose reception is shared gets the datagrams of those only).
  void retrackPorts();

  uint32_t nodeCount() const { return nodeCount_; }
  uint32_t portCount() const { return portCount_; }
  kw_qnv_portHandler* getPort(unsigned index) {
    return index < portCount_ ? portsByIndex_[index] : nullptr;
  }
  int mediumMs() const { return mediumMs_; }
  int badMs() const { return badMs_; }

  uint32_t nodeCount_ = 0;
  kw_qnv_nodeHandler* nodeHead_ = nullptr;
  kw_qnv_nodeHandler** nodesByIndex_ = nullptr;
  int32_t maxNodeId_ = 0;
  kw_qnv_nodeHandler** nodesById_ = nullptr;
  uint32_t portCount_ = 0;
  kw_qnv_portHandler* portHead_ = nullptr;
  kw_qnv_portHandler** portsByIndex_ = nullptr;
  uint8_t portsLoaded_ = 0;
  uint8_t nodesLoaded_ = 0;
  int32_t slotSize_;
  int32_t slotCount_;
  int32_t mediumMs_ = 2000;
  int32_t badMs_ = 4000;
};
