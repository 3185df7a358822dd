#include "kw_qnv_portHandler.h"

#include <cstring>

#include "KW_OLog.h"
#include "text_copy.h"
#include "kw_multicast_recv.h"
#include "kw_qnv_handlerList.h"
#include "kw_qnv_nodeHandler.h"

namespace {

// A sentence pointer for a "%s" trace line: a rejected packet leaves null ones.
const char* orNull(const char* text) { return text ? text : "(null)"; }

}  // namespace

kw_qnv_portHandler::kw_qnv_portHandler(const char* name, const char* ipAddress, int port,
                                       int slotSize, int slotCount, kw_qnv_handlerList* owner,
                                       const char* interfaceName)
    : name_(kw::copyText(name)),
      ipAddress_(kw::copyText(ipAddress)),
      port_(port),
      owner_(owner),
      receiver_(new kw_multicast_recv(ipAddress_, port, slotSize, slotCount, interfaceName)) {}

kw_qnv_portHandler::~kw_qnv_portHandler() {
  olog->printf("kw_qnv_portHandler::~kw_qnv_portHandler() %p\n", static_cast<void*>(this));
  stop();
  delete receiver_;
  delete[] name_;
  delete[] ipAddress_;
}

void kw_qnv_portHandler::run() {
  olog->printf("In kw_qnv_portHandler::run()\n");
  receiver_->run(0);  // a receiver that already runs ignores it
  running_ = 1;
}

const char* kw_qnv_portHandler::socketFailure() const { return receiver_->setupFailure(); }

const char* kw_qnv_portHandler::interfaceName() const { return receiver_->interfaceName(); }

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
    if (first == nullptr || second == nullptr) continue;
    const bool timeParsed = parsePacket_s1(first);
    const bool positionParsed = parsePacket_s2(second);
    olog->printf("parsedPacket ok %d %d\n", timeParsed ? 1 : 0, positionParsed ? 1 : 0);
    if (!timeParsed || !positionParsed || owner_ == nullptr) continue;
    // Node numbers below zero are never in the table.
    if (node < 0) continue;
    if (kw_qnv_nodeHandler* target = owner_->getNodeById(static_cast<unsigned>(node))) {
      target->set(latitude_, longitude_, utcTm_, utc1970_, utcString_);
    }
  }
}
