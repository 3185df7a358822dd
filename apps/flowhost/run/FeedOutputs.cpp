#include "apps/flowhost/run/FeedOutputs.h"

#include "geogrid/JGeoGridObj.h"

namespace flowhost {

bool FeedOutputs::wanted(const kw_out::OutputOptions& options) {
  return !options.json.empty() || !options.gpsd.empty() || !options.gpx.empty() ||
         !options.geojson.empty() || !options.mqtt.empty();
}

bool FeedOutputs::open(const kw_out::OutputOptions& options, std::string* error) {
  open_ = set_.open(options);
  if (!open_ && error != nullptr) *error = set_.error();
  return open_;
}

kw_out::NodeUpdate FeedOutputs::update(const NodeRow& row) {
  kw_out::NodeUpdate u;
  u.node = row.nodeId.value_or(row.node);
  u.name = row.name;
  u.feed = row.feed;
  u.health = row.health.value_or(kw_out::kHealthBad);
  u.idleSec = row.idle.value_or(0.0);
  // Without a position and its time there is nothing to publish.
  u.neverHeard = !row.heard || !row.latitude || !row.longitude || !row.utcSec;
  if (u.neverHeard) return u;
  u.lat = *row.latitude;
  u.lon = *row.longitude;
  u.utcSec = *row.utcSec;
  u.utcMs = row.utcMs.value_or(0);
  if (row.mapped && row.inMap) {
    u.hasMap = true;
    u.inMap = *row.inMap == JGeoGridObj::kInMap;
    u.pixelX = row.pixelX.value_or(0);
    u.pixelY = row.pixelY.value_or(0);
  }
  return u;
}

kw_out::PortCounters FeedOutputs::counters(const PortRow& port) {
  const kw_qnv_portStats& s = port.stats;
  kw_out::PortCounters c;
  c.port = s.name;
  c.taken = s.takenIn;
  c.droppedFull = s.droppedFull;
  c.rejected = s.rejected;
  c.unknownNode = s.unknownNode;
  c.older = s.older;
  c.failure = s.setupError;
  return c;
}

void FeedOutputs::tick(const std::vector<NodeRow>& rows, std::chrono::steady_clock::time_point now) {
  if (!open_) return;
  updates_.clear();
  for (const NodeRow& row : rows) updates_.push_back(update(row));
  set_.tick(updates_, now);
}

void FeedOutputs::counters(const std::vector<PortRow>& ports,
                           std::chrono::steady_clock::time_point now) {
  if (!open_) return;
  ports_.clear();
  for (const PortRow& port : ports) ports_.push_back(counters(port));
  set_.counters(ports_, now);
}

void FeedOutputs::close() {
  if (open_) set_.close();
}

std::string FeedOutputs::describe() const { return set_.describe(); }

}  // namespace flowhost
