// JQNV_packet_sniffer: identity, lifecycle and ports.
#include "sniffer/JQNV_packet_sniffer.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "feed/KW_OLog.h"
#include "feed/kw_qnv_handlerList.h"
#include "host/JColor.h"
#include "host/JFocusSet.h"
#include "host/JIntegerData.h"
#include "host/JRealData.h"
#include "host/JStringData.h"
#include "platform/platform.h"
#include "sniffer/JQNV_trace_address.h"

int JQNV_packet_sniffer::instanceCount = 0;
char JQNV_packet_sniffer::versionText[JQNV_packet_sniffer::kFileNameSize] = {};

namespace {

// The plug-in's build time stamp in the C library's asctime form, such as
// "Wed Jan 28 12:43:27 2004", from the compiler's date and time of this file.
void buildStamp(char* out, size_t size) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const char* date = __DATE__;   // "Mmm dd yyyy"
  const char* clock = __TIME__;  // "hh:mm:ss"
  tm when{};
  for (int m = 0; m < 12; ++m) {
    if (std::strncmp(date, kMonths + 3 * m, 3) == 0) when.tm_mon = m;
  }
  when.tm_mday = std::atoi(date + 4);
  when.tm_year = std::atoi(date + 7) - 1900;
  when.tm_hour = 12;
  const time_t noon = kw::utcSecondsOf(&when);
  tm normalised{};
  kw::utcCalendarOf(noon, &normalised);
  static const char kDays[] = "SunMonTueWedThuFriSat";
  std::snprintf(out, size, "%.3s %.3s %2d %.8s %d", kDays + 3 * normalised.tm_wday,
                kMonths + 3 * normalised.tm_mon, normalised.tm_mday, clock,
                normalised.tm_year + 1900);
}

}  // namespace

JQNV_packet_sniffer::JQNV_packet_sniffer() : nodeFilter_("*.nod"), portFilter_("*.mcp") {
  moduleColor = JColor::green.brighter();
  igm = 2;
  ogm = 0;
  olog->open("logFile.txt");
  olog->printf("JQNV_packet_sniffer::JQNV_packet_sniffer() %p ----------- #%d\n", self(this),
               instanceCount);
  ++instanceCount;
  if (versionText[0] == '\0') {
    char stamp[64];
    buildStamp(stamp, sizeof stamp);
    std::snprintf(versionText, sizeof versionText, "%s - %s\n", kVersion, stamp);
  }
}

JQNV_packet_sniffer::JQNV_packet_sniffer(const JQNV_packet_sniffer& other)
    : JAddObj(other), nodeFilter_(other.nodeFilter_), portFilter_(other.portFilter_) {
  olog->printf("JQNV_packet_sniffer::JQNV_packet_sniffer(&) %p\n", self(this));
  copyStateFrom(other);
  handlers_ = nullptr;  // a copy gets its own feed at its startup
}

JQNV_packet_sniffer& JQNV_packet_sniffer::operator=(const JQNV_packet_sniffer& other) {
  if (this != &other) {
    JAddObj::operator=(other);
    nodeFilter_ = other.nodeFilter_;
    portFilter_ = other.portFilter_;
    copyStateFrom(other);  // handlers_ stays this block's own
  }
  return *this;
}

JQNV_packet_sniffer::~JQNV_packet_sniffer() {
  olog->printf("JQNV_packet_sniffer::~JQNV_packet_sniffer() %p\n", self(this));
}

void JQNV_packet_sniffer::copyStateFrom(const JQNV_packet_sniffer& other) {
  clock_ = other.clock_;
  onOff_ = other.onOff_;
  std::memcpy(nodeFile_, other.nodeFile_, sizeof nodeFile_);
  std::memcpy(portFile_, other.portFile_, sizeof portFile_);
  mediumThreshold_ = other.mediumThreshold_;
  badThreshold_ = other.badThreshold_;
  maxPacketSize_ = other.maxPacketSize_;
  packetBufferSize_ = other.packetBufferSize_;
  num_nodes_ = other.num_nodes_;
  valid_ = other.valid_;
  versionOk_ = other.versionOk_;
}

const char* JQNV_packet_sniffer::className() const { return Layout::kClassName; }

JObject* JQNV_packet_sniffer::clone() const {
  olog->printf("JQNV_packet_sniffer::clone() %p\n", self(this));
  return new (std::nothrow) JQNV_packet_sniffer(*this);
}

bool JQNV_packet_sniffer::isValid() {
  olog->printf("JQNV_packet_sniffer::isValid() %p\n", self(this));
  return true;
}

bool JQNV_packet_sniffer::copyFileName(char* field, const char* text) {
  const char* source = text ? text : "";
  const size_t length = std::strlen(source);
  if (length >= static_cast<size_t>(kFileNameSize)) return false;
  std::memcpy(field, source, length + 1);
  return true;
}

void JQNV_packet_sniffer::releaseHandlers() {
  if (handlers_ == nullptr) return;
  handlers_->stopAll();
  handlers_->clearPorts();
  handlers_->clearNodes();
  delete handlers_;
  handlers_ = nullptr;
}

void JQNV_packet_sniffer::startup() {
  // A host that asked for the trace file to wait for the first startup
  // (KW_TRACE_OPEN=startup) gets it opened now, with the lines so far.
  olog->startWriting();
  olog->printf("JQNV_packet_sniffer::startup() %p\n", self(this));
  // A second startup replaces the feed instead of leaking a running one.
  releaseHandlers();
  // The feed is built with the block's buffer sizes (a value outside the
  // limits of its property gives the default) and its thresholds, before
  // the node list takes them over.
  const int slotSize =
      maxPacketSize_ >= kMinSlotSize && maxPacketSize_ <= kMaxSlotSize ? maxPacketSize_ : kSlotSize;
  const int slotCount = packetBufferSize_ >= kMinSlotCount && packetBufferSize_ <= kMaxSlotCount
                            ? packetBufferSize_
                            : kSlotCount;
  handlers_ = new (std::nothrow) kw_qnv_handlerList(slotSize, slotCount);
  if (handlers_ == nullptr) return;
  handlers_->setThresholds(mediumThreshold_, badThreshold_);
  if (nodeFile_[0] != '\0' && handlers_->readNodeFile(nodeFile_)) {
    updateNNodes(handlers_->nodeCount_);
  } else {
    nodeFile_[0] = '\0';
  }
  if (portFile_[0] == '\0' || !handlers_->readPortFile(portFile_)) portFile_[0] = '\0';
}

void JQNV_packet_sniffer::close() {
  olog->printf("JQNV_packet_sniffer::close() %p\n", self(this));
  releaseHandlers();
  kw::Sleep(100);
  valid_ = false;
}

void JQNV_packet_sniffer::reset() {
  olog->printf("JQNV_packet_sniffer::reset() %p\n", self(this));
  JViewObj::reset();
}

void JQNV_packet_sniffer::addButton(JComponent* component) {
  olog->printf("JQNV_packet_sniffer::addButton() %p\n", self(this));
  JQNV_packet_sniffer prototype;
  addModuleButton(component, &prototype);
}

bool JQNV_packet_sniffer::updateNNodes(unsigned n) {
  olog->printf("JQNV_packet_sniffer::updateNNodes() %p\n", self(this));
  if (n > kMaxNodes) n = kMaxNodes;
  if (n == 0) n = 1;
  if (n == num_nodes_) return false;
  num_nodes_ = n;
  ogm = static_cast<int>(Layout::outputCount(n));
  return true;
}

// ---------------------------------------------------------------- ports

int JQNV_packet_sniffer::inputType(int) {
  olog->printf("JQNV_packet_sniffer::inputType() %p\n", self(this));
  return JIntegerData::id;
}

int JQNV_packet_sniffer::outputType(int n) {
  olog->printf("JQNV_packet_sniffer::outputType() %p\n", self(this));
  switch (Layout::kindOf(n)) {  // the remainder keeps the sign of n
    case Layout::kLatitude:
    case Layout::kLongitude:
    case Layout::kIdleTime: return JRealData::id;
    case Layout::kUtcString: return JStringData::id;
    default: return JIntegerData::id;
  }
}

JString JQNV_packet_sniffer::inputTag(int n) {
  olog->printf("JQNV_packet_sniffer::inputTag() %p\n", self(this));
  if (n == 0) return JString("clock");
  if (n == 1) return JString("on off");
  return JString("ERROR");
}

JString JQNV_packet_sniffer::outputTag(int n) {
  olog->printf("JQNV_packet_sniffer::outputTag() %p\n", self(this));
  if (n < 0 || static_cast<unsigned>(n) >= Layout::outputCount(num_nodes_)) return JString("ERROR");
  char tag[64];
  std::snprintf(tag, sizeof tag, "%s of node %d\n", Layout::kKindWords[Layout::kindOf(n)],
                Layout::nodeOf(n));
  return JString(tag);
}

int JQNV_packet_sniffer::inputFace(int n) {
  olog->printf("JQNV_packet_sniffer::inputFace() n=%d %p\n", n, self(this));
  return TOP_FACE;
}

int JQNV_packet_sniffer::outputFace(int n) {
  olog->printf("JQNV_packet_sniffer::outputFace() n=%d %p\n", n, self(this));
  return RIGHT_FACE;
}

JFRect JQNV_packet_sniffer::inputArea(int n) {
  olog->printf("JQNV_packet_sniffer::inputArea() n=%d %p\n", n, self(this));
  return topArea(n, 0, 2, 0.25, 0.5, 6);
}

JFPoint JQNV_packet_sniffer::inputPoint(int n, JLinkObj& link) {
  olog->printf("JQNV_packet_sniffer::innputPoinnt() n=%d %p\n", n, self(this));
  return topPoint(n, link, 0, 2, 0.25, 0.5);
}

JFRect JQNV_packet_sniffer::outputArea(int n) {
  olog->printf("JQNV_packet_sniffer::outputArea() n=%d %p\n", n, self(this));
  const int outputs = static_cast<int>(Layout::outputCount(num_nodes_));
  if (n >= 0 && n < outputs) return rightArea(n, 0, outputs + 1, 0.01, 0.99, 6);
  return rightArea(1, 0, 17, 0.01, 0.99, 6);
}

JFPoint JQNV_packet_sniffer::outputPoint(int n, JLinkObj& link) {
  olog->printf("JQNV_packet_sniffer::outputPoint() n=%d %p\n", n, self(this));
  const int outputs = static_cast<int>(Layout::outputCount(num_nodes_));
  if (n >= 0 && n < outputs) return rightPoint(n, link, 0, outputs + 1, 0.01, 0.99);
  return rightPoint(1, link, 0, 17, 0.01, 0.99);
}

bool JQNV_packet_sniffer::inputAllowed(int n) {
  olog->printf("JQNV_packet_sniffer::inputAllowed() %p\n", self(this));
  return inputSet(n).size() == 0;
}

bool JQNV_packet_sniffer::outputAllowed(int) {
  olog->printf("JQNV_packet_sniffer::outputAllowed() %p\n", self(this));
  return true;
}
