#include "apps/flowhost/run/FlowRunner.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/blocks/JConstantObj.h"
#include "apps/flowhost/blocks/RunnerBlocks.h"
#include "apps/flowhost/centre/Centre.h"
#include "apps/flowhost/document/DocumentFile.h"
#include "apps/flowhost/document/DocumentHints.h"
#include "apps/flowhost/document/ListCheck.h"
#include "apps/flowhost/quickstart/QuickStart.h"
#include "apps/flowhost/run/ClockSchedule.h"
#include "apps/flowhost/run/FeedOutputs.h"
#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/run/PluginSet.h"
#include "apps/flowhost/run/TickTimes.h"
#include "apps/flowhost/views/table/PortReport.h"
#include "apps/flowhost/views/table/TableView.h"
#include "cli/endpoint.h"
#include "geogrid/JGeoGridObj.h"
#include "host/JGraph.h"
#include "host/JGraphics.h"
#include "host/JModuleObj.h"
#include "host/JOutputStream.h"
#include "host/JRegion.h"
#include "outputs/MqttPublisher.h"
#include "platform/files.h"
#include "platform/stop_signal.h"
#include "platform/terminal.h"
#include "platform/terminal_text.h"
#include "sniffer/JQNV_packet_sniffer_layout.h"

namespace flowhost {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFaceScale = 2.0;  // faces are drawn at twice model size
constexpr auto kLongestSleep = std::chrono::milliseconds(100);
constexpr auto kIdleRefresh = std::chrono::milliseconds(250);  // table pace without clocks
// Blocks closed side by side at the end: a sniffer pauses 100 ms in its
// close, and hundreds of them one after the other would take minutes.
constexpr int kClosingThreads = 64;
constexpr auto kCountersPeriod = std::chrono::seconds(1);  // port counters to the outputs

// A block's stored entry, as its writeContent gives it.
const JEntry* storedEntry(const JOutputStream& stream, const std::string& key) {
  for (const JEntry& entry : stream.entries()) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

int storedInteger(const JOutputStream& stream, const std::string& key, int otherwise) {
  const JEntry* entry = storedEntry(stream, key);
  if (entry == nullptr || entry->kind != JEntry::Kind::Integer) return otherwise;
  return static_cast<int>(std::clamp<long long>(entry->integer, 0, 1 << 30));
}

std::string storedText(const JOutputStream& stream, const std::string& key) {
  const JEntry* entry = storedEntry(stream, key);
  if (entry == nullptr || entry->kind != JEntry::Kind::Text) return "";
  return static_cast<char*>(entry->text);
}

// A class name as a file name part: letters, digits and '_' only.
std::string fileWord(const char* name) {
  std::string word = name != nullptr ? name : "";
  for (char& c : word) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
  }
  return word.empty() ? "block" : word;
}

// The folder a file will be written into exists (or is the current one).
bool folderExists(const std::string& file) {
  const fs::path parent = fs::path(file).parent_path();
  std::error_code ec;
  return parent.empty() || fs::is_directory(parent, ec);
}

std::string signalName(int number) {
  if (number == SIGINT) return "SIGINT";
  if (number == SIGTERM) return "SIGTERM";
  if (number == SIGHUP) return "SIGHUP";
  return "signal " + std::to_string(number);
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// What the quick start's two lists are read as, every note said.
// The quick start's lists: --nodes/--ports, or each fleet's two.
ListCheck::Said quickStartLines(const RunOptions& options) {
  if (options.fleets.empty()) {
    return ListCheck::say(ListCheck::quickStartLists(options.nodeFile, options.portFile), true);
  }
  std::vector<ListCheck::ListFile> lists;
  for (const RunOptions::Fleet& fleet : options.fleets) {
    for (ListCheck::ListFile& list : ListCheck::quickStartLists(fleet.nodeFile, fleet.portFile)) {
      lists.push_back(std::move(list));
    }
  }
  return ListCheck::say(lists, true);
}

}  // namespace

// What one run holds, from the plug-ins to the files it will write.
struct FlowRunner::Run {
  // The graph and where it came from.
  struct Loaded {
    Loaded() = default;
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded() {
      if (partFolder.empty()) return;
      std::error_code ignored;
      fs::remove_all(partFolder, ignored);
    }

    PluginSet plugins;
    DocumentFile document;
    std::optional<QuickStart> quick;
    std::string partFolder;   // the quick start's part lists, removed at the end
    std::string name;         // the document, as messages name it
    JGraph* graph = nullptr;  // the document's or the quick start's
    std::optional<NodeTable> table;
    // A centre (--mqtt-in) has no graph of its own (an empty one stands
    // in) and reads its units from the sites.
    JGraph noGraph;
    std::optional<Centre> centre;
    // What the run reads that is not read as a person would expect: the
    // document's warnings (lists that cannot be read, node lists longer
    // than a sniffer takes) and the list files' lines (ListCheck).
    std::vector<std::string> warnings;
    ListCheck::Said lists;
  };
  // The node table on the screen.
  struct Screen {
    std::optional<TableView> view;
    TableView::Mode mode = TableView::Mode::Off;
    int terminalFd = -1;            // the live table's terminal while it follows its size
    unsigned long resizesSeen = 0;  // resize notices already taken into account
  };
  // The ports, looked at once a second.
  struct Ports {
    PortReport report;
    std::vector<PortRow> rows;  // as last reported
    Clock::time_point last;
    double lastShown = -1.0;  // elapsed time of the last plain counters lines
  };
  // What is written when the run is over.
  struct Ending {
    struct Face {
      std::string path;
      JGraphics canvas;
    };
    std::vector<Face> faces;
    std::string saveTo;  // where the document is saved; empty: not saved
    std::string documentText;
    std::string documentProblem;
    bool documentReady = false;
  };

  Run(const RunOptions& o, bool terminal) : options(o), outputIsTerminal(terminal) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const RunOptions& options;
  const bool outputIsTerminal;
  Loaded loaded;
  Screen screen;
  Ports ports;
  FeedOutputs outputs;  // the position outputs, the track picture and the web view
  ClockSchedule schedule;
  Clock::time_point start;
  TickTimes ticks;  // with --tick-times
  Ending ending;
};

FlowRunner::FlowRunner(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

int FlowRunner::failure(const std::string& reason) {
  err_ << "flowhost: " << kw::terminalText(reason) << '\n';
  return kFailed;
}

bool FlowRunner::refuse(const std::string& reason) {
  failure(reason);
  return false;
}

int FlowRunner::run(const RunOptions& options, bool outputIsTerminal) {
  Run run(options, outputIsTerminal);
  if (options.check && options.quickStart()) return check(run);  // lists alone: no plug-in
  if (options.centre()) {
    if (!prepareCentre(run) || !prepareOutputs(run)) return kFailed;
    std::string reason;
    if (!run.loaded.centre->start(&reason)) return failure(reason);
    out_ << "flowhost: centre: reading the sites at " << kw::terminalText(options.mqttIn)
         << std::endl;
    drive(run);
    const std::string summary = run.loaded.centre->describe();  // as it stood, not as stopped
    run.loaded.centre->stop();
    out_ << "flowhost: " << kw::terminalText(summary) << '\n';
    finish(run);
    return writeOutputs(run);
  }
  if (!loadClasses(run)) return kFailed;
  if (options.quickStart()) {
    if (!buildQuickStart(run)) return kFailed;
    sayProblems(run);
    if (!options.writeDocument.empty()) return writeStartingPoint(run);
  } else if (!loadDocument(run)) {
    return kFailed;
  } else if (options.check) {
    return check(run);
  } else {
    sayProblems(run);
  }
  if (!prepareOutputs(run)) return kFailed;
  drive(run);
  finish(run);
  return writeOutputs(run);
}

// The runner's own block classes, the plug-ins asked for and the defaults.
bool FlowRunner::loadClasses(Run& run) {
  if (!registerRunnerBlocks()) {
    return refuse("the runner's own block classes could not be registered");
  }
  std::string reason;
  for (const std::string& path : run.options.plugins) {
    if (!run.loaded.plugins.load(path, &reason)) return refuse(reason);
  }
  if (run.options.defaultPlugins &&
      !run.loaded.plugins.loadDefaults(run.options.pluginDirs, &reason)) {
    return refuse(reason);
  }
  for (const PluginSet::Loaded& plugin : run.loaded.plugins.loaded()) {
    std::string classes;
    for (const std::string& name : plugin.classes) classes += (classes.empty() ? "" : ", ") + name;
    out_ << "flowhost: plug-in " << kw::terminalText(plugin.path) << " (" << classes << ")\n";
  }
  return true;
}

bool FlowRunner::loadDocument(Run& run) {
  run.loaded.name = "'" + run.options.document + "'";
  std::string reason;
  if (!run.loaded.document.load(run.options.document, &reason)) {
    failure(reason);
    for (const std::string& hint :
         DocumentHints::forRefusedLink(run.options.document, run.loaded.document)) {
      err_ << "flowhost: note: " << kw::terminalText(hint) << '\n';
    }
    for (const std::string& hint :
         DocumentHints::forNotADocument(run.options.document, run.loaded.document)) {
      err_ << "flowhost: note: " << hint << '\n';
    }
    if (run.loaded.document.refusal().kind == JRefusal::Kind::UnknownClass) {
      for (const std::string& missing : run.loaded.plugins.missing()) {
        err_ << "flowhost: note: default plug-in not found: " << kw::terminalText(missing) << '\n';
      }
    }
    return false;
  }
  // A list file that vanished or became unreadable is no reason to stop:
  // the block starts with that list empty, as it would in any host. Say so;
  // saving the document afterwards is refused, so the name is not lost.
  for (const std::string& problem : run.loaded.document.unreadableListFiles()) {
    run.loaded.warnings.push_back("document '" + run.options.document + "': " + problem +
                                  "; the block starts without that list");
  }
  run.loaded.lists = ListCheck::say(ListCheck::documentLists(run.loaded.document), false);
  run.loaded.graph = run.loaded.document.graph();
  for (const std::string& warning : DocumentHints::forLongNodeLists(*run.loaded.graph)) {
    run.loaded.warnings.push_back(warning);
  }
  run.loaded.table.emplace(*run.loaded.graph);
  return true;
}

// What the run reads and would not be read as a person expects, said once
// before anything starts; each list line as --check gives it.
void FlowRunner::sayProblems(Run& run) {
  for (const std::string& warning : run.loaded.warnings) {
    err_ << "flowhost: warning: " << kw::terminalText(warning) << '\n';
  }
  for (const std::string& line : run.loaded.lists.lines) err_ << "flowhost: " << line << '\n';
}

// --check: the same lines, plainly, and no run. The quick start's lists are
// read as they are; a document is loaded (blocks made and restored, not
// started) and its blocks' lists read.
int FlowRunner::check(Run& run) {
  const RunOptions& options = run.options;
  Run::Loaded& loaded = run.loaded;
  if (options.quickStart()) loaded.lists = quickStartLines(options);
  for (const std::string& warning : loaded.warnings) out_ << kw::terminalText(warning) << '\n';
  for (const std::string& line : loaded.lists.lines) out_ << line << '\n';
  const size_t count = loaded.warnings.size() + loaded.lists.notes;
  out_ << "flowhost: check: "
       << (count == 0 ? std::string("no problems")
                      : std::to_string(count) + (count == 1 ? " problem" : " problems"))
       << '\n';
  out_.flush();
  return count == 0 ? kOk : kFailed;
}

// A private folder for the part lists of a node list too long for one
// sniffer; empty when none could be made.
namespace {
std::string makePartFolder() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return "";
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path folder = base / ("flowhost-lists-" + std::to_string(random()));
    if (fs::create_directory(folder, ec)) return folder.string();
  }
  return "";
}
}  // namespace

// A centre: the broker and login of --mqtt-in, the thresholds, and an
// empty graph in place of a document's.
bool FlowRunner::prepareCentre(Run& run) {
  const RunOptions& options = run.options;
  const kw_out::OutputOptions& o = options.outputs;
  run.loaded.name = "the centre";
  Centre::Settings settings;
  SiteInbox::Settings& in = settings.inbox;
  const int defaultPort = o.mqttTls.empty() ? kw_out::MqttPublisher::kDefaultPort
                                            : kw_out::MqttPublisher::kDefaultTlsPort;
  std::string reason;
  if (!kw_cli::parseEndpoint(options.mqttIn, false, "", defaultPort, &in.host, &in.port, &reason)) {
    return refuse("--mqtt-in: " + reason);
  }
  if (in.port == 0) return refuse("--mqtt-in: port 0 cannot be connected to");
  in.prefix = o.mqttPrefix;
  in.filter = options.mqttInTopic;
  in.user = o.mqttUser;
  in.caFile = o.mqttTls;
  if (!o.mqttPasswordFile.empty() &&
      !kw_out::MqttPublisher::readPasswordFile(o.mqttPasswordFile, &in.password, &reason)) {
    return refuse(reason);
  }
  settings.medium = options.medium.value_or(QuickStart::kMediumThreshold);
  settings.bad = options.bad.value_or(QuickStart::kBadThreshold);
  run.loaded.centre.emplace(settings);
  run.loaded.graph = &run.loaded.noGraph;
  return true;
}

// The standard graph of the two list files. The part lists of a long node
// list go beside the document to be written, or into a private folder that
// the run removes at its end.
bool FlowRunner::buildQuickStart(Run& run) {
  const RunOptions& options = run.options;
  run.loaded.name = "the quick start graph";
  QuickStart::Settings settings;
  settings.nodeFile = options.nodeFile;
  settings.portFile = options.portFile;
  for (const RunOptions::Fleet& fleet : options.fleets) {
    settings.fleets.push_back({fleet.name, fleet.nodeFile, fleet.portFile});
  }
  settings.rate = options.rate.value_or(JClockObj::kDefaultRate);
  settings.medium = options.medium.value_or(QuickStart::kMediumThreshold);
  settings.bad = options.bad.value_or(QuickStart::kBadThreshold);
  std::string reason;
  if (!options.map.empty() && !QuickStart::parseMap(options.map, &settings.map, &reason)) {
    return refuse(reason);
  }
  if (!options.writeDocument.empty()) {
    const fs::path document(options.writeDocument);
    settings.partFolder = document.parent_path().string();
    settings.partStem = document.stem().string() + "-nodes";
    if (!folderExists(options.writeDocument)) {
      return refuse("cannot write the document '" + options.writeDocument + "': no such folder");
    }
  } else if (QuickStart::needsPartLists(settings)) {
    run.loaded.partFolder = makePartFolder();
    if (run.loaded.partFolder.empty())
      return refuse("cannot make a folder for the part node lists");
    settings.partFolder = run.loaded.partFolder;
  }
  run.loaded.quick.emplace();
  if (!run.loaded.quick->build(settings, &reason)) return refuse(reason);
  if (options.writeDocument.empty()) {
    for (const QuickStart::PartList& part : run.loaded.quick->partLists()) {
      if (!DocumentFile::writeFile(part.path, part.text, &reason)) return refuse(reason);
    }
  }
  for (const QuickStart::Built& fleet : run.loaded.quick->fleets()) {
    const size_t nodes = fleet.nodes.nodes().size();
    out_ << "flowhost: quick start: "
         << (fleet.fleet.name.empty() ? "" : "fleet " + fleet.fleet.name + ": ") << nodes
         << (nodes == 1 ? " node" : " nodes") << " of " << kw::terminalText(fleet.fleet.nodeFile)
         << " on the ports of " << kw::terminalText(fleet.fleet.portFile) << ", " << fleet.sniffers
         << (fleet.sniffers == 1 ? " sniffer" : " sniffers") << '\n';
  }
  run.loaded.graph = run.loaded.quick->graph();
  run.loaded.table.emplace(*run.loaded.graph);
  run.loaded.lists = quickStartLines(options);
  return true;
}

// The quick start's graph as a document, with its part lists, and no run.
int FlowRunner::writeStartingPoint(Run& run) {
  const std::string& path = run.options.writeDocument;
  std::string reason;
  for (const QuickStart::PartList& part : run.loaded.quick->partLists()) {
    if (!DocumentFile::writeFile(part.path, part.text, &reason)) return failure(reason);
    out_ << "wrote " << kw::terminalText(part.path) << '\n';
  }
  if (!DocumentFile::writeFile(path, run.loaded.quick->documentText(path), &reason)) {
    return failure("document not written: " + reason);
  }
  out_ << "wrote " << kw::terminalText(path) << '\n';
  out_.flush();
  return kOk;
}

// Every output asked for is checked before anything starts.
bool FlowRunner::prepareOutputs(Run& run) {
  const RunOptions& options = run.options;
  kw_out::OutputOptions outputs = options.outputs;
  if (!options.trackFile.empty() && !prepareTrack(run, &outputs.picture)) return false;
  if (!options.facesDir.empty()) {
    std::error_code ec;
    fs::create_directories(options.facesDir, ec);
    if (ec || !fs::is_directory(options.facesDir, ec)) {
      return refuse("cannot make the faces folder '" + options.facesDir + "'");
    }
  }
  run.ending.saveTo = options.save ? options.document : options.saveAs;
  if (!run.ending.saveTo.empty() && !folderExists(run.ending.saveTo)) {
    return refuse("cannot save the document to '" + run.ending.saveTo + "': no such folder");
  }
  for (const std::string* file : {&options.outputs.gpx, &options.outputs.geojson}) {
    if (!file->empty() && !folderExists(*file)) {
      return refuse("cannot write '" + *file + "': no such folder");
    }
  }
  FeedOutputs::Web web;
  if (options.http)
    web = {options.httpAddress, options.httpPort, options.tiles, options.tilesAttribution};
  std::string reason;
  if (!run.outputs.open(outputs, web, *run.loaded.graph, &reason)) return refuse(reason);
  if (options.http) {
    out_ << "flowhost: web view on http://" << options.httpAddress << ':' << run.outputs.webPort()
         << "/" << std::endl;  // seen at once, also through a pipe
  }
  if (!options.outputs.gpsd.empty()) {
    out_ << "flowhost: gpsd server on port " << run.outputs.gpsdPort() << std::endl;
  }
  prepareDriving(run);
  return true;
}

// The track picture is drawn on the first map block fed from a node, at its
// size and with its name.
bool FlowRunner::prepareTrack(Run& run, kw_out::OutputOptions::Picture* picture) {
  JModuleObj* map = run.loaded.table->firstMap();
  if (map == nullptr) {
    return refuse("no " + std::string(JGeoGridObj::kClassName) + " block of " + run.loaded.name +
                  " is fed from a node of a " + JQNV_packet_sniffer_layout::kClassName +
                  " block; there is no map to draw the track picture on");
  }
  if (!folderExists(run.options.trackFile)) {
    return refuse("cannot write the track picture '" + run.options.trackFile + "': no such folder");
  }
  JOutputStream stored;
  map->writeContent(stored);
  picture->file = run.options.trackFile;
  picture->width = storedInteger(stored, "pixel_width", 1);
  picture->height = storedInteger(stored, "pixel_height", 1);
  picture->mapName = storedText(stored, "map_name");
  return true;
}

// The clock blocks' schedule and the table's mode.
void FlowRunner::prepareDriving(Run& run) {
  const RunOptions& options = run.options;
  for (int b = 0; b < run.loaded.graph->blockCount(); ++b) {
    if (auto* clock = dynamic_cast<JClockObj*>(run.loaded.graph->block(b))) {
      run.schedule.add(clock, options.rate.value_or(clock->rate()));
    }
  }
  TableView::Mode mode = TableView::Mode::Plain;
  switch (options.table) {
    case RunOptions::Table::Auto:
      mode = run.outputIsTerminal ? TableView::Mode::Live : TableView::Mode::Plain;
      break;
    case RunOptions::Table::Live: mode = TableView::Mode::Live; break;
    case RunOptions::Table::Plain: mode = TableView::Mode::Plain; break;
    case RunOptions::Table::Off: mode = TableView::Mode::Off; break;
  }
  run.screen.view.emplace(out_, mode, options.every);
  if (run.loaded.centre) run.screen.view->setEmptyText("(no unit heard from the sites yet)");
  run.screen.mode = mode;
  if (mode != TableView::Mode::Live) return;
  // Only a terminal has colours and a size; a live table forced into a pipe
  // is drawn at the usual size, plain.
  run.screen.view->setColour(run.outputIsTerminal);
  if (!run.outputIsTerminal) return;
  run.screen.terminalFd = options.jsonOnStandardOutput() ? 2 : 1;
  if (const kw::Failure failed = kw::Terminal::watchResizes()) {
    err_ << "flowhost: warning: " << failed.text() << "; the table keeps its first size\n";
  }
  run.screen.resizesSeen = kw::Terminal::resizes();
  fitToTerminal(run);
}

// The live table takes the terminal's size; it stays as it was when the
// terminal does not say.
void FlowRunner::fitToTerminal(Run& run) {
  kw::Terminal::Size size;
  if (const kw::Failure failed = kw::Terminal::size(run.screen.terminalFd, &size)) {
    err_ << "flowhost: warning: " << failed.text() << "; the table keeps its size\n";
    return;
  }
  run.screen.view->setScreen(size.columns, size.rows);
}

// Starts every block and drives the clocks until the run time is over or a
// stop signal came, showing the table after each clock edge (or at an idle
// pace when there is no clock).
void FlowRunner::drive(Run& run) {
  startBlocks(run);
  const Clock::time_point end =
      run.options.seconds ? run.start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*run.options.seconds))
                          : Clock::time_point::max();
  ClockSchedule& schedule = run.schedule;
  schedule.start(run.start);
  Clock::time_point nextRefresh = run.start;
  // Without clocks the table is refreshed at an idle pace; a centre's pace
  // is --rate when given.
  const Clock::duration idleRefresh =
      run.loaded.centre && run.options.rate
          ? std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(1.0 / *run.options.rate))
          : std::chrono::duration_cast<Clock::duration>(kIdleRefresh);
  while (!kw::StopSignal::requested()) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    if (schedule.advance(now) > 0) {
      observe(run, now, false);
      if (run.options.tickTimes) {
        run.ticks.add(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count());
      }
    } else if (schedule.empty() && now >= nextRefresh) {
      observe(run, now, false);
      nextRefresh = now + idleRefresh;
    }
    kw::StopSignal::sleepUntil(
        std::min({schedule.empty() ? nextRefresh : schedule.nextDue(), end, now + kLongestSleep}));
  }
  const Clock::time_point last = Clock::now();
  observe(run, last, true);
  run.outputs.stopServing();
  if (kw::StopSignal::requested()) {
    out_ << "flowhost: stopped by " << signalName(kw::StopSignal::signalNumber()) << " after "
         << secondsBetween(run.start, last) << " s\n";
  }
  if (run.options.tickTimes) out_ << "flowhost: " << run.ticks.summary() << '\n';
}

// Every block starts, every constant block is announced once, and the ports
// are looked at a first time.
void FlowRunner::startBlocks(Run& run) {
  run.loaded.graph->startup();
  for (int b = 0; b < run.loaded.graph->blockCount(); ++b) {
    if (auto* constant = dynamic_cast<JConstantObj*>(run.loaded.graph->block(b))) {
      constant->announce();
    }
  }
  run.start = Clock::now();
  reportPorts(run, run.start, false);
}

// Shows the table as it stands, hands the nodes to the output forms and,
// once a second, reports the ports.
void FlowRunner::observe(Run& run, Clock::time_point now, bool force) {
  std::vector<NodeRow> rows;
  Centre* centre = run.loaded.centre ? &*run.loaded.centre : nullptr;
  if (centre != nullptr) {
    const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    centre->refresh(nowMs);
    rows = centre->rows(nowMs);
    std::vector<kw_out::OutputStateChange> changes;
    centre->takeStateChanges(&changes);
    run.outputs.addStateChanges(std::move(changes));
  } else {
    rows = run.loaded.table->read();
  }
  if (run.screen.terminalFd >= 0 && kw::Terminal::resizes() != run.screen.resizesSeen) {
    run.screen.resizesSeen = kw::Terminal::resizes();
    fitToTerminal(run);
  }
  const double elapsed = secondsBetween(run.start, now);
  run.screen.view->show(rows, elapsed, run.schedule.risingEdges(), force);
  run.outputs.tick(std::move(rows), now, elapsed,
                   static_cast<long long>(run.schedule.risingEdges()));
  for (const kw_out::OutputStateChange& change : run.outputs.stateChanges()) {
    err_ << "flowhost: " << kw_out::describe(change) << std::endl;  // seen at once
  }
  if (centre != nullptr) reportSites(run, *centre);
  if (force || now - run.ports.last >= kCountersPeriod) reportPorts(run, now, force);
}

// Each change of a site's state, said once and handed to the outputs.
void FlowRunner::reportSites(Run& run, Centre& centre) {
  const std::vector<size_t> changed = centre.takeChanged();
  const std::vector<kw_out::SiteStatus>& sites = centre.sites();
  for (const size_t i : changed) {
    const kw_out::SiteStatus& s = sites[i];
    err_ << "flowhost: site " << kw::terminalText(s.site) << ' ' << kw_out::siteStateWord(s.state)
         << (s.reason.empty() ? "" : " (" + kw::terminalText(s.reason) + ")") << std::endl;
  }
  run.outputs.sites(sites, changed);
}

// Warns once of each port that could not be set up (the ports that work run
// on), hands the counters to the output forms and, in plain mode, prints one
// counters line per port every --every seconds.
void FlowRunner::reportPorts(Run& run, Clock::time_point now, bool force) {
  run.ports.last = now;
  const std::vector<PortRow> ports =
      run.loaded.centre ? run.loaded.centre->ports() : run.loaded.table->ports();
  for (const std::string& failure : run.ports.report.newFailures(ports)) {
    err_ << "flowhost: warning: " << kw::terminalText(failure) << '\n';
  }
  run.outputs.counters(ports, now);
  run.screen.view->setPorts(ports);
  run.ports.rows = ports;
  if (run.screen.mode != TableView::Mode::Plain || ports.empty()) return;
  const double elapsed = secondsBetween(run.start, now);
  if (!force && run.ports.lastShown >= 0.0 && elapsed - run.ports.lastShown < run.options.every) {
    return;
  }
  run.ports.lastShown = elapsed;
  for (const PortRow& port : ports) out_ << PortReport::countersLine(port) << '\n';
  out_.flush();
}

// Faces and document text as the run left them, then every block closes.
void FlowRunner::finish(Run& run) {
  if (!run.options.facesDir.empty()) {
    for (int b = 0; b < run.loaded.graph->blockCount(); ++b) {
      JModuleObj* block = run.loaded.graph->block(b);
      const JRect r = block->getIExtent(-block->getX(), -block->getY(), kFaceScale);
      JGraphics canvas(r.width + 1, r.height + 1);
      JRegion everything;
      block->paint(canvas, -block->getX(), -block->getY(), everything, kFaceScale);
      char number[16];
      std::snprintf(number, sizeof number, "%02d", b + 1);
      const std::string name = std::string(number) + "-" + fileWord(block->className()) + ".svg";
      run.ending.faces.push_back(
          Run::Ending::Face{(fs::path(run.options.facesDir) / name).string(), canvas});
    }
  }
  run.ending.documentReady =
      run.ending.saveTo.empty() ||
      run.loaded.document.currentText(&run.ending.documentText, &run.ending.documentProblem,
                                      run.ending.saveTo);
  run.loaded.graph->closeTogether(kClosingThreads);
}

// Writes the faces, the outputs' files (the track picture among them) and
// the document, naming each file written; any that cannot be written makes
// the run fail.
int FlowRunner::writeOutputs(Run& run) {
  int status = kOk;
  std::string reason;
  for (const Run::Ending::Face& face : run.ending.faces) {
    if (!face.canvas.writeSvg(face.path, &reason)) {
      status = failure(reason);
    } else {
      out_ << "wrote " << kw::terminalText(face.path) << '\n';
    }
  }
  kw_out::Closing closing;
  run.outputs.close(&closing);  // the files a last time
  const std::string summary = run.outputs.describe();
  if (!summary.empty()) out_ << "flowhost: " << kw::terminalText(summary) << '\n';
  for (const std::string& written : closing.written) {
    out_ << "wrote " << kw::terminalText(written) << '\n';
  }
  for (const std::string& failed : closing.failures) status = failure(failed);
  if (!saveDocument(run, status)) status = kFailed;
  out_.flush();
  return status;
}

// Saves the document when asked to, and only after a run that wrote all it
// was asked for; false when it was not saved.
bool FlowRunner::saveDocument(Run& run, int status) {
  if (run.ending.saveTo.empty()) return true;
  std::string reason;
  if (status != kOk) {
    failure("document not saved: the run failed");
    return false;
  }
  if (!run.ending.documentReady) {
    failure("document not saved: " + run.ending.documentProblem);
    return false;
  }
  if (!DocumentFile::save(run.ending.saveTo, run.ending.documentText, &reason)) {
    failure("document not saved: " + reason);
    return false;
  }
  out_ << "wrote " << kw::terminalText(run.ending.saveTo) << '\n';
  return true;
}

}  // namespace flowhost
