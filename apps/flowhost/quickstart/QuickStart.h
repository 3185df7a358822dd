// QuickStart: the standard tracking graph for a node list and a port list,
// or for several fleets each with its own node list and port list, built in
// memory, so that a person can track their own units without writing a
// dataflow document first.
//
// The graph has the shape of examples/demo.json: a clock, an "on off"
// constant of 1, one sniffer per 128 nodes (each fed by the clock and the
// constant, listening to every port of the port list), and per node a
// latitude and a longitude converter, a map block and a display of the
// node's values. A node list longer than one sniffer takes is split into
// part lists, one per sniffer; their texts are handed out by partLists()
// and the caller writes them where build() was told they will be.
// Each fleet has sniffers of its own, listening to its own port list, and
// labelled with its name (SnifferFleet.h), so that its units keep their
// fleet in every output; the displays are labelled "<fleet>/<name>".
//
// Every sniffer's "packet buffer size" is sized for the whole node list:
// every sniffer listens to every port and takes in all that arrives there,
// whichever sniffer tracks the unit, and any one port may carry every unit
// of the list. Each unit sends kPacketsPerUnit packets a second, and a tick
// must find room for twice what one clock period brings.
//
// documentText() gives the graph as a document whose list file names are
// relative to the document's folder, as a starting point for editing.
// Owns the graph. Thread safety: host's thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/flowhost/document/NodeListFile.h"

class JGraph;
class JModuleObj;

namespace flowhost {

class QuickStart {
 public:
  // The map's corners in signed degrees (north and east positive) and its
  // pixel size.
  struct Map {
    double ulLatitude = 90.0;
    double ulLongitude = -180.0;
    double lrLatitude = -90.0;
    double lrLongitude = 180.0;
    int width = 720;
    int height = 360;
  };

  // The sniffer's own default thresholds, in seconds.
  static constexpr double kMediumThreshold = 2.0;
  static constexpr double kBadThreshold = 4.0;

  // One fleet's lists; an empty name is the run's one unnamed fleet.
  struct Fleet {
    std::string name;
    std::string nodeFile;
    std::string portFile;
  };

  struct Settings {
    // The one unnamed fleet, when `fleets` is empty.
    std::string nodeFile;
    std::string portFile;
    std::vector<Fleet> fleets;  // named fleets, each with sniffers of its own
    Map map;                    // the whole world unless given
    double rate = 4.0;          // the clock's rate in Hz
    // Every sniffer's health thresholds: a unit silent for longer than
    // `medium` seconds is medium, longer than `bad` bad.
    double medium = kMediumThreshold;
    double bad = kBadThreshold;
    // Where part lists go when a node list needs several sniffers, and
    // the start of their names ("<partFolder>/<partStem>-<k>.nod", or
    // "<partStem>-<fleet>-<k>.nod" in a fleet).
    std::string partFolder;
    std::string partStem = "nodes";
  };

  struct PartList {
    std::string path;
    std::string text;
  };

  static constexpr int kNodesPerSniffer = 128;
  static constexpr int kPacketsPerUnit = 4;  // per second
  static constexpr int kMinPacketBuffer = 10;
  static constexpr int kMaxPacketBuffer = 4000;
  static constexpr int kMaxMapPixels = 100000;

  QuickStart();
  ~QuickStart();
  QuickStart(const QuickStart&) = delete;
  QuickStart& operator=(const QuickStart&) = delete;

  // Reads "UL_LAT UL_LON LR_LAT LR_LON WIDTHxHEIGHT" (signed degrees);
  // false with a reason when a number is missing or out of range or the
  // upper left corner is not above and left of the lower right one.
  static bool parseMap(const std::string& text, Map* map, std::string* error);
  // "packet buffer size" for `units` units at a clock of `rate` Hz:
  // units x kPacketsPerUnit / rate x 2, rounded up, within the property's
  // limits.
  static int packetBufferSize(int units, double rate);
  // The fleets `settings` give: its named fleets, or the one unnamed fleet
  // of its node and port list.
  static std::vector<Fleet> fleetsOf(const Settings& settings);
  // True when a node list of `settings` that can be read names more nodes
  // than one sniffer takes, so that part lists will be written.
  static bool needsPartLists(const Settings& settings);

  // Reads both lists and builds the graph (blocks made by class name,
  // restored with their entries and linked; not started). The runner's
  // blocks and the plug-ins must be registered. False with a reason when a
  // list cannot be read or gives no node or port, or a block cannot be made.
  bool build(const Settings& settings, std::string* error);

  // What build() made of each fleet, in the order given.
  struct Built {
    Fleet fleet;
    NodeListFile nodes;
    int firstSniffer = 0;  // the fleet's sniffers, counted over all fleets
    int sniffers = 0;
    int firstRow = 0;    // its first node's row, counted over all fleets
    int firstPart = -1;  // its first part list in partLists(); -1: none
  };

  JGraph* graph() const { return graph_.get(); }
  const std::vector<Built>& fleets() const { return fleets_; }
  int nodeCount() const;
  int snifferCount() const { return sniffers_; }
  // The part lists the graph's sniffers read; empty when one sniffer takes
  // the node list as it is.
  const std::vector<PartList>& partLists() const { return parts_; }

  // The graph as a document to be written at `documentPath`.
  std::string documentText(const std::string& documentPath) const;

 private:
  class Assembly;

  // Reads the fleet's node list and checks its port list names a port.
  static bool readLists(Built* fleet, std::string* error);
  // Counts the fleet's sniffers and, when there are several, makes their
  // part lists.
  void splitNodeList(const Settings& settings, Built* fleet);
  bool addSniffers(Assembly& assembly, const Settings& settings, const Built& fleet,
                   JModuleObj* clock, JModuleObj* onOff);
  bool addNodeRow(Assembly& assembly, const Map& map, const Built& fleet, JModuleObj* sniffer,
                  int slot, int index);

  std::unique_ptr<JGraph> graph_;
  std::vector<Built> fleets_;
  int sniffers_ = 0;
  std::vector<PartList> parts_;
};

}  // namespace flowhost
