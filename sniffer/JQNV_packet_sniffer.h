// JQNV_packet_sniffer: the sniffer block of the dataflow host. It reads a
// port list (which multicast groups to join) and a node list (which node
// numbers to track), receives feed packets on one thread per port while its
// "on off" input is on, and on every rising edge of its "clock" input takes
// in the packets received since the last tick and announces, for every node,
// eight outputs: node id, latitude, longitude, utc sec, utc ms, utc string,
// health and idle time.
//
// Owns its kw_qnv_handlerList (handlers_) from startup to close; the list
// owns the port handlers (each with its receiver and receive thread) and the
// node handlers. The host owns the block and calls close before destroying a
// started block.
//
// Thread safety: every operation runs on the host's thread. The receive
// threads live inside the handler list and never call the block.
// Invariants: ogm == 8 * num_nodes_ and num_nodes_ <= 128; every output index
// a tick announces is below ogm; nodeFile_ and portFile_ are terminated.
#pragma once

#include <cstdint>

#include "host/JAddObj.h"
#include "host/JFeedStatus.h"
#include "host/JString.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

class kw_qnv_handlerList;
struct kw_qnv_portStats;
class JComponent;
class JDataType;
class JDictionary;
class JLinkObj;
class JOutputStream;
class JProperty;
class JRegion;

class J_EXPORT JQNV_packet_sniffer : public JAddObj, public JFeedStatus {
 public:
  static constexpr const char* kVersion = "0.7";
  static constexpr int kFileNameSize = JQNV_packet_sniffer_layout::kFileNameSize;
  static constexpr unsigned kMaxNodes = JQNV_packet_sniffer_layout::kMaxNodes;
  // The feed's buffer: "MAX packet size" (bytes per slot) and "packet
  // buffer size" (slots per buffer half), their defaults and their limits.
  static constexpr int kSlotSize = 250;
  static constexpr int kSlotCount = 20;
  static constexpr int kMinSlotSize = 20;
  static constexpr int kMaxSlotSize = 300;
  static constexpr int kMinSlotCount = 10;
  static constexpr int kMaxSlotCount = 4000;
  static constexpr double kMediumThreshold = 2.0;  // seconds
  static constexpr double kBadThreshold = 4.0;

  JQNV_packet_sniffer();
  JQNV_packet_sniffer(const JQNV_packet_sniffer& other);
  JQNV_packet_sniffer& operator=(const JQNV_packet_sniffer& other);
  ~JQNV_packet_sniffer() override;

  // Host operations, in the host's table order.
  const char* className() const override;
  JObject* clone() const override;
  void startup() override;
  void reset() override;
  void close() override;
  void paint(JGraphics graphics, double dx, double dy, JRegion& region, double scale) override;
  JArray getProperties() override;
  bool updateProperty(JProperty& property) override;
  JString inputTag(int n) override;
  JString outputTag(int n) override;
  int inputType(int n) override;
  int outputType(int n) override;
  void draw(JGraphics graphics, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  bool inputAllowed(int n) override;
  bool outputAllowed(int n) override;
  JFRect inputArea(int n) override;
  JFRect outputArea(int n) override;
  int inputFace(int n) override;
  int outputFace(int n) override;
  JFPoint inputPoint(int n, JLinkObj& link) override;
  JFPoint outputPoint(int n, JLinkObj& link) override;
  void engine(int n, JLinkObj& link) override;
  void addButton(JComponent* component) override;

  bool isValid();

  // For the host's tools and tests: the feed while started, else null.
  kw_qnv_handlerList* handlers() const { return handlers_; }
  unsigned nodeGroups() const { return num_nodes_; }
  const char* nodeFile() const { return nodeFile_; }
  const char* portFile() const { return portFile_; }

  // Feed status for the host (JFeedStatus, which the host exports), host's
  // thread only. Before startup and after close they answer 0 / false / "".
  // Counters run from the reading of the port list on, through every stop
  // and run.
  int feedPortCount() const override;  // ports of the current list
  bool feedPortStatus(int index,
                      JFeedPortStatus* out) const override;  // false when index is out of range
  const char* feedNodeName(
      int index) const override;  // name from the node list line, "" when the line has none
  bool feedNodeHeard(int index) const override;  // true once the node has accepted a packet
  int feedNodePort(int index) const override;    // port of its last accepted packet, -1 before any
  // The same port status in the feed's own form; virtual so that a host
  // which loaded the plug-in privately (dlopen RTLD_LOCAL) reaches it
  // through the block's own table, with nothing to link against.
  virtual bool feedPortStats(int index, kw_qnv_portStats* out) const;

  static int instanceCount;                // default constructions in this process
  static char versionText[kFileNameSize];  // "0.7 - <build time stamp>\n", formed once
  static JString registered;               // what Register() answered at load

 protected:
  void writeContent(JOutputStream& stream) override;
  void readContent(JDictionary& dictionary) override;
  bool updateNNodes(unsigned n);

 private:
  using Layout = JQNV_packet_sniffer_layout;

  // Copies `text` into a file-name field; false (field unchanged) when it
  // does not fit.
  static bool copyFileName(char* field, const char* text);
  void copyStateFrom(const JQNV_packet_sniffer& other);
  void releaseHandlers();

  int32_t clock_ = 0;
  int32_t onOff_ = 0;
  char nodeFile_[kFileNameSize] = {};
  JString nodeFilter_;
  char portFile_[kFileNameSize] = {};
  JString portFilter_;
  double mediumThreshold_ = kMediumThreshold;
  double badThreshold_ = kBadThreshold;
  int32_t maxPacketSize_ = kSlotSize;
  int32_t packetBufferSize_ = kSlotCount;
  kw_qnv_handlerList* handlers_ = nullptr;
  uint32_t num_nodes_ = 0;
  bool valid_ = true;
  // False shows the "Bad Version" face and makes engine ignore its inputs.
  bool versionOk_ = true;
};
