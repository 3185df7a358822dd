// Per-packet costs of the feed: the parse alone, and one service pass per
// packet with the trace log open and closed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "KW_OLog.h"
#include "kw_multicast_recv.h"
#include "kw_qnv_handlerList.h"
#include "kw_qnv_portHandler.h"

namespace {

const char* const kPacket =
    "001,com1,com2,$GPZDA,123456.78,07,12,2026,08,00*64,$GPGLL,3555.4270,N,11526.3400,W,"
    "123456.78,A,A*72";

// The whole parse of one packet, as the service loop runs it, on a copy in a
// 250-byte slot (the parse changes the text in place).
void BM_ParsePacket(benchmark::State& state) {
  olog->close();
  kw_qnv_portHandler port("bench", "239.255.42.1", 47000, 250, 20, nullptr);
  char slot[250];
  const size_t length = std::strlen(kPacket);
  for (auto _ : state) {
    std::memcpy(slot, kPacket, length + 1);
    char* first = nullptr;
    char* second = nullptr;
    const int node = port.parsePacket_full(slot, &first, &second);
    bool ok = first && second;
    if (ok) ok = port.parsePacket_s1(first) & port.parsePacket_s2(second);
    benchmark::DoNotOptimize(node);
    benchmark::DoNotOptimize(ok);
  }
  if (port.latitude_ == 0.0) state.SkipWithError("packet did not parse");
}
BENCHMARK(BM_ParsePacket);

// One service call over 20 stored packets; time reported per packet.
void BM_ServicePerPacket(benchmark::State& state) {
  const bool logOpen = state.range(0) != 0;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kw-bench";
  std::filesystem::create_directories(dir);
  const std::string nodes = (dir / "nodes.nod").string();
  const std::string ports = (dir / "ports.mcp").string();
  std::FILE* f = std::fopen(nodes.c_str(), "w");
  std::fputs("0\n1\n2\n3\n4\n", f);
  std::fclose(f);
  f = std::fopen(ports.c_str(), "w");
  std::fputs("bench 239.255.42.1 47000\n", f);
  std::fclose(f);

  kw_qnv_handlerList list(250, 20);
  list.readNodeFile(nodes.c_str());
  list.readPortFile(ports.c_str());
  kw_qnv_portHandler* port = list.getPort(0);
  port->running_ = 1;  // no socket: packets are stored straight into the write half
  if (logOpen) {
    olog->open("%s", (dir / "logFile.txt").string().c_str());
  } else {
    olog->close();
  }
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) port->receiver()->putPacket(kPacket);
    port->service();
  }
  olog->close();
  state.SetItemsProcessed(state.iterations() * 20);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ServicePerPacket)->Arg(0)->Arg(1)->ArgName("log_open");

}  // namespace
