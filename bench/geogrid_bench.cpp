// The cost of mapping one position (two coordinate texts) onto a map image.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "geogrid/vezirivodiz_mapper.h"

namespace {

void BM_MapLocation(benchmark::State& state) {
  vezirivodiz_mapper mapper;
  mapper.init("115.80000 W", "115.05000 W", "36.00000 N", "35.20000 N", "demo", 400, 400);
  // Positions round the beacon's circle, as the degree-text converter writes them.
  std::vector<std::pair<std::string, std::string>> positions;
  for (int i = 0; i < 1000; ++i) {
    char longitude[32];
    char latitude[32];
    std::snprintf(longitude, sizeof longitude, "%.5f W", 115.1 + 0.00067 * i);
    std::snprintf(latitude, sizeof latitude, "%.5f N", 35.25 + 0.00068 * i);
    positions.emplace_back(longitude, latitude);
  }
  size_t next = 0;
  for (auto _ : state) {
    const auto& position = positions[next];
    next = next + 1 == positions.size() ? 0 : next + 1;
    mapper.map_location(position.first.c_str(), position.second.c_str());
    benchmark::DoNotOptimize(mapper.getPixelX());
  }
  if (!mapper.isLocationInMap()) state.SkipWithError("position off the map");
}
BENCHMARK(BM_MapLocation);

}  // namespace
