// JQNV_packet_sniffer: the feed's status for the host (ports with their
// origin, set-up failure and counts; node names, whether each was heard and
// on which port last).
#include "JQNV_packet_sniffer.h"
#include "kw_qnv_handlerList.h"
#include "kw_qnv_nodeHandler.h"
#include "kw_qnv_portHandler.h"
#include "kw_qnv_portStats.h"

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
