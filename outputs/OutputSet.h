// The runner's one handle on every output form. The runner fills an
// OutputOptions from its command line, opens the set once, then hands it
// each tick's node snapshot and, once a second, the port counters; close()
// writes the track files a last time and stops the servers.
//
//   kw_out::OutputOptions o;  o.json = "-";  o.gpsd = "2947";
//   kw_out::OutputSet outputs;
//   if (!outputs.open(o)) { report outputs.error(); }
//   every tick:      outputs.tick(nodes);
//   once a second:   outputs.counters(ports);
//   at the end:      outputs.close();
//
// Nothing here waits on a consumer: the JSON stream writes without blocking
// into a bounded backlog, the gpsd server and the MQTT client run on their
// own threads and the track files are written on a writer thread. What a
// slow consumer misses is dropped and counted in stats().
//
// Owns: every output form that was asked for.
// Thread safety: one thread (the runner's) for all members.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outputs/ChangeTracker.h"
#include "outputs/NodeUpdate.h"

namespace kw_out {

class FileWriter;
class GpsdServer;
class LineStream;
class MqttPublisher;
class TrackStore;

struct OutputOptions {
  std::string json;                  // --json FILE, "-" for standard output; empty: off
  std::string gpsd;                  // --gpsd [ADDR:]PORT (address 127.0.0.1 when left out)
  std::string gpx;                   // --gpx FILE
  std::string geojson;               // --geojson FILE
  std::string mqtt;                  // --mqtt HOST[:PORT] (port 1883 when left out)
  std::string mqttPrefix = "gpsfeed";   // first topic level(s) of every MQTT message
  std::chrono::milliseconds fileInterval = std::chrono::seconds(5);  // track file rewrites
  size_t trackPoints = 2000;         // newest points kept per node
  std::chrono::milliseconds portSilentAfter = std::chrono::seconds(5);
};

// Splits "[HOST:]PORT" (`portRequired`) or "HOST[:PORT]" into its parts,
// using the defaults for what is left out. False with the reason in *error.
bool parseEndpoint(const std::string& text, bool portRequired, const std::string& defaultHost,
                   int defaultPort, std::string* host, int* port, std::string* error);

class OutputSet {
 public:
  struct Stats {
    uint64_t jsonDroppedLines = 0;
    std::string jsonError;
    uint64_t gpsdClients = 0;
    uint64_t gpsdDroppedLines = 0;      // from slow clients' backlogs and the hand-over
    uint64_t gpsdClosedClients = 0;     // refused (too many) or cut off (overlong commands)
    bool mqttConnected = false;
    uint64_t mqttDropped = 0;
    std::string mqttError;
    uint64_t filesWritten = 0;
    std::string fileError;
  };

  OutputSet();
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Opens every form named in `options`. False with the reason in error()
  // when one cannot be opened (nothing stays open then). Using the JSON
  // stream makes the process ignore SIGPIPE, so that a reader that goes
  // away is a counted write failure instead of the end of the process.
  bool open(const OutputOptions& options);
  const std::string& error() const { return error_; }

  // One tick's snapshot of every listed node.
  void tick(const std::vector<NodeUpdate>& nodes);
  void tick(const std::vector<NodeUpdate>& nodes, std::chrono::steady_clock::time_point now);
  // The ports' counters, totals since start; once a second.
  void counters(const std::vector<PortCounters>& ports);
  void counters(const std::vector<PortCounters>& ports, std::chrono::steady_clock::time_point now);

  // Writes the track files a last time (and waits for them), stops the
  // servers and closes the stream. Also done by the destructor.
  void close();

  // The gpsd server's port (useful with port 0); 0 when it is off.
  int gpsdPort() const;
  Stats stats() const;
  // One line for the log, e.g. "outputs: json dropped 0; gpsd 2 clients, dropped 0; ...".
  // After close(), the line as it stood when the last files were written.
  std::string describe() const;

 private:
  void writeFiles();

  OutputOptions options_;
  std::string error_;
  ChangeTracker tracker_;
  std::unique_ptr<LineStream> json_;
  std::unique_ptr<GpsdServer> gpsd_;
  std::unique_ptr<MqttPublisher> mqtt_;
  std::unique_ptr<TrackStore> tracks_;
  std::unique_ptr<FileWriter> files_;
  std::chrono::steady_clock::time_point lastFileWrite_{};
  std::vector<size_t> fresh_;
  std::vector<Event> events_;
  std::string text_;
  std::string closed_;  // describe() at the last close()
};

}  // namespace kw_out
