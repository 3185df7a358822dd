// FlowRunner: one headless run of a dataflow document, start to end.
//
//  1. Registers the runner's blocks and loads the plug-ins (PluginSet).
//  2. Loads the document (DocumentFile): blocks made by class name,
//     restored with readContent, linked; checks its list files. Or, for
//     the quick start, builds the standard graph of two list files
//     (QuickStart) and, with --write-document, writes it and stops.
//     Either way, says once what in the list files is not read as a person
//     would expect (ListCheck); with --check it says only that, plainly on
//     `out`, and stops (status 1 when there was anything to say).
//  3. Checks that every output asked for can be made (the track picture
//     needs a map block fed from a node; folders must exist or be made)
//     and opens the output forms (FeedOutputs: JSON lines, gpsd server,
//     GPX/GeoJSON files, MQTT, the track picture, the web view).
//  4. Starts every block, announces every constant block once, then drives
//     the clock blocks (ClockSchedule) until the run time is over or a stop
//     signal came (kw::StopSignal: SIGINT, SIGTERM, SIGHUP), showing the
//     node table (NodeTable, TableView) after each clock edge and handing
//     the nodes to the output forms. Once a second the ports are looked
//     at: each one that could not be set up is warned of once (PortReport),
//     the counters go to the outputs and, in plain mode, are printed.
//  With --mqtt-in (a centre) steps 1 and 2 are left out: there is no graph;
//  the units, ports and sites come from the other flowhosts' messages
//  (Centre), refreshed at an idle pace (--rate when given), and step 4
//  reads them there instead of from the blocks.
//  5. Paints each block's face and takes the document text, then closes
//     every block (side by side, JGraph::closeTogether, so that their pauses
//     overlap), and writes the faces, the outputs' files and the document
//     (saved only when everything else was written and the text would load
//     again), printing the path of each file written.
//
// Bad input found in steps 1 to 3 leaves every file as it was (the JSON
// stream, when asked for, is the one file opened in step 3). Messages go to
// `err`, the table, the counters and the list of written files to `out`.
// Owns the graph for the length of run(). Thread safety: host's thread only.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "apps/flowhost/run/RunOptions.h"
#include "outputs/OutputForm.h"

namespace flowhost {

class Centre;

class FlowRunner {
 public:
  // Exit statuses of run().
  static constexpr int kOk = 0;
  static constexpr int kFailed = 1;

  FlowRunner(std::ostream& out, std::ostream& err);
  // Runs the document of `options`. `outputIsTerminal` picks the table's
  // mode when the options leave it to the runner.
  int run(const RunOptions& options, bool outputIsTerminal);

 private:
  struct Run;  // everything one run holds, from the plug-ins to the faces

  // The steps of run(), in order; each false one has said why.
  bool loadClasses(Run& run);
  bool loadDocument(Run& run);
  bool buildQuickStart(Run& run);
  bool prepareCentre(Run& run);
  void sayProblems(Run& run);
  int check(Run& run);
  int writeStartingPoint(Run& run);
  bool prepareOutputs(Run& run);
  bool prepareTrack(Run& run, kw_out::OutputOptions::Picture* picture);
  void prepareDriving(Run& run);
  void fitToTerminal(Run& run);
  void drive(Run& run);
  void startBlocks(Run& run);
  void observe(Run& run, std::chrono::steady_clock::time_point now, bool force);
  void reportPorts(Run& run, std::chrono::steady_clock::time_point now, bool force);
  void reportSites(Run& run, Centre& centre);
  void finish(Run& run);
  int writeOutputs(Run& run);
  bool saveDocument(Run& run, int status);

  // Say "flowhost: <reason>" on the error stream; failure() gives kFailed,
  // refuse() false.
  int failure(const std::string& reason);
  bool refuse(const std::string& reason);

  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace flowhost
