#include "apps/flowhost/run/FeedOutputs.h"

#include "geogrid/JGeoGridObj.h"

namespace flowhost {

bool FeedOutputs::open(const kw_out::OutputOptions& options, const Web& web, const JGraph& graph,
                       std::string* error) {
  if (!set_.open(options)) {
    *error = set_.error();
    return false;
  }
  if (web.address.empty()) return true;
  std::unique_ptr<WebForm> form = WebForm::open(graph, shown_, web, error);
  if (form == nullptr) {
    set_.close();
    return false;
  }
  web_ = form.get();
  set_.add(std::move(form));
  return true;
}

kw_out::NodeUpdate FeedOutputs::update(const NodeRow& row) {
  kw_out::NodeUpdate u;
  u.site = row.site;
  u.fleet = row.fleet;
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
  const JFeedPortStatus& s = port.stats;
  kw_out::PortCounters c;
  c.port = s.name;
  c.taken = s.takenIn;
  c.droppedFull = s.droppedFull;
  c.rejected = s.rejected;
  c.unknownNode = s.unknownNode;
  c.older = s.older;
  c.failure = s.setupError;
  c.site = port.site;
  c.fleet = port.fleet;
  return c;
}

void FeedOutputs::tick(std::vector<NodeRow> rows, std::chrono::steady_clock::time_point now,
                       double seconds, long long ticks) {
  if (!set_.isOpen()) return;
  updates_.clear();
  for (const NodeRow& row : rows) updates_.push_back(update(row));
  if (web_ != nullptr) {
    shown_.seconds = seconds;
    shown_.ticks = ticks;
  }
  set_.tick(updates_, now);
}

void FeedOutputs::counters(const std::vector<PortRow>& ports,
                           std::chrono::steady_clock::time_point now) {
  if (!set_.isOpen()) return;
  ports_.clear();
  for (const PortRow& port : ports) ports_.push_back(counters(port));
  if (web_ != nullptr) shown_.ports = ports;
  set_.counters(ports_, now);
}

void FeedOutputs::sites(const std::vector<kw_out::SiteStatus>& sites,
                        const std::vector<size_t>& changed) {
  if (!set_.isOpen()) return;
  set_.sites(sites, changed);
}

void FeedOutputs::stopServing() {
  if (web_ != nullptr) web_->close(nullptr);
}

void FeedOutputs::close(kw_out::Closing* closing) { set_.close(closing); }

}  // namespace flowhost
