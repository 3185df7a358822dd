// OutputForm: one way of handing the feed on to users and their tools: the
// JSON-lines stream, the gpsd-protocol server, the GPX and GeoJSON track
// files, the MQTT publisher, the track picture, the web view. Each form is
// one class behind this interface; OutputSet owns the forms asked for and
// hands each of them every tick, the port counters once a second, the
// periodic rewrite of files and the close.
//
// What a form is handed:
//  - OutputTick: every listed node's update, which of them carry a new fix,
//    the events of the tick (health changes, map entries and departures),
//    the state changes of the outputs themselves (a broker connected, lost,
//    refused with its reason, back) since the last tick, and when the tick
//    was;
//  - OutputPorts: the ports' counters, the port events (silent, back) and
//    whether each port is silent now;
//  - SiteReport, at a centre that shows other flowhosts' units: every
//    site's state (online, offline and why, units, clock skew) and which
//    changed;
//  - Closing: where a form says which files it wrote at the end, and why
//    one could not be.
// Nothing a form does may wait on a consumer: a form drops and counts what
// a slow one misses.
//
// A form is made by its maker function from the options (OutputForms.cpp
// lists them); it may take the shared track store and file writer
// (OutputShared). Thread safety: every member from the runner's thread;
// a form's own threads are its business.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outputs/ChangeTracker.h"
#include "outputs/NodeUpdate.h"
#include "outputs/OutputState.h"
#include "outputs/SiteStatus.h"

namespace kw_out {

class FileWriter;
class TrackStore;

struct OutputOptions {
  std::string json;                    // --json FILE, "-" for standard output; empty: off
  std::string gpsd;                    // --gpsd[=[ADDR:]PORT] (127.0.0.1:2947 unless given)
  std::string gpx;                     // --gpx FILE
  std::string geojson;                 // --geojson FILE
  std::string mqtt;                    // --mqtt HOST[:PORT] (port 1883 when left out)
  std::string mqttPrefix = "gpsfeed";  // first topic level(s) of every MQTT message
  std::string mqttUser;                // --mqtt-user NAME; empty: none
  std::string mqttPasswordFile;        // --mqtt-password-file FILE: its first line
  std::string mqttTls;                 // --mqtt-tls CAFILE: TLS, the broker's CA certificate(s)
  // This flowhost's name in its MQTT status topic and payload; empty: the
  // machine's host name.
  std::string site;
  // --mqtt-rate: each unit's position at most this often a second (its
  // health changes and events at once).
  double mqttRate = 1.0;
  static constexpr double kMinMqttRate = 0.001;
  static constexpr double kMaxMqttRate = 1000.0;
  std::chrono::milliseconds fileInterval = std::chrono::seconds(5);  // track file rewrites
  size_t trackPoints = 2000;                                         // newest points kept per node
  std::chrono::milliseconds portSilentAfter = std::chrono::seconds(5);
  // --track FILE: the picture of the tracks on the map block's pixel grid.
  struct Picture {
    std::string file;  // empty: off
    int width = 1;     // the map's size in pixels and its name
    int height = 1;
    std::string mapName;
  } picture;
};

struct OutputTick {
  const std::vector<NodeUpdate>& nodes;                // every listed node, in table order
  const std::vector<size_t>& fresh;                    // the nodes with a new fix, in order
  const std::vector<Event>& events;                    // node events of this tick
  const std::vector<OutputStateChange>& outputStates;  // since the last tick
  std::chrono::steady_clock::time_point now;
  int64_t utcSec;  // the wall clock at the tick, for the events' times
  int utcMs;
};

struct OutputPorts {
  const std::vector<PortCounters>& ports;  // totals since start
  const std::vector<Event>& events;        // ports gone silent or back
  const ChangeTracker& tracker;            // portSilent(port)
  std::chrono::steady_clock::time_point now;
  int64_t utcSec;
  int utcMs;
};

// What the forms did at the end, for the runner to tell.
struct Closing {
  std::vector<std::string> written;   // "<file> (<what>)" for each file written
  std::vector<std::string> failures;  // one reason for each file that could not be
};

// Every form's figures; each form fills its own.
struct OutputStats {
  uint64_t jsonDroppedLines = 0;
  std::string jsonError;
  uint64_t gpsdClients = 0;
  uint64_t gpsdDroppedLines = 0;   // from slow clients' backlogs and the hand-over
  uint64_t gpsdClosedClients = 0;  // refused (all watching), idle or cut off (overlong commands)
  bool mqttConnected = false;
  uint64_t mqttDropped = 0;
  std::string mqttError;
  uint64_t filesWritten = 0;
  std::string fileError;
};

class OutputForm {
 public:
  virtual ~OutputForm() = default;

  virtual void tick(const OutputTick& tick) = 0;
  virtual void ports(const OutputPorts&) {}
  // At a centre: the sites as they stand, after every tick.
  virtual void sites(const SiteReport&) {}
  // The files' periodic rewrite: called every fileInterval while tracks changed.
  virtual void rewrite() {}
  // Writes what it holds a last time and stops; also when a run ends early.
  virtual void close(Closing*) {}

  // The form's part of the one-line summary ("json dropped 0;"), nothing
  // when it has none.
  virtual void describe(std::string*) const {}
  virtual void addStats(OutputStats*) const {}
  // Moves the form's state changes since the last call to *changes.
  virtual void takeStateChanges(std::vector<OutputStateChange>*) {}
  // The TCP port the form listens on, 0 when it listens on none.
  virtual int listeningPort() const { return 0; }
};

// What forms share: one store of the nodes' recent tracks (fed by the set
// with every new fix and health change) and one writer of track files.
class OutputShared {
 public:
  explicit OutputShared(const OutputOptions& options);
  ~OutputShared();
  OutputShared(const OutputShared&) = delete;
  OutputShared& operator=(const OutputShared&) = delete;

  // Made at the first call.
  TrackStore& tracks();
  FileWriter& files();
  TrackStore* tracksIfMade() const { return tracks_.get(); }
  FileWriter* filesIfMade() const { return files_.get(); }

 private:
  const OutputOptions& options_;
  std::unique_ptr<TrackStore> tracks_;
  std::unique_ptr<FileWriter> files_;
};

// A form's maker: the form when `options` ask for it; null and an empty
// *error when they do not; null and the reason ("--gpsd: ...") when it
// cannot be opened.
using OutputMaker = std::unique_ptr<OutputForm> (*)(const OutputOptions& options,
                                                    OutputShared& shared, std::string* error);

// Every form of this library, in the order the set hands them a tick.
const std::vector<OutputMaker>& outputMakers();

}  // namespace kw_out
