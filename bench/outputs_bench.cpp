// The cost of one node update in each output form, on the runner's thread:
// the JSON line, the gpsd TPV report, the track point (kept, and written as
// GPX and GeoJSON), the MQTT location payload with its topic, and a whole
// tick of the output set with the stream and the track files on.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "outputs/GpsdProtocol.h"
#include "outputs/GpsdServer.h"
#include "outputs/JsonLines.h"
#include "outputs/MqttPublisher.h"
#include "outputs/OutputSet.h"
#include "outputs/TrackStore.h"

namespace {

kw_out::NodeUpdate sample(int node, int64_t sec) {
  kw_out::NodeUpdate u;
  u.node = node;
  u.name = "truck" + std::to_string(node);
  u.feed = "com1";
  u.utcSec = sec;
  u.utcMs = 250;
  u.lat = 47.3769 + node * 1e-3;
  u.lon = 8.5417 - node * 1e-3;
  u.health = kw_out::kHealthGood;
  u.idleSec = 0.25;
  u.neverHeard = false;
  u.hasMap = true;
  u.inMap = true;
  u.pixelX = 512;
  u.pixelY = 384;
  return u;
}

void BM_JsonLine(benchmark::State& state) {
  const kw_out::NodeUpdate u = sample(7, 1700000000);
  std::string out;
  for (auto _ : state) {
    out.clear();
    kw_out::appendNodeLine(&out, u);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JsonLine);

void BM_GpsdTpv(benchmark::State& state) {
  const kw_out::NodeUpdate u = sample(7, 1700000000);
  std::string out;
  for (auto _ : state) {
    out.clear();
    kw_out::gpsd::appendTpv(&out, u);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GpsdTpv);

void BM_MqttPayload(benchmark::State& state) {
  const kw_out::NodeUpdate u = sample(7, 1700000000);
  std::string topic, payload;
  for (auto _ : state) {
    topic = "flowhost/" + kw_out::unitTopic(u);
    payload.clear();
    kw_out::MqttPublisher::appendLocation(&payload, u);
    benchmark::DoNotOptimize(payload.data());
    benchmark::DoNotOptimize(topic.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MqttPayload);

// The runner's side of the gpsd server: the report formatted and handed to
// the server thread, which takes it on to one watching client. The server
// listens on loopback, so this runs only inside scripts/isolated.
void BM_GpsdPublish(benchmark::State& state) {
  const char* isolated = std::getenv("KW_ISOLATED");
  if (isolated == nullptr || std::string(isolated) != "1") {
    state.SkipWithError("opens a listening socket: run under scripts/isolated");
    return;
  }
  kw_out::GpsdServer server;
  if (!server.start("127.0.0.1", 0)) {
    state.SkipWithError(server.error().c_str());
    return;
  }
  kw_out::NodeUpdate u = sample(7, 1700000000);
  for (auto _ : state) {
    ++u.utcSec;
    server.publish(u);
  }
  state.SetItemsProcessed(state.iterations());
  const kw_out::GpsdServer::Stats s = server.stats();
  state.counters["handover_dropped"] = static_cast<double>(s.inboxDropped);
}
BENCHMARK(BM_GpsdPublish);

// Keeping one point in a full track (the oldest goes).
void BM_TrackPointKept(benchmark::State& state) {
  kw_out::TrackStore store(2000);
  int64_t sec = 1700000000;
  for (int i = 0; i < 2000; ++i) store.add(sample(1, sec++));
  kw_out::NodeUpdate u = sample(1, sec);
  for (auto _ : state) {
    u.utcSec = ++sec;
    store.add(u);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TrackPointKept);

// Writing a whole store as a file's text, per point written: 128 nodes of
// 100 points each. Run every few seconds, not per update.
void BM_TrackFilePerPoint(benchmark::State& state) {
  kw_out::TrackStore store(100);
  for (int node = 1; node <= 128; ++node)
    for (int i = 0; i < 100; ++i) store.add(sample(node, 1700000000 + i));
  const bool gpx = state.range(0) == 0;
  std::string out;
  for (auto _ : state) {
    out.clear();
    if (gpx)
      store.appendGpx(&out);
    else
      store.appendGeoJson(&out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 128 * 100);
  state.SetLabel(gpx ? "GPX" : "GeoJSON");
}
BENCHMARK(BM_TrackFilePerPoint)->Arg(0)->Arg(1);

// A whole tick of 128 nodes, each with a new fix, through the output set:
// change detection, JSON lines to /dev/null, track points kept.
void BM_OutputSetTick(benchmark::State& state) {
  kw_out::OutputOptions o;
  o.json = "/dev/null";
  o.gpx = "/dev/null/never-written.gpx";
  o.fileInterval = std::chrono::hours(1);
  kw_out::OutputSet set;
  if (!set.open(o)) {
    state.SkipWithError(set.error().c_str());
    return;
  }
  std::vector<kw_out::NodeUpdate> nodes;
  for (int node = 1; node <= 128; ++node) nodes.push_back(sample(node, 1700000000));
  for (auto _ : state) {
    for (auto& u : nodes) ++u.utcSec;
    set.tick(nodes);
  }
  state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_OutputSetTick);

}  // namespace
