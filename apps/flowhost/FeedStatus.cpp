#include "FeedStatus.h"

#include "JQNV_packet_sniffer.h"

namespace flowhost {

namespace {

class SnifferStatus final : public FeedStatus {
 public:
  int portCount(const JModuleObj* sniffer) const override { return of(sniffer)->feedPortCount(); }
  bool portStats(const JModuleObj* sniffer, int index, kw_qnv_portStats* out) const override {
    return of(sniffer)->feedPortStats(index, out);
  }
  const char* nodeName(const JModuleObj* sniffer, int node) const override {
    const char* name = of(sniffer)->feedNodeName(node);
    return name != nullptr ? name : "";
  }
  bool nodeHeard(const JModuleObj* sniffer, int node) const override {
    return of(sniffer)->feedNodeHeard(node);
  }
  int nodePort(const JModuleObj* sniffer, int node) const override {
    return of(sniffer)->feedNodePort(node);
  }

 private:
  // The block comes from the plug-in's own class (its class name says so);
  // its virtual functions are reached through its table, so nothing of the
  // plug-in is linked here.
  static const JQNV_packet_sniffer* of(const JModuleObj* block) {
    return static_cast<const JQNV_packet_sniffer*>(block);
  }
};

}  // namespace

const FeedStatus& FeedStatus::ofSniffers() {
  static const SnifferStatus status;
  return status;
}

}  // namespace flowhost
