// The cost of one clock tick of the quick start's graph with every unit
// heard: the sniffers take in one packet per unit (what a tick brings at
// 4 packets a second and a 4 Hz clock), the clock edge runs through every
// block (sniffers, converters, map blocks, displays), the runner reads its
// node table and hands it to the JSON lines (written to /dev/null), as
// flowhost does after each rising edge. The trace log is closed.
//
// The packets travel over loopback multicast, so this runs only inside
// scripts/isolated:
//   scripts/isolated build/bench/graph_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "apps/flowhost/blocks/JClockObj.h"
#include "apps/flowhost/blocks/RunnerBlocks.h"
#include "apps/flowhost/quickstart/QuickStart.h"
#include "apps/flowhost/run/FeedOutputs.h"
#include "apps/flowhost/run/NodeTable.h"
#include "apps/flowhost/run/PluginSet.h"
#include "beacon/packet_builder.h"
#include "feed/trace_settings.h"
#include "host/JGraph.h"
#include "host/JModuleObj.h"
#include "platform/multicast.h"

namespace {

using flowhost::QuickStart;

constexpr const char* kGroup = "239.255.42.77";
constexpr int kPort = 47077;

class Rig {
 public:
  explicit Rig(int units) : units_(units) {
    dir_ = std::filesystem::temp_directory_path() / ("kw-graph-bench-" + std::to_string(units));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    std::ofstream nodes("units.nod");
    for (int i = 0; i < units; ++i) nodes << i << " unit" << i << "\n";
    nodes.close();
    std::ofstream("ports.mcp") << "feed " << kGroup << " " << kPort << "\n";
    QuickStart::Settings settings;
    settings.nodeFile = "units.nod";
    settings.portFile = "ports.mcp";
    settings.partFolder = dir_.string();
    if (!quick_.build(settings, &problem_)) return;
    for (const QuickStart::PartList& part : quick_.partLists())
      std::ofstream(part.path) << part.text;
    graph_ = quick_.graph();
    graph_->startup();
    // The "on off" constant starts the receivers.
    graph_->block(1)->broadcast(0);
    clock_ = dynamic_cast<JClockObj*>(graph_->block(0));
    table_.emplace(*graph_);
    kw_out::OutputOptions options;
    options.json = "/dev/null";
    if (!outputs_.open(options, {}, *graph_, &problem_)) return;
    socket_ = kw::openMulticastSender(kPort, 1);
    ready_ = clock_ != nullptr && socket_.valid();
    if (!ready_) problem_ = "no clock block, or no sending socket";
  }
  ~Rig() {
    outputs_.close(nullptr);
    if (graph_ != nullptr) graph_->close();
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  bool ready() const { return ready_; }
  const std::string& problem() const { return problem_; }

  // One packet per unit, a quarter of a second newer than the last, in
  // batches of 100 that the port takes in before the next is sent (one
  // socket receives them all: a burst of thousands would overflow its
  // buffer, which senders spread over a quarter second never do).
  void send() {
    kw_beacon::ClockReading clock{};
    const long long ms = 1000LL * 3600 + 250LL * sent_;  // from 01:00 on
    clock.local.tm_hour = static_cast<int>(ms / 3600000 % 24);
    clock.local.tm_min = static_cast<int>(ms / 60000 % 60);
    clock.local.tm_sec = static_cast<int>(ms / 1000 % 60);
    clock.local.tm_mday = 7;
    clock.local.tm_mon = 11;
    clock.local.tm_year = 126;
    clock.millis = static_cast<int>(ms % 1000);
    kw_beacon::BeaconPacket packet{};
    const long long before = sent_ * units_;
    for (int i = 0; i < units_; ++i) {
      kw_beacon::buildPacket(clock, i, &packet, kw_beacon::unitPhase(i, units_));
      kw::sendDatagram(socket_, kGroup, kPort, packet.text, std::strlen(packet.text));
      if ((i + 1) % 100 == 0 || i + 1 == units_) waitForPort(before + i + 1);
    }
    ++sent_;
  }

  void waitForPort(long long taken) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (takenIn() < taken && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  // A rising and a falling clock edge, then what flowhost does after it.
  void tick() {
    clock_->toggle();
    clock_->toggle();
    ++ticks_;
    outputs_.tick(table_->read(), std::chrono::steady_clock::now(), ticks_ * 0.25, ticks_);
  }

  long long takenIn() const {
    long long taken = 0;
    for (const flowhost::PortRow& row : table_->ports()) taken += row.stats.takenIn;
    return taken;
  }

 private:
  int units_;
  std::filesystem::path dir_;
  QuickStart quick_;
  JGraph* graph_ = nullptr;
  JClockObj* clock_ = nullptr;
  std::optional<flowhost::NodeTable> table_;
  flowhost::FeedOutputs outputs_;
  kw::Socket socket_;
  long long sent_ = 0;
  long long ticks_ = 0;
  bool ready_ = false;
  std::string problem_;
};

bool prepared() {
  static const bool once = [] {
    kw::TraceSettings trace;
    trace.enabled = false;
    kw::applyTraceSettings(trace);
    flowhost::registerRunnerBlocks();
    static flowhost::PluginSet plugins;
    std::string error;
    if (!plugins.loadDefaults({}, &error)) {
      std::fprintf(stderr, "graph_bench: %s\n", error.c_str());
      return false;
    }
    return true;
  }();
  return once;
}

void BM_QuickStartTick(benchmark::State& state) {
  if (!kw::onlyLoopbackNetwork()) {
    state.SkipWithError("sends multicast: run under scripts/isolated");
    return;
  }
  if (!prepared()) {
    state.SkipWithError("the plug-ins could not be loaded");
    return;
  }
  const int units = static_cast<int>(state.range(0));
  Rig rig(units);
  if (!rig.ready()) {
    state.SkipWithError(rig.problem().c_str());
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    rig.send();
    state.ResumeTiming();
    rig.tick();
  }
  // Seconds of a tick per unit.
  state.counters["per_unit"] =
      benchmark::Counter(static_cast<double>(units), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
  if (rig.takenIn() < state.iterations() * units) state.SkipWithError("packets were lost");
}
BENCHMARK(BM_QuickStartTick)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
