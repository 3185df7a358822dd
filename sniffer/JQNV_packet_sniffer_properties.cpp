// JQNV_packet_sniffer: properties (the host's dialog) and persistence (the
// host's documents).
#include "feed/KW_OLog.h"
#include "feed/kw_qnv_handlerList.h"
#include "host/JArray.h"
#include "host/JDictionary.h"
#include "host/JFileProperty.h"
#include "host/JIntegerProperty.h"
#include "host/JOutputStream.h"
#include "host/JRealProperty.h"
#include "host/JStringProperty.h"
#include "sniffer/JQNV_packet_sniffer.h"
#include "sniffer/JQNV_trace_address.h"

namespace {

// The edited text of a file-name property (a file or a plain text property).
bool textOf(JProperty& property, JString* text) {
  if (auto* file = dynamic_cast<JFileProperty*>(&property)) {
    *text = file->getValue();
    return true;
  }
  if (auto* plain = dynamic_cast<JStringProperty*>(&property)) {
    *text = plain->getValue();
    return true;
  }
  return false;
}

bool named(JProperty& property, const char* name) { return property.getName() == name; }

int withinOr(int value, int low, int high, int otherwise) {
  return value >= low && value <= high ? value : otherwise;
}

double positiveOr(double value, double otherwise) {
  return value > 0.0 && value < 1e9 ? value : otherwise;
}

}  // namespace

JArray JQNV_packet_sniffer::getProperties() {
  olog->printf("JQNV_packet_sniffer::getProperties() %p\n", self(this));
  JArray list = JAddObj::getProperties();
  list.append(new JFileProperty("node file name", JString(nodeFile_), nodeFilter_));
  list.append(new JFileProperty("port file name", JString(portFile_), portFilter_));
  list.append(new JIntegerProperty("MAX packet size", maxPacketSize_, kMinSlotSize, kMaxSlotSize));
  list.append(
      new JIntegerProperty("packet buffer size", packetBufferSize_, kMinSlotCount, kMaxSlotCount));
  list.append(new JRealProperty("medium threshold", mediumThreshold_, 5, 3));
  list.append(new JRealProperty("bad threshold", badThreshold_, 5, 3));
  list.append(new JStringProperty("version", JString(versionText)));
  return list;
}

bool JQNV_packet_sniffer::updateProperty(JProperty& property) {
  olog->printf("JQNV_packet_sniffer::updateProperty() %p\n", self(this));
  if (JAddObj::updateProperty(property)) return true;

  JString text;
  if (named(property, "node file name")) {
    if (!textOf(property, &text)) return false;
    // A name too long for the field is refused before anything is reread.
    if (handlers_ != nullptr && text.length() < kFileNameSize && handlers_->readNodeFile(text)) {
      copyFileName(nodeFile_, text);
      updateNNodes(handlers_->nodeCount_);
    }
    repaint();
    return true;
  }
  if (named(property, "port file name")) {
    if (!textOf(property, &text)) return false;
    if (handlers_ != nullptr && text.length() < kFileNameSize && handlers_->readPortFile(text)) {
      copyFileName(portFile_, text);
    }
    repaint();
    return true;
  }
  if (named(property, "MAX packet size") || named(property, "packet buffer size")) {
    auto* integer = dynamic_cast<JIntegerProperty*>(&property);
    if (integer == nullptr) return false;
    (named(property, "MAX packet size") ? maxPacketSize_ : packetBufferSize_) = integer->getValue();
    return true;
  }
  if (named(property, "medium threshold") || named(property, "bad threshold")) {
    auto* real = dynamic_cast<JRealProperty*>(&property);
    if (real == nullptr) return false;
    (named(property, "medium threshold") ? mediumThreshold_ : badThreshold_) = real->getValue();
    if (handlers_ != nullptr) handlers_->setThresholds(mediumThreshold_, badThreshold_);
    return true;
  }
  return false;
}

void JQNV_packet_sniffer::writeContent(JOutputStream& stream) {
  olog->printf("JQNV_packet_sniffer::writeContent() %p\n", self(this));
  JAddObj::writeContent(stream);
  putObject(stream, "node file name", JString(nodeFile_));
  putObject(stream, "port file name", JString(portFile_));
  putInteger(stream, "number of nodes", static_cast<int>(num_nodes_));
  olog->printf("JQNV_packet_sniffer::writeContent() ogm=%d num_nodes_=%d\n", ogm,
               static_cast<int>(num_nodes_));
  putObject(stream, "version", JString(kVersion));
  putInteger(stream, "MAX packet size", maxPacketSize_);
  putInteger(stream, "packet buffer size", packetBufferSize_);
  putDouble(stream, "medium threshold", mediumThreshold_);
  putDouble(stream, "bad threshold", badThreshold_);
}

void JQNV_packet_sniffer::readContent(JDictionary& dictionary) {
  olog->printf("JQNV_packet_sniffer::readContent() %p\n", self(this));
  JAddObj::readContent(dictionary);

  // A stored name too long for its field is ignored (the field keeps its value).
  if (auto* stored = dynamic_cast<JString*>(getObject(dictionary, "node file name"))) {
    if (stored->length() < kFileNameSize) {
      if (handlers_ != nullptr && handlers_->readNodeFile(*stored)) {
        copyFileName(nodeFile_, *stored);
        updateNNodes(handlers_->nodeCount_);
      } else {
        copyFileName(nodeFile_, *stored);
      }
    }
  }
  if (auto* stored = dynamic_cast<JString*>(getObject(dictionary, "port file name"))) {
    if (stored->length() < kFileNameSize) {
      if (handlers_ != nullptr && handlers_->readPortFile(*stored)) {
        copyFileName(portFile_, *stored);
        broadcast(0);
      } else {
        copyFileName(portFile_, *stored);
      }
    }
  }

  // The stored node count wins over the list's, but stays within what the
  // block can offer: 0 to 128 node groups.
  int stored = getInteger(dictionary, "number of nodes", 0);
  if (stored < 0) stored = 0;
  if (stored > static_cast<int>(kMaxNodes)) stored = static_cast<int>(kMaxNodes);
  num_nodes_ = static_cast<uint32_t>(stored);
  ogm = static_cast<int>(Layout::outputCount(num_nodes_));
  olog->printf("JQNV_packet_sniffer::readContent() ogm=%d num_nodes_=%d\n", ogm,
               static_cast<int>(num_nodes_));

  // A missing entry keeps the default, and so does a value the dialog could
  // not have given (sizes outside their limits; a threshold that is not a
  // positive number, such as the 0.0 that documents without these entries
  // used to be saved back with).
  maxPacketSize_ = withinOr(getInteger(dictionary, "MAX packet size", kSlotSize), kMinSlotSize,
                            kMaxSlotSize, kSlotSize);
  packetBufferSize_ = withinOr(getInteger(dictionary, "packet buffer size", kSlotCount),
                               kMinSlotCount, kMaxSlotCount, kSlotCount);
  mediumThreshold_ =
      positiveOr(getDouble(dictionary, "medium threshold", kMediumThreshold), kMediumThreshold);
  badThreshold_ = positiveOr(getDouble(dictionary, "bad threshold", kBadThreshold), kBadThreshold);
  if (handlers_ != nullptr) handlers_->setThresholds(mediumThreshold_, badThreshold_);
  valid_ = isValid();
}
