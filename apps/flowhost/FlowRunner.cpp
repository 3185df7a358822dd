#include "FlowRunner.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "ClockSchedule.h"
#include "DocumentFile.h"
#include "FeedOutputs.h"
#include "FileWriter.h"
#include "DocumentHints.h"
#include "JClockObj.h"
#include "JConstantObj.h"
#include "JGeoGridObj.h"
#include "JGraph.h"
#include "JGraphics.h"
#include "JModuleObj.h"
#include "JOutputStream.h"
#include "JRegion.h"
#include "ListCheck.h"
#include "NodeListFile.h"
#include "NodeTable.h"
#include "JQNV_packet_sniffer_layout.h"
#include "PluginSet.h"
#include "PortReport.h"
#include "QuickStart.h"
#include "RunnerBlocks.h"
#include "TableView.h"
#include "TickTimes.h"
#include "TrackPicture.h"
#include "files.h"
#include "stop_signal.h"
#include "terminal.h"
#include "terminal_text.h"
#include "web/WebServer.h"
#include "web/WebState.h"

namespace flowhost {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFaceScale = 2.0;             // faces are drawn at twice model size
constexpr auto kLongestSleep = std::chrono::milliseconds(100);
constexpr auto kIdleRefresh = std::chrono::milliseconds(250);  // table pace without clocks
// Blocks closed side by side at the end: a sniffer pauses 100 ms in its
// close, and hundreds of them one after the other would take minutes.
constexpr int kClosingThreads = 64;
constexpr auto kCountersPeriod = std::chrono::seconds(1);      // port counters to the outputs
constexpr auto kTrackRewrite = std::chrono::seconds(5);        // track picture during the run

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
ListCheck::Said quickStartLines(const RunOptions& options) {
  return ListCheck::say(ListCheck::quickStartLists(options.nodeFile, options.portFile), true);
}

}  // namespace

// What one run holds, from the plug-ins to the files it will write.
struct FlowRunner::Run {
  struct Face {
    std::string path;
    JGraphics canvas;
  };

  Run(const RunOptions& o, bool terminal) : options(o), outputIsTerminal(terminal) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run() {
    if (partFolder.empty()) return;
    std::error_code ignored;
    fs::remove_all(partFolder, ignored);
  }

  const RunOptions& options;
  const bool outputIsTerminal;
  PluginSet plugins;
  DocumentFile document;
  std::optional<QuickStart> quick;
  std::string partFolder;   // the quick start's part lists, removed at the end
  std::string name;         // the document, as messages name it
  // What the run reads that is not read as a person would expect: the
  // document's warnings (lists that cannot be read, node lists longer than
  // a sniffer takes) and the list files' lines (ListCheck).
  std::vector<std::string> warnings;
  ListCheck::Said lists;
  JGraph* graph = nullptr;  // the document's or the quick start's
  std::optional<NodeTable> table;
  TrackPicture track;
  bool wantTrack = false;
  std::string saveTo;  // where the document is saved; empty: not saved
  ClockSchedule schedule;
  std::optional<TableView> view;
  TableView::Mode tableMode = TableView::Mode::Off;
  int terminalFd = -1;             // the live table's terminal while it follows its size
  unsigned long resizesSeen = 0;   // resize notices already taken into account
  std::vector<PortRow> ports;      // as last reported
  FeedOutputs outputs;
  PortReport portReport;
  std::unique_ptr<kw_out::FileWriter> trackWriter;  // the track picture during the run
  std::size_t trackWritten = 0;   // track points (kept + dropped) last handed to it
  Clock::time_point lastTrackWrite;
  Clock::time_point lastCounters;
  double lastCountersShown = -1.0;  // elapsed time of the last plain counters lines
  std::optional<WebState> web;  // with the web view
  WebServer server;
  Clock::time_point start;
  TickTimes ticks;  // with --tick-times
  std::vector<Face> faces;
  std::string documentText;
  std::string documentProblem;
  bool documentReady = false;
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
    if (!run.plugins.load(path, &reason)) return refuse(reason);
  }
  if (run.options.defaultPlugins && !run.plugins.loadDefaults(run.options.pluginDirs, &reason)) {
    return refuse(reason);
  }
  for (const PluginSet::Loaded& plugin : run.plugins.loaded()) {
    std::string classes;
    for (const std::string& name : plugin.classes) classes += (classes.empty() ? "" : ", ") + name;
    out_ << "flowhost: plug-in " << kw::terminalText(plugin.path) << " (" << classes << ")\n";
  }
  return true;
}

bool FlowRunner::loadDocument(Run& run) {
  run.name = "'" + run.options.document + "'";
  std::string reason;
  if (!run.document.load(run.options.document, &reason)) {
    failure(reason);
    for (const std::string& hint : DocumentHints::forRefusedLink(run.options.document, reason)) {
      err_ << "flowhost: note: " << kw::terminalText(hint) << '\n';
    }
    if (reason.find("unknown module class") != std::string::npos) {
      for (const std::string& missing : run.plugins.missing()) {
        err_ << "flowhost: note: default plug-in not found: " << kw::terminalText(missing) << '\n';
      }
    }
    return false;
  }
  // A list file that vanished or became unreadable is no reason to stop:
  // the block starts with that list empty, as it would in any host. Say so;
  // saving the document afterwards is refused, so the name is not lost.
  for (const std::string& problem : run.document.unreadableListFiles()) {
    run.warnings.push_back("document '" + run.options.document + "': " + problem +
                           "; the block starts without that list");
  }
  run.lists = ListCheck::say(ListCheck::documentLists(run.document), false);
  run.graph = run.document.graph();
  for (const std::string& warning : DocumentHints::forLongNodeLists(*run.graph)) {
    run.warnings.push_back(warning);
  }
  run.table.emplace(*run.graph);
  return true;
}

// What the run reads and would not be read as a person expects, said once
// before anything starts; each list line as --check gives it.
void FlowRunner::sayProblems(Run& run) {
  for (const std::string& warning : run.warnings) {
    err_ << "flowhost: warning: " << kw::terminalText(warning) << '\n';
  }
  for (const std::string& line : run.lists.lines) err_ << "flowhost: " << line << '\n';
}

// --check: the same lines, plainly, and no run. The quick start's lists are
// read as they are; a document is loaded (blocks made and restored, not
// started) and its blocks' lists read.
int FlowRunner::check(Run& run) {
  const RunOptions& options = run.options;
  if (options.quickStart()) run.lists = quickStartLines(options);
  for (const std::string& warning : run.warnings) out_ << kw::terminalText(warning) << '\n';
  for (const std::string& line : run.lists.lines) out_ << line << '\n';
  const size_t count = run.warnings.size() + run.lists.notes;
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

// The standard graph of the two list files. The part lists of a long node
// list go beside the document to be written, or into a private folder that
// the run removes at its end.
bool FlowRunner::buildQuickStart(Run& run) {
  const RunOptions& options = run.options;
  run.name = "the quick start graph";
  QuickStart::Settings settings;
  settings.nodeFile = options.nodeFile;
  settings.portFile = options.portFile;
  settings.rate = options.rate.value_or(JClockObj::kDefaultRate);
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
  } else {
    NodeListFile list;
    if (list.read(options.nodeFile, nullptr) &&
        list.nodes().size() > static_cast<size_t>(QuickStart::kNodesPerSniffer)) {
      run.partFolder = makePartFolder();
      if (run.partFolder.empty()) return refuse("cannot make a folder for the part node lists");
      settings.partFolder = run.partFolder;
    }
  }
  run.quick.emplace();
  if (!run.quick->build(settings, &reason)) return refuse(reason);
  if (options.writeDocument.empty()) {
    for (const QuickStart::PartList& part : run.quick->partLists()) {
      if (!DocumentFile::writeFile(part.path, part.text, &reason)) return refuse(reason);
    }
  }
  const int nodes = static_cast<int>(run.quick->nodes().nodes().size());
  out_ << "flowhost: quick start: " << nodes << (nodes == 1 ? " node" : " nodes") << " of "
       << kw::terminalText(options.nodeFile) << " on the ports of "
       << kw::terminalText(options.portFile) << ", "
       << run.quick->snifferCount() << (run.quick->snifferCount() == 1 ? " sniffer" : " sniffers")
       << '\n';
  run.graph = run.quick->graph();
  run.table.emplace(*run.graph);
  run.lists = quickStartLines(options);
  return true;
}

// The quick start's graph as a document, with its part lists, and no run.
int FlowRunner::writeStartingPoint(Run& run) {
  const std::string& path = run.options.writeDocument;
  std::string reason;
  for (const QuickStart::PartList& part : run.quick->partLists()) {
    if (!DocumentFile::writeFile(part.path, part.text, &reason)) return failure(reason);
    out_ << "wrote " << kw::terminalText(part.path) << '\n';
  }
  if (!DocumentFile::writeFile(path, run.quick->documentText(path), &reason)) {
    return failure("document not written: " + reason);
  }
  out_ << "wrote " << kw::terminalText(path) << '\n';
  out_.flush();
  return kOk;
}

// Every output asked for is checked before anything starts.
bool FlowRunner::prepareOutputs(Run& run) {
  const RunOptions& options = run.options;
  if (!options.trackFile.empty() && !prepareTrack(run)) return false;
  if (!options.facesDir.empty()) {
    std::error_code ec;
    fs::create_directories(options.facesDir, ec);
    if (ec || !fs::is_directory(options.facesDir, ec)) {
      return refuse("cannot make the faces folder '" + options.facesDir + "'");
    }
  }
  if (options.http) {
    std::string reason;
    if (!run.server.start(options.httpAddress, options.httpPort, &reason)) return refuse(reason);
    run.web.emplace(*run.graph);
    out_ << "flowhost: web view on http://" << options.httpAddress << ':' << run.server.port()
         << "/" << std::endl;  // seen at once, also through a pipe
  }
  run.saveTo = options.save ? options.document : options.saveAs;
  if (!run.saveTo.empty() && !folderExists(run.saveTo)) {
    return refuse("cannot save the document to '" + run.saveTo + "': no such folder");
  }
  for (const std::string* file : {&options.outputs.gpx, &options.outputs.geojson}) {
    if (!file->empty() && !folderExists(*file)) {
      return refuse("cannot write '" + *file + "': no such folder");
    }
  }
  std::string reason;
  if (FeedOutputs::wanted(options.outputs) && !run.outputs.open(options.outputs, &reason)) {
    return refuse(reason);
  }
  if (run.outputs.isOpen() && !options.outputs.gpsd.empty()) {
    out_ << "flowhost: gpsd server on port " << run.outputs.gpsdPort() << std::endl;
  }
  prepareDriving(run);
  return true;
}

// The track picture is drawn on the first map block fed from a node.
bool FlowRunner::prepareTrack(Run& run) {
  run.wantTrack = true;
  JModuleObj* map = run.table->firstMap();
  if (map == nullptr) {
    return refuse("no " + std::string(JGeoGridObj::kClassName) + " block of " +
                  run.name + " is fed from a node of a " +
                  JQNV_packet_sniffer_layout::kClassName +
                  " block; there is no map to draw the track picture on");
  }
  JOutputStream stored;
  map->writeContent(stored);
  run.track.setMap(storedInteger(stored, "pixel_width", 1),
                   storedInteger(stored, "pixel_height", 1), storedText(stored, "map_name"));
  if (!folderExists(run.options.trackFile)) {
    return refuse("cannot write the track picture '" + run.options.trackFile + "': no such folder");
  }
  return true;
}

// The clock blocks' schedule and the table's mode.
void FlowRunner::prepareDriving(Run& run) {
  const RunOptions& options = run.options;
  for (int b = 0; b < run.graph->blockCount(); ++b) {
    if (auto* clock = dynamic_cast<JClockObj*>(run.graph->block(b))) {
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
  run.view.emplace(out_, mode, options.every);
  run.tableMode = mode;
  if (mode != TableView::Mode::Live) return;
  // Only a terminal has colours and a size; a live table forced into a pipe
  // is drawn at the usual size, plain.
  run.view->setColour(run.outputIsTerminal);
  if (!run.outputIsTerminal) return;
  run.terminalFd = options.jsonOnStandardOutput() ? 2 : 1;
  if (const kw::Failure failed = kw::Terminal::watchResizes()) {
    err_ << "flowhost: warning: " << failed.text() << "; the table keeps its first size\n";
  }
  run.resizesSeen = kw::Terminal::resizes();
  fitToTerminal(run);
}

// The live table takes the terminal's size; it stays as it was when the
// terminal does not say.
void FlowRunner::fitToTerminal(Run& run) {
  kw::Terminal::Size size;
  if (const kw::Failure failed = kw::Terminal::size(run.terminalFd, &size)) {
    err_ << "flowhost: warning: " << failed.text() << "; the table keeps its size\n";
    return;
  }
  run.view->setScreen(size.columns, size.rows);
}

// Starts every block and drives the clocks until the run time is over or a
// stop signal came, showing the table after each clock edge (or at an idle
// pace when there is no clock).
void FlowRunner::drive(Run& run) {
  run.graph->startup();
  for (int b = 0; b < run.graph->blockCount(); ++b) {
    if (auto* constant = dynamic_cast<JConstantObj*>(run.graph->block(b))) constant->announce();
  }
  run.start = Clock::now();
  run.lastTrackWrite = run.start;
  if (run.wantTrack) run.trackWriter = std::make_unique<kw_out::FileWriter>();
  reportPorts(run, run.start, false);
  const Clock::time_point end =
      run.options.seconds ? run.start + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*run.options.seconds))
                          : Clock::time_point::max();
  ClockSchedule& schedule = run.schedule;
  schedule.start(run.start);
  Clock::time_point nextRefresh = run.start;
  while (!kw::StopSignal::requested()) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    if (schedule.advance(now) > 0) {
      observe(run, now, false);
      if (run.options.tickTimes) {
        run.ticks.add(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count());
      }
    } else if (schedule.empty() && now >= nextRefresh) {
      observe(run, now, false);
      nextRefresh = now + kIdleRefresh;
    }
    kw::StopSignal::sleepUntil(std::min(
        {schedule.empty() ? nextRefresh : schedule.nextDue(), end, now + kLongestSleep}));
  }
  const Clock::time_point last = Clock::now();
  observe(run, last, true);
  run.server.stop();
  if (kw::StopSignal::requested()) {
    out_ << "flowhost: stopped by " << signalName(kw::StopSignal::signalNumber()) << " after "
         << secondsBetween(run.start, last) << " s\n";
  }
  if (run.options.tickTimes) out_ << "flowhost: " << run.ticks.summary() << '\n';
}

// Shows the table as it stands, hands the nodes to the output forms, adds
// each node on the map to the track and, once a second, reports the ports.
void FlowRunner::observe(Run& run, Clock::time_point now, bool force) {
  const std::vector<NodeRow> rows = run.table->read();
  if (run.terminalFd >= 0 && kw::Terminal::resizes() != run.resizesSeen) {
    run.resizesSeen = kw::Terminal::resizes();
    fitToTerminal(run);
  }
  run.view->show(rows, secondsBetween(run.start, now), run.schedule.risingEdges(), force);
  run.outputs.tick(rows, now);
  if (force || now - run.lastCounters >= kCountersPeriod) reportPorts(run, now, force);
  if (run.web) {
    run.server.publish(run.web->take(rows, run.ports, secondsBetween(run.start, now),
                                     static_cast<long long>(run.schedule.risingEdges())));
  }
  if (!run.wantTrack) return;
  for (size_t i = 0; i < rows.size(); ++i) {
    const NodeRow& row = rows[i];
    if (!row.mapped || row.inMap.value_or(0) != JGeoGridObj::kInMap || !row.pixelX || !row.pixelY) {
      continue;
    }
    run.track.add(static_cast<int>(i), row.label(), *row.pixelX, *row.pixelY,
                  row.health.value_or(-1));
  }
  // Rewritten every few seconds, on the writer's thread, so that a run that
  // ends without closing (killed, power lost) still leaves a recent picture.
  const std::size_t points = run.track.pointCount() + run.track.droppedPoints();
  if (run.trackWriter && points != run.trackWritten && now - run.lastTrackWrite >= kTrackRewrite) {
    run.trackWriter->submit(run.options.trackFile, run.track.toSvg());
    run.trackWritten = points;
    run.lastTrackWrite = now;
  }
}

// Warns once of each port that could not be set up (the ports that work run
// on), hands the counters to the output forms and, in plain mode, prints one
// counters line per port every --every seconds.
void FlowRunner::reportPorts(Run& run, Clock::time_point now, bool force) {
  run.lastCounters = now;
  const std::vector<PortRow> ports = run.table->ports();
  for (const std::string& failure : run.portReport.newFailures(ports)) {
    err_ << "flowhost: warning: " << kw::terminalText(failure) << '\n';
  }
  run.outputs.counters(ports, now);
  run.view->setPorts(ports);
  run.ports = ports;
  if (run.tableMode != TableView::Mode::Plain || ports.empty()) return;
  const double elapsed = secondsBetween(run.start, now);
  if (!force && run.lastCountersShown >= 0.0 && elapsed - run.lastCountersShown < run.options.every) {
    return;
  }
  run.lastCountersShown = elapsed;
  for (const PortRow& port : ports) out_ << PortReport::countersLine(port.stats) << '\n';
  out_.flush();
}

// Faces and document text as the run left them, then every block closes.
void FlowRunner::finish(Run& run) {
  if (!run.options.facesDir.empty()) {
    for (int b = 0; b < run.graph->blockCount(); ++b) {
      JModuleObj* block = run.graph->block(b);
      const JRect r = block->getIExtent(-block->getX(), -block->getY(), kFaceScale);
      JGraphics canvas(r.width + 1, r.height + 1);
      JRegion everything;
      block->paint(canvas, -block->getX(), -block->getY(), everything, kFaceScale);
      char number[16];
      std::snprintf(number, sizeof number, "%02d", b + 1);
      const std::string name = std::string(number) + "-" + fileWord(block->className()) + ".svg";
      run.faces.push_back(Run::Face{(fs::path(run.options.facesDir) / name).string(), canvas});
    }
  }
  run.documentReady = run.saveTo.empty() ||
                      run.document.currentText(&run.documentText, &run.documentProblem, run.saveTo);
  run.graph->closeTogether(kClosingThreads);
}

// Writes the faces, the track picture and the document, naming each file
// written; any that cannot be written makes the run fail.
int FlowRunner::writeOutputs(Run& run) {
  int status = kOk;
  std::string reason;
  for (const Run::Face& face : run.faces) {
    if (!face.canvas.writeSvg(face.path, &reason)) status = failure(reason);
    else out_ << "wrote " << kw::terminalText(face.path) << '\n';
  }
  if (run.outputs.isOpen()) {
    run.outputs.close();  // the track files a last time
    out_ << "flowhost: " << kw::terminalText(run.outputs.describe()) << '\n';
  }
  if (run.wantTrack) {
    run.trackWriter.reset();  // what it still holds is older than the last picture
    if (run.track.write(run.options.trackFile, &reason)) {
      out_ << "wrote " << kw::terminalText(run.options.trackFile) << " (" << run.track.pointCount()
           << " points";
      if (run.track.droppedPoints() > 0) out_ << ", " << run.track.droppedPoints() << " dropped";
      out_ << ")\n";
    } else {
      status = failure(reason);
    }
  }
  if (!run.saveTo.empty()) {
    // A run that failed to write what it was asked for does not save.
    if (status != kOk) {
      failure("document not saved: the run failed");
    } else if (!run.documentReady) {
      status = failure("document not saved: " + run.documentProblem);
    } else if (DocumentFile::save(run.saveTo, run.documentText, &reason)) {
      out_ << "wrote " << kw::terminalText(run.saveTo) << '\n';
    } else {
      status = failure("document not saved: " + reason);
    }
  }
  out_.flush();
  return status;
}

}  // namespace flowhost
