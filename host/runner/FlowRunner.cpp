#include "FlowRunner.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ClockSchedule.h"
#include "DocumentFile.h"
#include "JClockObj.h"
#include "JConstantObj.h"
#include "JGraph.h"
#include "JGraphics.h"
#include "JModuleObj.h"
#include "JOutputStream.h"
#include "JRegion.h"
#include "NodeTable.h"
#include "PluginSet.h"
#include "RunnerBlocks.h"
#include "StopSignal.h"
#include "TableView.h"
#include "TrackPicture.h"

namespace flowhost {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFaceScale = 2.0;             // faces are drawn at twice model size
constexpr auto kLongestSleep = std::chrono::milliseconds(100);
constexpr auto kIdleRefresh = std::chrono::milliseconds(250);  // table pace without clocks
constexpr int kOnMap = 65535;                  // the map block's in_map value on the map

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
  return "signal " + std::to_string(number);
}

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

FlowRunner::FlowRunner(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

int FlowRunner::run(const RunOptions& options, bool outputIsTerminal) {
  auto failure = [this](const std::string& reason) {
    err_ << "flowhost: " << reason << '\n';
    return kFailed;
  };

  // 1. Classes.
  if (!registerRunnerBlocks()) return failure("the runner's own block classes could not be registered");
  PluginSet plugins;
  std::string reason;
  for (const std::string& path : options.plugins) {
    if (!plugins.load(path, &reason)) return failure(reason);
  }
  if (options.defaultPlugins && !plugins.loadDefaults(options.pluginDirs, &reason)) {
    return failure(reason);
  }
  for (const PluginSet::Loaded& plugin : plugins.loaded()) {
    std::string classes;
    for (const std::string& name : plugin.classes) classes += (classes.empty() ? "" : ", ") + name;
    out_ << "flowhost: plug-in " << plugin.path << " (" << classes << ")\n";
  }

  // 2. The document.
  DocumentFile document;
  if (!document.load(options.document, &reason)) {
    err_ << "flowhost: " << reason << '\n';
    if (reason.find("unknown module class") != std::string::npos) {
      for (const std::string& missing : plugins.missing()) {
        err_ << "flowhost: note: default plug-in not found: " << missing << '\n';
      }
    }
    return kFailed;
  }
  // A list file that vanished or became unreadable is no reason to stop:
  // the block starts with that list empty, as it would in any host. Say so;
  // saving the document afterwards is refused, so the name is not lost.
  for (const std::string& problem : document.unreadableListFiles()) {
    err_ << "flowhost: warning: document '" << options.document << "': " << problem
         << "; the block starts without that list\n";
  }
  JGraph& graph = *document.graph();

  // 3. Outputs asked for, checked before anything starts.
  const NodeTable table(graph);
  TrackPicture track;
  const bool wantTrack = !options.trackFile.empty();
  if (wantTrack) {
    JModuleObj* map = table.firstMap();
    if (map == nullptr) {
      return failure("no " + std::string(NodeTable::kMapClass) + " block of '" + options.document +
                     "' is fed from a node of a " + NodeTable::kSnifferClass +
                     " block; there is no map to draw the track picture on");
    }
    JOutputStream stored;
    map->writeContent(stored);
    track.setMap(storedInteger(stored, "pixel_width", 1), storedInteger(stored, "pixel_height", 1),
                 storedText(stored, "map_name"));
    if (!folderExists(options.trackFile)) {
      return failure("cannot write the track picture '" + options.trackFile + "': no such folder");
    }
  }
  if (!options.facesDir.empty()) {
    std::error_code ec;
    fs::create_directories(options.facesDir, ec);
    if (ec || !fs::is_directory(options.facesDir, ec)) {
      return failure("cannot make the faces folder '" + options.facesDir + "'");
    }
  }
  const std::string saveTo = options.save ? options.document : options.saveAs;
  if (!saveTo.empty() && !folderExists(saveTo)) {
    return failure("cannot save the document to '" + saveTo + "': no such folder");
  }

  ClockSchedule schedule;
  for (int b = 0; b < graph.blockCount(); ++b) {
    if (auto* clock = dynamic_cast<JClockObj*>(graph.block(b))) {
      schedule.add(clock, options.rate.value_or(clock->rate()));
    }
  }
  TableView::Mode mode = TableView::Mode::Plain;
  switch (options.table) {
    case RunOptions::Table::Auto: mode = outputIsTerminal ? TableView::Mode::Live : TableView::Mode::Plain; break;
    case RunOptions::Table::Live: mode = TableView::Mode::Live; break;
    case RunOptions::Table::Plain: mode = TableView::Mode::Plain; break;
    case RunOptions::Table::Off: mode = TableView::Mode::Off; break;
  }
  TableView view(out_, mode, options.every);

  // 4. Run.
  graph.startup();
  for (int b = 0; b < graph.blockCount(); ++b) {
    if (auto* constant = dynamic_cast<JConstantObj*>(graph.block(b))) constant->announce();
  }
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      options.seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(*options.seconds))
                      : Clock::time_point::max();
  schedule.start(start);
  Clock::time_point nextRefresh = start;
  auto observe = [&](Clock::time_point now, bool force) {
    const std::vector<NodeRow> rows = table.read();
    view.show(rows, secondsBetween(start, now), schedule.risingEdges(), force);
    if (!wantTrack) return;
    for (size_t i = 0; i < rows.size(); ++i) {
      const NodeRow& row = rows[i];
      if (!row.mapped || row.inMap.value_or(0) != kOnMap || !row.pixelX || !row.pixelY) continue;
      const std::string label = row.nodeId ? "node " + std::to_string(*row.nodeId) : "node ?";
      track.add(static_cast<int>(i), label, *row.pixelX, *row.pixelY, row.health.value_or(-1));
    }
  };
  Clock::time_point now = start;
  while (!StopSignal::requested()) {
    now = Clock::now();
    if (now >= end) break;
    if (schedule.advance(now) > 0) {
      observe(now, false);
    } else if (schedule.empty() && now >= nextRefresh) {
      observe(now, false);
      nextRefresh = now + kIdleRefresh;
    }
    Clock::time_point wake = std::min({schedule.empty() ? nextRefresh : schedule.nextDue(), end,
                                       now + kLongestSleep});
    StopSignal::sleepUntil(wake);
  }
  now = Clock::now();
  observe(now, true);
  if (StopSignal::requested()) {
    out_ << "flowhost: stopped by " << signalName(StopSignal::signalNumber()) << " after "
         << secondsBetween(start, now) << " s\n";
  }

  // 5. Faces and document text as the run left them, then close.
  struct Face {
    std::string path;
    JGraphics canvas;
  };
  std::vector<Face> faces;
  if (!options.facesDir.empty()) {
    for (int b = 0; b < graph.blockCount(); ++b) {
      JModuleObj* block = graph.block(b);
      const JRect r = block->getIExtent(-block->getX(), -block->getY(), kFaceScale);
      JGraphics canvas(r.width + 1, r.height + 1);
      JRegion everything;
      block->paint(canvas, -block->getX(), -block->getY(), everything, kFaceScale);
      char number[16];
      std::snprintf(number, sizeof number, "%02d", b + 1);
      const std::string name = std::string(number) + "-" + fileWord(block->className()) + ".svg";
      faces.push_back(Face{(fs::path(options.facesDir) / name).string(), canvas});
    }
  }
  std::string documentText;
  std::string documentProblem;
  const bool documentReady = saveTo.empty() || document.currentText(&documentText, &documentProblem);
  graph.close();

  int status = kOk;
  for (const Face& face : faces) {
    if (face.canvas.writeSvg(face.path, &reason)) {
      out_ << "wrote " << face.path << '\n';
    } else {
      status = failure(reason);
    }
  }
  if (wantTrack) {
    if (track.write(options.trackFile, &reason)) {
      out_ << "wrote " << options.trackFile << " (" << track.pointCount() << " points";
      if (track.droppedPoints() > 0) out_ << ", " << track.droppedPoints() << " dropped";
      out_ << ")\n";
    } else {
      status = failure(reason);
    }
  }
  if (!saveTo.empty()) {
    if (!documentReady) {
      status = failure("document not saved: " + documentProblem);
    } else if (DocumentFile::writeFile(saveTo, documentText, &reason)) {
      out_ << "wrote " << saveTo << '\n';
    } else {
      status = failure("document not saved: " + reason);
    }
  }
  out_.flush();
  return status;
}

}  // namespace flowhost
