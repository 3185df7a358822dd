#include "outputs/OutputSet.h"

#include <algorithm>

#include "outputs/FileWriter.h"
#include "outputs/TrackStore.h"

namespace kw_out {

namespace {

std::pair<int64_t, int> wallNow() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return {ms / 1000, static_cast<int>(ms % 1000)};
}

}  // namespace

OutputSet::OutputSet() = default;

OutputSet::~OutputSet() { close(); }

bool OutputSet::open(const OutputOptions& options) {
  close();
  closed_.clear();
  options_ = options;
  tracker_ = ChangeTracker(options.portSilentAfter);
  shared_ = std::make_unique<OutputShared>(options_);
  lastRewrite_ = std::chrono::steady_clock::now();
  for (const OutputMaker make : outputMakers()) {
    std::string why;
    std::unique_ptr<OutputForm> form = make(options_, *shared_, &why);
    if (!why.empty()) {
      error_ = why;
      close();
      closed_.clear();
      return false;
    }
    if (form != nullptr) forms_.push_back(std::move(form));
  }
  return true;
}

void OutputSet::add(std::unique_ptr<OutputForm> form) {
  if (!shared_) shared_ = std::make_unique<OutputShared>(options_);
  forms_.push_back(std::move(form));
}

TrackStore& OutputSet::tracks() {
  if (!shared_) shared_ = std::make_unique<OutputShared>(options_);
  return shared_->tracks();
}

void OutputSet::tick(const std::vector<NodeUpdate>& nodes) {
  tick(nodes, std::chrono::steady_clock::now());
}

void OutputSet::tick(const std::vector<NodeUpdate>& nodes,
                     std::chrono::steady_clock::time_point now) {
  fresh_.clear();
  events_.clear();
  tracker_.nodes(nodes, &fresh_, &events_);
  keepTracks(nodes);
  gatherStates();
  const auto [sec, ms] = wallNow();
  const OutputTick tick{nodes, fresh_, events_, states_, now, sec, ms};
  for (const auto& form : forms_) form->tick(tick);
  rewrite(now);
}

// The forms' state changes since the last tick, each also kept as its
// form's latest.
void OutputSet::gatherStates() {
  states_.clear();
  states_.swap(added_);
  for (const auto& form : forms_) form->takeStateChanges(&states_);
  for (const OutputStateChange& change : states_) {
    auto same = std::find_if(latest_.begin(), latest_.end(), [&](const OutputStateChange& known) {
      return known.output == change.output;
    });
    if (same == latest_.end()) {
      latest_.push_back(change);
    } else {
      *same = change;
    }
  }
}

// Every new fix goes into the shared track store, and so does a health
// change without one (the track picture colours its dots by health).
void OutputSet::keepTracks(const std::vector<NodeUpdate>& nodes) {
  TrackStore* store = shared_ ? shared_->tracksIfMade() : nullptr;
  if (store == nullptr) return;
  for (const size_t i : fresh_) store->add(nodes[i]);
  for (const Event& event : events_) {
    if (event.kind != Event::Kind::Health) continue;
    if (!std::binary_search(fresh_.begin(), fresh_.end(), event.row))
      store->addState(nodes[event.row]);
  }
}

void OutputSet::rewrite(std::chrono::steady_clock::time_point now) {
  TrackStore* store = shared_ ? shared_->tracksIfMade() : nullptr;
  if (store == nullptr || !store->changed() || now - lastRewrite_ < options_.fileInterval) return;
  lastRewrite_ = now;
  for (const auto& form : forms_) form->rewrite();
  store->clearChanged();
}

void OutputSet::counters(const std::vector<PortCounters>& ports) {
  counters(ports, std::chrono::steady_clock::now());
}

void OutputSet::counters(const std::vector<PortCounters>& ports,
                         std::chrono::steady_clock::time_point now) {
  events_.clear();
  tracker_.ports(ports, now, &events_);
  const auto [sec, ms] = wallNow();
  const OutputPorts report{ports, events_, tracker_, now, sec, ms};
  for (const auto& form : forms_) form->ports(report);
}

void OutputSet::sites(const std::vector<SiteStatus>& sites, const std::vector<size_t>& changed) {
  const auto [sec, ms] = wallNow();
  const SiteReport report{sites, changed, sec, ms};
  for (const auto& form : forms_) form->sites(report);
}

void OutputSet::addStateChanges(std::vector<OutputStateChange> changes) {
  for (OutputStateChange& change : changes) added_.push_back(std::move(change));
}

void OutputSet::close(Closing* closing) {
  if (forms_.empty()) return;
  Closing ignored;
  for (const auto& form : forms_) form->close(closing != nullptr ? closing : &ignored);
  if (FileWriter* files = shared_ ? shared_->filesIfMade() : nullptr) files->drain();
  closed_ = describe();
  forms_.clear();  // the servers and writers stop as their forms go
  states_.clear();
  latest_.clear();
  shared_.reset();
}

int OutputSet::gpsdPort() const {
  for (const auto& form : forms_) {
    if (const int port = form->listeningPort()) return port;
  }
  return 0;
}

OutputSet::Stats OutputSet::stats() const {
  Stats s;
  for (const auto& form : forms_) form->addStats(&s);
  if (const FileWriter* files = shared_ ? shared_->filesIfMade() : nullptr) {
    s.filesWritten = files->written();
    s.fileError = files->lastError();
  }
  return s;
}

std::string OutputSet::describe() const {
  if (forms_.empty()) return closed_;
  std::string line = "outputs:";
  for (const auto& form : forms_) form->describe(&line);
  if (const FileWriter* files = shared_ ? shared_->filesIfMade() : nullptr) {
    line += " files written " + std::to_string(files->written());
    const std::string error = files->lastError();
    if (!error.empty()) line += " (" + error + ")";
    line += ";";
  }
  if (line == "outputs:") return "";
  if (line.back() == ';') line.pop_back();
  return line;
}

}  // namespace kw_out
