#include "apps/flowhost/views/web/WebFeed.h"

#include "outputs/TextOut.h"

namespace flowhost {

namespace {

// The Graph page asks again every couple of seconds while it is open.
constexpr auto kGraphInterest = std::chrono::seconds(5);

}  // namespace

WebFeed::WebFeed() : latest_(std::make_shared<WebSnapshot>()) {}

void WebFeed::publish(std::shared_ptr<const WebSnapshot> snapshot, const std::string& deltaJson) {
  std::shared_ptr<const std::string> event;
  if (!deltaJson.empty())
    event = std::make_shared<const std::string>(deltaEvent(snapshot->seq, deltaJson));
  kw::MutexLock lock(&mutex_);
  const uint64_t seq = snapshot->seq;
  latest_ = std::move(snapshot);
  if (event) deltas_.push_back(Delta{seq, std::move(event)});
  while (deltas_.size() > kKeptDeltas) {
    oldestKept_ = deltas_.front().seq + 1;
    deltas_.pop_front();
  }
}

std::shared_ptr<const WebSnapshot> WebFeed::latest() const {
  kw::MutexLock lock(&mutex_);
  return latest_;
}

bool WebFeed::deltasAfter(uint64_t* seq, std::vector<Delta>* out) const {
  kw::MutexLock lock(&mutex_);
  if (*seq + 1 < oldestKept_) return false;
  for (const Delta& d : deltas_) {
    if (d.seq > *seq) out->push_back(d);
  }
  *seq = latest_->seq;
  return true;
}

void WebFeed::wantGraph() {
  kw::MutexLock lock(&mutex_);
  graphAsked_ = std::chrono::steady_clock::now();
}

bool WebFeed::graphWanted(std::chrono::steady_clock::time_point now) const {
  kw::MutexLock lock(&mutex_);
  return graphAsked_ != std::chrono::steady_clock::time_point{} &&
         now - graphAsked_ < kGraphInterest;
}

void WebFeed::setGraph(std::string json) {
  auto text = std::make_shared<const std::string>(std::move(json));
  kw::MutexLock lock(&mutex_);
  graph_ = std::move(text);
}

std::shared_ptr<const std::string> WebFeed::graph() const {
  kw::MutexLock lock(&mutex_);
  return graph_;
}

std::string WebFeed::stateEvent(const WebSnapshot& snapshot) {
  std::string event = "event: state\nid: ";
  kw_out::appendUnsigned(&event, snapshot.seq);
  event.append("\ndata: ").append(snapshot.stateJson()).append("\n\n");
  return event;
}

std::string WebFeed::deltaEvent(uint64_t seq, const std::string& json) {
  std::string event = "event: delta\nid: ";
  kw_out::appendUnsigned(&event, seq);
  event.append("\ndata: ").append(json).append("\n\n");
  return event;
}

}  // namespace flowhost
