// Reading a document of about 1 MB in each shape a hostile or merely large
// document can take: nesting (refused at the first level past the bound), one
// block with a very wide object of entries, a long array, many blocks, one
// output linked to every other block, and a long chain of blocks whose links
// are listed last first (refused when it passes the chain bound, so both the
// longest accepted chain and a 1 MB refused one are measured).
#include <benchmark/benchmark.h>

#include <string>

#include "host/JAddObj.h"
#include "host/JDocument.h"
#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JLinkObj.h"

namespace {

constexpr size_t kMegabyte = 1u << 20;

// Passes its input on to its output.
class RelayObj : public JAddObj {
 public:
  RelayObj() {
    igm = 1;
    ogm = 1;
  }
  const char* className() const override { return "RelayObj"; }
  JObject* clone() const override { return new RelayObj(*this); }
};

const bool registered = [] {
  RelayObj().Register();
  return true;
}();

std::string nested() {
  return R"({"blocks": [], "unused": )" + std::string(kMegabyte / 2, '[') +
         std::string(kMegabyte / 2, ']') + "}";
}

std::string wideObject() {
  std::string text = R"({"blocks": [{"id": 1, "class": "JSourceObj", "entries": {)";
  for (int i = 0; text.size() < kMegabyte; ++i)
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  return text + R"("outputs": 2}}]})";
}

std::string longArray() {
  std::string text = R"({"blocks": [], "unused": [0)";
  while (text.size() < kMegabyte) text += ",0";
  return text + "]}";
}

std::string manyBlocks() {
  std::string text = R"({"blocks": [{"id":0,"class":"JSourceObj"})";
  for (int i = 1; text.size() < kMegabyte; ++i)
    text += R"(,{"id":)" + std::to_string(i) + R"(,"class":"JSourceObj"})";
  return text + "]}";
}

std::string fanOut() {
  std::string blocks = R"({"blocks": [{"id":0,"class":"JSourceObj"})";
  std::string links = R"(], "links": [)";
  for (int i = 1; blocks.size() + links.size() < kMegabyte; ++i) {
    blocks += R"(,{"id":)" + std::to_string(i) + R"(,"class":"JProbeObj"})";
    links += (i > 1 ? "," : "") + std::string(R"({"from":0,"output":0,"to":)") + std::to_string(i) +
             R"(,"input":0})";
  }
  return blocks + links + "]}";
}

// `count` relays, or as many as make 1 MB when count is 0.
std::string chain(int count) {
  const int blocks = count > 0 ? count : static_cast<int>(kMegabyte / 80);
  std::string text = R"({"blocks": [)";
  for (int i = 1; i <= blocks; ++i) {
    text += (i > 1 ? "," : "") + std::string(R"({"id":)") + std::to_string(i) +
            R"(,"class":"RelayObj"})";
  }
  text += R"(], "links": [)";
  for (int i = blocks - 1; i >= 1; --i) {
    text += std::string(R"({"from":)") + std::to_string(i) + R"(,"output":0,"to":)" +
            std::to_string(i + 1) + R"(,"input":0})" + (i > 1 ? "," : "");
  }
  return text + "]}";
}

void load(benchmark::State& state, const std::string& text, bool accepted) {
  for (auto _ : state) {
    std::string error;
    auto graph = JDocument::fromText(text, &error);
    if ((graph != nullptr) != accepted) {
      state.SkipWithError(("unexpected outcome: " + error).c_str());
      break;
    }
    benchmark::DoNotOptimize(graph);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_NestedRefused(benchmark::State& state) { load(state, nested(), false); }
void BM_WideObject(benchmark::State& state) { load(state, wideObject(), true); }
void BM_LongArray(benchmark::State& state) { load(state, longArray(), true); }
void BM_ManyBlocks(benchmark::State& state) { load(state, manyBlocks(), true); }
void BM_FanOut(benchmark::State& state) { load(state, fanOut(), true); }
void BM_LongestChain(benchmark::State& state) { load(state, chain(JGraph::kMaxChainBlocks), true); }
void BM_ChainRefused(benchmark::State& state) { load(state, chain(0), false); }

BENCHMARK(BM_NestedRefused)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WideObject)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongArray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyBlocks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FanOut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongestChain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainRefused)->Unit(benchmark::kMillisecond);

}  // namespace
