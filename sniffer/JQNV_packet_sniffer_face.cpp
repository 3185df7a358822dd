// JQNV_packet_sniffer: the face. Three lines of text (the caption and the
// counts of ports and nodes in the feed) and a small status square in the
// block's colour at the top-left corner.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "feed/KW_OLog.h"
#include "feed/kw_qnv_handlerList.h"
#include "host/JGraphics.h"
#include "host/JRect.h"
#include "host/JRegion.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "sniffer/JQNV_trace_address.h"

void JQNV_packet_sniffer::paint(JGraphics graphics, double dx, double dy, JRegion& region,
                                double scale) {
  olog->printf("JQNV_packet_sniffer::paint() %p\n", self(this));
  JAddObj::paint(graphics, dx, dy, region, scale);
  const JRect r = getIExtent(dx, dy, scale);
  graphics.setJColor(moduleColor);
  const int d = depth2();
  graphics.fill3DRect(r.x + d, r.y + d, d, d, 3);
}

namespace {
int toInt(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}
}  // namespace

void JQNV_packet_sniffer::draw(JGraphics graphics, int x, int y, int w, int h) {
  olog->printf("JQNV_packet_sniffer::draw() %p\n", self(this));
  char ports[100];
  char nodes[100];
  if (versionOk_) {
    std::snprintf(ports, sizeof ports, "%d ports",
                  handlers_ ? static_cast<int>(handlers_->portCount_) : 0);
    std::snprintf(nodes, sizeof nodes, "%d nodes",
                  handlers_ ? static_cast<int>(handlers_->nodeCount_) : 0);
  } else {
    std::snprintf(ports, sizeof ports, "Bad Version");
    std::snprintf(nodes, sizeof nodes, "Save and retry");
  }
  // Positions in 64 bits: 2 * h overflows int for heights above 2^30, which
  // restored geometry can give; a position beyond int is held at its end.
  const int64_t top = y;
  const int64_t height = h;
  drawText(graphics, JString("QNV"), JRect(x, toInt(top + height / 12), w, h / 3));
  drawText(graphics, JString(ports), JRect(x, toInt(top + height / 3), w, h / 3));
  drawText(graphics, JString(nodes),
           JRect(x, toInt(top + (2 * height) / 3 - height / 12), w, h / 3));
}
