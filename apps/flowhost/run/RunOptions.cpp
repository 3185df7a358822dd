#include "apps/flowhost/run/RunOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/quickstart/QuickStart.h"
#include "apps/flowhost/run/PluginSet.h"
#include "apps/flowhost/views/web/WebServer.h"
#include "cli/endpoint.h"
#include "cli/option_parser.h"
#include "feed/trace_settings.h"
#include "outputs/GpsdServer.h"
#include "outputs/MqttPublisher.h"

// The program's version (set by the build from the project's version).
#ifndef FLOWHOST_VERSION
#define FLOWHOST_VERSION "unknown"
#endif

namespace flowhost {

namespace {

// A number that is the whole text, finite and within (low, high].
bool parseNumber(const std::string& text, double low, double high, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (!std::isfinite(v) || v <= low || v > high) return false;
  *value = v;
  return true;
}

// Long options without a short form.
enum LongOnly : int {
  kNoDefaultPlugins = 256,
  kSaveAs,
  kTable,
  kEvery,
  kVersion,
  kJson,
  kGpsd,
  kGpx,
  kGeojson,
  kMqtt,
  kMqttPrefix,
  kNodes,
  kPorts,
  kFleet,
  kMap,
  kWriteDocument,
  kHttp,
  kTiles,
  kTilesAttribution,
  kTrace,
  kTraceLimit,
  kTickTimes,
  kMqttUser,
  kMqttPasswordFile,
  kMqttTls,
  kMedium,
  kBad,
  kCheck,
  kSite,
  kMqttRate,
  kMqttIn,
  kMqttInTopic,
};

using kw_cli::Option;
using Value = Option::Value;

// Every option, named by its short form or, without one, by a LongOnly code.
const std::vector<Option> kOptions = {
    {"seconds", 't', Value::Required, 't'},
    {"rate", 'r', Value::Required, 'r'},
    {"plugin", 'p', Value::Required, 'p'},
    {"plugin-dir", 'P', Value::Required, 'P'},
    {"no-default-plugins", '\0', Value::None, kNoDefaultPlugins},
    {"save", 's', Value::None, 's'},
    {"save-as", '\0', Value::Required, kSaveAs},
    {"faces", 'f', Value::Required, 'f'},
    {"track", 'k', Value::Required, 'k'},
    {"table", '\0', Value::Required, kTable},
    {"every", '\0', Value::Required, kEvery},
    {"help", 'h', Value::None, 'h'},
    {"version", 'V', Value::None, kVersion},
    {"json", '\0', Value::Required, kJson},
    {"gpsd", '\0', Value::Optional, kGpsd},
    {"gpx", '\0', Value::Required, kGpx},
    {"geojson", '\0', Value::Required, kGeojson},
    {"mqtt", '\0', Value::Required, kMqtt},
    {"mqtt-prefix", '\0', Value::Required, kMqttPrefix},
    {"mqtt-user", '\0', Value::Required, kMqttUser},
    {"mqtt-password-file", '\0', Value::Required, kMqttPasswordFile},
    {"mqtt-tls", '\0', Value::Required, kMqttTls},
    {"mqtt-rate", '\0', Value::Required, kMqttRate},
    {"site", '\0', Value::Required, kSite},
    {"mqtt-in", '\0', Value::Required, kMqttIn},
    {"mqtt-in-topic", '\0', Value::Required, kMqttInTopic},
    {"medium", '\0', Value::Required, kMedium},
    {"bad", '\0', Value::Required, kBad},
    {"nodes", '\0', Value::Required, kNodes},
    {"ports", '\0', Value::Required, kPorts},
    {"fleet", '\0', Value::Required, kFleet},
    {"map", '\0', Value::Required, kMap},
    {"write-document", '\0', Value::Required, kWriteDocument},
    {"http", '\0', Value::Optional, kHttp},
    {"tiles", '\0', Value::Required, kTiles},
    {"tiles-attribution", '\0', Value::Required, kTilesAttribution},
    {"trace", '\0', Value::Required, kTrace},
    {"trace-limit", '\0', Value::Required, kTraceLimit},
    {"tick-times", '\0', Value::None, kTickTimes},
    {"check", '\0', Value::None, kCheck},
};

}  // namespace

// The usage text in parts, around the values it names.
constexpr const char kUsageOptions[] =
    "usage: flowhost [options] <document>\n"
    "       flowhost [options] --nodes FILE.nod --ports FILE.mcp [--map MAP]\n"
    "       flowhost [options] --fleet NAME=NODES,PORTS [--fleet ...] [--map MAP]\n"
    "       flowhost --check <document> | --check --nodes FILE.nod --ports FILE.mcp\n"
    "       flowhost --check --fleet NAME=NODES,PORTS [--fleet ...]\n"
    "       flowhost [options] --mqtt-in HOST[:PORT] [--mqtt-in-topic FILTER]\n"
    "Runs a dataflow document headlessly: loads the plug-ins, makes and restores\n"
    "the blocks, links them, starts them, drives the clock blocks, shows the node\n"
    "table and closes every block at the end (also on Ctrl-C or SIGTERM).\n"
    "The other forms track the units of node lists without a document: they\n"
    "build the standard graph (clock, on off, one sniffer per 128 nodes, and per\n"
    "node two converters, a map block and a display) and run it.\n"
    "With --mqtt-in, flowhost is a centre: it shows the units that other\n"
    "flowhosts publish with --mqtt (every site's, or those of FILTER), their\n"
    "health judged here by --medium and --bad, each site online or offline.\n"
    "\n"
    "      --nodes FILE     quick start: the node list (\"<number> [name]\" lines)\n"
    "      --ports FILE     quick start: the port list (\"<name> <group> <port>\")\n"
    "      --fleet NAME=NODES,PORTS\n"
    "                       quick start: a fleet with its own node list and port\n"
    "                       list (may be repeated); each fleet numbers its own\n"
    "                       units, which every output names NAME/<unit>\n"
    "      --map \"UL_LAT UL_LON LR_LAT LR_LON WIDTHxHEIGHT\"\n"
    "                       quick start: the map's corners in signed degrees and\n"
    "                       its size in pixels (default: the whole world, 720x360)\n"
    "      --medium S, --bad S\n"
    "                       quick start: a unit silent for more than S seconds is\n"
    "                       medium, or bad (default 2 and 4)\n"
    "      --write-document FILE\n"
    "                       quick start: write the graph as a document to FILE\n"
    "                       (a starting point for editing) instead of running it\n"
    "      --check          read the lists a run would read and say, one line each\n"
    "                       (FILE:LINE: what was read and what it means), what\n"
    "                       is not read as a person would expect; run nothing,\n"
    "                       write nothing, open no socket; status 1 when there is\n"
    "                       anything to say (every run says the same at its start)\n"
    "\n"
    "      --http[=[ADDR:]PORT]\n"
    "                       serve the web view (map, units and graph, live) on\n"
    "                       ADDR:PORT (default 127.0.0.1:8080)\n"
    "      --tiles URL_TEMPLATE|FILE.mbtiles\n"
    "                       the web view's map on tiles: from a tile server\n"
    "                       (http://host/{z}/{x}/{y}.png) or from an MBTiles file\n"
    "                       that flowhost serves (default: the offline basemap)\n"
    "      --tiles-attribution TEXT\n"
    "                       the credit shown with tiles from a tile server\n"
    "\n"
    "  -t, --seconds S      run for S seconds (default: until Ctrl-C or SIGTERM)\n"
    "  -r, --rate HZ        drive every clock block at HZ instead of its own rate\n"
    "                       (the stored rate is kept); in the quick start, the\n"
    "                       clock's rate (default 4)\n"
    "  -p, --plugin FILE    load the plug-in FILE (may be repeated)\n"
    "  -P, --plugin-dir DIR look for the default plug-ins in DIR first\n"
    "      --no-default-plugins\n"
    "                       do not load ";
constexpr const char kUsageOutputs[] =
    "\n"
    "  -s, --save           write the document back after a successful run\n"
    "      --save-as FILE   write it to FILE instead\n"
    "  -f, --faces DIR      write each block's face as an SVG file into DIR\n"
    "  -k, --track FILE     write the track picture of the nodes (SVG) to FILE\n"
    "      --table MODE     live, plain or off (default: live on a terminal,\n"
    "                       plain otherwise)\n"
    "      --every S        seconds between tables in plain mode (default 1)\n"
    "      --trace on|off   keep the sniffer's trace log (logFile.txt) or leave it\n"
    "                       closed from the start (default: on, or KW_TRACE)\n"
    "      --trace-limit BYTES\n"
    "                       rotate logFile.txt to logFile.txt.1 before it passes\n"
    "                       BYTES, 0 for never (default: 64 MiB, or\n"
    "                       KW_TRACE_LIMIT_BYTES)\n"
    "      --tick-times     at the end, state how long the clock ticks took\n"
    "                       (count, p50, p99, max)\n"
    "  -h, --help           show this text\n"
    "  -V, --version        show the program's version\n"
    "\n"
    "Positions out (any number at once; none of them can hold up the feed):\n"
    "      --json FILE      JSON lines: every new fix, events and port counters;\n"
    "                       '-' for standard output (the runner's own lines then\n"
    "                       go to standard error)\n"
    "      --gpsd[=[ADDR:]PORT]\n"
    "                       serve the gpsd protocol to cgps, gpspipe, xgps and\n"
    "                       python3-gps (default 127.0.0.1:2947); every unit is\n"
    "                       device \"all\", each one also its own (node:N)\n"
    "      --gpx FILE       the tracks as GPX, rewritten every few seconds\n"
    "      --geojson FILE   last positions and tracks as GeoJSON, likewise\n"
    "      --mqtt HOST[:PORT]\n"
    "                       publish retained OwnTracks-style locations, the port\n"
    "                       counters, the events and this flowhost's status to an\n"
    "                       MQTT broker (port 1883, with TLS 8883, when left out)\n"
    "      --mqtt-user NAME, --mqtt-password-file FILE\n"
    "                       log in to the broker (the password: FILE's first line)\n"
    "      --mqtt-tls CAFILE\n"
    "                       talk to the broker over TLS, checking its certificate\n"
    "                       against the CA certificate(s) in CAFILE\n"
    "      --site NAME      this flowhost's name in its topics and messages\n"
    "                       (default: the host name)\n"
    "      --mqtt-rate N    publish each unit at most N times a second (default 1;\n"
    "                       health changes and events go out at once)\n"
    "      --mqtt-prefix P  first topic level(s) (default ";
constexpr const char kUsageEnd[] =
    ")\n"
    "\n"
    "Units in (a centre; --mqtt-user, --mqtt-password-file, --mqtt-tls and\n"
    "--mqtt-prefix apply here too):\n"
    "      --mqtt-in HOST[:PORT]\n"
    "                       show the units, ports and status of every flowhost\n"
    "                       that publishes to this broker with --mqtt\n"
    "      --mqtt-in-topic FILTER\n"
    "                       only the units and ports of these topics (default\n"
    "                       PREFIX/#, e.g. PREFIX/yard/# for site yard)\n"
    "      --medium S, --bad S\n"
    "                       a unit's health: medium, then bad, when its last fix\n"
    "                       is older than S seconds (default 2 and 4)\n"
    "\n"
    "An option's value may follow as the next word or after '='; a value that may\n"
    "be left out (--http, --gpsd) only after '=' (--gpsd=2948). Short options may\n"
    "be bundled (-st 5); \"--\" ends the options, so that a document whose name\n"
    "starts with '-' can be given after it.\n"
    "Relative \"...";
constexpr const char kUsageLast[] =
    "\" entries of a document are taken relative to the\n"
    "document's folder. The sniffer writes logFile.txt into the current folder.\n";

std::string usageText() {
  std::string defaults;
  for (const std::string& name : PluginSet::defaultNames()) {
    defaults += (defaults.empty() ? "" : " and ") + name;
  }
  return kUsageOptions + defaults + kUsageOutputs + kw_out::OutputOptions().mqttPrefix + kUsageEnd +
         DocumentFile::kFileNameSuffix + kUsageLast;
}

std::string versionText() { return std::string("flowhost ") + FLOWHOST_VERSION + "\n"; }

std::string usageHint() { return "Try 'flowhost --help'.\n"; }

namespace {

bool refuse(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

bool takeSeconds(const std::string& text, double most, const char* what, double* out,
                 std::string* error) {
  if (parseNumber(text, 0.0, most, out)) return true;
  return refuse(error, std::string(what) + " '" + text + "' is not a number of seconds above 0");
}

bool takeRate(const std::string& text, RunOptions* options, std::string* error) {
  double v = 0;
  if (!parseNumber(text, 0.0, JClockObj::kMaxRate, &v) || !JClockObj::usableRate(v)) {
    char range[64];
    std::snprintf(range, sizeof range, "%g and %g Hz", JClockObj::kMinRate, JClockObj::kMaxRate);
    return refuse(error, "clock rate '" + text + "' is not between " + range);
  }
  options->rate = v;
  return true;
}

bool takeTable(const std::string& text, RunOptions* options, std::string* error) {
  if (text == "live")
    options->table = RunOptions::Table::Live;
  else if (text == "plain")
    options->table = RunOptions::Table::Plain;
  else if (text == "off")
    options->table = RunOptions::Table::Off;
  else
    return refuse(error, "table mode '" + text + "' is not live, plain or off");
  return true;
}

// What an option's value must be, for the message when it is missing.
const char* valueNeeded(int code) {
  switch (code) {
    case 't':
    case kEvery: return "a number of seconds";
    case 'r': return "a rate in Hz";
    case 'p': return "a plug-in file";
    case 'P':
    case 'f': return "a folder";
    case 'k':
    case kGpx:
    case kGeojson:
    case kSaveAs: return "a file";
    case kJson: return "a file or '-'";
    case kGpsd: return "[ADDR:]PORT";
    case kMqtt: return "HOST[:PORT]";
    case kMqttPrefix: return "a topic prefix";
    case kMqttUser: return "a user name";
    case kMqttPasswordFile: return "a file holding the password";
    case kMqttTls: return "the broker's CA certificate file";
    case kSite: return "a site name";
    case kMqttRate: return "a number of positions per second";
    case kMqttIn: return "HOST[:PORT]";
    case kMqttInTopic: return "a topic filter";
    case kMedium:
    case kBad: return "a number of seconds";
    case kTable: return "live, plain or off";
    case kNodes: return "a node list file";
    case kPorts: return "a port list file";
    case kFleet: return "NAME=NODES,PORTS";
    case kMap: return "\"UL_LAT UL_LON LR_LAT LR_LON WIDTHxHEIGHT\"";
    case kWriteDocument: return "a file";
    case kTiles: return "a tile URL template or an MBTiles file";
    case kTilesAttribution: return "a text";
    case kTrace: return "on or off";
    case kTraceLimit: return "a number of bytes";
    default: return "a value";
  }
}

// How an option's value was taken.
enum class Taken { kOk, kBad, kMissing };

// An option that takes no value.
Taken takeFlag(int code, RunOptions* options) {
  switch (code) {
    case 'h': options->help = true; break;
    case kVersion: options->version = true; break;
    case 's': options->save = true; break;
    case kNoDefaultPlugins: options->defaultPlugins = false; break;
    case kTickTimes: options->tickTimes = true; break;
    case kCheck: options->check = true; break;
    default: return Taken::kBad;
  }
  return Taken::kOk;
}

// A name (file or folder) that must not be empty.
Taken takeName(const std::string& value, std::string* field) {
  *field = value;
  return value.empty() ? Taken::kMissing : Taken::kOk;
}

Taken takeList(const std::string& value, std::vector<std::string>* list) {
  list->push_back(value);
  return value.empty() ? Taken::kMissing : Taken::kOk;
}

// An endpoint of --gpsd ([ADDR:]PORT) or --mqtt (HOST[:PORT]), checked now so
// that a mistyped one is a usage error, not a failed run.
Taken takeEndpoint(const char* option, const std::string& text, bool portRequired,
                   std::string* field, std::string* error) {
  if (text.empty()) return Taken::kMissing;
  std::string host, why;
  int port = 0;
  if (!kw_cli::parseEndpoint(text, portRequired, "127.0.0.1", kw_out::MqttPublisher::kDefaultPort,
                             &host, &port, &why)) {
    refuse(error, std::string(option) + ": " + why);
    return Taken::kBad;
  }
  *field = text;
  return Taken::kOk;
}

// An MQTT topic prefix: one or more topic levels, no wildcards.
Taken takePrefix(const std::string& text, std::string* field, std::string* error) {
  if (text.empty()) return Taken::kMissing;
  if (text.find_first_of("#+") != std::string::npos || text.front() == '/' || text.back() == '/') {
    refuse(error,
           "MQTT topic prefix '" + text + "' may not hold '#' or '+' nor start or end with '/'");
    return Taken::kBad;
  }
  *field = text;
  return Taken::kOk;
}

// An MQTT topic filter: levels, '+' standing for a whole level, '#' only as
// the last level.
Taken takeFilter(const std::string& text, std::string* field, std::string* error) {
  if (text.empty()) return Taken::kMissing;
  bool fit = text.size() <= 1024;
  size_t start = 0;
  while (fit) {
    const size_t end = std::min(text.find('/', start), text.size());
    const std::string_view level(text.data() + start, end - start);
    const bool wild = level.find_first_of("+#") != std::string_view::npos;
    if (wild && level != "+" && level != "#") fit = false;
    if (level == "#" && end != text.size()) fit = false;
    if (end == text.size()) break;
    start = end + 1;
  }
  if (!fit) {
    refuse(error, "--mqtt-in-topic '" + text +
                      "' is not an MQTT topic filter ('+' stands for one whole level, '#' for "
                      "the rest, only at the end)");
    return Taken::kBad;
  }
  *field = text;
  return Taken::kOk;
}

Taken takeSite(const std::string& text, std::string* field, std::string* error) {
  if (text.empty()) return Taken::kMissing;
  std::string why;
  if (!kw_out::validSiteName(text, &why)) {
    refuse(error, "--site: " + why);
    return Taken::kBad;
  }
  *field = text;
  return Taken::kOk;
}

// --fleet NAME=NODES,PORTS: a fleet name (kw_out::validFleetName) not
// given before, and two list files; the port list's name is what follows
// the last comma.
Taken takeFleet(const std::string& text, RunOptions* options, std::string* error) {
  if (text.empty()) return Taken::kMissing;
  const size_t equals = text.find('=');
  const size_t comma = text.rfind(',');
  if (equals == std::string::npos || comma == std::string::npos || comma < equals ||
      comma == equals + 1 || comma + 1 == text.size()) {
    refuse(error, "--fleet '" + text + "' is not NAME=NODES,PORTS");
    return Taken::kBad;
  }
  RunOptions::Fleet fleet{text.substr(0, equals), text.substr(equals + 1, comma - equals - 1),
                          text.substr(comma + 1)};
  std::string why;
  if (!kw_out::validFleetName(fleet.name, &why)) {
    refuse(error, "--fleet: " + why);
    return Taken::kBad;
  }
  for (const RunOptions::Fleet& given : options->fleets) {
    if (given.name == fleet.name) {
      refuse(error, "--fleet: fleet '" + fleet.name + "' is given twice");
      return Taken::kBad;
    }
  }
  options->fleets.push_back(std::move(fleet));
  return Taken::kOk;
}

// An option and its value; kBad with the reason in `error` when the value
// is not fit, kMissing when a name is empty.
Taken takeOption(int code, const std::string& value, RunOptions* options, std::string* error) {
  auto checked = [](bool ok) { return ok ? Taken::kOk : Taken::kBad; };
  switch (code) {
    case 't': {
      double v = 0;
      if (!takeSeconds(value, RunOptions::kMaxSeconds, "run time", &v, error)) return Taken::kBad;
      options->seconds = v;
      return Taken::kOk;
    }
    case kEvery:
      return checked(takeSeconds(value, RunOptions::kMaxEvery, "interval", &options->every, error));
    case 'r': return checked(takeRate(value, options, error));
    case kTable: return checked(takeTable(value, options, error));
    case kHttp:
      options->http = true;
      if (WebServer::parseEndpoint(value, &options->httpAddress, &options->httpPort)) {
        return Taken::kOk;
      }
      return checked(
          refuse(error, "web address '" + value + "' is not [ADDR:]PORT (port 1 to 65535)"));
    case kTiles: return takeName(value, &options->tiles);
    case kTilesAttribution: return takeName(value, &options->tilesAttribution);
    case kTrace: {
      bool on = true;
      if (!kw::parseTraceSwitch(value.c_str(), &on)) {
        return checked(refuse(error, "trace '" + value + "' is not on or off"));
      }
      options->trace = on;
      return Taken::kOk;
    }
    case kTraceLimit: {
      uint64_t bytes = 0;
      if (!kw::parseTraceLimit(value.c_str(), &bytes)) {
        return checked(refuse(error, "trace limit '" + value + "' is not a number of bytes"));
      }
      options->traceLimitBytes = bytes;
      return Taken::kOk;
    }
    case 'p': return takeList(value, &options->plugins);
    case 'P': return takeList(value, &options->pluginDirs);
    case kSaveAs: return takeName(value, &options->saveAs);
    case 'f': return takeName(value, &options->facesDir);
    case 'k': return takeName(value, &options->trackFile);
    case kJson: return takeName(value, &options->outputs.json);
    case kGpx: return takeName(value, &options->outputs.gpx);
    case kGeojson: return takeName(value, &options->outputs.geojson);
    case kGpsd: return takeEndpoint("--gpsd", value, true, &options->outputs.gpsd, error);
    case kMqttUser: return takeName(value, &options->outputs.mqttUser);
    case kMqttPasswordFile: return takeName(value, &options->outputs.mqttPasswordFile);
    case kMqttTls: return takeName(value, &options->outputs.mqttTls);
    case kMedium:
    case kBad: {
      double v = 0;
      if (!takeSeconds(value, RunOptions::kMaxThreshold,
                       code == kMedium ? "medium threshold" : "bad threshold", &v, error))
        return Taken::kBad;
      (code == kMedium ? options->medium : options->bad) = v;
      return Taken::kOk;
    }
    case kMqtt: return takeEndpoint("--mqtt", value, false, &options->outputs.mqtt, error);
    case kMqttPrefix: return takePrefix(value, &options->outputs.mqttPrefix, error);
    case kMqttIn: return takeEndpoint("--mqtt-in", value, false, &options->mqttIn, error);
    case kMqttInTopic: return takeFilter(value, &options->mqttInTopic, error);
    case kSite: return takeSite(value, &options->outputs.site, error);
    case kMqttRate: {
      double v = 0;
      if (!parseNumber(value, kw_out::OutputOptions::kMinMqttRate,
                       kw_out::OutputOptions::kMaxMqttRate, &v)) {
        char range[96];
        std::snprintf(range, sizeof range, "between %g and %g", kw_out::OutputOptions::kMinMqttRate,
                      kw_out::OutputOptions::kMaxMqttRate);
        return checked(refuse(
            error, "--mqtt-rate '" + value + "' is not a number of positions per second " + range));
      }
      options->outputs.mqttRate = v;
      return Taken::kOk;
    }
    case kNodes: return takeName(value, &options->nodeFile);
    case kPorts: return takeName(value, &options->portFile);
    case kFleet: return takeFleet(value, options, error);
    case kMap: return takeName(value, &options->map);
    case kWriteDocument: return takeName(value, &options->writeDocument);
    default: return takeFlag(code, options);
  }
}

// --medium and --bad (or their defaults): medium comes before bad.
bool checkThresholds(const RunOptions& options, std::string* error) {
  const double medium = options.medium.value_or(QuickStart::kMediumThreshold);
  const double bad = options.bad.value_or(QuickStart::kBadThreshold);
  if (medium < bad) return true;
  char text[96];
  std::snprintf(text, sizeof text, "the medium threshold (%g s) must be below the bad one (%g s)",
                medium, bad);
  return refuse(error, text);
}

// The quick start needs both lists and takes no document to run or save.
bool checkQuickStart(const RunOptions& options, std::string* error) {
  if (!options.document.empty()) {
    return refuse(error, "a document ('" + options.document +
                             "') and the quick start (--nodes/--ports, --fleet) cannot be "
                             "used together");
  }
  if (!options.fleets.empty()) {
    if (!options.nodeFile.empty() || !options.portFile.empty()) {
      return refuse(error,
                    "--nodes/--ports make one unnamed fleet; with --fleet, name every fleet "
                    "(--fleet NAME=NODES,PORTS)");
    }
  } else if (options.nodeFile.empty()) {
    return refuse(error, "--ports needs --nodes FILE as well");
  }
  if (options.fleets.empty() && options.portFile.empty()) {
    return refuse(error, "--nodes needs --ports FILE as well");
  }
  if (options.save || !options.saveAs.empty()) {
    return refuse(error, "the quick start has no document to save; use --write-document FILE");
  }
  if (!checkThresholds(options, error)) return false;
  QuickStart::Map map;
  return options.map.empty() || QuickStart::parseMap(options.map, &map, error);
}

// A centre shows what other flowhosts publish: it has no graph of its own,
// and publishing its units again would send every site's units round.
bool checkCentre(const RunOptions& options, std::string* error) {
  if (!options.document.empty() || options.quickStart()) {
    return refuse(error,
                  "--mqtt-in shows the units other flowhosts publish; it runs without a "
                  "document or node lists (run a second flowhost with --mqtt for units of "
                  "this site)");
  }
  if (!options.outputs.mqtt.empty()) {
    return refuse(error,
                  "--mqtt-in and --mqtt cannot be used together: the centre would publish "
                  "the sites' units again");
  }
  for (const auto& [given, name] : {std::pair{options.save || !options.saveAs.empty(), "--save"},
                                    {!options.writeDocument.empty(), "--write-document"},
                                    {!options.map.empty(), "--map"},
                                    {!options.trackFile.empty(), "--track"},
                                    {!options.facesDir.empty(), "--faces"}}) {
    if (given) {
      return refuse(error, std::string(name) + " needs a graph; --mqtt-in runs without one");
    }
  }
  return checkThresholds(options, error);
}

// Options that only mean something beside another: false with the reason.
bool checkCompanions(const RunOptions& options, std::string* error) {
  const kw_out::OutputOptions& o = options.outputs;
  if (o.mqtt.empty() && options.mqttIn.empty()) {
    for (const auto& [given, name] : {std::pair{&o.mqttUser, "--mqtt-user"},
                                      {&o.mqttPasswordFile, "--mqtt-password-file"},
                                      {&o.mqttTls, "--mqtt-tls"}}) {
      if (!given->empty())
        return refuse(error, std::string(name) + " belongs to --mqtt HOST[:PORT] or --mqtt-in");
    }
  }
  if (o.mqtt.empty()) {
    if (!o.site.empty()) return refuse(error, "--site names what --mqtt HOST[:PORT] publishes");
    if (o.mqttRate != kw_out::OutputOptions().mqttRate) {
      return refuse(error, "--mqtt-rate belongs to --mqtt HOST[:PORT]");
    }
  }
  if (options.mqttIn.empty() && !options.mqttInTopic.empty()) {
    return refuse(error, "--mqtt-in-topic belongs to --mqtt-in HOST[:PORT]");
  }
  if (!o.mqttPasswordFile.empty() && o.mqttUser.empty()) {
    return refuse(error, "--mqtt-password-file needs --mqtt-user NAME as well");
  }
  if (!options.quickStart() && options.mqttIn.empty() && (options.medium || options.bad)) {
    return refuse(error, std::string(options.medium ? "--medium" : "--bad") +
                             " belongs to the quick start (--nodes FILE --ports FILE); a "
                             "document keeps its thresholds in its sniffer blocks");
  }
  return true;
}

// --check reads and says: nothing that writes a file or opens a socket goes
// with it.
bool checkAlone(const RunOptions& options, std::string* error) {
  const struct {
    bool given;
    const char* option;
  } writers[] = {
      {options.save, "--save"},
      {!options.saveAs.empty(), "--save-as"},
      {!options.writeDocument.empty(), "--write-document"},
      {!options.facesDir.empty(), "--faces"},
      {!options.trackFile.empty(), "--track"},
      {options.http, "--http"},
      {!options.outputs.json.empty(), "--json"},
      {!options.outputs.gpsd.empty(), "--gpsd"},
      {!options.outputs.gpx.empty(), "--gpx"},
      {!options.outputs.geojson.empty(), "--geojson"},
      {!options.outputs.mqtt.empty(), "--mqtt"},
      {!options.mqttIn.empty(), "--mqtt-in"},
  };
  for (const auto& writer : writers) {
    if (writer.given) {
      return refuse(error, std::string("--check runs nothing and writes nothing; ") +
                               writer.option + " cannot go with it");
    }
  }
  return true;
}

// The documents after the options: exactly one, unless only help or the
// version was asked for.
bool takeDocument(const std::vector<std::string>& operands, RunOptions* options,
                  std::string* error) {
  if (operands.size() > 1) {
    return refuse(error,
                  "more than one document given ('" + operands[0] + "', '" + operands[1] + "')");
  }
  if (!operands.empty()) options->document = operands[0];
  if (options->help || options->version) return true;
  if (options->check && !checkAlone(*options, error)) return false;
  if (!options->http && (!options->tiles.empty() || !options->tilesAttribution.empty()))
    return refuse(error, "--tiles shows on the web view: add --http");
  if (!checkCompanions(*options, error)) return false;
  if (options->centre()) return checkCentre(*options, error);
  if (options->quickStart()) return checkQuickStart(*options, error);
  if (!options->map.empty() || !options->writeDocument.empty()) {
    return refuse(error, std::string(options->map.empty() ? "--write-document" : "--map") +
                             " belongs to the quick start (--nodes FILE --ports FILE)");
  }
  if (options->document.empty()) return refuse(error, "no document given");
  if (options->save && !options->saveAs.empty()) {
    return refuse(error, "--save and --save-as cannot be used together");
  }
  return true;
}

// "PORT", "ADDR:PORT", a dotted IPv4 address or "localhost": what a
// person means as the address of an option whose value was left out.
bool looksLikeAddress(const std::string& word) {
  if (word == "localhost") return true;
  if (word.empty() || word.find('/') != std::string::npos) return false;
  const size_t colon = word.rfind(':');
  const std::string digits = colon == std::string::npos ? word : word.substr(colon + 1);
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) return true;
  int dots = 0;
  for (const char c : word) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return dots == 3;
}

// A word right after --http or --gpsd written without a value that looks
// like their address is a mistake for --http=ADDRESS, not a document.
bool checkAddressWords(const std::vector<std::string>& args, const std::vector<size_t>& operands,
                       const std::map<size_t, std::string>& bareOptional, std::string* error) {
  for (const size_t place : operands) {
    const auto before = place > 0 ? bareOptional.find(place - 1) : bareOptional.end();
    if (before == bareOptional.end() || !looksLikeAddress(args[place])) continue;
    return refuse(error, before->second + " takes its address as " + before->second + "=" +
                             args[place] + "; '" + args[place] +
                             "' would be taken as the document");
  }
  return true;
}

}  // namespace

bool parseRunOptions(const std::vector<std::string>& args, RunOptions* options,
                     std::string* error) {
  *options = RunOptions();
  const kw_cli::OptionParser parser(kOptions, kw_cli::OptionParser::Style::Bundled);
  bool missing = false;  // the value was there, but empty where a name is needed
  std::map<size_t, std::string> bareOptional;  // where --http or --gpsd stood without a value
  const auto take = [&](const kw_cli::Found& found) {
    if (!found.hasValue && (found.code == kGpsd || found.code == kHttp)) {
      bareOptional[found.word] = found.spelled;
      if (found.code == kGpsd) {
        options->outputs.gpsd = "127.0.0.1:" + std::to_string(kw_out::GpsdServer::kDefaultPort);
        return true;
      }
    }
    const Taken taken = takeOption(found.code, found.value, options, error);
    missing = taken == Taken::kMissing;
    return taken == Taken::kOk;
  };
  std::vector<size_t> operands;
  kw_cli::Problem problem;
  if (!parser.parse(args, take, &operands, &problem)) {
    switch (problem.kind) {
      case kw_cli::Problem::Kind::MissingValue:
        return refuse(error, "option " + problem.spelled + " needs " + valueNeeded(problem.code));
      case kw_cli::Problem::Kind::Refused:
        if (!missing) return false;  // takeOption said why
        return refuse(error, "option " + problem.spelled + " needs " + valueNeeded(problem.code));
      case kw_cli::Problem::Kind::UnexpectedValue:
        return refuse(error, "option '" + problem.spelled.substr(0, problem.spelled.find('=')) +
                                 "' takes no value");
      default: return refuse(error, "unknown option '" + problem.spelled + "'");
    }
  }
  if (!checkAddressWords(args, operands, bareOptional, error)) return false;
  std::vector<std::string> words;
  for (const size_t place : operands) words.push_back(args[place]);
  return takeDocument(words, options, error);
}

}  // namespace flowhost
