// Per-packet costs of the feed: the parse alone (the fast parsers and the
// straightforward reference on the same packets), one service pass per
// packet with the trace log open and closed, and one trace line against the
// bare open, write and close of the same line.
//
// The packets are a ring of beacon-like packets, all different: times spread
// over one day (so cached conversions are reused far less often than a real
// feed, whose packets come 250 ms apart, reuses them), positions on a circle,
// node numbers cycling 1, 2, 3, 4, 0.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "feed/KW_OLog.h"
#include "feed/kw_multicast_recv.h"
#include "feed/kw_qnv_handlerList.h"
#include "feed/kw_qnv_portHandler.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "testing/reference_parser.h"

namespace {

constexpr size_t kSlotSize = 250;
constexpr int kRingSize = 1024;

unsigned xorOf(const char* text) {
  unsigned sum = 0;
  for (; *text != '\0'; ++text) sum ^= static_cast<unsigned char>(*text);
  return sum;
}

// The ring, written as the beacon writes its packets.
const std::vector<std::string>& packetRing() {
  static const std::vector<std::string> ring = [] {
    std::vector<std::string> packets;
    for (int i = 0; i < kRingSize; ++i) {
      const int second = static_cast<int>(static_cast<long>(i) * 86400 / kRingSize);
      char clock[16];
      std::snprintf(clock, sizeof clock, "%02d%02d%02d.%02u", second / 3600, second / 60 % 60,
                    second % 60, static_cast<unsigned>((i * 37) % 100));
      char zda[128];
      std::snprintf(zda, sizeof zda, "GPZDA,%s,%02d,%02d,%04d,%02d,%02d", clock, 20, 5, 2026, 8, 0);
      const double angle = i * 0.0061359;
      const double latitude = 3555.4270 + 3.0 * std::sin(angle);
      const double longitude = 11526.3400 + 3.0 * std::cos(angle);
      char gll[128];
      std::snprintf(gll, sizeof gll, "GPGLL,%.4lf,N,%.4lf,W,%s,A,A", latitude, longitude, clock);
      char packet[320];
      std::snprintf(packet, sizeof packet, "%03d,com1,com2,$%s*%2x,$%s*%2x", (i + 1) % 5, zda,
                    xorOf(zda), gll, xorOf(gll));
      packets.push_back(packet);
    }
    return packets;
  }();
  return ring;
}

// The whole parse of one packet, as the service loop runs it, on a copy in a
// 250-byte slot (the parse changes the text in place).
template <class Parser>
void parseRing(benchmark::State& state, Parser& parser) {
  olog->close();
  const std::vector<std::string>& ring = packetRing();
  char slot[kSlotSize];
  size_t next = 0;
  long accepted = 0;
  for (auto _ : state) {
    const std::string& packet = ring[next];
    next = next + 1 == ring.size() ? 0 : next + 1;
    std::memcpy(slot, packet.c_str(), packet.size() + 1);
    char* first = nullptr;
    char* second = nullptr;
    const int node = parser.parsePacket_full(slot, &first, &second);
    bool ok = first && second;
    if (ok) {
      // Both run whatever the first returns, as in the service loop.
      const bool time = parser.parsePacket_s1(first);
      const bool position = parser.parsePacket_s2(second);
      ok = time && position;
    }
    accepted += ok;
    benchmark::DoNotOptimize(node);
    benchmark::DoNotOptimize(parser.utc1970_);
  }
  if (accepted != static_cast<long>(state.iterations()))
    state.SkipWithError("a packet did not parse");
}

void BM_ParsePacket(benchmark::State& state) {
  kw_qnv_portHandler port("bench", "239.255.42.1", 47000, static_cast<int>(kSlotSize), 20, nullptr);
  parseRing(state, port);
}
BENCHMARK(BM_ParsePacket);

void BM_ParsePacketReference(benchmark::State& state) {
  ReferenceParser reference;
  parseRing(state, reference);
}
BENCHMARK(BM_ParsePacketReference);

// A scratch folder for files the benchmarks write.
std::string scratch(const char* name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kw-bench";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// One service call over 20 stored packets of the ring; time reported per
// packet.
void BM_ServicePerPacket(benchmark::State& state) {
  const bool logOpen = state.range(0) != 0;
  const std::string nodes = scratch("nodes.nod");
  const std::string ports = scratch("ports.mcp");
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
  const std::string logFile = scratch("logFile.txt");
  if (logOpen) {
    olog->close();
    olog->open("%s", logFile.c_str());
  } else {
    olog->close();
  }
  const std::vector<std::string>& ring = packetRing();
  size_t next = 0;
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) {
      port->receiver()->putPacket(ring[next].c_str());
      next = next + 1 == ring.size() ? 0 : next + 1;
    }
    port->service();
  }
  olog->close();
  state.SetItemsProcessed(state.iterations() * 20);
  std::filesystem::remove(nodes);
  std::filesystem::remove(ports);
  std::filesystem::remove(logFile);
}
BENCHMARK(BM_ServicePerPacket)->Arg(0)->Arg(1)->ArgName("log_open");

// The clock reading a node takes for every packet it accepts: _ftime
// itself (which reads the zone, a stat of /etc/localtime with TZ unset)
// against the platform's cached record, which markPacket uses.
void BM_PacketClockMark(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  kw::_timeb record{};
  for (auto _ : state) {
    if (cached) {
      kw::clockRecord(&record);
    } else {
      kw::_ftime(&record);
    }
    benchmark::DoNotOptimize(record);
  }
}
BENCHMARK(BM_PacketClockMark)->Arg(0)->Arg(1)->ArgName("cached");

// A typical trace line of the feed.
const char* const kTraceFormat = "service nodeId is %d sent %s\n";
const char* const kTraceSentence = "$GPZDA,123456.78,07,12,2026,08,00";

// One trace line through the log: format, lock, open, write, close.
void BM_LogLine(benchmark::State& state) {
  const std::string path = scratch("logLine.txt");
  olog->close();
  olog->open("%s", path.c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(olog->printf(kTraceFormat, 1, kTraceSentence));
  }
  olog->close();
  std::filesystem::remove(path);
}
BENCHMARK(BM_LogLine);

// The same line's bytes with a bare open(O_APPEND), write and close: what a
// trace line cannot cost less than.
void BM_BareOpenWriteClose(benchmark::State& state) {
  const std::string path = scratch("bareLine.txt");
  char line[128];
  const int length = std::snprintf(line, sizeof line, kTraceFormat, 1, kTraceSentence);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(::write(fd, line, static_cast<size_t>(length)));
    ::close(fd);
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_BareOpenWriteClose);

}  // namespace
