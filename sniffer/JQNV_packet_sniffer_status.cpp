// JQNV_packet_sniffer: the feed's status for the host (ports with their
// origin, set-up failure and counts; node names, whether each was heard and
// on which port last).
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portHandler.h"
#include "feed/kw_qnv_portStats.h"
#include "sniffer/JQNV_packet_sniffer.h"

int JQNV_packet_sniffer::feedPortCount() const {
  return handlers_ != nullptr ? static_cast<int>(handlers_->portCount()) : 0;
}

bool JQNV_packet_sniffer::feedPortStats(int index, kw_qnv_portStats* out) const {
  if (handlers_ == nullptr || index < 0 || out == nullptr) return false;
  const kw_qnv_portHandler* port = handlers_->getPort(static_cast<unsigned>(index));
  if (port == nullptr) return false;
  port->readStats(out);
  return true;
}

bool JQNV_packet_sniffer::feedPortStatus(int index, JFeedPortStatus* out) const {
  kw_qnv_portStats stats;
  if (out == nullptr || !feedPortStats(index, &stats)) return false;
  out->name = std::move(stats.name);
  out->group = std::move(stats.group);
  out->port = stats.port;
  out->interface = std::move(stats.interface);
  out->listFile = std::move(stats.listFile);
  out->line = stats.line;
  out->setupError = std::move(stats.setupError);
  out->takenIn = stats.takenIn;
  out->droppedFull = stats.droppedFull;
  out->rejected = stats.rejected;
  out->unknownNode = stats.unknownNode;
  out->older = stats.older;
  return true;
}

const char* JQNV_packet_sniffer::feedNodeName(int index) const {
  if (handlers_ == nullptr || index < 0) return "";
  const kw_qnv_nodeHandler* node = handlers_->getNode(static_cast<unsigned>(index));
  return node != nullptr && node->name_ != nullptr ? node->name_ : "";
}

bool JQNV_packet_sniffer::feedNodeHeard(int index) const {
  if (handlers_ == nullptr || index < 0) return false;
  const kw_qnv_nodeHandler* node = handlers_->getNode(static_cast<unsigned>(index));
  return node != nullptr && node->heard_;
}

int JQNV_packet_sniffer::feedNodePort(int index) const {
  if (handlers_ == nullptr || index < 0) return -1;
  const kw_qnv_nodeHandler* node = handlers_->getNode(static_cast<unsigned>(index));
  return node != nullptr ? node->lastPort_ : -1;
}
