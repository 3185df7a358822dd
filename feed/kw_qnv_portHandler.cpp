#include "feed/kw_qnv_portHandler.h"

#include <cmath>
#include <cstring>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_nodeHandler.h"
#include "feed/kw_qnv_portStats.h"
#include "feed/packet_envelope.h"
#include "feed/text_copy.h"

namespace {

// A sentence pointer for a "%s" trace line: a rejected packet leaves null ones.
const char* orNull(const char* text) { return text ? text : "(null)"; }

// A position on the globe: finite, latitude within 90 degrees, longitude
// within 180.
bool positionValid(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
         std::fabs(longitude) <= 180.0;
}

static_assert(kw_multicast_recv::kMaxNode == kw_qnv_handlerList::kMaxNodeId,
              "a receiver tracks every number a node list may name");

// The node numbers of `owner`'s node list: where this port's reception is
// shared, the datagrams this port is given. A port of no list takes all.
kw_multicast_recv::NodeFilter trackedBy(kw_qnv_handlerList* owner) {
  if (owner == nullptr) return kw_multicast_recv::NodeFilter{};
  kw_multicast_recv::NodeFilter filter = kw_multicast_recv::NodeFilter::none();
  for (unsigned id = 0; id <= static_cast<unsigned>(kw_multicast_recv::kMaxNode); ++id) {
    if (owner->getNodeById(id) != nullptr) filter.nodes.set(id);
  }
  return filter;
}

}  // namespace

kw_qnv_portHandler::kw_qnv_portHandler(const char* name, const char* ipAddress, int port,
                                       int slotSize, int slotCount, kw_qnv_handlerList* owner,
                                       const char* interfaceName)
    : name_(kw::copyText(name)),
      ipAddress_(kw::copyText(ipAddress)),
      port_(port),
      owner_(owner),
      receiver_(new kw_multicast_recv(ipAddress_, port, slotSize, slotCount, interfaceName)) {
  // Junk that the envelope check would refuse never takes a slot, so a flood
  // of it cannot crowd valid packets out of the write half.
  receiver_->setAdmission(&kw::envelope::mayPass);
}

kw_qnv_portHandler::~kw_qnv_portHandler() {
  olog->printf("kw_qnv_portHandler::~kw_qnv_portHandler() %p\n", static_cast<void*>(this));
  stop();
  delete receiver_;
  delete[] name_;
  delete[] ipAddress_;
}

void kw_qnv_portHandler::run() {
  olog->printf("In kw_qnv_portHandler::run()\n");
  // Its place in the list, which the nodes it feeds record.
  index_ = 0;
  for (const kw_qnv_portHandler* p = prev_; p != nullptr; p = p->prev_) ++index_;
  receiver_->track(trackedBy(owner_));
  receiver_->run(0);  // a receiver that already runs ignores it
  running_ = 1;
}

void kw_qnv_portHandler::retrack() { receiver_->track(trackedBy(owner_)); }

const char* kw_qnv_portHandler::socketFailure() const { return receiver_->setupFailure(); }

const char* kw_qnv_portHandler::interfaceName() const { return receiver_->interfaceName(); }

void kw_qnv_portHandler::readStats(kw_qnv_portStats* out) const {
  out->name = name_;
  out->group = ipAddress_;
  out->port = port_;
  out->interface = interfaceName();
  out->listFile = listFile_;
  out->line = line_;
  out->setupError = receiver_->setupFailure();
  out->takenIn = receiver_->takenIn();
  out->droppedFull = receiver_->droppedFull();
  out->rejected = rejected_ + receiver_->refused();
  out->unknownNode = unknownNode_ + receiver_->unknownNode();
  out->older = older_;
}

void kw_qnv_portHandler::stop() {
  if (running_ == 1) receiver_->stop();
  running_ = 0;
}

void kw_qnv_portHandler::service() {
  olog->printf("In kw_qnv_portHandler::service() running is %d\n", running_);
  if (running_ == 0) return;
  receiver_->swapBuffers();
  while (char* packet = receiver_->getPacket()) {
    olog->printf("pk is %s\n", packet);
    char* first = nullptr;
    char* second = nullptr;
    const int node = parsePacket_full(packet, &first, &second);
    olog->printf("service nodeId is %d sent %s\n", node, orNull(first));
    olog->printf("service nodeId is %d sent %s\n", node, orNull(second));
    if (first == nullptr || second == nullptr) {
      ++rejected_;
      continue;
    }
    const bool timeParsed = parsePacket_s1(first);
    const bool positionParsed = parsePacket_s2(second);
    olog->printf("parsedPacket ok %d %d\n", timeParsed ? 1 : 0, positionParsed ? 1 : 0);
    int numbered = 0;
    if (!timeParsed || !positionParsed || !kw::envelope::nodeNumber(packet, &numbered) ||
        !positionValid(latitude_, longitude_)) {
      ++rejected_;
      continue;
    }
    if (owner_ == nullptr) continue;
    // Node numbers below zero are never in the table.
    kw_qnv_nodeHandler* target =
        node < 0 ? nullptr : owner_->getNodeById(static_cast<unsigned>(node));
    if (target == nullptr) {
      ++unknownNode_;
    } else if (target->set(latitude_, longitude_, utcTm_, utc1970_, utcString_)) {
      target->lastPort_ = index_;
    } else {
      ++older_;
    }
  }
}
