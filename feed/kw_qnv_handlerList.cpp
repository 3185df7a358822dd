#include "feed/kw_qnv_handlerList.h"

#include <cmath>

#include "feed/KW_OLog.h"
#include "feed/handler_chain.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/list_file.h"

namespace {

// One trace line when a list is refused as a whole (not a regular file, too
// large, too many entries), with the reason; the path is shown safe for a
// terminal. Lines that are merely odd are not traced: a host says them from
// the same reader (kw::readNodeList, kw::readPortList).
template <typename List>
void traceRefusal(const char* operation, const char* path, const List& list) {
  if (!list.refused || list.notes.empty()) return;
  olog->printf("kw_qnv_handlerList::%s() %s\n", operation,
               kw::listNoteText(path != nullptr ? path : "", list.notes.front()).c_str());
}

}  // namespace

kw_qnv_handlerList::kw_qnv_handlerList(int slotSize, int slotCount)
    : slotSize_(slotSize), slotCount_(slotCount) {
  startWinsock();
}

kw_qnv_handlerList::~kw_qnv_handlerList() {
  stopAll();
  if (portsLoaded_) clearPorts();
  if (nodesLoaded_) clearNodes();
}

bool kw_qnv_handlerList::readNodeFile(const char* path) {
  if (nodesLoaded_) clearNodes();

  const kw::NodeList list = kw::readNodeList(path);
  traceRefusal("readNodeFile", path, list);
  if (list.entries.empty()) return false;

  kw::HandlerChain<kw_qnv_nodeHandler> chain;
  int largest = 0;
  for (const kw::NodeListEntry& entry : list.entries) {
    auto* node = new kw_qnv_nodeHandler(entry.name.c_str(), entry.number);
    node->mediumMs_ = mediumMs_;
    node->badMs_ = badMs_;
    chain.append(node);
    if (entry.number > largest) largest = entry.number;
  }

  nodeCount_ = chain.count();
  maxNodeId_ = largest;
  nodeHead_ = chain.head();
  nodesById_ = new kw_qnv_nodeHandler*[static_cast<size_t>(maxNodeId_) + 1]();
  nodesByIndex_ = kw::HandlerChain<kw_qnv_nodeHandler>::indexOf(nodeHead_, nodeCount_);
  for (kw_qnv_nodeHandler* node = nodeHead_; node != nullptr; node = node->next_) {
    // A repeated number: the number table keeps the first node listed.
    if (nodesById_[node->nodeId_] == nullptr) nodesById_[node->nodeId_] = node;
  }
  nodesLoaded_ = 1;
  retrackPorts();
  return true;
}

bool kw_qnv_handlerList::readPortFile(const char* path) {
  if (portsLoaded_) clearPorts();

  const kw::PortList list = kw::readPortList(path);
  traceRefusal("readPortFile", path, list);
  if (list.entries.empty()) return false;

  kw::HandlerChain<kw_qnv_portHandler> chain;
  for (const kw::PortListEntry& entry : list.entries) {
    auto* handler =
        new kw_qnv_portHandler(entry.name.c_str(), entry.group.c_str(), entry.port, slotSize_,
                               slotCount_, this, entry.interfaceName.c_str());
    handler->listFile_ = path;
    handler->line_ = entry.line;
    chain.append(handler);
  }

  portCount_ = chain.count();
  portHead_ = chain.head();
  portsByIndex_ = kw::HandlerChain<kw_qnv_portHandler>::indexOf(portHead_, portCount_);
  portsLoaded_ = 1;
  return true;
}

bool kw_qnv_handlerList::clearNodes() {
  if (nodesLoaded_) {
    stopAll();
    kw::HandlerChain<kw_qnv_nodeHandler>::destroy(nodeHead_);
    delete[] nodesById_;
    delete[] nodesByIndex_;
    nodesById_ = nullptr;
    nodesByIndex_ = nullptr;
    nodeCount_ = 0;
    maxNodeId_ = 0;
    nodeHead_ = nullptr;
    nodesLoaded_ = 0;
  }
  return true;
}

bool kw_qnv_handlerList::clearPorts() {
  if (portsLoaded_) {
    stopAll();
    kw::HandlerChain<kw_qnv_portHandler>::destroy(portHead_);
    delete[] portsByIndex_;
    portsByIndex_ = nullptr;
    portCount_ = 0;
    portHead_ = nullptr;
    portsLoaded_ = 0;
  }
  return true;
}

kw_qnv_nodeHandler* kw_qnv_handlerList::getNode(unsigned index) {
  return index < nodeCount_ ? nodesByIndex_[index] : nullptr;
}

kw_qnv_nodeHandler* kw_qnv_handlerList::getNodeById(unsigned id) {
  if (nodesById_ == nullptr || id > static_cast<unsigned>(maxNodeId_)) return nullptr;
  return nodesById_[id];
}

int kw_qnv_handlerList::getNodeId(unsigned index) {
  return index < nodeCount_ ? nodesByIndex_[index]->nodeId_ : 0;
}

void kw_qnv_handlerList::clearUpdated(unsigned index) {
  if (index < nodeCount_) nodesByIndex_[index]->updated_ = 0;
}

void kw_qnv_handlerList::retrackPorts() {
  // Ports run here only if no node list was loaded when they started.
  for (kw_qnv_portHandler* port = portHead_; port != nullptr; port = port->next_) {
    if (port->running_ == 1) port->retrack();
  }
}

void kw_qnv_handlerList::serviceAll() {
  for (kw_qnv_portHandler* port = portHead_; port != nullptr; port = port->next_) port->service();
}

void kw_qnv_handlerList::runAll() {
  for (kw_qnv_portHandler* port = portHead_; port != nullptr; port = port->next_) port->run();
}

void kw_qnv_handlerList::stopAll() {
  // Every running receiver is told to stop first, then each is waited for:
  // their threads end together and their pauses overlap, so stopping a
  // thousand ports takes about as long as stopping one. What each port ends
  // in is what its own stop() gives: receiver stopped, running_ 0.
  for (kw_qnv_portHandler* port = portHead_; port != nullptr; port = port->next_) {
    if (port->running_ == 1) port->receiver_->signalStop();
  }
  for (kw_qnv_portHandler* port = portHead_; port != nullptr; port = port->next_) {
    if (port->running_ == 1) port->receiver_->finishStop();
    port->running_ = 0;
  }
}

namespace {
// |seconds| x 1000, truncated toward zero, kept within int.
int32_t toMilliseconds(double seconds) {
  const double ms = std::fabs(seconds) * 1000.0;
  if (!(ms < 2147483647.0)) return ms != ms ? 0 : 2147483647;
  return static_cast<int32_t>(ms);
}
}  // namespace

void kw_qnv_handlerList::setThresholds(double medium, double bad) {
  mediumMs_ = toMilliseconds(medium);
  badMs_ = toMilliseconds(bad);
  for (kw_qnv_nodeHandler* node = nodeHead_; node != nullptr; node = node->next_) {
    node->mediumMs_ = mediumMs_;
    node->badMs_ = badMs_;
  }
}
