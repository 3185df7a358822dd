// The --json form: one line per new fix, per event, per change of an
// output's state, per change of a site's state (at a centre) and, once a
// second, per port, written without ever
// blocking (LineStream); what a slow reader misses is dropped and counted.
// A reader that goes away is the stream's own state change (lost), told
// once to the other forms and the runner.
#include "outputs/JsonLines.h"
#include "outputs/LineStream.h"
#include "outputs/OutputForm.h"
#include "platform/output_file.h"

namespace kw_out {

namespace {

class JsonLinesForm final : public OutputForm {
 public:
  bool open(const std::string& path, std::string* error) {
    // A reader that goes away is a counted write failure, not the end of
    // the process.
    if (const kw::Failure failed = kw::OutputFile::ignoreBrokenPipe()) {
      *error = "--json: " + failed.text();
      return false;
    }
    if (stream_.open(path)) return true;
    *error = "--json: " + stream_.error();
    return false;
  }

  void tick(const OutputTick& tick) override {
    text_.clear();
    for (const size_t i : tick.fresh) appendNodeLine(&text_, tick.nodes[i]);
    for (const Event& e : tick.events) appendEventLine(&text_, e, tick.utcSec, tick.utcMs);
    for (const OutputStateChange& c : tick.outputStates) {
      appendOutputLine(&text_, c, tick.utcSec, tick.utcMs);
    }
    stream_.write(text_);
  }

  void ports(const OutputPorts& report) override {
    text_.clear();
    for (const Event& e : report.events) appendEventLine(&text_, e, report.utcSec, report.utcMs);
    for (const PortCounters& p : report.ports) {
      appendPortLine(&text_, p, report.tracker.portSilent(p), report.utcSec, report.utcMs);
    }
    stream_.write(text_);
  }

  void sites(const SiteReport& report) override {
    if (report.changed.empty()) return;
    text_.clear();
    for (const size_t i : report.changed) {
      appendSiteLine(&text_, report.sites[i], report.utcSec, report.utcMs);
    }
    stream_.write(text_);
  }

  void close(Closing*) override { stream_.flush(); }

  void describe(std::string* line) const override {
    *line += " json dropped " + std::to_string(stream_.droppedLines());
    if (!stream_.error().empty()) *line += " (" + stream_.error() + ")";
    *line += ";";
  }

  void addStats(OutputStats* stats) const override {
    stats->jsonDroppedLines = stream_.droppedLines();
    stats->jsonError = stream_.error();
  }

  void takeStateChanges(std::vector<OutputStateChange>* changes) override {
    if (lost_ || stream_.error().empty()) return;
    lost_ = true;
    changes->push_back({"json", OutputStateChange::State::Lost, stream_.error(), ""});
  }

 private:
  LineStream stream_;
  bool lost_ = false;
  std::string text_;
};

}  // namespace

std::unique_ptr<OutputForm> makeJsonLines(const OutputOptions& options, OutputShared&,
                                          std::string* error) {
  if (options.json.empty()) return nullptr;
  auto form = std::make_unique<JsonLinesForm>();
  if (!form->open(options.json, error)) return nullptr;
  return form;
}

}  // namespace kw_out
