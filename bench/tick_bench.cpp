// The cost of one clock tick of the sniffer block with 128 nodes and all 1024
// outputs linked to probe blocks, with the trace log open and closed: the
// tick services the (idle) port, announces every output, and each probe
// fetches its value through access.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "feed/KW_OLog.h"
#include "host/JAddObj.h"
#include "host/JDictionary.h"
#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"
#include "host/JOutputStream.h"
#include "host/JPluginLoader.h"
#include "host/JRealData.h"
#include "host/JSourceObj.h"
#include "host/JStringData.h"

namespace {

// A probe that keeps only the last value of each input, typed by the linked
// output's type, like a display block of the host.
class LastValueProbe : public JAddObj {
 public:
  explicit LastValueProbe(int inputs) { igm = inputs; }
  void engine(int, JLinkObj& link) override {
    switch (link.source()->outputType(link.output())) {
      case JRealData::id: {
        JRealData data(real_);
        link.access(data);
        break;
      }
      case JStringData::id: {
        JStringData data(text_);
        link.access(data);
        break;
      }
      default: {
        JIntegerData data(integer_);
        link.access(data);
      }
    }
  }

 private:
  int integer_ = 0;
  double real_ = 0;
  JString text_;
};

struct TickRig {
  TickRig() {
    dir = std::filesystem::temp_directory_path() / "kw-tick-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::string error;
    if (!JPluginLoader::load(KW_SNIFFER_PLUGIN, nullptr, &error)) {
      std::fprintf(stderr, "tick_bench: %s\n", error.c_str());
      return;
    }
    // The plug-in's own trace log, to open and close it for the two cases.
    void* handle = dlopen(KW_SNIFFER_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
    auto** log = handle ? static_cast<KW_OLog**>(dlsym(handle, "olog")) : nullptr;
    pluginLog = log ? *log : nullptr;

    FILE* nodes = std::fopen("nodes.nod", "w");
    for (int i = 0; i < 128; ++i) std::fprintf(nodes, "%d\n", i);
    std::fclose(nodes);
    FILE* ports = std::fopen("ports.mcp", "w");
    std::fprintf(ports, "idle 239.255.42.99 47099\n");
    std::fclose(ports);

    sniffer = graph.create("JQNV_packet_sniffer", &error);
    clock = static_cast<JSourceObj*>(graph.add(new JSourceObj(2)));
    graph.link(clock, 0, sniffer, 0);
    graph.startup();
    // Restore the block as a document would: both list files.
    JOutputStream stream;
    stream.putText("node file name", "nodes.nod");
    stream.putText("port file name", "ports.mcp");
    stream.putInteger("number of nodes", 128);
    JDictionary dictionary(stream);
    static_cast<JObject*>(sniffer)->readContent(dictionary);
    for (int p = 0; p < 8; ++p) {
      auto* probe = graph.add(new LastValueProbe(128));
      for (int i = 0; i < 128; ++i) graph.link(sniffer, p * 128 + i, probe, i);
    }
    ready = sniffer != nullptr && sniffer->ogm == 1024 && graph.linkCount() == 1 + 1024;
  }
  ~TickRig() {
    graph.close();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  void tick() {
    clock->setInteger(0, 1);
    clock->broadcast(0);
    clock->setInteger(0, 0);
    clock->broadcast(0);
  }

  std::filesystem::path dir;
  JGraph graph;
  JModuleObj* sniffer = nullptr;
  JSourceObj* clock = nullptr;
  KW_OLog* pluginLog = nullptr;
  bool ready = false;
};

TickRig& rig() {
  static TickRig instance;
  return instance;
}

void BM_Tick128Nodes(benchmark::State& state) {
  TickRig& r = rig();
  if (!r.ready || r.pluginLog == nullptr) {
    state.SkipWithError("the sniffer plug-in could not be set up");
    return;
  }
  if (state.range(0) != 0) {
    r.pluginLog->open("logFile.txt");
  } else {
    r.pluginLog->close();
  }
  for (auto _ : state) r.tick();
  r.pluginLog->close();
  state.SetItemsProcessed(state.iterations() * 1024);  // outputs fetched per tick
}
BENCHMARK(BM_Tick128Nodes)->Arg(0)->Arg(1)->ArgName("log_open")->Unit(benchmark::kMicrosecond);

}  // namespace
