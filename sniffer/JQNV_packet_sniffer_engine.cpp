// JQNV_packet_sniffer: evaluation. The clock input paces the feed: on each
// rising edge every port takes in what arrived since the last tick and every
// node's eight outputs are announced. The on off input starts and stops the
// receivers. Health and idle time are computed when a linked block asks.
#include "feed/KW_OLog.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "host/JDataType.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "sniffer/JQNV_trace_address.h"

void JQNV_packet_sniffer::engine(int n, JLinkObj& link) {
  olog->printf("JQNV_packet_sniffer::engine() n=%d %p  ----- ogm is %d\n", n, self(this), ogm);
  if (!valid_ || handlers_ == nullptr || !versionOk_) return;

  if (n == 0) {
    const int32_t previous = clock_;
    JIntegerData value(clock_);
    link.access(value);
    clock_ = clock_ != 0 ? 1 : 0;
    if (clock_ == previous || clock_ == 0) return;

    olog->printf("JQNV_packet_sniffer::engine() processing tick\n");
    handlers_->serviceAll();
    // Only indices below ogm exist on the host's side: a list longer than the
    // block's node groups announces its first groups only.
    const unsigned nodes = handlers_->nodeCount_;
    for (unsigned i = 0; i < nodes; ++i) {
      const unsigned first = Layout::outputCount(i);
      for (unsigned k = 0; k < static_cast<unsigned>(Layout::kOutputsPerNode); ++k) {
        if (first + k < static_cast<unsigned>(ogm)) broadcast(static_cast<int>(first + k));
      }
      handlers_->clearUpdated(i);
    }
  } else if (n == 1) {
    JIntegerData value(onOff_);
    link.access(value);
    if (onOff_ != 0) {
      handlers_->runAll();
    } else {
      handlers_->stopAll();
    }
    olog->printf("JQNV_packet_sniffer::engine() on-off is %d\n", onOff_);
  }
}

void JQNV_packet_sniffer::access(int n, JLinkObj&, const JDataType& data) {
  olog->printf("JQNV_packet_sniffer::access() n=%d %p\n", n, self(this));
  if (!valid_ || handlers_ == nullptr) return;
  olog->printf("JQNV_packet_sniffer NEVER\n");
  if (n < 0 || static_cast<unsigned>(n) >= Layout::outputCount(num_nodes_)) return;

  const unsigned i = static_cast<unsigned>(Layout::nodeOf(n));
  const int kind = Layout::kindOf(n);
  if (kind == Layout::kNodeId) {
    static_cast<int&>(data) = handlers_->getNodeId(i);
    return;
  }
  // A node group with no node behind it (a stored count larger than the
  // list) yields nothing for the other kinds.
  kw_qnv_nodeHandler* node = handlers_->getNode(i);
  if (node == nullptr) return;
  switch (kind) {
    case Layout::kLatitude: static_cast<double&>(data) = node->latitude_; break;
    case Layout::kLongitude: static_cast<double&>(data) = node->longitude_; break;
    case Layout::kUtcSec: static_cast<int&>(data) = node->utc1970_.time; break;
    case Layout::kUtcMs:
      static_cast<int&>(data) = node->utc1970_.millitm;
      olog->printf("JQNV_packet_sniffer::access getMilSec %d\n", node->utc1970_.millitm);
      break;
    case Layout::kUtcString:
      static_cast<JString&>(data) = JString(node->utcString_);
      olog->printf("JQNV_packet_sniffer::access getTimeString %s\n", node->utcString_);
      break;
    case Layout::kHealth: static_cast<int&>(data) = node->updateHealth(); break;
    case Layout::kIdleTime: static_cast<double&>(data) = node->getIdleTime(); break;
  }
}
