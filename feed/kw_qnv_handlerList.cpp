#include "feed/kw_qnv_handlerList.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "feed/KW_OLog.h"
#include "feed/handler_chain.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/files.h"

namespace {

// Up to `wanted` white-space separated tokens of one line piece, each cut
// into its own buffer. Returns how many were found.
int scanTokens(const char* line, char tokens[][kw_qnv_handlerList::kLinePiece + 1], int wanted) {
  int count = 0;
  const char* p = line;
  while (count < wanted) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    if (*p == '\0') break;
    const char* start = p;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != '\v' &&
           *p != '\f') {
      ++p;
    }
    const size_t length = static_cast<size_t>(p - start);
    std::memcpy(tokens[count], start, length);
    tokens[count][length] = '\0';
    ++count;
  }
  return count;
}

// The leading decimal number of a token: optional sign, digits, the rest
// ignored; 0 when the token does not begin with a number. Saturates instead
// of overflowing, so a long run of digits reads as a large number.
long leadingNumber(const char* token) {
  errno = 0;
  const long value = std::strtol(token, nullptr, 10);
  return value;
}

int toInt(long value) {
  if (value > 2147483647L) return 2147483647;
  if (value < -2147483647L - 1) return -2147483647 - 1;
  return static_cast<int>(value);
}

// Reads a text file in pieces of at most 255 characters, each piece handled
// as a line of its own, with the 1-based number of the file line it belongs
// to. Only regular files are read: a named pipe or a device in place of a
// list could block the host's thread or never end.
template <typename Handle>
bool forEachLine(const char* path, Handle handle) {
  FILE* file = kw::openRegularFile(path);
  if (file == nullptr) return false;
  char line[kw_qnv_handlerList::kLinePiece + 1];
  int number = 0;
  bool lineStart = true;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (lineStart) ++number;
    const size_t length = std::strlen(line);
    lineStart = length > 0 && line[length - 1] == '\n';
    handle(line, number);
  }
  std::fclose(file);
  return true;
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

  kw::HandlerChain<kw_qnv_nodeHandler> chain;
  int largest = 0;
  const bool opened = forEachLine(path, [&](const char* line, int) {
    char tokens[2][kLinePiece + 1];
    const int found = scanTokens(line, tokens, 2);
    if (found == 0 || tokens[0][0] == '#') return;
    const long number = leadingNumber(tokens[0]);
    // Numbers run from 0 to 1000; a negative one would index outside the
    // number table, so it is skipped like one above 1000.
    if (number > kMaxNodeId || number < 0) return;
    const int id = static_cast<int>(number);
    auto* node = new kw_qnv_nodeHandler(found > 1 ? tokens[1] : "", id);
    node->mediumMs_ = mediumMs_;
    node->badMs_ = badMs_;
    chain.append(node);
    if (id > largest) largest = id;
  });
  if (!opened || chain.count() == 0) {
    kw::HandlerChain<kw_qnv_nodeHandler>::destroy(chain.head());
    return false;
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

  kw::HandlerChain<kw_qnv_portHandler> chain;
  const bool opened = forEachLine(path, [&](const char* line, int number) {
    // <name> <group> <port> [interface]: the fourth token, when present,
    // names the interface to join on (a name or a local IPv4 address).
    char tokens[4][kLinePiece + 1];
    const int found = scanTokens(line, tokens, 4);
    if (found < 3 || tokens[0][0] == '#') return;
    const int port = toInt(leadingNumber(tokens[2]));
    auto* handler = new kw_qnv_portHandler(tokens[0], tokens[1], port, slotSize_, slotCount_, this,
                                           found > 3 ? tokens[3] : "");
    handler->listFile_ = path;
    handler->line_ = number;
    chain.append(handler);
  });
  if (!opened || chain.count() == 0) {
    kw::HandlerChain<kw_qnv_portHandler>::destroy(chain.head());
    return false;
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
