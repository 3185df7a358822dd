// RunOptions: the command line of flowhost, parsed and checked.
//
//   flowhost [options] <document>
//   flowhost [options] --nodes FILE.nod --ports FILE.mcp [--map MAP]
//   flowhost [options] --fleet NAME=NODES,PORTS [--fleet ...] [--map MAP]
//   flowhost --check <document> | --check --nodes FILE.nod --ports FILE.mcp
//   flowhost --check --fleet NAME=NODES,PORTS [--fleet ...]
//   flowhost [options] --mqtt-in HOST[:PORT] [--mqtt-in-topic FILTER]
//
// The second and third forms are the quick start: the standard graph for
// the list files is built in memory (QuickStart) instead of read from a
// document; --nodes/--ports make one unnamed fleet, each --fleet a named
// one with lists of its own.
//
// Options are read by the programs' one option parser (cli/option_parser.h):
// long options take their value as "--name value" or "--name=value", those
// whose value may be left out (--http, --gpsd) only as "--name=value"; short
// ones may be bundled ("-st 5"), and "--" ends the options. Every number is
// checked (finite, in range) and every option that needs a value must have
// one; a problem gives a one-line reason and no options.
// The last form is a centre: no graph, the units other flowhosts publish.
// A plain value type. Thread safety: any thread, on its own copy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "outputs/OutputSet.h"

namespace flowhost {

struct RunOptions {
  enum class Table { Auto, Live, Plain, Off };

  // One --fleet NAME=NODES,PORTS.
  struct Fleet {
    std::string name;
    std::string nodeFile;
    std::string portFile;
  };

  std::string document;
  std::string nodeFile;                 // quick start: the node list
  std::string portFile;                 // quick start: the port list
  std::vector<Fleet> fleets;            // quick start: named fleets, instead of the two above
  std::string map;                      // quick start: "UL_LAT UL_LON LR_LAT LR_LON WxH"
  std::string writeDocument;            // quick start: write the graph here and stop
  std::optional<double> medium;         // quick start: the health thresholds in seconds;
  std::optional<double> bad;            // empty: the sniffer's defaults
  bool http = false;                    // serve the web view
  std::string httpAddress;              // ... on this address
  int httpPort = 0;                     // ... and port
  std::string tiles;                    // its tiles: a URL template or an MBTiles file
  std::string tilesAttribution;         // shown with tiles from a URL
  std::optional<double> seconds;        // run time; empty: until SIGINT/SIGTERM
  std::optional<double> rate;           // overrides every clock block's rate
  std::vector<std::string> plugins;     // plug-in files to load, in order
  std::vector<std::string> pluginDirs;  // searched first for the default plug-ins
  bool defaultPlugins = true;           // load the project's two plug-ins
  bool save = false;                    // write the document back after the run
  std::string saveAs;                   // ... or to this file
  std::string facesDir;                 // write each block's face here (SVG)
  std::string trackFile;                // write the track picture here (SVG)
  kw_out::OutputOptions outputs;        // --json, --gpsd, --gpx, --geojson, --mqtt
  std::string mqttIn;                   // --mqtt-in HOST[:PORT]: a centre of other flowhosts
  std::string mqttInTopic;              // --mqtt-in-topic FILTER: which of their units; empty: all
  Table table = Table::Auto;
  double every = 1.0;                       // seconds between plain tables
  std::optional<bool> trace;                // the sniffer's trace log on or off; empty: as set
  std::optional<uint64_t> traceLimitBytes;  // its rotation size (0: none); empty: as set
  bool tickTimes = false;                   // state the ticks' p50/p99/max at the end
  bool check = false;                       // say what the list files are read as, run nothing
  bool help = false;
  bool version = false;

  bool centre() const { return !mqttIn.empty(); }
  bool quickStart() const { return !nodeFile.empty() || !portFile.empty() || !fleets.empty(); }

  static constexpr double kMaxSeconds = 1e7;
  static constexpr double kMaxEvery = 3600.0;
  static constexpr double kMaxThreshold = 86400.0;  // a day
  // True when the JSON-lines stream goes to standard output, so that every
  // other line the runner prints goes to standard error.
  bool jsonOnStandardOutput() const { return outputs.json == "-"; }
};

// Parses the arguments after the program name. False with a reason in
// `error` on a usage error; `options` is then unspecified.
bool parseRunOptions(const std::vector<std::string>& args, RunOptions* options, std::string* error);

// The usage text printed by --help.
std::string usageText();
// What follows a usage error's line: "Try 'flowhost --help'.".
std::string usageHint();
// The line printed by --version: "flowhost <version>".
std::string versionText();

}  // namespace flowhost
